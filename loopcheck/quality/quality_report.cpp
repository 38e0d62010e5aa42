// --quality's figures as text and as JSON.
#include "loopcheck/quality/quality.hpp"
#include "loopcheck/report/format.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "analysis/response.hpp"
#include "analysis/response_points.hpp"
#include "analysis/sweep.hpp"
#include "analysis/weighting.hpp"

namespace {

using json = nlohmann::ordered_json;

std::string opt_text(const std::optional<double>& v, const char* pattern, const std::string& none)
{
    return v ? report_figure(pattern, *v) : none;
}

json opt_json(const std::optional<double>& v) { return v ? json(*v) : json(nullptr); }

// key: the value, or null and key_reason beside it.
void put(json& j, const std::string& key, const std::optional<double>& v, const std::string& reason)
{
    j[key] = opt_json(v);
    if (!v)
        j[key + "_reason"] = reason.empty() ? "not measured" : reason;
}

std::string first_reason(const std::string& a, const std::string& b) { return a.empty() ? b : a; }

// What a ratio figure stands on: {db, bound, noise_limited}.
json floor_json(const quality_floor& f)
{
    return {{"db", opt_json(f.db)}, {"bound", f.bound}, {"noise_limited", f.noise_limited}};
}

// A ratio figure as text: "-80.0", "<-64.9" for a bound.
std::string bounded(const std::optional<double>& v, const quality_floor& f, const char* pattern,
                    const std::string& none)
{
    return v ? (f.bound ? "<" : "") + report_figure(pattern, *v) : none;
}

// ", floor -127.6 dB" and what the noise does to the figure.
std::string floor_text(const quality_floor& f)
{
    if (!f.db)
        return "";
    return std::string(f.bound           ? " (a bound: below its noise"
                       : f.noise_limited ? " (noise-limited"
                                         : " (") +
           (f.bound || f.noise_limited ? "; " : "") + "floor " + report_figure("%.1f dB", *f.db) + ")";
}

std::string quality_loop_name(size_t k, const std::vector<int64_t>& out, const std::vector<int64_t>& in)
{
    return "loop " + std::to_string(k + 1) + " (out " + std::to_string(out[k]) + " → in " + std::to_string(in[k]) + ")";
}

std::string hz_list(const std::vector<double>& hz, const char* joint)
{
    std::string text;
    for (const double f : hz)
        text += (text.empty() ? "" : joint) + report_figure("%.2f", f);
    return text + " Hz";
}

json conditions_json(const quality_conditions& c)
{
    return {{"rate", c.rate},
            {"hz", c.hz},
            {"level_dbfs", c.level_dbfs},
            {"received_dbfs", opt_json(c.received_dbfs)},
            {"band_hz", {c.band_low_hz, c.band_high_hz}},
            {"weighting", c.weighting},
            {"block_frames", c.block_frames},
            {"averaging_s", c.averaging_s},
            {"settle_s", static_cast<double>(c.settle_frames) / c.rate},
            {"offset_ppm", opt_json(c.offset_ppm)}};
}

json tone_json(const quality_tone_figures& t)
{
    json j;
    j["level_dbfs"] = t.conditions.level_dbfs;
    put(j, "received_dbfs", t.conditions.received_dbfs, t.reason);
    put(j, "thd_n_db", t.thd_n_db, t.reason);
    put(j, "thd_n_percent", t.thd_n_pct, t.reason);
    put(j, "thd_n_a_db", t.thd_n_a_db, t.reason);
    j["thd_n_floor"] = floor_json(t.thd_n_floor);
    j["thd_n_a_floor"] = floor_json(t.thd_n_a_floor);
    j["offbin_spread_db"] = opt_json(t.offbin_spread_db);
    put(j, "thd_db", t.thd_db, t.reason);
    put(j, "thd_percent", t.thd_pct, t.reason);
    j["thd_floor"] = floor_json(t.thd_floor);
    json h = json::array(), floors = json::array();
    for (size_t k = 0; k < t.harmonics_db.size(); k++) {
        h.push_back(opt_json(t.harmonics_db[k]));
        floors.push_back(t.harmonics_db[k] ? floor_json(t.harmonics_floor[k]) : json(nullptr));
    }
    j["harmonics_db"] = h;
    j["harmonics_floor"] = floors;
    j["valid"] = t.valid;
    j["reason"] = t.valid ? json(nullptr) : json(t.reason);
    j["clipped"] = t.clipped;
    j["conditions"] = conditions_json(t.conditions);
    return j;
}

json response_json(const quality_response& r, double rate)
{
    json j;
    j["deviation_db"] = r.min_db ? json{*r.min_db, *r.max_db} : json(nullptr);
    if (!r.min_db)
        j["deviation_db_reason"] = r.reason;
    j["minus3db_hz"] = {opt_json(r.minus3_low_hz), opt_json(r.minus3_high_hz)};
    json rows = json::array();
    for (const response_point& p : r.points)
        rows.push_back({{"hz", p.hz},
                        {"level_db", p.level_db},
                        {"uncertainty_db", std::isfinite(p.uncertainty_db) ? json(p.uncertainty_db) : json(nullptr)}});
    j["rows"] = rows;
    j["conditions"] = {{"rate", rate},
                       {"stimulus", r.sweep_frames == sweep_frames(rate, true) ? "the long sweep" : "the short sweep"},
                       {"level_dbfs", quality_sweep_dbfs},
                       {"received_peak_dbfs", r.received_peak_dbfs},
                       {"band_hz", {weighting_band_low_hz, weighting_band_high_hz}},
                       {"reference_hz", response_row_hz * std::round(1000.0 / response_row_hz)},
                       {"row_hz", response_row_hz},
                       {"rows_per_octave", response_points_per_octave},
                       {"sweep_frames", r.sweep_frames}};
    return j;
}

json channel_json(const quality_outcome& q, size_t k, const std::vector<int64_t>& out, const std::vector<int64_t>& in)
{
    const quality_loop_figures& f = q.loops[k];
    json j;
    j["loop"] = k + 1;
    j["output"] = out[k];
    j["input"] = in[k];
    j["latency_frames"] = q.latency_frames[k];
    j["shift_frames"] = q.shifts[k];
    j["valid"] = f.valid;
    j["reason"] = f.valid ? json(nullptr) : json(f.reason);
    json tones = json::array();
    for (const quality_tone_figures& t : f.tones)
        tones.push_back(tone_json(t));
    j["thd_n"] = tones;
    json noise;
    put(noise, "dbfs", f.noise.noise_dbfs, f.noise.reason);
    put(noise, "dbfs_a", f.noise.noise_dbfs_a, f.noise.reason);
    noise["floor_dbfs"] = opt_json(f.noise.floor_dbfs);
    noise["conditions"] = conditions_json(f.noise.conditions);
    j["noise"] = noise;
    const quality_tone_figures* range = nullptr;
    const quality_tone_figures* gain = nullptr;
    for (const quality_tone_figures& t : f.tones) {
        if (t.conditions.level_dbfs == quality_range_level_dbfs)
            range = &t;
        if (t.conditions.level_dbfs == quality_gain_level_dbfs)
            gain = &t;
    }
    put(j, "dynamic_range_db_a", f.dynamic_range_db_a, range ? range->reason : "");
    json imd;
    put(imd, "smpte_db", f.smpte.db, f.smpte.reason);
    imd["smpte_floor"] = floor_json(f.smpte.floor);
    put(imd, "ccif_db", f.ccif.db, f.ccif.reason);
    imd["ccif_floor"] = floor_json(f.ccif.floor);
    put(imd, "ccif_d2_db", f.ccif.d2_db, f.ccif.reason);
    imd["ccif_d2_floor"] = floor_json(f.ccif.d2_floor);
    put(imd, "ccif_d3_db", f.ccif.d3_db, f.ccif.reason);
    imd["ccif_d3_floor"] = floor_json(f.ccif.d3_floor);
    put(imd, "ccif_reference_dbfs", f.ccif.reference_dbfs, f.ccif.reason);
    imd["ccif_references"] = {
        {"ccif_db", "U(f2 - f1) and U(2 f1 - f2) together (RSS) re the RSS of U(f1) and U(f2)"},
        {"ccif_d2_db", "U(f2 - f1) re 2 U(f2), ccif_reference_dbfs (IEC 60268-3)"},
        {"ccif_d3_db", "U(2 f1 - f2) + U(2 f2 - f1) re 2 U(f2), ccif_reference_dbfs (IEC 60268-3)"}};
    imd["smpte_conditions"] = conditions_json(f.smpte.conditions);
    imd["ccif_conditions"] = conditions_json(f.ccif.conditions);
    j["imd"] = imd;
    j["response"] = response_json(q.responses[k], q.plan.rate);
    put(j, "crosstalk_db", f.crosstalk_db, first_reason(f.crosstalk_reason, "not measured"));
    j["crosstalk_floor"] = floor_json(f.crosstalk_floor);
    j["crosstalk_method"] = quality_plan_method_name(f.crosstalk_method);
    put(j, "gain_db", f.gain_db, gain ? gain->reason : "");
    json match;
    put(match, "gain_db", f.match_gain_db, f.match_reason);
    put(match, "phase_deg", f.match_phase_deg, f.match_reason);
    j["match"] = match;
    return j;
}

json crosstalk_json(const quality_crosstalk_pair& c)
{
    json j;
    j["from"] = c.from + 1;
    j["to"] = c.to + 1;
    j["method"] = quality_plan_method_name(c.method);
    j["hz"] = c.hz;
    put(j, "db_1khz", c.db_1khz, c.reason);
    j["floor_1khz"] = floor_json(c.floor_1khz);
    json db = json::array(), floors = json::array();
    for (size_t k = 0; k < c.octave_db.size(); k++) {
        db.push_back(opt_json(c.octave_db[k]));
        floors.push_back(c.octave_db[k] ? floor_json(c.octave_floor[k]) : json(nullptr));
    }
    j["by_octave_db"] = db;
    j["by_octave_floor"] = floors;
    j["octave_hz"] = c.octave_hz;
    j["from_offset_ppm"] = opt_json(c.from_offset_ppm);
    j["to_offset_ppm"] = opt_json(c.to_offset_ppm);
    j["reason"] = c.reason.empty() ? json(nullptr) : json(c.reason);
    return j;
}

const quality_segment* segment_of(const quality_plan& p, quality_kind kind)
{
    for (const quality_segment& s : p.segments)
        if (s.kind == kind)
            return &s;
    return nullptr;
}

std::string tone_text(const quality_tone_figures& t)
{
    std::string text = "  THD+N at " + report_figure("%g", t.conditions.level_dbfs) + " dBFS (" +
                       hz_list(t.conditions.hz, " + ") + ", received " +
                       opt_text(t.conditions.received_dbfs, "%.2f", "—") + " dBFS): ";
    if (!t.valid)
        return text + "not measured: " + t.reason + "\n";
    text += report_figure("%.1f", *t.thd_n_db) + " dB (" + report_figure("%.3g", *t.thd_n_pct) + " %)" +
            floor_text(t.thd_n_floor) + " · A-weighted " + report_figure("%.1f", *t.thd_n_a_db) + " dB · THD " +
            bounded(t.thd_db, t.thd_floor, "%.1f", "—") + " dB" + floor_text(t.thd_floor) + " · H2…H10";
    for (size_t k = 0; k < t.harmonics_db.size(); k++)
        text += " " + bounded(t.harmonics_db[k], t.harmonics_floor[k], "%.1f", "—");
    text += " dB";
    if (t.offbin_spread_db && *t.offbin_spread_db > *t.thd_n_db - 40.0)
        text += " · the tone's spread off its bin, " + report_figure("%.1f dB", *t.offbin_spread_db) +
                ", taken out of THD+N";
    return text + "\n";
}

std::string imd_text(const char* name, const quality_imd_figures& m, const char* ratio)
{
    std::string text = std::string("  IMD ") + name + ", " + hz_list(m.conditions.hz, " + ") + " " + ratio + " at " +
                       report_figure("%g", m.conditions.level_dbfs) + " dBFS peak (received " +
                       opt_text(m.conditions.received_dbfs, "%.2f", "—") + " dBFS): ";
    if (!m.db)
        return text + "not measured: " + m.reason + "\n";
    if (!m.d2_db)
        return text + bounded(m.db, m.floor, "%.1f", "—") + " dB (" + report_figure("%.3g", *m.pct) + " %)" +
               floor_text(m.floor) + "\n";
    return text + "d2 " + bounded(m.d2_db, m.d2_floor, "%.1f", "—") + " dB" + floor_text(m.d2_floor) + ", d3 " +
           bounded(m.d3_db, m.d3_floor, "%.1f", "—") + " dB" + floor_text(m.d3_floor) + " re 2 U(f2) (" +
           opt_text(m.reference_dbfs, "%.2f", "—") + " dBFS; IEC 60268-3's difference-frequency distortion) · " +
           "f2 - f1 and 2 f1 - f2 together re the tones' RSS " + bounded(m.db, m.floor, "%.1f", "—") + " dB (" +
           report_figure("%.3g", *m.pct) + " %)" + floor_text(m.floor) + "\n";
}

std::string loop_text(const quality_outcome& q, size_t k, const std::vector<int64_t>& out,
                      const std::vector<int64_t>& in)
{
    const quality_loop_figures& f = q.loops[k];
    std::string text = "quality, " + quality_loop_name(k, out, in) + ", captures from " + std::to_string(q.shifts[k]) +
                       " frames on:\n";
    for (const quality_tone_figures& t : f.tones)
        text += tone_text(t);
    text += "  noise, outputs silent: " +
            (f.noise.valid
                 ? report_figure("%.1f", *f.noise.noise_dbfs) + " dBFS · A-weighted " +
                       report_figure("%.1f", *f.noise.noise_dbfs_a) + " dBFS (floor " +
                       report_figure("%.0f", f.noise.floor_dbfs.value_or(tones_floor_dbfs)) + " dBFS, digital silence)"
                 : "not measured: " + f.noise.reason) +
            "\n";
    text += "  dynamic range: " + opt_text(f.dynamic_range_db_a, "%.1f dB A", "not measured") +
            " (60 dB minus the -60 dBFS tone's A-weighted THD+N)\n";
    text += imd_text("SMPTE", f.smpte, "4:1");
    text += imd_text("twin tone (CCIF-like)", f.ccif, "1:1");
    const double hz = tones_hz(tones_bin(quality_tone_hz, q.plan.rate, q.plan.block), q.plan.rate, q.plan.block);
    text += "  gain at " + report_figure("%.2f", hz) + " Hz, " + report_figure("%g", quality_gain_level_dbfs) +
            " dBFS: " + opt_text(f.gain_db, "%.2f dB", "not measured") + "\n";
    const quality_response& r = q.responses[k];
    text += "  response, a sweep of " + std::to_string(r.sweep_frames) + " frames at " +
            report_figure("%g", quality_sweep_dbfs) + " dBFS: " +
            (r.min_db ? report_figure("%+.2f", *r.min_db) + " to " + report_figure("%+.2f", *r.max_db) + " dB re " +
                            report_figure("%.1f", response_row_hz * std::round(1000.0 / response_row_hz)) +
                            " Hz from 20 to 20000 Hz"
                      : "not measured: " + r.reason) +
            " · -3 dB at " + opt_text(r.minus3_low_hz, "%.1f Hz", "below 12 Hz") + " and " +
            opt_text(r.minus3_high_hz, "%.0f Hz", "none below Nyquist") + "\n";
    if (!f.valid)
        text += "  not valid: " + f.reason + "\n";
    return text;
}

// The level each of a loop's crosstalk tones plays at.
double crosstalk_tone_dbfs(const quality_segment& s)
{
    return s.loop_tones.empty() || s.loop_tones[0].empty() ? s.level_dbfs
                                                           : tones_dbfs_of_amplitude(s.loop_tones[0][0].amplitude);
}

// A pair's clocks as their tones came back.
std::string clocks_text(const quality_crosstalk_pair& c)
{
    std::string text;
    if (c.from_offset_ppm)
        text += " · loop " + std::to_string(c.from + 1) + "'s clock " + report_figure("%+.3f ppm", *c.from_offset_ppm);
    if (c.to_offset_ppm)
        text += ", loop " + std::to_string(c.to + 1) + "'s " + report_figure("%+.3f ppm", *c.to_offset_ppm);
    return text;
}

std::string crosstalk_text(const quality_outcome& q)
{
    if (q.crosstalk.empty())
        return "crosstalk: not measured: " + first_reason(q.loops[0].crosstalk_reason, "one loop") + "\n";
    std::string text;
    bool aes17_said = false, driven_said = false;
    for (const quality_crosstalk_pair& c : q.crosstalk) {
        const bool aes17 = c.method == quality_crosstalk_method::aes17;
        if (aes17 && !aes17_said)
            text += "crosstalk by AES17, each loop driven alone with " + report_figure("%.2f", c.hz) + " Hz at " +
                    report_figure("%g", quality_aes17_level_dbfs) +
                    " dBFS, the others silent and read at that tone, re the driven loop's input:\n",
                aes17_said = true;
        if (!aes17 && !driven_said) {
            const quality_segment* seg = segment_of(q.plan, quality_kind::crosstalk);
            text += "crosstalk, every loop at once (all driven), each its own tones near the octave centres at " +
                    report_figure("%.1f", seg ? crosstalk_tone_dbfs(*seg) : quality_pair_peak_dbfs) + " dBFS (" +
                    report_figure("%g", quality_pair_peak_dbfs) +
                    " dBFS peak together), re the driving loop's input:\n";
            driven_said = true;
        }
        text += "  loop " + std::to_string(c.from + 1) + " → loop " + std::to_string(c.to + 1) + ": " +
                (c.db_1khz ? bounded(c.db_1khz, c.floor_1khz, "%.2f", "—") + " dB" + floor_text(c.floor_1khz)
                           : "not measured: " + c.reason) +
                " at " + report_figure("%.2f", c.hz) + " Hz";
        if (!aes17) {
            text += " · by octave";
            for (size_t i = 0; i < c.octave_db.size(); i++)
                text += " " + report_figure("%.0f", c.octave_hz[i]) + " Hz " +
                        bounded(c.octave_db[i], c.octave_floor[i], "%.1f", "—");
            text += " dB";
            if (c.db_1khz && !c.reason.empty())
                text += " (" + c.reason + ")";
        }
        text += clocks_text(c) + "\n";
    }
    return text;
}

std::string match_text(const quality_outcome& q)
{
    std::string text;
    for (size_t k = 1; k < q.loops.size(); k++) {
        const quality_loop_figures& f = q.loops[k];
        text += "channel match at " + report_figure("%g", quality_gain_level_dbfs) + " dBFS, loop " +
                std::to_string(k + 1) + " minus loop 1: " +
                (f.match_gain_db ? "gain " + report_figure("%+.3f", *f.match_gain_db) + " dB, phase " +
                                       report_figure("%+.2f", *f.match_phase_deg) + "°"
                                 : "not measured: " + f.match_reason) +
                "\n";
    }
    return text;
}

std::string limit_text(const quality_verdict& v)
{
    std::string bounds;
    if (v.min)
        bounds += "min " + report_figure("%g", *v.min);
    if (v.max)
        bounds += std::string(bounds.empty() ? "" : ", ") + "max " + report_figure("%g", *v.max);
    return "  " + v.figure + " " + (v.bound ? "<" : "") + opt_text(v.value, "%.2f", "not measured") + " (" + bounds +
           "): " + (v.pass ? "pass" : "FAIL") + "\n";
}

std::string quality_report_warnings(const quality_outcome& q)
{
    std::string text;
    for (const std::string& line : q.replayed)
        text += "warning: played again after a dropout: " + line + "\n";
    return text;
}

std::string quality_report_text(const quality_outcome& q, const std::vector<int64_t>& out,
                                const std::vector<int64_t>& in)
{
    if (!q.ran)
        return "";
    const quality_plan& p = q.plan;
    std::string text = "quality battery: " + report_figure("%.0f", p.rate) +
                       " Hz · band 20-20000 Hz (brick wall), A-weighting IEC 61672 · " +
                       std::to_string(p.segments.size()) + " segments, each one block of " + std::to_string(p.block) +
                       " frames (" + report_figure("%.3f", static_cast<double>(p.block) / p.rate) + " s) after " +
                       report_figure("%.3f", quality_settle_s) +
                       " s settling · tones coherent with the block; noise, harmonics and products through Hann · " +
                       report_figure("%.2f", q.play_seconds) + " s played\n";
    text += quality_report_warnings(q);
    for (size_t k = 0; k < q.loops.size(); k++)
        text += loop_text(q, k, out, in);
    text += crosstalk_text(q);
    text += match_text(q);
    if (q.judged) {
        text += "limits, the worst loop:\n";
        for (const quality_verdict& v : q.verdicts)
            text += limit_text(v);
    }
    return text;
}

json quality_report_json(const quality_outcome& q, const std::vector<int64_t>& out, const std::vector<int64_t>& in)
{
    if (!q.ran)
        return nullptr;
    const quality_plan& p = q.plan;
    json j;
    j["rate"] = p.rate;
    j["band_hz"] = {weighting_band_low_hz, weighting_band_high_hz};
    j["weighting_a"] = "IEC 61672";
    j["analysis"] = "tones coherent with the block; noise, harmonics and products through Hann";
    j["block_frames"] = p.block;
    j["averaging_s"] = static_cast<double>(p.block) / p.rate;
    j["settle_s"] = quality_settle_s;
    j["segments"] = p.segments.size();
    j["played_s"] = q.play_seconds;
    j["replayed"] = q.replayed;
    json channels = json::array();
    for (size_t k = 0; k < q.loops.size(); k++)
        channels.push_back(channel_json(q, k, out, in));
    j["channels"] = channels;
    if (q.crosstalk.empty()) {
        j["crosstalk"] = nullptr;
        j["crosstalk_reason"] = first_reason(q.loops[0].crosstalk_reason, "one loop");
    } else {
        json pairs = json::array();
        for (const quality_crosstalk_pair& c : q.crosstalk)
            pairs.push_back(crosstalk_json(c));
        j["crosstalk"] = pairs;
        const quality_segment* seg = segment_of(p, quality_kind::crosstalk);
        j["crosstalk_conditions"] = {
            {"method", quality_plan_method_name(p.crosstalk)},
            {"level_dbfs", seg ? crosstalk_tone_dbfs(*seg) : quality_pair_peak_dbfs},
            {"octaves_level_dbfs", quality_pair_peak_dbfs},
            {"octaves_level", "the sum's peak, each loop's tones, every loop at once"},
            {"aes17_level_dbfs", quality_aes17_level_dbfs},
            {"aes17_hz", tones_hz(tones_bin(quality_tone_hz, p.rate, p.block), p.rate, p.block)},
            {"block_frames", p.block},
            {"averaging_s", static_cast<double>(p.block) / p.rate}};
    }
    if (q.loops.size() < 2) {
        j["channel_match"] = nullptr;
        j["channel_match_reason"] = "one loop";
    } else {
        const quality_loop_figures& f = q.loops[1];
        json m;
        put(m, "gain_db", f.match_gain_db, f.match_reason);
        put(m, "phase_deg", f.match_phase_deg, f.match_reason);
        m["loops"] = {2, 1};
        m["level_dbfs"] = quality_gain_level_dbfs;
        m["hz"] = tones_hz(tones_bin(quality_tone_hz, p.rate, p.block), p.rate, p.block);
        j["channel_match"] = m;
    }
    return j;
}

json quality_report_limits_json(const quality_outcome& q)
{
    if (!q.judged)
        return nullptr;
    json limits = json::array();
    for (const quality_verdict& v : q.verdicts)
        limits.push_back({{"figure", v.figure},
                          {"value", opt_json(v.value)},
                          {"bound", v.bound},
                          {"min", opt_json(v.min)},
                          {"max", opt_json(v.max)},
                          {"pass", v.pass}});
    return limits;
}

}  // namespace

std::string quality_text(const battery_outcome& o, const mode_judgement&, text_part part)
{
    if (part == text_part::warnings)
        return quality_report_warnings(o.quality);
    return quality_report_text(o.quality, o.plan.out_channels, o.plan.in_channels);
}

void quality_json(const battery_outcome& o, const mode_judgement&, json& j)
{
    j["quality"] = quality_report_json(o.quality, o.plan.out_channels, o.plan.in_channels);
    j["limits"] = quality_report_limits_json(o.quality);
}
