// A Windows driver's identity, its pure part: text from the registry and the
// version resource (UTF-16, class ids, the version's numbers, the string
// tables to look in) and which ASIO key a device's name names. Compiled and
// unit-tested everywhere; the Win32 calls are in identity_windows.cpp.
#include <cctype>
#include <cstdio>

#include "loopcheck/identity/identity.hpp"

std::string identity_utf8(const std::u16string& text)
{
    std::string out;
    const auto put = [&out](uint32_t c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xc0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xe0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (c & 0x3f));
        }
    };
    for (size_t i = 0; i < text.size() && text[i] != 0; i++) {
        const uint32_t c = text[i];
        if (c >= 0xd800 && c < 0xdc00 && i + 1 < text.size() && text[i + 1] >= 0xdc00 && text[i + 1] < 0xe000) {
            put(0x10000 + ((c - 0xd800) << 10) + (text[i + 1] - 0xdc00));
            i++;
        } else if (c >= 0xd800 && c < 0xe000) {
            put(0xfffd);  // a surrogate without its pair
        } else {
            put(c);
        }
    }
    return out;
}

std::string identity_clsid(const std::string& text)
{
    size_t begin = text.find_first_not_of(" \t\r\n"), end = text.find_last_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return "";
    std::string id = text.substr(begin, end - begin + 1);
    if (id.size() >= 2 && id.front() == '{' && id.back() == '}')
        id = id.substr(1, id.size() - 2);
    // 8-4-4-4-12 hexadecimal digits.
    if (id.size() != 36)
        return "";
    for (size_t i = 0; i < id.size(); i++) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? id[i] != '-' : !std::isxdigit(static_cast<unsigned char>(id[i])))
            return "";
        id[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(id[i])));
    }
    return "{" + id + "}";
}

std::string identity_asio_key_of(const std::string& name, const std::vector<identity_asio_key>& keys)
{
    if (name.empty())
        return "";
    // One pass per rule, the strictest first; a rule that two keys fit decides nothing.
    const auto only = [&](auto fits) -> std::pair<bool, std::string> {
        std::string found;
        int n = 0;
        for (const identity_asio_key& k : keys)
            if (fits(k))
                found = k.key, n++;
        return {n > 0, n == 1 ? found : ""};
    };
    const auto by_description = only([&](const identity_asio_key& k) { return k.description == name; });
    if (by_description.first)
        return by_description.second;
    const auto by_key = only([&](const identity_asio_key& k) { return k.description.empty() && k.key == name; });
    if (by_key.first)
        return by_key.second;
    // ASIO's driver list gives a name of 32 characters or more as its first 28 and "...".
    if (name.size() != 31 || name.compare(28, 3, "...") != 0)
        return "";
    return only([&](const identity_asio_key& k) {
               const std::string& shown = k.description.empty() ? k.key : k.description;
               return shown.size() >= 32 && shown.compare(0, 28, name, 0, 28) == 0;
           })
        .second;
}

std::string identity_file_version(uint32_t ms, uint32_t ls)
{
    char text[48];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(ms >> 16), static_cast<unsigned>(ms & 0xffff),
                  static_cast<unsigned>(ls >> 16), static_cast<unsigned>(ls & 0xffff));
    return text;
}

std::vector<std::string> identity_string_tables(const std::vector<uint16_t>& translation)
{
    std::vector<std::string> tables;
    const auto add = [&tables](unsigned language, unsigned code_page) {
        char text[40];
        std::snprintf(text, sizeof text, "\\StringFileInfo\\%04x%04x\\", language & 0xffff, code_page & 0xffff);
        for (const std::string& t : tables)
            if (t == text)
                return;
        tables.emplace_back(text);
    };
    for (size_t i = 0; i + 1 < translation.size(); i += 2)
        add(translation[i], translation[i + 1]);
    add(0x0409, 0x04b0);
    add(0x0409, 0x04e4);
    add(0x0000, 0x04b0);
    return tables;
}
