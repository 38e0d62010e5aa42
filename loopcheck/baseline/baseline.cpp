// Baselines: the figures of a result, their changes, and the checks.
#include "loopcheck/baseline/baseline.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

namespace {

using json = nlohmann::json;

// The number at j[key], when it is one.
std::optional<double> number(const json& j, const char* key)
{
    if (!j.is_object() || !j.contains(key) || !j[key].is_number())
        return std::nullopt;
    return j[key].get<double>();
}

bool is_bound(const json& j, const char* floor)
{
    return j.is_object() && j.contains(floor) && j[floor].is_object() && j[floor].value("bound", false);
}

// A figure's defaults: its unit, which way is better, and the change allowed
// (the analysers' golden-unit practice: a dB on a distortion or noise figure,
// a tenth of a dB on a gain, half a frame on a latency).
struct figure_kind {
    const char* name;
    const char* unit;
    check_direction better;
    double tolerance;
};
constexpr figure_kind kinds[] = {
    {"latency_frames", "frames", check_direction::closer, 0.5},
    {"thd_n_db", "dB", check_direction::lower, 1.0},
    {"thd_n_a_db", "dB", check_direction::lower, 1.0},
    {"thd_db", "dB", check_direction::lower, 1.0},
    {"noise_dbfs", "dBFS", check_direction::lower, 1.0},
    {"imd_smpte_db", "dB", check_direction::lower, 1.0},
    {"imd_ccif_db", "dB", check_direction::lower, 1.0},
    {"crosstalk_db", "dB", check_direction::lower, 3.0},
    {"gain_db", "dB", check_direction::closer, 0.1},
    {"dynamic_range_db_a", "dB", check_direction::higher, 1.0},
};

// The figures of one result, each kind's tolerance from the file where it gives one.
struct figures_of {
    const baseline_tolerances& tolerances;
    std::vector<baseline_figure> out;

    void add(const char* kind, const std::string& suffix, std::optional<double> value, double uncertainty = 0.0,
             bool bound = false)
    {
        if (!value || !std::isfinite(*value))
            return;
        for (const figure_kind& k : kinds)
            if (std::string(k.name) == kind) {
                const auto given = tolerances.figures.find(k.name);
                out.push_back({k.name + suffix, *value, uncertainty, bound, k.unit, k.better,
                               given == tolerances.figures.end() ? k.tolerance : given->second});
            }
    }

