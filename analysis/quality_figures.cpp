// Each segment's capture into the loop's figures.
#include "analysis/quality_figures.hpp"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "analysis/distortion.hpp"
#include "analysis/distortion_fit.hpp"
#include "analysis/distortion_floor.hpp"
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

void take_ratio(quality_imd_figures& f, const distortion_figure& r)
{
    f.db = db_of(r.ratio);
    f.pct = 100.0 * r.ratio;
    f.floor = {db_of(r.floor), r.bound, r.noise_limited};
}

// The twin tone f1 < f2: the RSS of f2 - f1 and 2 f1 - f2 re the tones' RSS,
// and IEC 60268-3's d2 and d3, each re 2 U(f2).
void take_twin(const distortion_block& b, int64_t lo, int64_t hi, quality_imd_figures& f)
{
    const int64_t d = hi - lo;
    std::vector<int64_t> components = {lo, hi, d, lo - d, hi + d, lo - 2 * d, hi + 2 * d, 2 * lo, 2 * hi, lo + hi};
    std::sort(components.begin(), components.end());
    // Each product p f1 + q f2 lies p d1 + q d2 off its bin where the tones came back off theirs.
    const double off1 = distortion_offset_hann(b, lo), off2 = distortion_offset_hann(b, hi);
    const auto read = [&](int64_t p, int64_t q) {
        const int64_t k = p * lo + q * hi;
        const double offset = static_cast<double>(p) * off1 + static_cast<double>(q) * off2;
        return k > 0 && k < b.n / 2 ? distortion_read_coherent(b, k, components, offset) : distortion_reading{};
    };
    const distortion_reading second = read(-1, 1), lower = read(2, -1), upper = read(-1, 2);
    const double a1 = distortion_amplitude(b, lo), a2 = distortion_amplitude(b, hi);
    const distortion_reading rss[] = {second, lower};
    take_ratio(f, distortion_rss(rss, std::hypot(a1, a2)));
    const distortion_figure d2 = distortion_ratio(second, 2.0 * a2);
    const distortion_reading third[] = {lower, upper};
    const distortion_figure d3 = distortion_sum(third, 2.0 * a2);
    f.d2_db = db_of(d2.ratio), f.d2_floor = {db_of(d2.floor), d2.bound, d2.noise_limited};
    f.d3_db = db_of(d3.ratio), f.d3_floor = {db_of(d3.floor), d3.bound, d3.noise_limited};
    f.reference_dbfs = tones_dbfs_of_amplitude(2.0 * a2);
}

// The angle in (-180, 180].
double wrap_deg(double deg)
{
    const double r = std::remainder(deg, 360.0);
    return r <= -180.0 ? r + 360.0 : r;
}

void note_fault(quality_loop_figures& f, const std::string& reason)
{
    if (f.valid && !reason.empty())
        f.valid = false, f.reason = reason;
}

quality_floor floor_of(const distortion_figure& f) { return {db_of(f.floor), f.bound, f.noise_limited}; }

// The tone's bin and its harmonics below the Nyquist frequency, sorted: kept
// out of the harmonics' floors.
std::vector<int64_t> harmonic_bins(const distortion_block& b, int64_t bin)
{
    std::vector<int64_t> bins;
    for (int64_t k = bin; k < b.n / 2; k += bin)
        bins.push_back(k);
    return bins;
}

