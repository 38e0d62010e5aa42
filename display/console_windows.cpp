// The console on Windows: console control events as keys, and key input from
// the console for the console program.
#include <conio.h>
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "display/display.hpp"
#include "display/state.hpp"

namespace {

// Ctrl-C and Ctrl-Break are the key with code 3; closing the console, logging
// off and shutting down are the close key. The program goes on to end itself.
BOOL WINAPI on_control(DWORD event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
        console_interrupt_pending.store(true);
    else
        console_close_pending.store(true);
    return TRUE;
}

bool input_ended = false;

// Standard input that is a pipe or a file, not a console (a script's input,
// NUL): each byte is a key and its end is the console's close event, as on
// POSIX systems. A pipe is only read as far as it holds bytes, so the caller
// never waits.
void redirected_input_collect_locked(HANDLE input)
{
    while (!input_ended) {
        if (GetFileType(input) == FILE_TYPE_PIPE) {
            DWORD available = 0;
            if (PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) && available == 0)
                return;
        }
        char byte;
        DWORD got = 0;
        if (ReadFile(input, &byte, 1, &got, nullptr) && got == 1) {
            display.keys.emplace_back(1, byte);
            continue;
        }
        input_ended = true;
        display.keys.emplace_back(close_key);
    }
}

}  // namespace

void console_input_collect_locked()
{
    if (!display.pixels.empty())
        return;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input != INVALID_HANDLE_VALUE && input != nullptr && !GetConsoleMode(input, &mode)) {
        redirected_input_collect_locked(input);
        return;
    }
    // Without a framebuffer (the console program) keys come from the console:
    // an extended key arrives as 0 or 224 and its scan code, queued as 255 and
    // the scan code like the window's extended keys.
    while (_kbhit()) {
        const int code = _getch();
        if (code == 0 || code == 224)
            display.keys.push_back(std::string{'\xFF', static_cast<char>(_getch())});
        else
            display.keys.emplace_back(1, static_cast<char>(code));
    }
}

void display_catch_signals() { SetConsoleCtrlHandler(on_control, TRUE); }

// The console shows code page 437, the window font's own character set.
void console_write(std::string_view text, bool line_end)
{
    SetConsoleOutputCP(437);
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (line_end)
        std::fputc('\n', stdout);
    std::fflush(stdout);
}
