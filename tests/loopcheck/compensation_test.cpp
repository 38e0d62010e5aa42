// --compensation's lines against closed forms: the excess (round trip less
// what the host reports) split into whole frames that add up to it, the
// JACK and PipeWire lines only on JACK, the DAW's offsets, the start-to-start
// spread as what no fixed value removes, and a host that reports more than
// was measured.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "loopcheck/latency/compensation.hpp"

namespace {

std::string all_of(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& l : lines)
        text += l;
    return text;
}

}  // namespace

TEST(LoopcheckCompensation, SplitsTheExcessIntoWholeFramesThatAddUpToIt)
{
    struct row {
        double excess;
        long long input, output;
    };
    const row rows[] = {
        {363.0, 181, 182}, {362.0, 181, 181}, {0.0, 0, 0},       {1.0, 0, 1},  {362.4, 181, 181},
        {362.6, 181, 182}, {362.5, 181, 181}, {363.5, 182, 182}, {-3.0, 0, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.excess);
        const compensation_split s = compensation_split_of(r.excess);
        EXPECT_EQ(s.input, r.input);
        EXPECT_EQ(s.output, r.output);
    }
}

TEST(LoopcheckCompensation, TellsPipeWiresJackFaceFromJackdByTheLibjackLoaded)
{
    using kind = compensation_input::server_kind;
    struct row {
        const char* library;
        kind server;
    };
    const row rows[] = {
        {"/usr/lib/x86_64-linux-gnu/pipewire-0.3/jack/libjack.so.0", kind::pipewire},
        {"/usr/lib64/pipewire-0.3/jack/libjack.so.0", kind::pipewire},
        {"/usr/lib/x86_64-linux-gnu/libjack.so.0", kind::jackd},
        {"/usr/local/lib/libjack.so.0.1.0", kind::jackd},
        {"/opt/pipewire-free/../lib/libjack.so.0", kind::pipewire},  // a folder named so is taken at its word
        {"/home/pipewire_user_lib_libjack.so.0", kind::jackd},       // only the folder counts, not the file's name
        {"libjack.so.0", kind::jackd},
        {"", kind::unknown},
    };
    for (const row& r : rows)
        EXPECT_EQ(compensation_server_of(r.library), r.server) << r.library;
}

