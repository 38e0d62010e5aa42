// --quality's section: each loop's key figures with their conditions, the
// limits' verdicts, then the spectra and the crosstalk.
#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "analysis/tones.hpp"
#include "analysis/weighting.hpp"
#include "loopcheck/quality/quality.hpp"
#include "loopcheck/report/report_html.hpp"

namespace {

using rows = std::vector<std::pair<std::string, std::string>>;

std::string or_reason(const std::optional<double>& v, const char* pattern, const std::string& reason)
{
    return v ? report_figure(pattern, *v) : "not measured: " + (reason.empty() ? std::string("no figure") : reason);
}

// A ratio figure with "<" where it is a bound, and its floor beside it.
std::string with_floor(const std::optional<double>& v, const quality_floor& f, const char* pattern,
                       const std::string& reason)
{
    if (!v)
        return "not measured: " + (reason.empty() ? std::string("no figure") : reason);
    std::string text = (f.bound ? "< " : "") + report_figure(pattern, *v);
    if (f.db)
        text += " (floor " + report_figure("%.1f dB", *f.db) +
                (f.bound           ? ": below its noise"
                 : f.noise_limited ? ", noise-limited"
                                   : "") +
                ")";
    return text;
}

std::string band_text(const quality_conditions& c)
{
    return report_figure("%.0f Hz", c.band_low_hz) + " to " + report_figure("%.0f kHz", c.band_high_hz / 1000.0) +
           ", " + report_figure("%.2f s", c.averaging_s) + " block";
}

std::string received_text(const quality_conditions& c)
{
    return c.received_dbfs ? report_figure("received %.2f dBFS", *c.received_dbfs) : "received —";
}

void tone_rows(const quality_tone_figures& t, rows& out)
{
    const quality_conditions& c = t.conditions;
    const std::string level = report_figure("%g dBFS", c.level_dbfs);
    const std::string hz = c.hz.empty() ? "" : report_figure("%.2f Hz", c.hz[0]);
    const std::string conditions = " — " + hz + " at " + level + " (" + received_text(c) + "), " + band_text(c);
    if (!t.valid) {
        out.push_back({"THD+N at " + level, "not measured: " + t.reason + conditions});
        return;
    }
    std::string spread;
    if (t.offbin_spread_db && *t.offbin_spread_db > *t.thd_n_db - 40.0)
        spread = " · the tone's spread off its bin, " + report_figure("%.1f dB", *t.offbin_spread_db) + ", taken out";
    out.push_back({"THD+N at " + level,
                   report_figure("%.1f dB", *t.thd_n_db) + report_figure(" (%.3g %)", *t.thd_n_pct) +
                       (t.thd_n_floor.db ? report_figure(", floor %.1f dB", *t.thd_n_floor.db) + " (the idle noise" +
                                               (t.thd_n_floor.noise_limited ? ": noise-limited)" : ")")
                                         : "") +
                       " · A-weighted " + report_figure("%.1f dB", *t.thd_n_a_db) + spread + conditions});
    std::string harmonics;
    for (size_t i = 0; i < 2 && i < t.harmonics_db.size(); i++)
        harmonics += " · H" + std::to_string(i + 2) + " " +
                     with_floor(t.harmonics_db[i], t.harmonics_floor[i], "%.1f dB", "beyond the band");
    out.push_back({"THD at " + level, with_floor(t.thd_db, t.thd_floor, "%.1f dB", t.reason) + harmonics +
                                          " — H2 to H10 within the band, re the fundamental; each harmonic read "
                                          "against the noise around it, a bound (<) where it stands less than 10 "
                                          "dB above it"});
}

rows loop_rows(const quality_outcome& q, size_t k)
{
    const quality_loop_figures& f = q.loops[k];
    rows out;
    for (const quality_tone_figures& t : f.tones)
        tone_rows(t, out);
    out.push_back({"Noise", f.noise.valid
                                ? report_figure("%.1f dBFS", *f.noise.noise_dbfs) + " · A-weighted " +
                                      report_figure("%.1f dBFS", *f.noise.noise_dbfs_a) +
                                      report_figure(" (floor %.0f dBFS: digital silence)",
                                                    f.noise.floor_dbfs.value_or(tones_floor_dbfs)) +
                                      " — outputs silent, RMS re a full-scale sine, " + band_text(f.noise.conditions)
                                : "not measured: " + f.noise.reason});
    out.push_back({"Dynamic range", or_reason(f.dynamic_range_db_a, "%.1f dB", "the -60 dBFS tone was not measured") +
                                        " — A-weighted: 60 dB minus the -60 dBFS tone's A-weighted THD+N"});
    for (const auto& [name, m, ratio] :
         {std::tuple{"IMD SMPTE", &f.smpte, "4:1"}, std::tuple{"IMD twin tone (CCIF-like)", &f.ccif, "1:1"}}) {
        std::string hz;
        for (const double x : m->conditions.hz)
            hz += (hz.empty() ? "" : " + ") + report_figure("%.2f", x);
        const std::string played =
            " — " + hz + " Hz " + ratio + " at " + report_figure("%g dBFS", m->conditions.level_dbfs) + " peak";
        if (!m->d2_db) {
            out.push_back({name, with_floor(m->db, m->floor, "%.1f dB", m->reason) + played +
                                     (m == &f.smpte ? "; the sidebands f2 ± f1, f2 ± 2 f1 re the 7 kHz tone" : "")});
            continue;
        }
        out.push_back({name, "d2 " + with_floor(m->d2_db, m->d2_floor, "%.1f dB", m->reason) + " · d3 " +
                                 with_floor(m->d3_db, m->d3_floor, "%.1f dB", m->reason) + " re 2 U(f2) (" +
                                 or_reason(m->reference_dbfs, "%.2f dBFS", m->reason) +
                                 "), IEC 60268-3's difference-frequency distortion · f2 − f1 and 2 f1 − f2 "
                                 "together re the tones' RSS " +
                                 with_floor(m->db, m->floor, "%.1f dB", m->reason) + played});
    }
    out.push_back({"Gain", or_reason(f.gain_db, "%.2f dB", "the -20 dBFS tone was not measured") + " — at " +
                               report_figure("%g dBFS", quality_gain_level_dbfs)});
    if (k < q.responses.size()) {
        const quality_response& resp = q.responses[k];
        out.push_back({"Response", resp.min_db
                                       ? report_figure("%+.2f", *resp.min_db) + " to " +
                                             report_figure("%+.2f dB", *resp.max_db) + " — " +
                                             report_figure("%.0f Hz", weighting_band_low_hz) + " to " +
                                             report_figure("%.0f kHz", weighting_band_high_hz / 1000.0) +
                                             " re 1 kHz, " + report_figure("%g dBFS", quality_sweep_dbfs) + " sweep"
                                       : "not measured: " + resp.reason});
    }
    if (q.loops.size() > 1) {
        const bool aes17 = f.crosstalk_method == quality_crosstalk_method::aes17;
        out.push_back(
            {"Crosstalk", with_floor(f.crosstalk_db, f.crosstalk_floor, "%.1f dB", f.crosstalk_reason) +
                              (aes17 ? " — AES17: into this loop at 997 Hz, the worst of the other loops, each "
                                       "driven alone at -1 dBFS"
                                     : " — all driven: into this loop near 1 kHz, the worst of the other loops, "
                                       "every loop driven at once with its own tones")});
        if (k > 0)
            out.push_back({"Match", or_reason(f.match_gain_db, "%+.3f dB", f.match_reason) + ", " +
                                        or_reason(f.match_phase_deg, "%+.2f°", f.match_reason) +
                                        " — re loop 1, at the -20 dBFS tone"});
    }
    return out;
}

std::string loop_title(const battery_plan& o, size_t k)
{
    std::string name = "loop " + std::to_string(k + 1);
    if (k < o.out_channels.size() && k < o.in_channels.size())
        name += " (out " + std::to_string(o.out_channels[k]) + " → in " + std::to_string(o.in_channels[k]) + ")";
    return name;
}

void figures(html_page& page, const quality_outcome& q, size_t k)
{
    for (size_t t = 0; t < q.loops[k].tones.size(); t++) {
        report_plot spectrum;
        if (quality_plot_tone_spectrum(q, k, t, spectrum))
            html_svg(page, plot_svg(spectrum.p));
    }
    html_paragraph(page,
                   "Each bin as a sine's peak level (dBFS), no window, the tone coherent with the block; the "
                   "largest bin of each of a thousand log-spaced stretches drawn. Orange: the harmonics in the "
                   "band and their levels (a harmonic below its noise, a bound, its line alone); green, dashed: "
                   "the THD+N residue's RMS over 20 Hz to 20 kHz.");
    // A plot drawn, and its note under it.
    const auto with_note = [&](bool drawn, const report_plot& plotted, const char* note) {
        if (drawn)
            html_svg(page, plot_svg(plotted.p)), html_paragraph(page, note);
    };
    report_plot harmonics, noise;
    with_note(quality_plot_harmonics(q, k, harmonics), harmonics,
              "Each harmonic read from three Hann bins against the noise of the bins around it (grey: what that "
              "noise alone reads there). A hatched bar is a bound: the harmonic stood less than 10 dB above its "
              "floor, and lies below the bar's top.");
    with_note(quality_plot_noise_spectrum(q, k, noise), noise,
              "Blue: unweighted; orange: A-weighted (IEC 61672, 0 dB at 1 kHz). The same bins as above.");
}

}  // namespace