// H2 .. H10 and THD of the tone on bin, offset bins off it, each harmonic
// against its own noise.
void take_harmonics(const distortion_block& b, int64_t bin, double offset, quality_tone_figures& f)
{
    const std::vector<int64_t> components = harmonic_bins(b, bin);
    const double fundamental = distortion_amplitude(b, bin);
    std::vector<distortion_reading> in_band;
    for (int64_t order = 2; order <= 10; order++) {
        const int64_t k = order * bin;
        if (!(fundamental > 0.0) || k >= b.n / 2 || weighting_band(tones_hz(k, b.rate, b.n)) == 0.0)
            continue;
        const distortion_reading r = distortion_read_coherent(b, k, components, static_cast<double>(order) * offset);
        const distortion_figure h = distortion_ratio(r, fundamental);
        f.harmonics_db[static_cast<size_t>(order - 2)] = db_of(h.ratio);
        f.harmonics_floor[static_cast<size_t>(order - 2)] = floor_of(h);
        in_band.push_back(r);
    }
    const distortion_figure thd = distortion_rss(in_band, fundamental);
    f.thd_db = db_of(thd.ratio);
    f.thd_pct = 100.0 * thd.ratio;
    f.thd_floor = floor_of(thd);
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
    // The spread is the tone's own, exact given its offset: taken out of the
    // residue's power, the rest is the loop's noise and distortion.
    const double spread = distortion_offbin_spread(b, bin, offset, false);
    const double spread_a = distortion_offbin_spread(b, bin, offset, true);
    const double ratio_a = distortion_band_rms(b, true, notch) / rms;
    if (offset != 0.0)
        f.offbin_spread_db = db_of(spread);
    const double residue = std::sqrt(std::max(0.0, ratio * ratio - spread * spread));
    f.thd_n_db = db_of(residue);
    f.thd_n_pct = 100.0 * residue;
    f.thd_n_a_db = db_of(std::sqrt(std::max(0.0, ratio_a * ratio_a - spread_a * spread_a)));
    take_harmonics(b, bin, offset, f);
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
    f.floor_dbfs = tones_floor_dbfs;
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
    const int64_t lo = bins[0], hi = bins[1];
    if (s.kind == quality_kind::smpte) {
        // The sidebands to the fourth order and the carrier's harmonics kept out of the floors.
        std::vector<int64_t> components = {lo, hi};
        for (int64_t k = 1; k <= 4; k++)
            components.push_back(hi - k * lo), components.push_back(hi + k * lo), components.push_back(k * lo + lo);
        for (int64_t k = 2 * hi; k < b.n / 2; k += hi)
            components.push_back(k);
        std::sort(components.begin(), components.end());
        std::vector<distortion_reading> sidebands;
        const double d1 = distortion_offset_hann(b, lo), d2 = distortion_offset_hann(b, hi);
        for (const int64_t p : {-2, -1, 1, 2})
            sidebands.push_back(distortion_read_coherent(b, hi + p * lo, components, static_cast<double>(p) * d1 + d2));
        take_ratio(f, distortion_rss(sidebands, distortion_amplitude(b, hi)));
    } else
        take_twin(b, lo, hi, f);
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
        f.crosstalk_octaves.push_back({hz, std::nullopt, {}});
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

// The larger of two readings, with its floor.
void take_worse(std::optional<double>& db, quality_floor& floor, const std::optional<double>& v,
                const quality_floor& v_floor)
{
    if (v && (!db || *v > *db))
        db = v, floor = v_floor;
}

// Every other loop's crosstalk into each loop: the worst at 1 kHz by the
// plan's headline method (AES17's where it holds it) and at each octave
// centre (all driven); a fault of a capture the pairs needed, a driving
// loop's tone that did not come back or clocks too far apart, is the loop's.
void take_crosstalk(const quality_plan& p, std::span<const quality_segment_captures> captures,
                    std::vector<quality_loop_figures>& loops)
{
    const quality_crosstalk_method headline = quality_plan_uses_aes17(p.crosstalk, p.loops)
                                                  ? quality_crosstalk_method::aes17
                                                  : quality_crosstalk_method::all_driven;
    for (quality_loop_figures& f : loops)
        f.crosstalk_method = headline;
    for (const quality_crosstalk_pair& pair : quality_crosstalk_pairs(p, captures)) {
        quality_loop_figures& f = loops[static_cast<size_t>(pair.to)];
        if (pair.method == headline)
            take_worse(f.crosstalk_db, f.crosstalk_floor, pair.db_1khz, pair.floor_1khz);
        for (size_t k = 0; k < pair.octave_db.size() && k < f.crosstalk_octaves.size(); k++)
            take_worse(f.crosstalk_octaves[k].db, f.crosstalk_octaves[k].floor, pair.octave_db[k],
                       pair.octave_floor[k]);
        if (!pair.reason.empty()) {
            note_fault(f, pair.reason);
            if (f.crosstalk_reason.empty() && pair.method == headline)
                f.crosstalk_reason = pair.reason;
        }
    }
}

// THD+N's floor: the idle noise re each tone's fundamental.
void take_thd_n_floors(quality_loop_figures& f)
{
    for (quality_tone_figures& t : f.tones) {
        if (!f.noise.valid || !t.conditions.received_dbfs)
            continue;
        t.thd_n_floor.db = *f.noise.noise_dbfs - *t.conditions.received_dbfs;
        t.thd_n_a_floor.db = *f.noise.noise_dbfs_a - *t.conditions.received_dbfs;
        // The idle noise half the residue's power or more.
        if (t.thd_n_db)
            t.thd_n_floor.noise_limited = *t.thd_n_db - *t.thd_n_floor.db < 3.0103;
        if (t.thd_n_a_db)
            t.thd_n_a_floor.noise_limited = *t.thd_n_a_db - *t.thd_n_a_floor.db < 3.0103;
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
    case quality_kind::crosstalk:
    case quality_kind::crosstalk_aes17: break;  // every loop's at once, below
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
    }
    if (p.loops >= 2)
        take_crosstalk(p, captures, loops);
    for (quality_loop_figures& f : loops)
        take_thd_n_floors(f);
    match_loops(loops);
    return loops;
}
