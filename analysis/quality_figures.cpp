// Each segment's capture into the loop's figures.
#include "analysis/quality_figures.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "analysis/distortion.hpp"
#include "analysis/quality_crosstalk.hpp"
#include "analysis/weighting.hpp"

namespace {

double db_of(double ratio)
{
    return ratio > 0.0 ? std::max(tones_floor_dbfs, 20.0 * std::log10(ratio)) : tones_floor_dbfs;
}

quality_conditions conditions_of(const quality_plan& p, const quality_segment& s, const char* weighting)
{
    quality_conditions c;
    c.rate = p.rate;
    for (const tone& t : s.tones)
        c.hz.push_back(tones_hz(t.bin, p.rate, p.block));
    c.level_dbfs = s.level_dbfs;
    c.band_low_hz = weighting_band_low_hz;
    c.band_high_hz = weighting_band_high_hz;
    c.weighting = weighting;
    c.block_frames = s.analysed_frames;
    c.averaging_s = static_cast<double>(s.analysed_frames) / p.rate;
    c.settle_frames = s.settle_frames;
    return c;
}

distortion_block block_of(const quality_plan& p, const quality_segment& s, std::span<const float> capture)
{
    return distortion_block_of(capture.subspan(static_cast<size_t>(s.settle_frames)), s.analysed_frames, p.rate);
}

// Whether every tone's bin stands quality_tone_floor_db above the mean bin of
// the rest of the band.
bool tones_stand(const distortion_block& b, std::span<const int64_t> bins)
{
    const double floor = distortion_mean_bin_power(b, bins) * std::pow(10.0, quality_tone_floor_db / 10.0);
    return std::all_of(bins.begin(), bins.end(), [&](int64_t k) { return std::norm(distortion_phasor(b, k)) > floor; });
}

std::vector<int64_t> bins_of(const quality_segment& s)
{
    std::vector<int64_t> bins;
    for (const tone& t : s.tones)
        bins.push_back(t.bin);
    return bins;
}

const char* no_tone = "no tone came back 20 dB above the noise: an open or muted loop";

// The angle in (-180, 180].
double wrap_deg(double deg)
{
    const double r = std::remainder(deg, 360.0);
    return r <= -180.0 ? r + 360.0 : r;
}

// The larger of two, either possibly empty.
std::optional<double> worse(std::optional<double> a, std::optional<double> b)
{
    if (!a || !b)
        return a ? a : b;
    return std::max(*a, *b);
}

void note_fault(quality_loop_figures& f, const std::string& reason)
{
    if (f.valid && !reason.empty())
        f.valid = false, f.reason = reason;
}

// H2 .. H10 and THD of the tone on bin.
void take_harmonics(const distortion_block& b, int64_t bin, quality_tone_figures& f)
{
    const std::array<std::optional<double>, 9> harmonics = distortion_harmonics(b, bin);
    for (size_t i = 0; i < harmonics.size(); i++)
        if (harmonics[i])
            f.harmonics_db[i] = db_of(*harmonics[i]);
    const double thd = distortion_thd(harmonics);
    f.thd_db = db_of(thd);
    f.thd_pct = 100.0 * thd;
}

}  // namespace

std::string quality_capture_fault(const quality_segment& s, std::span<const float> capture, bool& clipped)
{
    clipped = false;
    if (static_cast<int64_t>(capture.size()) < s.settle_frames + s.analysed_frames)
        return "capture too short";
    double peak = 0.0;
    for (const float v : capture) {
        if (!std::isfinite(v))
            return "capture holds samples that are not finite";
        peak = std::max(peak, static_cast<double>(std::fabs(v)));
    }
    clipped = peak >= quality_clip_level;
    return clipped ? "clipped: a capture sample within 0.1 dB of full scale" : "";
}