void quality_html(report_page& report, const battery_outcome& o, const mode_judgement&, html_part part)
{
    if (part != html_part::sections)
        return;
    html_page& page = report.page;
    const quality_outcome& q = o.quality;
    html_heading(page, 2, "Quality");
    if (!q.ran) {
        // Why: the battery's own failure, or what kept it from starting.
        const std::string& why = o.end.reason;
        html_paragraph(page,
                       "The quality battery did not run to its end" + (why.empty() ? std::string(".") : ": " + why));
        return;
    }
    for (size_t k = 0; k < q.loops.size(); k++) {
        html_heading(page, 3, "Key figures, " + loop_title(o.plan, k));
        const rows figures_of = loop_rows(q, k);
        html_table(page, figures_of);
    }
    if (q.judged) {
        rows verdicts;
        for (const quality_verdict& v : q.verdicts)
            verdicts.push_back({v.figure, std::string(v.pass ? "pass" : "FAIL") + " — " +
                                              or_reason(v.value, "%g", "no loop has the figure") + ", limits " +
                                              (v.min ? report_figure("%g", *v.min) : "—") + " to " +
                                              (v.max ? report_figure("%g", *v.max) : "—")});
        html_heading(page, 3, "Limits");
        html_table(page, verdicts);
    }
    for (size_t k = 0; k < q.loops.size(); k++) {
        html_heading(page, 3, "Spectra, " + loop_title(o.plan, k));
        figures(page, q, k);
    }
    if (!q.crosstalk.empty()) {
        // Each ordered pair by each method, side by side.
        rows pairs;
        for (const quality_crosstalk_pair& c : q.crosstalk) {
            const std::string name = "loop " + std::to_string(c.from + 1) + " → " + std::to_string(c.to + 1);
            const auto row = std::find_if(pairs.begin(), pairs.end(), [&](const auto& x) { return x.first == name; });
            std::string& text = row == pairs.end() ? pairs.emplace_back(name, "").second : row->second;
            text += std::string(text.empty() ? "" : " · ") +
                    (c.method == quality_crosstalk_method::aes17 ? "AES17 at " : "all driven at ") +
                    report_figure("%.2f Hz: ", c.hz) + with_floor(c.db_1khz, c.floor_1khz, "%.2f dB", c.reason);
            if (c.from_offset_ppm && c.method == quality_crosstalk_method::all_driven)
                text += report_figure(" (clocks %+.3f", *c.from_offset_ppm) +
                        (c.to_offset_ppm ? report_figure(", %+.3f ppm)", *c.to_offset_ppm) : std::string(" ppm)"));
        }
        html_heading(page, 3, "Crosstalk, each pair");
        html_table(page, pairs);
    }
    report_plot crosstalk;
    if (quality_plot_crosstalk(q, crosstalk)) {
        html_heading(page, 3, "Crosstalk by octave");
        html_svg(page, plot_svg(crosstalk.p));
        html_paragraph(
            page,
            "Each loop's input re the driving loop's at the driving loop's own tones near the octave "
            "centres, every loop playing its own at once (all driven, -19 dBFS each, -1 dBFS peak "
            "together); AES17's figures, each loop driven alone at 997 Hz and -1 dBFS, are in the key "
            "figures and the text. A point that is a bound (below the pickup's noise) is its floor + 10 dB.");
    }
}
