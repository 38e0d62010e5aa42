// The valid name nearest to a mistyped one, for "did you mean ...?": an
// unknown option (loopsim's --dealy) or key (a limits file's "thdn_db").
// Header-only and free of any library, so that every program may use it.
#pragma once
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace text_nearest {

// The word as compared: lower case, without the leading dashes of an option
// and without the '-' and '_' that join its words ("--Noise_Colour" and
// "noisecolour" are one).
inline std::string folded(std::string_view word)
{
    std::string out;
    for (char c : word)
        if (c != '-' && c != '_')
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Edits from a to b: insertions, deletions, substitutions and swaps of two
// neighbours ("dealy" is one from "delay"), each one (optimal string alignment).
inline size_t distance(std::string_view a, std::string_view b)
{
    const size_t n = a.size(), m = b.size();
    std::vector<std::vector<size_t>> d(n + 1, std::vector<size_t>(m + 1, 0));
    for (size_t i = 0; i <= n; i++)
        d[i][0] = i;
    for (size_t j = 0; j <= m; j++)
        d[0][j] = j;
    for (size_t i = 1; i <= n; i++)
        for (size_t j = 1; j <= m; j++) {
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[n][m];
}

}  // namespace text_nearest

// The names nearest to word, when any is close: a folded distance of 1 for a
// word of 3 to 5 letters, 2 up to 9, 3 beyond (none below 3 but the word
// itself, folded), or one the start of the other, of 3 letters or more
// ("gain" of "gain_db", "max" of "maximum"). Names that the word is the start
// of come first ("--gain2" meant "--gain2-db" rather than "--gain"), then by
// the folded distance, then the plain one; all of the first that tie, in the
// names' order. Empty when none is close.
inline std::vector<std::string> nearest_names(std::string_view word, std::span<const std::string> names)
{
    using namespace text_nearest;
    const std::string w = folded(word);
    const size_t allowed = w.size() < 3 ? 0 : w.size() <= 5 ? 1 : w.size() <= 9 ? 2 : 3;
    // (not the word's extension, folded distance, plain distance), index
    std::vector<std::pair<std::tuple<bool, size_t, size_t>, size_t>> close;
    for (size_t i = 0; i < names.size(); i++) {
        const std::string f = folded(names[i]);
        const size_t d = distance(w, f);
        const bool extends = w.size() >= 3 && f.starts_with(w);
        if (d <= allowed || extends || (f.size() >= 3 && w.starts_with(f)))
            close.push_back({{!extends, d, distance(word, names[i])}, i});
    }
    std::sort(close.begin(), close.end());
    std::vector<std::string> out;
    for (const auto& [rank, i] : close)
        if (rank == close[0].first)
            out.push_back(names[i]);
    return out;
}

// "\"a\"", "\"a\" or \"b\"", ...: the names, each between quote (may be empty).
inline std::string nearest_names_list(std::span<const std::string> names, std::string_view quote = "")
{
    std::string out;
    for (size_t i = 0; i < names.size(); i++) {
        if (i > 0)
            out += i + 1 == names.size() ? " or " : ", ";
        out += std::string(quote) + names[i] + std::string(quote);
    }
    return out;
}
