// Morvane's buffer-size read-out after the fall-back. (The options themselves,
// the same for the three response programs, are in rtresponse/startup_test.cpp.)
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
