// Limits: reading the JSON and judging the figures.
#include "analysis/quality_limits.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <nlohmann/json.hpp>

#include "text/nearest.hpp"

namespace {

// "(did you mean "x"?); the KIND are a, b, ...": the names, the nearest first when one is close.
std::string limits_names_hint(const std::string& word, std::span<const std::string> names, const char* kind)
{
    std::string out;
    const std::vector<std::string> near = nearest_names(word, names);
    if (!near.empty())
        out += " (did you mean " + nearest_names_list(near, "\"") + "?)";
    out += "; the " + std::string(kind) + " are ";
    for (size_t i = 0; i < names.size(); i++)
        out += (i > 0 ? ", " : "") + names[i];
    return out;
}

// Line and column (both from 1; the column in characters, UTF-8's
// continuation bytes and a leading byte order mark not counted) of the byte
// at offset in text; past its end, just after its last character.
std::string limits_line_column(std::string_view text, size_t offset)
{
    offset = std::min(offset, text.size());
    size_t line = 1, column = 1;
    for (size_t i = 0; i < offset; i++) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n')
            line++, column = 1;
        else if ((c & 0xC0) != 0x80 && !(i == 0 && text.starts_with("\xEF\xBB\xBF")))
            column++;
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// nlohmann-json's reason without its own prefix ("[json.exception.parse_error.101]
// parse error at line 1, column 9: ").
std::string limits_json_reason(const nlohmann::json::exception& e)
{
    std::string reason = e.what();
    const size_t prefix = reason.find("parse error");
    const size_t colon = prefix == std::string::npos ? std::string::npos : reason.find(": ", prefix);
    if (colon != std::string::npos)
        return reason.substr(colon + 2);
    const size_t bracket = reason.find("] ");
    return bracket == std::string::npos ? reason : reason.substr(bracket + 2);
}

// The text as one JSON document, or why it is not and where: the empty text;
// a syntax error at the last byte read (parse_error's byte counts from 1), an
// unexpected end just after the last character that is not blank; a
// number beyond a double's range (1e999), which nlohmann-json gives no
// position for, where it stands in the text.
std::optional<std::string> limits_json_read(std::string_view text, nlohmann::json& doc)
{
    if (text.find_first_not_of(" \t\r\n") == std::string_view::npos)
        return "not valid JSON: the text is empty (a limits file is one JSON object, such as "
               "{\"thd_n_db\": {\"max\": -55}})";
    try {
        doc = nlohmann::json::parse(text);
        return std::nullopt;
    } catch (const nlohmann::json::parse_error& e) {
        size_t at = e.byte > 0 ? e.byte - 1 : 0;
        // The end of the input: just after its last character that is not blank.
        if (at >= text.size())
            at = text.find_last_not_of(" \t\r\n") + 1;
        return "not valid JSON at " + limits_line_column(text, at) + ": " + limits_json_reason(e);
    } catch (const nlohmann::json::exception& e) {
        const std::string reason = limits_json_reason(e);
        const size_t open = reason.find('\''), close = reason.rfind('\'');
        const size_t found =
            open < close ? text.find(std::string_view(reason).substr(open + 1, close - open - 1)) : text.npos;
        if (found == text.npos)
            return "not valid JSON: " + reason;
        return "not valid JSON at " + limits_line_column(text, found) + ": " + reason;
    }
}

std::optional<std::string> read_bound(const nlohmann::json& value, const std::string& where, std::optional<double>& out)
{
    // JSON has no NaN or infinity, but an overflowing number (1e999) reads as one.
    if (!value.is_number() || !std::isfinite(value.get<double>()))
        return where + " is not a finite number";
    out = value.get<double>();
    return std::nullopt;
}

std::optional<std::string> read_limit(const std::string& key, const nlohmann::json& value, quality_limit& limit)
{
    if (!value.is_object())
        return key + ": not an object with \"min\" and/or \"max\"";
    limit.figure = key;
    for (const auto& [bound, number] : value.items()) {
        if (bound != "min" && bound != "max") {
            const std::string bounds[] = {"min", "max"};
            return key + ": unknown limit \"" + bound + "\"" + limits_names_hint(bound, bounds, "limits");
        }
        if (auto error = read_bound(number, key + "." + bound, bound == "min" ? limit.min : limit.max))
            return error;
    }
    if (!limit.min && !limit.max)
        return key + ": neither \"min\" nor \"max\"";
    if (limit.min && limit.max && *limit.min > *limit.max)
        return key + ": min above max";
    return std::nullopt;
}

// How far inside its limits a figure lies (negative: outside); a bound
// below a min cannot be shown to reach it.
double margin(const quality_limit& l, const quality_figure& f)
{
    double m = INFINITY;
    if (l.min)
        m = std::min(m, f.bound ? -INFINITY : f.value - *l.min);
    if (l.max)
        m = std::min(m, *l.max - f.value);
    return m;
}

}  // namespace

quality_limits quality_limits_parse(std::string_view text)
{
    quality_limits limits;
    nlohmann::json doc;
    if (auto error = limits_json_read(text, doc)) {
        limits.error = *error;
        return limits;
    }
    if (!doc.is_object()) {
        limits.error = std::string("not a JSON object but ") + doc.type_name() +
                       " (a limits file is one object, such as {\"thd_n_db\": {\"max\": -55}})";
        return limits;
    }
    const std::vector<std::string> keys(std::begin(quality_limits_keys), std::end(quality_limits_keys));
    for (const auto& [key, value] : doc.items())
        if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
            limits.error = "unknown figure \"" + key + "\"" + limits_names_hint(key, keys, "figures");
            return limits;
        }
    for (const char* key : quality_limits_keys) {
        if (!doc.contains(key))
            continue;
        quality_limit limit;
        if (auto error = read_limit(key, doc.at(key), limit)) {
            limits.error = *error;
            limits.items.clear();
            return limits;
        }
        limits.items.push_back(limit);
    }
    return limits;
}

