// --quality's plots: each tone's spectrum, the noise's, the crosstalk.
#include <algorithm>
#include <cmath>
#include <string>

#include "analysis/tones.hpp"
#include "analysis/weighting.hpp"
#include "loopcheck/quality/quality.hpp"
#include "loopcheck/report/report_html.hpp"

namespace {

plot_axis spectrum_axis(double rate)
{
    return {quality_spectrum_low_hz, rate / 2.0, plot_scale::log, plot_units::hz, "Frequency (Hz)"};
}

void spectrum_frame(plot& p, const std::string& title, double rate)
{
    p = plot{};
    p.width = report_plot_width, p.height = 340.0;
    p.title = title;
    p.x = spectrum_axis(rate);
    p.y = {quality_spectrum_low_dbfs, 0.0, plot_scale::linear, plot_units::plain, "Level (dBFS)"};
}

plot_series curve(std::span<const double> x, std::span<const double> y, const char* colour, double width,
                  const std::string& label)
{
    plot_series s;
    s.x = x, s.y = y;
    s.stroke = {colour, width, ""};
    s.label = label;
    return s;
}

const quality_loop_spectra* spectra_of(const quality_outcome& q, size_t loop)
{
    return q.ran && loop < q.spectra.size() && loop < q.loops.size() ? &q.spectra[loop] : nullptr;
}

}  // namespace

bool quality_plot_tone_spectrum(const quality_outcome& q, size_t loop, size_t tone, report_plot& out)
{
    const quality_loop_spectra* sp = spectra_of(q, loop);
    if (!sp || tone >= sp->tones.size() || tone >= q.loops[loop].tones.size() || sp->tones[tone].hz.empty())
        return false;
    const quality_tone_figures& t = q.loops[loop].tones[tone];
    out.x = sp->tones[tone].hz, out.y = sp->tones[tone].dbfs;
    out.more.assign(4, {});
    std::vector<double>&residue_x = out.more[0], &residue_y = out.more[1], &marks_x = out.more[2],
    &marks_y = out.more[3];
    const double f0 = t.conditions.hz.empty() ? 0.0 : t.conditions.hz[0];
    const bool valid = t.valid && t.conditions.received_dbfs && t.thd_n_db;
    if (valid) {
        // The residue's RMS in dBFS: the fundamental's level plus THD+N, both re a sine's peak.
        const double residue = *t.conditions.received_dbfs + *t.thd_n_db;
        residue_x = {t.conditions.band_low_hz, t.conditions.band_high_hz}, residue_y = {residue, residue};
        // A harmonic that is a bound has no level of its own to mark: its line alone.
        for (size_t i = 0; i < t.harmonics_db.size(); i++)
            if (t.harmonics_db[i])
                marks_x.push_back(static_cast<double>(i + 2) * f0),
                    marks_y.push_back(t.harmonics_floor[i].bound ? report_plot_gap
                                                                 : *t.conditions.received_dbfs + *t.harmonics_db[i]);
    }
    plot& p = out.p;
    spectrum_frame(p,
                   "Spectrum of the " + report_figure("%g", t.conditions.level_dbfs) + " dBFS tone, loop " +
                       std::to_string(loop + 1),
                   q.plan.rate);
    p.series.push_back(curve(out.x, out.y, report_curve_colour, 1.0, "spectrum"));
    if (valid) {
        plot_series residue = curve(residue_x, residue_y, quality_residue_colour, 1.5, "THD+N residue (RMS)");
        residue.stroke.dash = "6 3";
        p.series.push_back(residue);
    }
    for (size_t i = 0; i < marks_x.size(); i++)
        p.vlines.push_back({marks_x[i], {quality_harmonic_colour, 1.0, ""}, i < 4 ? "H" + std::to_string(i + 2) : ""});
    plot_points harmonics;
    harmonics.x = marks_x, harmonics.y = marks_y;
    harmonics.colour = quality_harmonic_colour;
    p.points.push_back(harmonics);
    return true;
}

bool quality_plot_noise_spectrum(const quality_outcome& q, size_t loop, report_plot& out)
{
    const quality_loop_spectra* sp = spectra_of(q, loop);
    if (!sp || sp->noise.hz.empty())
        return false;
    out.x = sp->noise.hz, out.y = sp->noise.dbfs;
    out.more = {sp->noise_a.hz, sp->noise_a.dbfs};
    spectrum_frame(out.p, "Noise spectrum, outputs silent, loop " + std::to_string(loop + 1), q.plan.rate);
    out.p.series.push_back(curve(out.x, out.y, report_curve_colour, 1.0, "unweighted"));
    out.p.series.push_back(curve(out.more[0], out.more[1], quality_harmonic_colour, 1.0, "A-weighted"));
    return true;
}

