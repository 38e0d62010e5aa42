// The audio libraries on Windows: ASIO, whose drivers print nothing and name
// no clients.
#include <windows.h>

#include "frame/host.hpp"

void host_environment_prepare() {}
void host_libraries_prepare(const char*) {}
void host_libraries_started() {}

// UTF-8 to UTF-16 (at most 512 units), then to code page 437 (at most 512
// bytes), the window font's own character set.
std::string host_name_to_font(const char* utf8)
{
    wchar_t wide[512] = {};
    if (MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 512) == 0)
        return "";
    wide[511] = L'\0';
    char narrow[512] = {};
    if (WideCharToMultiByte(437, 0, wide, -1, narrow, 512, "?", nullptr) == 0)
        return "";
    narrow[511] = '\0';
    return narrow;
}

std::string jack_client_name() { return ""; }

void jack_client_leftovers_remove(const std::string&) {}
