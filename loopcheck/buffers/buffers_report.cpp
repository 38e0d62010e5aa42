// The buffer sweep's words: a line per size as it goes, the table, -q's
// number, and its keys of the JSON.
#include <cstdio>

#include "loopcheck/buffers/buffers.hpp"
#include "loopcheck/report/clock_words.hpp"
#include "loopcheck/report/format.hpp"
#include "loopcheck/report/report.hpp"

namespace {

using json = nlohmann::ordered_json;

// The kinds a soak counts, in the table's order (the detector's own names).
constexpr monitor_kind counted[] = {monitor_kind::dropped, monitor_kind::inserted, monitor_kind::zeros,
                                    monitor_kind::discontinuity, monitor_kind::lost};

int64_t of_kind(const buffers_row& row, monitor_kind k) { return row.by_kind[static_cast<size_t>(k)]; }

std::string round_trip_text(const buffers_row& row)
{
    return report_latency_text(row.latency_frames, row.uncertainty_frames) + " frames (" +
           report_figure("%.3f", buffers_row_ms(row)) + " ms)";
}

// "safe", "NOT SAFE" or that the size has no verdict.
std::string safety_text(const buffers_row& row)
{
    if (buffers_row_safe(row))
        return "safe";
    return row.soaked && (!row.found || row.judged) ? "NOT SAFE" : "not judged";
}

std::string cell(const char* pattern, long long value)
{
    char text[32];
    std::snprintf(text, sizeof text, pattern, value);
    return text;
}

// A text padded on the left to width (counted in bytes: "±" takes two).
std::string right(const std::string& text, size_t width)
{
    return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

// A text padded on the left to width characters (UTF-8's continuation bytes not counted).
std::string right_chars(const std::string& text, size_t width)
{
    size_t chars = 0;
    for (const char c : text)
        chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return chars < width ? std::string(width - chars, ' ') + text : text;
}

// Why a size has no round trip: a latency spoiled by xruns at that size is
// itself a verdict on it.
std::string unmeasured_text(const buffers_row& row)
{
    return (row.failure == check_status::unstable ? "NOT SAFE: " : "not measured: ") + row.reason;
}

std::string table_row(const buffers_row& row)
{
    std::string text = cell("%7lld", static_cast<long long>(row.requested)) +
                       (row.granted > 0 ? cell(" %7lld", static_cast<long long>(row.granted)) : "       -");
    if (row.refused)
        return text + "   refused: " + row.reason + "\n";
    if (!row.measured)
        return text + "   " + unmeasured_text(row) + "\n";
    text += right(report_latency_text(row.latency_frames, row.uncertainty_frames), 22) +
            right(report_figure("%.3f", buffers_row_ms(row)), 10) +
            (row.excess_known ? right(report_figure("%.3f", row.excess_frames), 10) : right("-", 10));
    if (!row.soaked)
        return text + "   " + row.reason + "\n";
    if (!row.found)
        return text + "   NOT SAFE: " + row.reason + "\n";
    text += right(report_figure("%.1f", row.soak_s), 7);
    for (const monitor_kind k : counted)
        text += cell(" %6lld", static_cast<long long>(of_kind(row, k)));
    text += cell(" %6lld", static_cast<long long>(row.xruns));
    return text + right_chars(report_clock_cell(row.clock), 23) + "  " + safety_text(row) + "\n";
}

std::string header()
{
    return " buffer granted  round trip (frames)        ms    excess soak s dropped insert  zeros discon   lost  "
           "xruns clock against system's\n";
}

}  // namespace

std::string buffers_row_text(const buffers_row& row)
{
    std::string text = "buffer " + std::to_string(row.requested);
    if (row.granted > 0 && row.granted != row.requested)
        text += " (granted " + std::to_string(row.granted) + ")";
    if (row.refused)
        return text + ": refused: " + row.reason + "\n";
    if (!row.measured)
        return text + ": " + unmeasured_text(row) + "\n";
    text += ": " + round_trip_text(row);
    if (!row.soaked)
        return text + " · " + row.reason + "\n";
    if (!row.found)
        return text + " · NOT SAFE: " + row.reason + "\n";
    return text + " · soak " + report_figure("%.1f", row.soak_s) + " s: " + std::to_string(row.glitches) +
           (row.glitches == 1 ? " glitch, " : " glitches, ") + std::to_string(row.xruns) +
           (row.xruns == 1 ? " xrun" : " xruns") + " · clock " + report_clock_cell(row.clock) + " · " +
           (row.judged ? safety_text(row) : row.reason) + "\n";
}

std::string buffers_text(const buffers_outcome& f, const mode_judgement&, text_part part)
{
    if (part == text_part::warnings)
        return "";
    std::string text;
    if (!f.facts.host_api.empty())
        text += "buffer sweep · " + report_device_text(f.facts) + " (" + f.facts.host_api + ") · " +
                report_figure("%.0f", f.facts.rate) + " Hz · soak " + report_figure("%g", f.plan.soak_s) +
                " s per size" +
                (f.plan.load_percent > 0.0 ? " at " + report_figure("%g", f.plan.load_percent) + " % load" : "") + "\n";
    if (!f.rows.empty())
        text += header();
    for (const buffers_row& row : f.rows)
        text += table_row(row);
    if (const buffers_row* safe = buffers_smallest_safe(f))
        text += "smallest safe buffer: " + std::to_string(safe->granted) + " frames, round trip " +
                round_trip_text(*safe) + "\n";
    else if (!f.rows.empty())
        text += "smallest safe buffer: none (no size ran its soak without a glitch or an xrun)\n";
    if (f.server_wide)
        text += f.server + "'s buffer size was " + std::to_string(f.original) +
                " frames; the sweep set it to each size" +
                (f.restored ? " and put it back to " + std::to_string(f.original) + "\n"
                            : ", and could not put it back: " + f.restore_problem + "\n");
    return text;
}

std::string buffers_quiet(const buffers_outcome& o, check_status)
{
    const buffers_row* safe = buffers_smallest_safe(o);
    return safe ? std::to_string(safe->granted) + "\n" : "";
}

void buffers_json(const buffers_outcome& f, const mode_judgement&, json& j)
{
    const auto number_or_null = [](bool known, double value) { return known ? json(value) : json(nullptr); };
    json rows = json::array();
    for (const buffers_row& row : f.rows) {
        json glitches = json::object();
        for (const monitor_kind k : counted)
            glitches[monitor_kind_name(k)] = of_kind(row, k);
        rows.push_back({{"requested", row.requested},
                        {"granted", row.granted > 0 ? json(row.granted) : json(nullptr)},
                        {"refused", row.refused},
                        {"measured", row.measured},
                        {"latency_frames", number_or_null(row.measured, row.latency_frames)},
                        {"latency_uncertainty_frames", number_or_null(row.measured, row.uncertainty_frames)},
                        {"latency_ms", number_or_null(row.measured, buffers_row_ms(row))},
                        {"excess_frames", number_or_null(row.measured && row.excess_known, row.excess_frames)},
                        {"runs", row.runs},
                        {"soaked", row.soaked},
                        {"stimulus_found", row.found},
                        {"soak_s", row.soak_s},
                        {"glitches", row.glitches},
                        {"glitches_by_kind", glitches},
                        {"xruns", row.xruns},
                        {"safe", buffers_row_safe(row)},
                        {"clock_rate", report_clock_json(row.clock)},
                        {"clock_rate_reason", report_clock_reason_json(row.clock)},
                        {"reason", row.reason.empty() ? json(nullptr) : json(row.reason)}});
    }
    j["buffers"] = rows;
    const buffers_row* safe = buffers_smallest_safe(f);
    j["smallest_safe_buffer"] = safe ? json{{"requested", safe->requested},
                                            {"granted", safe->granted},
                                            {"latency_frames", safe->latency_frames},
                                            {"latency_ms", buffers_row_ms(*safe)}}
                                     : json(nullptr);
    j["buffer_sweep"] = {
        {"server", f.server_wide ? json(f.server) : json(nullptr)},
        {"original", f.server_wide ? json(f.original) : json(nullptr)},
        {"restored", f.server_wide ? json(f.restored) : json(nullptr)},
        {"soak_s", f.plan.soak_s},
        {"load_percent", f.plan.load_percent},
        {"max_latency_ms", f.plan.max_latency_ms >= 0.0 ? json(f.plan.max_latency_ms) : json(nullptr)}};
}