bool quality_plot_crosstalk(const quality_outcome& q, report_plot& out)
{
    if (!q.ran || q.crosstalk.empty())
        return false;
    out.more.clear();
    std::vector<const quality_crosstalk_pair*> driven;
    for (const quality_crosstalk_pair& c : q.crosstalk) {
        if (c.method != quality_crosstalk_method::all_driven)
            continue;
        std::vector<double> db;
        for (const std::optional<double>& v : c.octave_db)
            db.push_back(v ? *v : std::nan(""));
        out.more.push_back(c.octave_hz);
        out.more.push_back(db);
        driven.push_back(&c);
    }
    if (driven.empty())
        return false;
    plot& p = out.p;
    p = plot{};
    p.width = report_plot_width, p.height = 300.0;
    p.title = "Crosstalk at the octave centres";
    p.x = spectrum_axis(q.plan.rate);
    p.y = {-160.0, 0.0, plot_scale::linear, plot_units::plain, "Crosstalk (dB)"};
    for (size_t i = 0; i < driven.size(); i++) {
        const char* colour = plot_colours[i % std::size(plot_colours)];
        const std::string label =
            "loop " + std::to_string(driven[i]->from + 1) + " → " + std::to_string(driven[i]->to + 1);
        p.series.push_back(curve(out.more[2 * i], out.more[2 * i + 1], colour, 1.5, label));
        plot_points dots;
        dots.x = out.more[2 * i], dots.y = out.more[2 * i + 1];
        dots.colour = colour;
        p.points.push_back(dots);
    }
    return true;
}

bool quality_plot_harmonics(const quality_outcome& q, size_t loop, report_plot& out)
{
    if (!q.ran || loop >= q.loops.size())
        return false;
    const std::vector<quality_tone_figures>& tones = q.loops[loop].tones;
    // Per tone: x0, x1, y, and the floors' x and y; a flag per bar.
    out.more.assign(5 * tones.size(), {});
    out.flags.assign(tones.size(), {});
    double low = 0.0, high = -400.0;
    for (size_t i = 0; i < tones.size(); i++) {
        const quality_tone_figures& t = tones[i];
        if (!t.valid)
            continue;
        const double width = 0.8 / static_cast<double>(tones.size());
        for (size_t k = 0; k < t.harmonics_db.size(); k++) {
            if (!t.harmonics_db[k])
                continue;
            const double x0 = static_cast<double>(k + 2) - 0.4 + width * static_cast<double>(i);
            out.more[5 * i].push_back(x0), out.more[5 * i + 1].push_back(x0 + 0.9 * width);
            out.more[5 * i + 2].push_back(*t.harmonics_db[k]);
            out.flags[i].push_back(t.harmonics_floor[k].bound ? 1 : 0);
            high = std::max(high, *t.harmonics_db[k]);
            low = std::min(low, *t.harmonics_db[k]);
            if (t.harmonics_floor[k].db) {
                out.more[5 * i + 3].push_back(x0 + 0.45 * width),
                    out.more[5 * i + 4].push_back(*t.harmonics_floor[k].db);
                low = std::min(low, *t.harmonics_floor[k].db);
            }
        }
    }
    if (high < -300.0)
        return false;
    plot& p = out.p;
    p = plot{};
    p.width = report_plot_width, p.height = 300.0;
    p.title = "Harmonics re the fundamental, loop " + std::to_string(loop + 1) + " (hatched: below the noise)";
    p.x = {1.5, 10.5, plot_scale::linear, plot_units::plain, "Harmonic"};
    p.y = {20.0 * std::floor((low - 5.0) / 20.0), std::min(0.0, 20.0 * std::ceil((high + 5.0) / 20.0)),
           plot_scale::linear, plot_units::plain, "dB re the fundamental"};
    for (size_t i = 0; i < tones.size(); i++) {
        const char* colour = plot_colours[i % std::size(plot_colours)];
        plot_bars bars;
        bars.x0 = out.more[5 * i], bars.x1 = out.more[5 * i + 1], bars.y = out.more[5 * i + 2];
        bars.colour = colour, bars.base = p.y.min, bars.hatched = out.flags[i];
        p.bars.push_back(bars);
        p.series.push_back(curve({}, {}, colour, 6.0, report_figure("%g dBFS", tones[i].conditions.level_dbfs)));
        plot_points floors;
        floors.x = out.more[5 * i + 3], floors.y = out.more[5 * i + 4];
        floors.colour = quality_floor_colour, floors.radius = 2.0;
        p.points.push_back(floors);
    }
    p.series.push_back(curve({}, {}, quality_floor_colour, 2.0, "floor: the noise's three bins"));
    return true;
}
