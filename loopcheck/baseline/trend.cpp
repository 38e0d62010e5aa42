// Trends: results read, grouped by identity, each figure over time.
#include "loopcheck/baseline/trend.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

namespace {

using json = nlohmann::json;

std::string time_of(const json& r)
{
    if (r.contains("environment") && r["environment"].is_object() && r["environment"].contains("time") &&
        r["environment"]["time"].is_string())
        return r["environment"]["time"].get<std::string>();
    return "";
}

const char* better_word(check_direction d)
{
    return d == check_direction::lower    ? "lower"
           : d == check_direction::higher ? "higher"
           : d == check_direction::closer ? "closer"
                                          : "none";
}

std::optional<double> limit_of(const json& item, const char* key)
{
    return item.contains(key) && item[key].is_number() ? std::optional<double>(item[key].get<double>()) : std::nullopt;
}

// The result's --limits, over those of the results before it.
void limits_of(const json& r, std::vector<trend_limit>& limits)
{
    if (!r.contains("limits") || !r["limits"].is_array())
        return;
    for (const json& item : r["limits"]) {
        if (!item.is_object() || !item.contains("figure") || !item["figure"].is_string())
            continue;
        trend_limit l{item["figure"].get<std::string>(), limit_of(item, "min"), limit_of(item, "max")};
        auto at =
            std::find_if(limits.begin(), limits.end(), [&l](const trend_limit& k) { return k.figure == l.figure; });
        if (at == limits.end())
            limits.push_back(l);
        else
            *at = l;
    }
}

}  // namespace

std::vector<trend_group> trend_of(std::vector<trend_result> results, const baseline_tolerances& tolerances)
{
    std::stable_sort(results.begin(), results.end(), [](const trend_result& a, const trend_result& b) {
        const std::string ta = time_of(a.second), tb = time_of(b.second);
        return ta != tb ? ta < tb : a.first < b.first;
    });
    std::map<std::string, trend_group> groups;
    std::map<std::string, std::vector<baseline_figure>> first;
    for (const trend_result& r : results) {
        const std::string key = baseline_identity(r.second);
        trend_group& g = groups[key];
        g.key = key;
        g.results++;
        const std::vector<baseline_figure> figures = baseline_figures(r.second, tolerances);
        const auto [at, fresh] = first.try_emplace(key, figures);
        const std::vector<baseline_change> changes = baseline_compare(at->second, figures);
        for (const baseline_figure& f : figures) {
            auto s = std::find_if(g.series.begin(), g.series.end(),
                                  [&f](const trend_series& t) { return t.name == f.name; });
            if (s == g.series.end())
                s = g.series.insert(g.series.end(), trend_series{f.name, f.unit, f.better, f.low_hz, f.high_hz, {}});
            trend_point p{time_of(r.second), r.first, f.value, 0.0, false};
            for (const baseline_change& c : changes)
                if (c.name == f.name)
                    p.allowed = c.allowed, p.regressed = c.regressed;
            s->points.push_back(p);
        }
        limits_of(r.second, g.limits);
    }
    std::vector<trend_group> out;
    for (auto& [key, g] : groups)
        out.push_back(std::move(g));
    return out;
}

nlohmann::ordered_json trend_json(const std::vector<trend_group>& groups, size_t unread)
{
    nlohmann::ordered_json j;
    j["program"] = "loopcheck";
    j["trend"] = nlohmann::ordered_json::array();
    size_t results = 0;
    for (const trend_group& g : groups) {
        results += g.results;
        nlohmann::ordered_json group = {{"key", g.key}, {"results", g.results}};
        group["figures"] = nlohmann::ordered_json::array();
        for (const trend_series& s : g.series) {
            nlohmann::ordered_json points = nlohmann::ordered_json::array();
            for (const trend_point& p : s.points)
                points.push_back({{"time", p.time},
                                  {"file", p.file},
                                  {"value", p.value},
                                  {"allowed", p.allowed},
                                  {"regressed", p.regressed}});
            nlohmann::ordered_json figure = {{"name", s.name}, {"unit", s.unit}, {"better", better_word(s.better)}};
            if (s.high_hz > 0.0)
                figure["band_hz"] = {s.low_hz, s.high_hz};
            figure["points"] = points;
            group["figures"].push_back(figure);
        }
        nlohmann::ordered_json limits = nlohmann::ordered_json::array();
        for (const trend_limit& l : g.limits)
            limits.push_back({{"figure", l.figure},
                              {"min", l.min ? nlohmann::ordered_json(*l.min) : nlohmann::ordered_json(nullptr)},
                              {"max", l.max ? nlohmann::ordered_json(*l.max) : nlohmann::ordered_json(nullptr)}});
        group["limits"] = limits;
        j["trend"].push_back(group);
    }
    j["results"] = results;
    j["unread"] = unread;
    return j;
}

std::string trend_read(const std::string& folder, std::vector<trend_result>& results, size_t& unread)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::recursive_directory_iterator it(folder, error), end;
    if (error)
        return "--trend: cannot read " + folder + ": " + error.message();
    unread = 0;
    for (; it != end; it.increment(error)) {
        if (error)
            return "--trend: cannot read " + folder + ": " + error.message();
        if (!it->is_regular_file(error) || it->path().extension() != ".json")
            continue;
        std::ifstream in(it->path());
        std::string line;
        std::getline(in, line);
        json r = json::parse(line, nullptr, false);
        if (r.is_object() && r.value("event", "") == "start" && r.contains("measurement"))
            r = json(r["measurement"]);
        if (!r.is_object() || r.value("program", "") != "loopcheck") {
            unread++;
            continue;
        }
        results.emplace_back(it->path().string(), std::move(r));
    }
    return "";
}
