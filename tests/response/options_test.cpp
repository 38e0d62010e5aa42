// Morvane's command line through the start-up option reading: buffer sizes up
// to 2048 with their suggested latencies, the fall-back to 64 that the
// buffer-size read-out then shows, and the loopback switch.
#include <string>
#include <vector>

#include "common/command_line.hpp"
#include "display/hooks.hpp"
#include "display/plot.hpp"
#include "morvane_fixture.hpp"
#include "rtresponse/program.hpp"

namespace {

class MorvaneOptions : public MorvaneTest {
protected:
    // Reads the options from a command line (argument 0 is the program).
    response_options read(std::vector<std::string> args)
    {
        command_line.set("morvane", std::move(args));
        return response_options_read();
    }
    test_command_line command_line;
};

TEST_F(MorvaneOptions, BufferSizesUpTo2048WithTheirLatencies)
{
    struct row {
        const char* argument;
        int64_t frames;
        double latency;
    };
    const row table[] = {
        {"-b8", 8, 0.000166},       {"-b16", 16, 0.000333},     {"-b32", 32, 0.000666},   {"-b64", 64, 0.001333},
        {"-b128", 128, 0.002666},   {"-b256", 256, 0.005333},   {"-b512", 512, 0.010666}, {"-b1024", 1024, 0.021333},
        {"-b2048", 2048, 0.042666}, {"-b4096", 64, 0.001333},   {"-b100", 64, 0.001333},  {"-b", 64, 0.001333},
        {"-b-1", 64, 0.001333},     {"/B1024", 1024, 0.021333},
    };
    for (const row& r : table) {
        const response_options options = read({r.argument});
        EXPECT_EQ(options.buffer.frames, r.frames) << r.argument;
        EXPECT_EQ(options.buffer.latency, r.latency) << r.argument;
    }
    const response_options none = read({});
    EXPECT_EQ(none.device, -1);
    EXPECT_EQ(none.buffer.frames, 64);
    EXPECT_EQ(none.buffer.latency, 0.001333);
    EXPECT_EQ(loopback_mode, -1);
    EXPECT_EQ(read({"-d3", "-b128"}).device, 3);
}

TEST_F(MorvaneOptions, LoopbackIsOnOnlyForTheValueZero)
{
    for (const char* on : {"-t", "-t0", "-T", "-tx", "/t"}) {
        read({on});
        EXPECT_EQ(loopback_mode, 0) << on;
    }
    read({"-t1"});
    EXPECT_EQ(loopback_mode, 1);
    read({"-d2", "-b512"});
    EXPECT_EQ(loopback_mode, -1);
}

// -b100 falls back to 64, and that is what the refresh shows: the read-out
// "buffer size : 64" in yellow at plot (2, 16), pixel for pixel as the font
// draws it, over its black bar.
TEST_F(MorvaneOptions, BufferSizeReadOutShowsTheSizeAfterTheFallBack)
{
    const response_options options = read({"-b100", "-t"});
    response_buffer_frames = options.buffer.frames;
    fft_2048(spectrum_re, spectrum_im, -1, 1);
    gfx_open_memory(1025, 301);
    response_analysis();
    response_display(spectrum_re, response_buffer_frames, "interface");
    const std::vector<uint8_t> drawn = gfx_pixels();
    gfx_close();

    gfx_open_memory(1025, 301);
    plot_text(2, 16, "buffer size : 64", 14);
    const std::vector<uint8_t> expected = gfx_pixels();
    // Text rows 277 .. 284 of the window, columns 2 .. 129 (16 characters).
    for (int64_t row = 277; row <= 284; row++)
        for (int64_t x = 2; x < 2 + 8 * 16; x++)
            ASSERT_EQ(drawn[row * 1025 + x], expected[row * 1025 + x]) << "row " << row << ", column " << x;
}

}  // namespace
