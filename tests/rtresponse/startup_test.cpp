// The command line of the analysers and the scale table they choose from.
#include <string>
#include <vector>

#include "analyser_fixture.hpp"
#include "common/command_line.hpp"
#include "frame/options.hpp"
#include "rtresponse/program.hpp"

namespace {

class OptionsTest : public AnalyserTest {
protected:
    // Reads the options from a command line (argument 0 is the program).
    response_options read(std::vector<std::string> args)
    {
        command_line.set("tessaly", std::move(args));
        return response_options_read();
    }
    void TearDown() override
    {
        option_set_args(0, nullptr);
        AnalyserTest::TearDown();
    }
    test_command_line command_line;
};

TEST_F(OptionsTest, NoArgumentsGiveTheDefaults)
{
    const response_options options = read({});
    EXPECT_EQ(options.device, -1);
    EXPECT_EQ(options.buffer.frames, 64);
    EXPECT_EQ(loopback_mode, -1);
}

TEST_F(OptionsTest, BufferSizesUpTo2048AreShownAsGiven)
{
    EXPECT_EQ(read({"-b2048"}).buffer.frames, 2048);
    EXPECT_EQ(read({"-b512"}).buffer.frames, 512);
    EXPECT_EQ(read({"-B8"}).buffer.frames, 8);
    EXPECT_EQ(read({"-b4096"}).buffer.frames, 64);
    EXPECT_EQ(read({"-b100"}).buffer.frames, 64);
    EXPECT_EQ(read({"-b"}).buffer.frames, 64);
    EXPECT_EQ(read({"-d3", "-b128"}).device, 3);
}

TEST_F(OptionsTest, LoopbackIsOnOnlyForTheValueZero)
{
    read({"-t"});
    EXPECT_EQ(loopback_mode, 0);
    read({"-t0"});
    EXPECT_EQ(loopback_mode, 0);
    read({"-T"});
    EXPECT_EQ(loopback_mode, 0);
    read({"-tx"});
    EXPECT_EQ(loopback_mode, 0);
    read({"-t1"});
    EXPECT_EQ(loopback_mode, 1);
    read({"-d2"});
    EXPECT_EQ(loopback_mode, -1);
}

TEST(ScaleTable, TheTwoVariantsDifferOnlyInTheirValues)
{
    const response_scale& orbisca = response_scale_select(scale_orbisca);
    EXPECT_EQ(&response_scale_selected(), &orbisca);
    EXPECT_EQ(orbisca.window_height, 601);
    const response_scale& tessaly = response_scale_select(scale_tessaly);
    EXPECT_EQ(tessaly.window_height, 301);
    EXPECT_EQ(&response_scale_selected(), &tessaly);
}

}  // namespace
