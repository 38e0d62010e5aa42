// A new delay at each start of the client plugged into.
#include "tools/loopsim/starts.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace loopsim {

namespace {

constexpr int64_t most_extra = 480000;

bool whole(const std::string& text, int64_t& value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < 0 || v > most_extra)
        return false;
    value = v;
    return true;
}

// splitmix64: a draw that depends on the seed and the start alone.
uint64_t mix(uint64_t x)
{
    x += 0x9e3779b97f4a7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

}  // namespace

bool starts_parse(const char* text, starts& s)
{
    s = starts{};
    const std::string t = text;
    if (const size_t colon = t.find(':'); colon != std::string::npos) {
        const size_t dash = t.find('-');
        int64_t seed = 0;
        s.range = true;
        return dash != std::string::npos && dash < colon && whole(t.substr(0, dash), s.min) &&
               whole(t.substr(dash + 1, colon - dash - 1), s.max) && s.min <= s.max &&
               whole(t.substr(colon + 1), seed) && (s.seed = static_cast<uint64_t>(seed), true);
    }
    for (size_t from = 0;;) {
        const size_t comma = t.find(',', from);
        int64_t v = 0;
        if (!whole(t.substr(from, comma == std::string::npos ? std::string::npos : comma - from), v))
            return false;
        s.list.push_back(v);
        if (comma == std::string::npos)
            return true;
        from = comma + 1;
    }
}

int64_t starts_extra(const starts& s, int64_t n)
{
    if (s.range) {
        const uint64_t span = static_cast<uint64_t>(s.max - s.min) + 1;
        return s.min + static_cast<int64_t>(mix(s.seed * 1000003u + static_cast<uint64_t>(n)) % span);
    }
    if (s.list.empty())
        return 0;
    return s.list[static_cast<size_t>((n - 1) % static_cast<int64_t>(s.list.size()))];
}

int64_t starts_most(const starts& s)
{
    return s.range ? s.max : s.list.empty() ? 0 : *std::max_element(s.list.begin(), s.list.end());
}

start_line start_line_make(int64_t most)
{
    start_line l;
    size_t size = 1;
    while (size < static_cast<size_t>(most) + 1)
        size *= 2;
    l.ring.assign(size, 0.0f);
    l.mask = size - 1;
    return l;
}

float start_line_step(start_line& l, float x, int64_t extra)
{
    l.ring[l.at & l.mask] = x;
    const float y = l.ring[(l.at - static_cast<uint64_t>(extra)) & l.mask];
    l.at++;
    return y;
}

}  // namespace loopsim