quality_tone_figures quality_tone_measure(const quality_plan& p, const quality_segment& s,
                                          std::span<const float> capture)
{
    quality_tone_figures f;
    f.conditions = conditions_of(p, s, "none and A");
    f.reason = quality_capture_fault(s, capture, f.clipped);
    if (f.reason.empty() && s.tones.size() != 1)
        f.reason = "not a tone segment";
    if (!f.reason.empty())
        return f;
    const distortion_block b = block_of(p, s, capture);
    const int64_t bin = s.tones[0].bin, notch[] = {bin};
    const std::complex<double> fundamental = distortion_phasor(b, bin);
    const double amplitude = std::abs(fundamental);
    f.conditions.received_dbfs = tones_dbfs_of_amplitude(amplitude);
    if (!tones_stand(b, notch)) {
        f.reason = no_tone;
        return f;
    }
    const double rms = amplitude / std::numbers::sqrt2;
    const double ratio = distortion_band_rms(b, false, notch) / rms;
    // A tone off its bin: what the block's edges spread of it would pass for
    // distortion. Noise alone moves the estimate by far less than half the
    // residual (its two half-sums see a few bins' noise, the residual the
    // band's thousands), so only a real offset trips this.
    const double offset = distortion_offset_bins(capture.subspan(static_cast<size_t>(s.settle_frames)), bin, p.block);
    f.conditions.offset_ppm = 1e6 * offset / static_cast<double>(bin);
    if (distortion_leakage(offset) > 0.5 * ratio) {
        f.reason =
            "the tone came back off its bin: the loop's output and input clocks differ (a resampler between "
            "them?); the coherent analysis needs one clock";
        return f;
    }
    f.thd_n_db = db_of(ratio);
    f.thd_n_pct = 100.0 * ratio;
    f.thd_n_a_db = db_of(distortion_band_rms(b, true, notch) / rms);
    take_harmonics(b, bin, f);
    f.gain_db = db_of(amplitude / s.tones[0].amplitude);
    // The stimulus's cosine has phase 0 at the block's first frame.
    f.phase_deg = std::arg(fundamental) * 180.0 / std::numbers::pi;
    f.valid = true;
    return f;
}

quality_noise_figures quality_noise_measure(const quality_plan& p, const quality_segment& s,
                                            std::span<const float> capture)
{
    quality_noise_figures f;
    f.conditions = conditions_of(p, s, "none and A");
    f.reason = quality_capture_fault(s, capture, f.clipped);
    if (!f.reason.empty())
        return f;
    const distortion_block b = block_of(p, s, capture);
    f.noise_dbfs = tones_dbfs_of_rms(distortion_band_rms(b, false, {}));
    f.noise_dbfs_a = tones_dbfs_of_rms(distortion_band_rms(b, true, {}));
    f.conditions.received_dbfs = f.noise_dbfs;
    f.valid = true;
    return f;
}

quality_imd_figures quality_imd_measure(const quality_plan& p, const quality_segment& s, std::span<const float> capture)
{
    quality_imd_figures f;
    f.conditions = conditions_of(p, s, "none");
    f.reason = quality_capture_fault(s, capture, f.clipped);
    if (f.reason.empty() && (s.tones.size() != 2 || (s.kind != quality_kind::smpte && s.kind != quality_kind::ccif)))
        f.reason = "not an intermodulation segment";
    if (!f.reason.empty())
        return f;
    const distortion_block b = block_of(p, s, capture);
    const std::vector<int64_t> bins = bins_of(s);
    f.conditions.received_dbfs =
        tones_dbfs_of_amplitude(std::abs(distortion_phasor(b, bins[0])) + std::abs(distortion_phasor(b, bins[1])));
    if (!tones_stand(b, bins)) {
        f.reason = no_tone;
        return f;
    }
    const double ratio =
        s.kind == quality_kind::smpte ? distortion_smpte(b, bins[0], bins[1]) : distortion_ccif(b, bins[0], bins[1]);
    f.db = db_of(ratio);
    f.pct = 100.0 * ratio;
    f.valid = true;
    return f;
}