TEST(LoopcheckCompensation, SaysWhatToTypeWhereOnEachHost)
{
    struct row {
        const char* what;
        compensation_input in;
        std::vector<std::string> has, lacks;
    };
    const row rows[] = {
        {"jackd, 619 measured, 256 reported",
         {"JACK Audio Connection Kit", 48000.0, 619.0, 0.0, 256.0, true, -1.0},
         {"jackd's backend with -I 181 -O 182", "latency.internal.rate = 181", "latency.internal.rate = 182",
          "the 363.000 frames the host does not report", "a recording offset of 363 samples",
          "or 619 samples where it adds nothing", "is not measured here (--reopen N measures it)"},
         {}},
        {"ALSA: no JACK or PipeWire line",
         {"ALSA", 48000.0, 700.0, 300.0, 300.0, true, 48.0},
         {"a recording offset of 100 ± 24.0 samples", "or 700 samples", "changed by 48.000 frames (1.000 ms)",
          "± 24.0 frames"},
         {"jackd", "PipeWire", "-I "}},
        {"a report not to be believed: the whole round trip",
         {"JACK Audio Connection Kit", 48000.0, 556.0, 0.0, 4294966272.0, false, -1.0},
         {"-I 278 -O 278", "the whole round trip (the host's report is not to be believed)",
          "a recording offset of 556 samples"},
         {}},
        {"jackd's ALSA backend: the excess over its ports' own latencies, one buffer more on each side",
         {"JACK Audio Connection Kit", 48000.0, 1069.0, 0.0, 256.0, true, -1.0, 256.0, 512.0},
         {"-I 150 -O 151", "the 301.000 frames JACK's ports do not report (they report 768)",
          "latency.internal.rate = 150", "latency.internal.rate = 151", "a recording offset of 301 samples",
          "or 1069 samples"},
         {"-I 406", "812"}},
        {"the dummy backend reports more than it buffers: nothing to add on JACK",
         {"JACK Audio Connection Kit", 48000.0, 619.0, 0.0, 256.0, true, -1.0, 256.0, 512.0},
         {"none to add: the server's ports report 768 frames, more than the 619.000 measured", "lower them by 149",
          "a recording offset of 0 samples"},
         {"-I ", "latency.internal.rate"}},
        {"jackd known to run: no PipeWire line",
         {"JACK Audio Connection Kit", 48000.0, 1069.0, 0.0, 256.0, true, -1.0, 256.0, 512.0,
          compensation_input::server_kind::jackd},
         {"-I 150 -O 151"},
         {"PipeWire"}},
        {"PipeWire's JACK face known: no jackd line",
         {"JACK Audio Connection Kit", 48000.0, 1069.0, 0.0, 256.0, true, -1.0, 256.0, 512.0,
          compensation_input::server_kind::pipewire},
         {"latency.internal.rate = 150", "latency.internal.rate = 151", "WirePlumber 0.5", "main.lua.d/51-latency.lua",
          "\"alsa_input.*\" } } }, apply_properties = { [\"latency.internal.rate\"] = 150 }",
          "\"alsa_output.*\" } } }, apply_properties = { [\"latency.internal.rate\"] = 151 }",
          "ProcessLatency '{ rate = 150 }'", "ProcessLatency '{ rate = 151 }'"},
         {"jackd", "-I "}},
        {"ports' figures beyond belief: the host's figures instead",
         {"JACK Audio Connection Kit", 48000.0, 619.0, 0.0, 256.0, true, -1.0, 4294966272.0, 512.0},
         {"-I 181 -O 182", "the 363.000 frames the host does not report"},
         {"JACK's ports"}},
        {"a host that reports more than measured",
         {"Windows WASAPI", 48000.0, 500.0, 300.0, 300.0, true, -1.0},
         {"none to add", "lower what is set (-I/-O, latency.internal.*) by 100 frames"},
         {"recording offset"}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::vector<std::string> lines = compensation_lines(r.in);
        for (const std::string& l : lines)
            EXPECT_EQ(l.back(), '\n');
        const std::string text = all_of(lines);
        for (const std::string& h : r.has)
            EXPECT_NE(text.find(h), std::string::npos) << h << "\n" << text;
        for (const std::string& l : r.lacks)
            EXPECT_EQ(text.find(l), std::string::npos) << l << "\n" << text;
    }
}

TEST(LoopcheckCompensation, TheJsonHoldsTheLinesFiguresAndTheStartsSpreadAsTheirPlusMinus)
{
    using kind = compensation_input::server_kind;
    using json = nlohmann::ordered_json;
    struct row {
        const char* what;
        compensation_input in;
        json server, jackd, pipewire, daw_offset, plus_minus;
        bool none_to_add;
        size_t lines;
    };
    const json null = nullptr;
    const row rows[] = {
        {"jackd's ALSA backend, known",
         {"JACK Audio Connection Kit", 48000.0, 1069.0, 0.0, 256.0, true, -1.0, 256.0, 512.0, kind::jackd},
         "jackd",
         json{{"input_frames", 150}, {"output_frames", 151}},
         null,
         301,
         null,
         false,
         3},
        {"PipeWire's JACK face, a spread of 48 over the starts",
         {"JACK Audio Connection Kit", 48000.0, 1069.0, 0.0, 256.0, true, 48.0, 256.0, 512.0, kind::pipewire},
         "pipewire",
         null,
         json{{"input_rate_frames", 150}, {"output_rate_frames", 151}},
         301,
         24.0,
         false,
         5},
        {"JACK, the server unknown: both",
         {"JACK Audio Connection Kit", 48000.0, 619.0, 0.0, 256.0, true, -1.0},
         "unknown",
         json{{"input_frames", 181}, {"output_frames", 182}},
         json{{"input_rate_frames", 181}, {"output_rate_frames", 182}},
         363,
         null,
         false,
         6},
        {"the dummy: the ports report more",
         {"JACK Audio Connection Kit", 48000.0, 619.0, 0.0, 256.0, true, -1.0, 256.0, 512.0},
         "unknown",
         null,
         null,
         0,
         null,
         true,
         3},
        {"ALSA", {"ALSA", 48000.0, 700.0, 300.0, 300.0, true, 10.0}, null, null, null, 100, 5.0, false, 2},
        {"a host that reports more",
         {"Windows WASAPI", 48000.0, 500.0, 300.0, 300.0, true, -1.0},
         null,
         null,
         null,
         null,
         null,
         true,
         1},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        const json j = compensation_json(r.in);
        EXPECT_EQ(j["server"], r.server);
        EXPECT_EQ(j["jackd"], r.jackd);
        EXPECT_EQ(j["pipewire"], r.pipewire);
        EXPECT_EQ(j["daw_offset_samples"], r.daw_offset);
        EXPECT_EQ(j["plus_minus_frames"], r.plus_minus);
        EXPECT_EQ(j["none_to_add"], r.none_to_add);
        EXPECT_EQ(j["daw_whole_samples"], std::llrint(r.in.round_trip));
        ASSERT_EQ(j["lines"].size(), r.lines) << j.dump(1);
        // The lines are the text's, without their ends.
        const std::vector<std::string> text = compensation_lines(r.in);
        for (size_t k = 0; k < r.lines; k++)
            EXPECT_EQ(j["lines"][k].get<std::string>() + "\n", text[k]);
    }
}
