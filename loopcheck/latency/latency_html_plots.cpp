// The latency's plots: the impulse response, the level and phase response, every run's latency.
#include <algorithm>
#include <cmath>
#include <limits>

#include "loopcheck/latency/latency.hpp"
#include "loopcheck/report/report_html.hpp"

namespace {

// The response's frequency axis: 10 Hz to the Nyquist frequency.
plot_axis frequency_axis(double rate)
{
    return {response_low_hz, rate / 2.0, plot_scale::log, plot_units::hz, "Frequency (Hz)"};
}

}  // namespace

bool latency_plot_impulse(const latency_outcome& o, report_plot& out)
{
    const latency_facts& r = o.measured;
    if (r.ir.size() < 2)
        return false;
    const bool loop = !r.runs.empty();
    const run_result& x = loop ? r.runs.back().result : r.seen;
    out.x.clear(), out.y.clear();
    double largest = 0.0;
    for (size_t i = 0; i < r.ir.size(); i++) {
        out.x.push_back(static_cast<double>(r.ir_first + static_cast<int64_t>(i)));
        out.y.push_back(r.ir[i]);
        if (std::isfinite(r.ir[i]))
            largest = std::max(largest, std::fabs(r.ir[i]));
    }
    plot& p = out.p;
    p = plot{};
    p.width = report_plot_width, p.height = 360.0;
    p.title = loop ? "Impulse response around its peak" : "Impulse response seen (no loop)";
    p.x = {out.x.front(), out.x.back(), plot_scale::linear, plot_units::plain, "Lag (frames)"};
    const double half = largest > 0.0 ? 1.15 * largest : 1.0;
    p.y = {-half, half, plot_scale::linear, plot_units::plain, "Value"};
    plot_series s;
    s.x = out.x, s.y = out.y;
    s.stroke = {report_curve_colour, 1.5, ""};
    p.series.push_back(s);
    if (loop)
        p.vlines.push_back({x.latency, {report_latency_colour, 1.0, ""}, "latency"});
    else
        p.vlines.push_back({static_cast<double>(x.peak), {report_latency_colour, 1.0, ""}, "largest tap"});
    const double next = static_cast<double>(x.peak + x.next_offset);
    if (loop && x.has_next && next >= p.x.min && next <= p.x.max)
        p.vlines.push_back({next, {report_next_colour, 1.0, "5 3"}, "next peak"});
    return true;
}

bool latency_plot_level(const latency_outcome& o, report_plot& out)
{
    const latency_facts& r = o.measured;
    const double rate = o.facts.rate;
    if (r.response_rows.empty() || !(rate > 2.0 * response_low_hz))
        return false;
    out.x.clear(), out.y.clear(), out.weak.clear();
    const double band_high = std::min(20000.0, 0.45 * rate);
    double low = 0.0, high = 0.0;
    for (const response_row& row : r.response_rows) {
        out.x.push_back(row.hz);
        out.y.push_back(row.level_db);
        out.weak.push_back(row.snr_db < response_snr_floor_db);
        if (row.hz >= 20.0 && row.hz <= band_high && std::isfinite(row.level_db))
            low = std::min(low, row.level_db), high = std::max(high, row.level_db);
    }
    // Fixed ranges, so that the same response always looks the same: the
    // narrowest that holds the audio band (the curve may leave it beyond).
    constexpr double ranges[][2] = {{-3.0, 3.0}, {-12.0, 6.0}, {-30.0, 10.0}, {-60.0, 20.0}, {-120.0, 40.0}};
    const double* range = ranges[std::size(ranges) - 1];
    for (const auto& candidate : ranges)
        if (low >= candidate[0] && high <= candidate[1]) {
            range = candidate;
            break;
        }
    plot& p = out.p;
    p = plot{};
    p.width = report_plot_width, p.height = 400.0;
    p.title = "Magnitude response (relative to 1 kHz)";
    p.x = frequency_axis(rate);
    p.y = {range[0], range[1], plot_scale::linear, plot_units::plain, "Level (dB)"};
    p.bands.push_back({-1.0, 1.0, "#2ca02c", 0.12});
    p.bands.push_back({-0.1, 0.1, "#2ca02c", 0.25});
    plot_series s;
    s.x = out.x, s.y = out.y, s.weak = out.weak;
    s.stroke = {report_curve_colour, 2.0, ""};
    s.label = "level";
    p.series.push_back(s);
    return true;
}

bool latency_plot_phase(const latency_outcome& o, report_plot& out)
{
    const latency_facts& r = o.measured;
    const double rate = o.facts.rate;
    if (r.response_rows.empty() || !(rate > 2.0 * response_low_hz))
        return false;
    out.x.clear(), out.y.clear(), out.weak.clear();
    for (size_t i = 0; i < r.response_rows.size(); i++) {
        const response_row& row = r.response_rows[i];
        // A wrap from +180 to -180 is not a fall across the plot: the line breaks there.
        if (i > 0 && std::fabs(row.phase_deg - r.response_rows[i - 1].phase_deg) > 180.0) {
            out.x.push_back(report_plot_gap), out.y.push_back(report_plot_gap), out.weak.push_back(0);
        }
        out.x.push_back(row.hz);
        out.y.push_back(row.phase_deg);
        out.weak.push_back(row.snr_db < response_snr_floor_db);
    }
    plot& p = out.p;
    p = plot{};
    p.width = report_plot_width, p.height = 300.0;
    p.title = "Phase response (latency taken out)";
    p.x = frequency_axis(rate);
    p.y = {-180.0, 180.0, plot_scale::linear, plot_units::plain, "Phase (degrees)"};
    plot_series s;
    s.x = out.x, s.y = out.y, s.weak = out.weak;
    s.stroke = {report_curve_colour, 1.5, ""};
    s.label = "phase";
    p.series.push_back(s);
    return true;
}

bool latency_plot_runs(const latency_outcome& o, report_plot& out)
{
    const latency_facts& r = o.measured;
    if (r.runs.size() < 2)
        return false;
    const run_statistics st = latency_statistics(o);
    out.x.clear(), out.y.clear();
    double spread = 0.0;
    for (size_t i = 0; i < r.runs.size(); i++) {
        out.x.push_back(static_cast<double>(i + 1));
        out.y.push_back(r.runs[i].result.latency);
        spread = std::max(spread, std::fabs(r.runs[i].result.latency - st.mean));
    }
    // Room for the farthest run and the band, and never narrower than a
    // hundredth of a frame either side.
    const double half = std::max({1.25 * spread, 2.0 * st.uncertainty, 0.01});
    plot& p = out.p;
    p = plot{};
    p.width = report_plot_width, p.height = 260.0;
    p.title = "Latency of every run";
    p.x = {0.5, static_cast<double>(r.runs.size()) + 0.5, plot_scale::linear, plot_units::plain, "Run"};
    p.y = {st.mean - half, st.mean + half, plot_scale::linear, plot_units::plain, "Latency (frames)"};
    p.bands.push_back({st.mean - st.uncertainty, st.mean + st.uncertainty, report_curve_colour, 0.15});
    plot_points dots;
    dots.x = out.x, dots.y = out.y;
    dots.colour = report_latency_colour;
    dots.radius = 4.0;
    p.points.push_back(dots);
    return true;
}
