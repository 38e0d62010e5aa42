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
                s = g.series.insert(g.series.end(), trend_series{f.name, f.unit, f.better, {}});
            bool regressed = false;
            for (const baseline_change& c : changes)
                regressed = regressed || (c.name == f.name && c.regressed);
            s->points.push_back({time_of(r.second), r.first, f.value, regressed});
        }
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
                points.push_back({{"time", p.time}, {"file", p.file}, {"value", p.value}, {"regressed", p.regressed}});
            group["figures"].push_back(
                {{"name", s.name}, {"unit", s.unit}, {"better", better_word(s.better)}, {"points", points}});
        }
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
