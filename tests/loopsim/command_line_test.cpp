// loopsim's command line as a user types it: a refused option named on one
// line (the nearest valid option when one is close), and the options read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/loopsim/command_line.hpp"

namespace {

// command_parse on "loopsim" and the words of line (split at spaces).
loopsim::command_next command_words(const std::string& line, loopsim::command& c, std::string& problem)
{
    std::vector<std::string> words = {"loopsim"};
    size_t start = 0;
    while (start < line.size()) {
        const size_t space = line.find(' ', start);
        words.push_back(line.substr(start, space == std::string::npos ? space : space - start));
        start = space == std::string::npos ? line.size() : space + 1;
    }
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    return loopsim::command_parse(static_cast<int>(argv.size()), argv.data(), c, problem);
}

}  // namespace

TEST(LoopsimCommandLine, ARefusedOptionIsNamedOnOneLine)
{
    struct row {
        const char* line;
        const char* problem;  // the whole line loopsim prints after "loopsim: "
    };
    const row rows[] = {
        {"--dealy 300", "unknown option --dealy: did you mean --delay?"},
        {"--delay 300 --aa 20000 --hihgpass 3", "unknown option --hihgpass: did you mean --highpass?"},
        {"--Delay 300", "unknown option --Delay: did you mean --delay?"},
        {"--dcc 0.001", "unknown option --dcc: did you mean --dc?"},
        {"--noise-color pink", "unknown option --noise-color: did you mean --noise-colour?"},
        {"--gain2 -1", "unknown option --gain2: did you mean --gain2-db?"},
        {"--cabel loopcheck", "unknown option --cabel: did you mean --cable?"},
        {"--glitch-rand 5,1", "unknown option --glitch-rand: did you mean --glitch-random?"},
        {"--print-ir-respons 100", "unknown option --print-ir-respons: did you mean --print-ir-response?"},
        {"--wobble 3", "unknown option --wobble"},
        {"-d 300", "unknown option -d"},
        {"--delay=300", "unknown option --delay=300: write --delay 300 (a space, not =)"},
        {"--delay 300 400", "unexpected 400: not an option, nor the value of one"},
        {"--delay", "--delay needs a value: --delay N"},
        {"--gain 0.5 --glitch", "--glitch needs a value: --glitch KIND,SECONDS,N[,SIDE]"},
        {"--delay 3.5", "cannot read --delay 3.5: not of the form --delay N, or a number not finite"},
        {"--dc nan", "cannot read --dc nan: not of the form --dc LEVEL, or a number not finite"},
        {"--glitch drop,8",
         "cannot read --glitch drop,8: not of the form --glitch KIND,SECONDS,N[,SIDE], or a number not finite"},
        {"--noise-colour blue",
         "cannot read --noise-colour blue: not of the form --noise-colour C, or a number not "
         "finite"},
        {"--cable :1", "cannot read --cable :1: not of the form --cable CLIENT[:OUT[:IN]], or a number not finite"},
        // Out of range: the check's own line.
        {"--dc 2", "--dc: the level must be finite and less than 1 in size"},
        {"--ppm2 10.5", "--ppm2: channel 2's clock offset must lie within +-10 ppm"},
        {"--ppm2 inf", "cannot read --ppm2 inf: not of the form --ppm2 PPM, or a number not finite"},
        {"--crosstalk -100,square",
         "cannot read --crosstalk -100,square: not of the form --crosstalk DB[,SHAPE], or a number not finite"},
        {"--print-channel 2 --print-ir 10", "--print-channel 2 needs a second channel"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.line);
        loopsim::command c;
        std::string problem;
        EXPECT_EQ(command_words(r.line, c, problem), loopsim::command_next::refused);
        EXPECT_EQ(problem, r.problem);
    }
}

TEST(LoopsimCommandLine, TheOptionsAreRead)
{
    loopsim::command c;
    std::string problem;
    ASSERT_EQ(command_words("--delay 300 --aa 20000 --highpass 3 --gain 0.5 --cable loopcheck --name sim --crosstalk "
                            "-90,capacitive --wander 2,30,7 --glitch drop,8,240,playback --print-ir 1000",
                            c, problem),
              loopsim::command_next::run)
        << problem;
    EXPECT_EQ(c.loop.path.delay, 300);
    EXPECT_EQ(c.loop.path.aa_cutoff_hz, 20000.0);
    EXPECT_EQ(c.loop.path.highpass_hz, 3.0);
    EXPECT_EQ(c.loop.path.gain, 0.5);
    EXPECT_EQ(c.plug.client, "loopcheck");
    EXPECT_EQ(c.plug.output, "out_0");
    EXPECT_EQ(c.plug.input, "in_0");
    EXPECT_EQ(c.name, "sim");
    EXPECT_EQ(c.loop.channels, 2);  // implied by --crosstalk
    EXPECT_EQ(c.loop.crosstalk_db, -90.0);
    EXPECT_EQ(c.loop.clock_log_s, 1.0);  // implied by --wander
    ASSERT_EQ(c.loop.glitches.size(), 1u);
    EXPECT_EQ(c.loop.glitches[0].side, loopsim::glitch_side::playback);
    EXPECT_EQ(c.print_mode, "--print-ir");
    EXPECT_EQ(c.print_count, 1000);
    // Channel 2's own clock and a crosstalk that grows with the level: two channels.
    loopsim::command two;
    ASSERT_EQ(command_words("--ppm2 -0.3 --crosstalk -110,cubic", two, problem), loopsim::command_next::run) << problem;
    EXPECT_EQ(two.loop.channels, 2);
    EXPECT_EQ(two.loop.ppm2, -0.3);
    EXPECT_EQ(two.loop.shape, loopsim::crosstalk_shape::cubic);
    loopsim::command skewed;
    ASSERT_EQ(command_words("--ppm2 0.05", skewed, problem), loopsim::command_next::run) << problem;
    EXPECT_EQ(skewed.loop.channels, 2);
    for (const char* help : {"--help", "-h", "--delay 300 --help"}) {
        loopsim::command h;
        EXPECT_EQ(command_words(help, h, problem), loopsim::command_next::help) << help;
    }
}

TEST(LoopsimCommandLine, TheUsageListsEveryOptionWithItsValue)
{
    const std::string usage = loopsim::command_usage;
    for (const char* entry : {"\n  --delay N ", "\n  --cable CLIENT[:OUT[:IN]] ", "\n  --glitch KIND,SECONDS,N[,SIDE] ",
                              "\n  --invert ", "\n  --print-crosstalk-at "})
        EXPECT_NE(usage.find(entry), std::string::npos) << entry;
}