    // The response's mean level in each band of the mask, from its rows.
    void add_bands(const json& response, const std::string& suffix)
    {
        if (!response.is_object() || !response.contains("rows") || !response["rows"].is_array())
            return;
        // The rows read once (a lab's thousands of results pass through here).
        struct row {
            double hz, db, u;
        };
        std::vector<row> rows;
        rows.reserve(response["rows"].size());
        for (const json& r : response["rows"]) {
            const std::optional<double> hz = number(r, "hz"), db = number(r, "level_db");
            if (hz && db)
                rows.push_back({*hz, *db, number(r, "uncertainty_db").value_or(0.0)});
        }
        const std::vector<double>& edges = tolerances.bands_hz;
        for (size_t b = 0; b + 1 < edges.size(); b++) {
            const bool last = b + 2 == edges.size();
            double level = 0.0, uncertainty = 0.0;
            int count = 0;
            for (const row& r : rows) {
                if (r.hz < edges[b] || r.hz > edges[b + 1] || (r.hz == edges[b + 1] && !last))
                    continue;
                level += r.db, uncertainty += r.u, count++;
            }
            if (count == 0)
                continue;
            out.push_back({"response " + baseline_band_name(edges[b], edges[b + 1]) + suffix, level / count,
                           uncertainty / count, false, "dB", check_direction::closer, tolerances.response_db, edges[b],
                           edges[b + 1]});
        }
    }
};

std::string number_text(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// A change in dB to the hundredth, signed; "0.00" never "-0.00".
std::string change_text(double value, const char* pattern = "%+.2f")
{
    char text[40];
    std::snprintf(text, sizeof text, pattern, value);
    const std::string t = text;
    return t == "-0.00" || t == "+0.00" ? "0.00" : t;
}

// An edge in its unit: "31.5", "12.5", "1".
std::string edge_text(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

}  // namespace

std::vector<std::string> baseline_tolerance_names()
{
    std::vector<std::string> names;
    for (const figure_kind& k : kinds)
        names.push_back(k.name);
    names.push_back("response_db");
    return names;
}

std::string baseline_band_name(double low_hz, double high_hz)
{
    return low_hz >= 1000.0 ? edge_text(low_hz / 1000.0) + "-" + edge_text(high_hz / 1000.0) + " kHz"
                            : edge_text(low_hz) + "-" + edge_text(high_hz) + " Hz";
}

std::vector<baseline_figure> baseline_figures(const json& r, const baseline_tolerances& tolerances)
{
    figures_of f{tolerances, {}};
    if (!r.is_object())
        return f.out;
    // Each loop's latency: the first's summary, the others' in loops[].
    const json none;
    const json& summary = r.contains("summary") ? r["summary"] : none;
    f.add("latency_frames", "", number(summary, "mean_frames"),
          number(summary, "latency_uncertainty_frames").value_or(0.0));
    if (r.contains("loops") && r["loops"].is_array())
        for (size_t k = 1; k < r["loops"].size(); k++) {
            const json& s = r["loops"][k].contains("summary") ? r["loops"][k]["summary"] : none;
            f.add("latency_frames", " loop " + std::to_string(k + 1), number(s, "mean_frames"),
                  number(s, "latency_uncertainty_frames").value_or(0.0));
        }
    // The battery's figures, per loop (the first tone's level: the battery's headline).
    if (!r.contains("quality") || !r["quality"].is_object() || !r["quality"].contains("channels"))
        return f.out;
    const json& channels = r["quality"]["channels"];
    for (size_t k = 0; k < channels.size(); k++) {
        const json& c = channels[k];
        const std::string suffix = k == 0 ? "" : " loop " + std::to_string(k + 1);
        if (c.contains("thd_n") && c["thd_n"].is_array() && !c["thd_n"].empty()) {
            const json& t = c["thd_n"][0];
            f.add("thd_n_db", suffix, number(t, "thd_n_db"), 0.0, is_bound(t, "thd_n_floor"));
            f.add("thd_n_a_db", suffix, number(t, "thd_n_a_db"), 0.0, is_bound(t, "thd_n_a_floor"));
            f.add("thd_db", suffix, number(t, "thd_db"), 0.0, is_bound(t, "thd_floor"));
        }
        if (c.contains("noise"))
            f.add("noise_dbfs", suffix, number(c["noise"], "dbfs"));
        if (c.contains("imd")) {
            f.add("imd_smpte_db", suffix, number(c["imd"], "smpte_db"), 0.0, is_bound(c["imd"], "smpte_floor"));
            f.add("imd_ccif_db", suffix, number(c["imd"], "ccif_db"), 0.0, is_bound(c["imd"], "ccif_floor"));
        }
        f.add("crosstalk_db", suffix, number(c, "crosstalk_db"), 0.0, is_bound(c, "crosstalk_floor"));
        f.add("gain_db", suffix, number(c, "gain_db"));
        f.add("dynamic_range_db_a", suffix, number(c, "dynamic_range_db_a"));
        if (c.contains("response"))
            f.add_bands(c["response"], suffix);
    }
    return f.out;
}

std::string baseline_identity(const json& r)
{
    if (!r.is_object() || !r.contains("environment") || !r["environment"].is_object())
        return "";
    const json& e = r["environment"];
    return e.contains("key") && e["key"].is_string() ? e["key"].get<std::string>() : "";
}

std::vector<baseline_change> baseline_compare(const std::vector<baseline_figure>& baseline,
                                              const std::vector<baseline_figure>& run)
{
    std::vector<baseline_change> changes;
    for (const baseline_figure& b : baseline)
        for (const baseline_figure& f : run) {
            if (f.name != b.name)
                continue;
            baseline_change c{f.name, f.unit, f.better, b.value, f.value, 0.0, false, f.low_hz, f.high_hz};
            // Widened to three combined standard uncertainties, not two: a
            // baseline compares some forty figures and bands at once, and at
            // two a noisy loop's low bands (three of them, correlated through
            // the 1 kHz reference) read as regressed by chance in a clean run.
            const double combined = std::sqrt(b.uncertainty * b.uncertainty + f.uncertainty * f.uncertainty);
            c.allowed = std::max(f.tolerance, baseline_coverage * combined);
            const double worse = f.better == check_direction::lower    ? f.value - b.value
                                 : f.better == check_direction::higher ? b.value - f.value
                                                                       : std::fabs(f.value - b.value);
            // A bound on either side says only where the figure lies below: not compared.
            c.regressed = !b.bound && !f.bound && worse > c.allowed;
            changes.push_back(c);
        }
    return changes;
}

std::vector<baseline_change> baseline_changes(const json& baseline, const json& run, bool any,
                                              const baseline_tolerances& tolerances)
{
    if (!any && baseline_identity(baseline) != baseline_identity(run))
        return {};
    return baseline_compare(baseline_figures(baseline, tolerances), baseline_figures(run, tolerances));
}

std::vector<mode_check> baseline_checks(const json& baseline, const json& run, bool any,
                                        const baseline_tolerances& tolerances)
{
    std::vector<mode_check> checks;
    const std::string was = baseline_identity(baseline), is = baseline_identity(run);
    if (!any && was != is) {
        checks.push_back(check_failed("baseline_identity", check_status::error,
                                      "--baseline: made on another interface (\"" + was + "\", this one \"" + is +
                                          "\"); --baseline-any compares them anyway"));
        return checks;
    }
    for (const baseline_change& c : baseline_changes(baseline, run, any, tolerances)) {
        mode_check k;
        k.name = c.name, k.value = c.value, k.unit = c.unit;
        if (c.better != check_direction::lower)
            k.min = c.baseline - c.allowed;
        if (c.better != check_direction::higher)
            k.max = c.baseline + c.allowed;
        k.direction = c.better;
        // Words for every figure (the text's lines); the verdict reads those of a regression only.
        // A band of the response: its change, as a mask's reading gives it.
        k.words =
            (c.regressed ? "regressed: " : "baseline: ") + c.name + " " +
            (c.high_hz > 0.0 ? change_text(c.value - c.baseline) + " dB, tolerance " + change_text(c.allowed, "%.2f")
                             : number_text(c.baseline) + " → " + number_text(c.value) + " " + c.unit + ", tolerance " +
                                   number_text(c.allowed));
        if (c.regressed)
            k.result = check_result::fail, k.fails_with = check_status::regressed;
        checks.push_back(k);
    }
    return checks;
}

std::string baseline_lines(const std::vector<mode_check>& checks)
{
    std::string text;
    size_t within = 0;
    const mode_check* nearest = nullptr;
    double nearest_part = -1.0;
    for (const mode_check& c : checks) {
        if (!c.name.starts_with("response ") || c.result == check_result::fail || !c.min || !c.max) {
            text += c.words + "\n";
            continue;
        }
        // How much of its room the band's change takes.
        const double centre = 0.5 * (*c.min + *c.max), room = 0.5 * (*c.max - *c.min);
        const double part = room > 0.0 ? std::fabs(c.value.value_or(centre) - centre) / room : 0.0;
        within++;
        if (part > nearest_part)
            nearest = &c, nearest_part = part;
    }
    if (nearest)
        text += "baseline: response within the mask in " + std::to_string(within) + " band" + (within == 1 ? "" : "s") +
                ", the nearest its edge " + nearest->words.substr(std::string("baseline: response ").size()) + "\n";
    return text;
}

std::string baseline_read(const std::string& path, json& baseline)
{
    std::ifstream in(path);
    if (!in)
        return "--baseline: cannot read " + path;
    std::string line;
    std::getline(in, line);
    baseline = json::parse(line, nullptr, false);
    if (baseline.is_object() && baseline.value("event", "") == "start" && baseline.contains("measurement"))
        baseline = json(baseline["measurement"]);
    if (!baseline.is_object() || baseline.value("program", "") != "loopcheck")
        return "--baseline: " + path + " is not loopcheck's JSON (loopcheck --json or --save-baseline writes one)";
    return "";
}
