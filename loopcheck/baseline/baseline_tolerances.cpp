// The --tolerances file: a tolerance per figure and the response's mask, in
// the --limits file's syntax (one JSON object, a key per figure).
#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

#include "loopcheck/baseline/baseline.hpp"
#include "text/nearest.hpp"

namespace {

using json = nlohmann::json;

baseline_tolerances tolerances_refused(const std::string& why)
{
    baseline_tolerances t;
    t.error = "--tolerances: " + why;
    return t;
}

std::string names_hint(const std::string& word, const std::vector<std::string>& names)
{
    std::string out;
    const std::vector<std::string> near = nearest_names(word, names);
    if (!near.empty())
        out += " (did you mean " + nearest_names_list(near, "\"") + "?)";
    out += "; the names are ";
    for (size_t i = 0; i < names.size(); i++)
        out += (i > 0 ? ", " : "") + names[i];
    return out;
}

}  // namespace

baseline_tolerances baseline_tolerances_parse(std::string_view text)
{
    const json j = json::parse(text, nullptr, false);
    if (j.is_discarded() || !j.is_object())
        return tolerances_refused("not one JSON object, e.g. {\"thd_n_db\": {\"tolerance\": 2}}");
    const std::vector<std::string> names = baseline_tolerance_names();
    baseline_tolerances t;
    for (const auto& [name, item] : j.items()) {
        if (std::find(names.begin(), names.end(), name) == names.end())
            return tolerances_refused("unknown figure \"" + name + "\"" + names_hint(name, names));
        if (!item.is_object() || !item.contains("tolerance"))
            return tolerances_refused(name + ": not {\"tolerance\": VALUE}");
        for (const auto& [key, value] : item.items()) {
            if (key == "tolerance") {
                // nlohmann-json reads 1e999 as infinity: refused with the rest.
                if (!value.is_number() || !std::isfinite(value.get<double>()) || value.get<double>() < 0.0)
                    return tolerances_refused(name + ": the tolerance must be a finite number, 0 or more");
                (name == "response_db" ? t.response_db : t.figures[name]) = value.get<double>();
            } else if (key == "bands_hz" && name == "response_db") {
                std::vector<double> edges;
                for (const json& e : value.is_array() ? value : json::array()) {
                    if (!e.is_number() || !std::isfinite(e.get<double>()) || e.get<double>() <= 0.0 ||
                        (!edges.empty() && e.get<double>() <= edges.back()))
                        return tolerances_refused("response_db: bands_hz must be finite edges above 0 Hz, rising");
                    edges.push_back(e.get<double>());
                }
                if (edges.size() < 2)
                    return tolerances_refused("response_db: bands_hz must hold two edges or more");
                t.bands_hz = edges;
            } else
                return tolerances_refused(name + ": unknown item \"" + key + "\" (" +
                                          (name == "response_db" ? "tolerance, bands_hz" : "tolerance") + ")");
        }
    }
    return t;
}

std::string baseline_tolerances_read(const std::string& path, baseline_tolerances& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        out = tolerances_refused("cannot read " + path);
    else
        out = baseline_tolerances_parse(std::string(std::istreambuf_iterator<char>(in), {}));
    return out.error;
}
