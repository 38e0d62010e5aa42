// Limits: reading the JSON and judging the figures.
#include "analysis/quality_limits.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <nlohmann/json.hpp>

namespace {

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
        if (bound != "min" && bound != "max")
            return key + ": unknown limit \"" + bound + "\" (min and max are)";
        if (auto error = read_bound(number, key + "." + bound, bound == "min" ? limit.min : limit.max))
            return error;
    }
    if (!limit.min && !limit.max)
        return key + ": neither \"min\" nor \"max\"";
    if (limit.min && limit.max && *limit.min > *limit.max)
        return key + ": min above max";
    return std::nullopt;
}

// How far inside its limits a value lies (negative: outside).
double margin(const quality_limit& l, double v)
{
    double m = INFINITY;
    if (l.min)
        m = std::min(m, v - *l.min);
    if (l.max)
        m = std::min(m, *l.max - v);
    return m;
}

}  // namespace

quality_limits quality_limits_parse(std::string_view text)
{
    quality_limits limits;
    const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        limits.error = doc.is_discarded() ? "not valid JSON" : "not a JSON object";
        return limits;
    }
    for (const auto& [key, value] : doc.items())
        if (std::none_of(std::begin(quality_limits_keys), std::end(quality_limits_keys),
                         [&](const char* k) { return key == k; })) {
            limits.error = "unknown figure \"" + key + "\"";
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
    auto put = [&](const char* key, const std::optional<double>& v) {
        if (v)
            set[key] = *v;
    };
    for (const quality_tone_figures& t : f.tones)
        if (t.conditions.level_dbfs == quality_tone_levels_dbfs[0])
            put("thd_n_db", t.thd_n_db), put("thd_db", t.thd_db);
    put("noise_dbfs", f.noise.noise_dbfs);
    put("noise_dbfs_a", f.noise.noise_dbfs_a);
    put("dynamic_range_db_a", f.dynamic_range_db_a);
    put("imd_smpte_db", f.smpte.db);
    put("imd_ccif_db", f.ccif.db);
    put("crosstalk_db", f.crosstalk_db);
    put("gain_db", f.gain_db);
    return set;
}

std::vector<quality_verdict> quality_limits_judge(std::span<const quality_limit> limits,
                                                  std::span<const quality_figure_set> loops)
{
    std::vector<quality_verdict> verdicts;
    for (const quality_limit& l : limits) {
        quality_verdict v{l.figure, std::nullopt, l.min, l.max, false};
        for (const quality_figure_set& set : loops) {
            const auto found = set.find(l.figure);
            if (found != set.end() && (!v.value || margin(l, found->second) < margin(l, *v.value)))
                v.value = found->second;
        }
        v.pass = v.value && margin(l, *v.value) >= 0.0;
        verdicts.push_back(v);
    }
    return verdicts;
}
