// Code page 437, the window font's character set, to and from UTF-8: the
// window's text and the device names that the audio side hands it.
#pragma once
#include <string>
#include <string_view>

// UTF-8 to code page 437, one byte per character, "?" where it has none.
std::string utf8_to_cp437(std::string_view text);
// Code page 437 to UTF-8, for a console whose terminal speaks UTF-8.
std::string cp437_to_utf8(std::string_view text);