namespace {

quality_loop_figures loop_start(const quality_plan& p, int loop)
{
    quality_loop_figures f;
    f.loop = loop;
    f.valid = true;
    f.noise.reason = f.smpte.reason = f.ccif.reason = "not in the plan";
    f.crosstalk_reason = p.loops < 2 ? "one loop: nothing to cross into" : "";
    for (const double hz : quality_octave_hz)
        f.crosstalk_octaves.push_back({hz, std::nullopt});
    return f;
}

void take_tone(const quality_plan& p, const quality_segment& s, std::span<const float> capture, quality_loop_figures& f)
{
    const quality_tone_figures t = quality_tone_measure(p, s, capture);
    note_fault(f, t.reason);
    if (s.level_dbfs == quality_gain_level_dbfs)
        f.gain_db = t.gain_db;
    if (s.level_dbfs == quality_range_level_dbfs && t.thd_n_a_db)
        f.dynamic_range_db_a = -quality_range_level_dbfs - *t.thd_n_a_db;
    f.tones.push_back(t);
}

// Every other loop's crosstalk into each loop, all from the one segment: the
// worst at 1 kHz and at each octave centre; a fault of a capture the pairs
// needed, or a driving loop's tone that did not come back, is the loop's.
void take_crosstalk(const quality_plan& p, const quality_segment& s, const quality_segment_captures& captures,
                    std::vector<quality_loop_figures>& loops)
{
    for (const quality_crosstalk_pair& pair : quality_crosstalk_read(p, s, captures)) {
        quality_loop_figures& f = loops[static_cast<size_t>(pair.to)];
        f.crosstalk_db = worse(f.crosstalk_db, pair.db_1khz);
        for (size_t k = 0; k < pair.octave_db.size() && k < f.crosstalk_octaves.size(); k++)
            f.crosstalk_octaves[k].db = worse(f.crosstalk_octaves[k].db, pair.octave_db[k]);
        if (!pair.reason.empty()) {
            note_fault(f, pair.reason);
            if (f.crosstalk_reason.empty())
                f.crosstalk_reason = pair.reason;
        }
    }
}

void take_segment(const quality_plan& p, const quality_segment& s, const quality_segment_captures& captures,
                  quality_loop_figures& f)
{
    auto capture = [&](int l) {
        return static_cast<size_t>(l) < captures.size() ? captures[static_cast<size_t>(l)] : std::span<const float>();
    };
    switch (s.kind) {
    case quality_kind::idle:
        f.noise = quality_noise_measure(p, s, capture(f.loop));
        note_fault(f, f.noise.reason);
        break;
    case quality_kind::tone: take_tone(p, s, capture(f.loop), f); break;
    case quality_kind::smpte:
    case quality_kind::ccif: {
        quality_imd_figures& m = s.kind == quality_kind::smpte ? f.smpte : f.ccif;
        m = quality_imd_measure(p, s, capture(f.loop));
        note_fault(f, m.reason);
        break;
    }
    case quality_kind::crosstalk: break;  // every loop's at once, below
    }
}

const quality_tone_figures* gain_tone(const quality_loop_figures& f)
{
    for (const quality_tone_figures& t : f.tones)
        if (t.conditions.level_dbfs == quality_gain_level_dbfs)
            return &t;
    return nullptr;
}

// Channel match at the -20 dBFS tone: each loop re the first.
void match_loops(std::vector<quality_loop_figures>& loops)
{
    for (quality_loop_figures& f : loops) {
        const quality_tone_figures *mine = gain_tone(f), *first = gain_tone(loops[0]);
        if (f.loop == 0)
            f.match_reason = "the reference loop";
        else if (!mine || !first || !mine->valid || !first->valid)
            f.match_reason = "the -20 dBFS tone was not measured on both loops";
        else {
            f.match_gain_db = *mine->gain_db - *first->gain_db;
            f.match_phase_deg = wrap_deg(*mine->phase_deg - *first->phase_deg);
        }
    }
}

}  // namespace

std::vector<quality_loop_figures> quality_analyse(const quality_plan& p,
                                                  std::span<const quality_segment_captures> captures)
{
    std::vector<quality_loop_figures> loops;
    for (int l = 0; l < p.loops; l++)
        loops.push_back(loop_start(p, l));
    const quality_segment_captures none;
    for (size_t i = 0; i < p.segments.size(); i++) {
        const quality_segment_captures& c = i < captures.size() ? captures[i] : none;
        for (quality_loop_figures& f : loops)
            take_segment(p, p.segments[i], c, f);
        if (p.segments[i].kind == quality_kind::crosstalk)
            take_crosstalk(p, p.segments[i], c, loops);
    }
    match_loops(loops);
    return loops;
}