quality_figure_set quality_limits_figures(const quality_loop_figures& f)
{
    quality_figure_set set;
    auto put = [&](const char* key, const std::optional<double>& v, bool bound = false) {
        if (v)
            set[key] = quality_figure(*v, bound);
    };
    for (const quality_tone_figures& t : f.tones)
        if (t.conditions.level_dbfs == quality_tone_levels_dbfs[0])
            put("thd_n_db", t.thd_n_db), put("thd_db", t.thd_db, t.thd_floor.bound);
    put("noise_dbfs", f.noise.noise_dbfs);
    put("noise_dbfs_a", f.noise.noise_dbfs_a);
    put("dynamic_range_db_a", f.dynamic_range_db_a);
    put("imd_smpte_db", f.smpte.db, f.smpte.floor.bound);
    put("imd_ccif_db", f.ccif.db, f.ccif.floor.bound);
    put("crosstalk_db", f.crosstalk_db, f.crosstalk_floor.bound);
    put("gain_db", f.gain_db);
    return set;
}

std::vector<quality_verdict> quality_limits_judge(std::span<const quality_limit> limits,
                                                  std::span<const quality_figure_set> loops)
{
    std::vector<quality_verdict> verdicts;
    for (const quality_limit& l : limits) {
        quality_verdict v{l.figure, std::nullopt, false, l.min, l.max, false};
        std::optional<quality_figure> worst;
        for (const quality_figure_set& set : loops) {
            const auto found = set.find(l.figure);
            if (found != set.end() && (!worst || margin(l, found->second) < margin(l, *worst)))
                worst = found->second;
        }
        if (worst)
            v.value = worst->value, v.bound = worst->bound;
        v.pass = worst && margin(l, *worst) >= 0.0;
        verdicts.push_back(v);
    }
    return verdicts;
}
