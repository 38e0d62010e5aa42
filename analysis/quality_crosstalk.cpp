// The crosstalk segments' bins and every pair's reading.
#include "analysis/quality_crosstalk.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "analysis/distortion.hpp"
#include "analysis/distortion_fit.hpp"
#include "analysis/distortion_floor.hpp"
#include "analysis/tones.hpp"

namespace {

// The grid: bins xt_residue (mod xt_grid), the loops xt_grid bins apart.
constexpr int64_t xt_grid = 6, xt_residue = 3;

// A pickup's three Hann bins hold it within 0.1 dB up to this far off its bin.
constexpr double xt_pickup_reach_bins = 0.5;

// A bin of a block of n frames as a digital product lands: folded about
// the Nyquist frequency (a nonlinearity inside a converter's digital filter,
// or in software, folds; an analog one's products above it are the filter's
// to remove, and folded they are merely kept clear of).
int64_t xt_fold(int64_t k, int64_t n)
{
    const int64_t r = ((k % n) + n) % n;
    return r > n / 2 ? n - r : r;
}

void xt_fold_all(std::vector<int64_t>& bins, int64_t n)
{
    for (int64_t& k : bins)
        k = xt_fold(k, n);
}

// Bins, sorted, of every product up to the third order of the tones and of
// their harmonics up to the tenth, folded into a block of n frames.
std::vector<int64_t> xt_products(const std::vector<int64_t>& f, int64_t n)
{
    std::vector<int64_t> made;
    for (const int64_t a : f)
        for (int64_t h = 2; h <= 10; h++)
            made.push_back(h * a);
    for (size_t i = 0; i < f.size(); i++)
        for (size_t j = i; j < f.size(); j++) {
            made.push_back(f[i] + f[j]);
            made.push_back(std::llabs(f[i] - f[j]));
            for (size_t k = j; k < f.size(); k++)
                for (const int64_t v : {f[i] + f[j] + f[k], f[i] + f[j] - f[k], f[i] - f[j] + f[k], f[j] + f[k] - f[i]})
                    made.push_back(std::llabs(v));
        }
    xt_fold_all(made, n);
    std::sort(made.begin(), made.end());
    made.erase(std::unique(made.begin(), made.end()), made.end());
    return made;
}

// The products of tones that a new tone c makes with them (and alone), folded.
std::vector<int64_t> xt_products_with(const std::vector<int64_t>& tones, int64_t c, int64_t n)
{
    std::vector<int64_t> made;
    for (int64_t h = 2; h <= 10; h++)
        made.push_back(h * c);
    std::vector<int64_t> all = tones;
    all.push_back(c);
    for (const int64_t a : all) {
        made.push_back(c + a), made.push_back(std::llabs(c - a));
        for (const int64_t b : all)
            for (const int64_t v : {c + a + b, c + a - b, c - a - b, a + b - c})
                made.push_back(std::llabs(v));
    }
    xt_fold_all(made, n);
    return made;
}

// Whether a bin lies within xt_clear bins of one in sorted.
constexpr int64_t xt_clear = 2;
bool xt_near(const std::vector<int64_t>& sorted, int64_t k)
{
    const auto c = std::lower_bound(sorted.begin(), sorted.end(), k - xt_clear);
    return c != sorted.end() && *c <= k + xt_clear;
}

// 0, -1, +1, -2, +2, ...
int64_t xt_step(int64_t i) { return (i + 1) / 2 * (i % 2 == 1 ? -1 : 1); }

double xt_db(double ratio)
{
    return ratio > 0.0 ? std::max(tones_floor_dbfs, 20.0 * std::log10(ratio)) : tones_floor_dbfs;
}

quality_floor xt_floor_of(const distortion_figure& f) { return {xt_db(f.floor), f.bound, f.noise_limited}; }

std::vector<int64_t> xt_bins_of(const std::vector<tone>& tones)
{
    std::vector<int64_t> bins;
    for (const tone& t : tones)
        bins.push_back(t.bin);
    return bins;
}

// One loop's capture of a crosstalk segment, ready to be read.
struct xt_capture {
    std::string fault;              // why it cannot be read; empty when it can
    distortion_block block;         // through Hann, the loop's own tones taken out
    std::vector<bool> stands;       // each own tone 20 dB above the rest of the band
    std::vector<double> amplitude;  // each own tone's, fitted
    // What the fit of a steady sinusoid left of each own tone in its three
    // bins (peak): noise, or a tone that was no steady sinusoid (a clock that
    // wanders within the block), whose spread beside it the fit did not take out.
    std::vector<double> left;
    std::vector<double> left_noise;   // the floor there: what the noise around it puts in three bins
    double clock = 0.0;               // offset re the stream's clock, a fraction (ppm x 1e-6)
    bool clocked = false;             // an own tone stood to tell it
    std::vector<int64_t> components;  // sorted: every loop's tones and this loop's own products
};

// What the victim's own tone at `own` spreads to the reading at bin beyond
// what the fit took out, next to noise of that floor: a wandering clock's
// sidebands and skirt lie either side of the tone alike, so what the bins as
// far on its other side hold where that stands 10 dB above the noise (and
// nothing where it does not). Where those bins hold another component, and
// the fit left 10 dB more than the noise in the tone's own three bins, that
// leftover falling with the square of the distance from the tone's own bins
// (faster in every case tested: a wander of 0.3 to 20 ppm at 2.5 to 10 Hz).
double xt_left_at(const xt_capture& x, size_t j, int64_t own, int64_t bin, double floor)
{
    if (j >= x.left.size() || !x.stands[j])
        return 0.0;
    const double margin = std::sqrt(10.0);
    const int64_t mirror = 2 * own - bin;
    const auto c = std::lower_bound(x.components.begin(), x.components.end(), mirror - distortion_floor_clear);
    if (mirror > 1 && mirror < x.block.n / 2 - 1 && (c == x.components.end() || *c > mirror + distortion_floor_clear)) {
        const double there = distortion_amplitude(x.block, mirror);
        return there > margin * floor ? there : 0.0;
    }
    if (!(x.left[j] > x.left_noise[j] * margin))
        return 0.0;
    const double r = 2.0 / static_cast<double>(std::max<int64_t>(std::llabs(bin - own), 2));
    return x.left[j] * r * r;
}

// The capture read: its own tones (if any) fitted and taken out; others:
// every other loop's tones, kept out of the floors.
xt_capture xt_prepare(const quality_plan& p, const quality_segment& s, std::span<const float> capture,
                      const std::vector<int64_t>& own, const std::vector<int64_t>& others)
{
    xt_capture x;
    bool clipped = false;
    x.fault = quality_capture_fault(s, capture, clipped);
    if (!x.fault.empty())
        return x;
    const std::span<const float> frames = capture.subspan(static_cast<size_t>(s.settle_frames));
    x.block = distortion_block_of(frames, s.analysed_frames, p.rate);
    const double floor = distortion_mean_bin_power(x.block, own) * std::pow(10.0, quality_tone_floor_db / 10.0);
    // The clock from every tone that stands, by least squares on offset = clock x
    // bin, each weighted by its power (an offset's noise goes as 1 / amplitude).
    double num = 0.0, den = 0.0;
    std::vector<distortion_tone> fitted;
    for (size_t j = 0; j < own.size(); j++) {
        x.stands.push_back(std::norm(distortion_phasor(x.block, own[j])) > floor);
        const double offset = distortion_offset_hann(x.block, own[j]);
        const distortion_tone t = distortion_fit(x.block, own[j], offset);
        x.amplitude.push_back(std::abs(t.phasor));
        if (!x.stands.back())
            continue;
        fitted.push_back(t);
        const double w = std::norm(t.phasor), k = static_cast<double>(own[j]);
        num += w * offset * k, den += w * k * k;
    }
    x.clocked = den > 0.0;
    x.clock = x.clocked ? num / den : 0.0;
    for (const distortion_tone& t : fitted)
        distortion_take_out(x.block, t);
    x.components = xt_products(own, s.analysed_frames);
    x.components.insert(x.components.end(), own.begin(), own.end());
    x.components.insert(x.components.end(), others.begin(), others.end());
    std::sort(x.components.begin(), x.components.end());
    for (size_t j = 0; j < own.size(); j++) {
        x.left.push_back(x.stands[j] ? distortion_amplitude(x.block, own[j]) : 0.0);
        x.left_noise.push_back(distortion_read(x.block, own[j], x.components).floor);
    }
    return x;
}

std::optional<double> xt_ppm(const xt_capture& x)
{
    return x.fault.empty() && x.clocked ? std::optional<double>(1e6 * x.clock) : std::nullopt;
}

std::string xt_clock_reason(int from, int to, const xt_capture& a, const xt_capture& b, double hz)
{
    char text[320];
    std::snprintf(text, sizeof text,
                  "loop %d's and loop %d's clocks run %.2f and %.2f ppm off the stream's: at %.0f Hz the pickup "
                  "could lie over half a bin off its bin, beyond what three Hann bins hold",
                  from + 1, to + 1, 1e6 * a.clock, 1e6 * b.clock, hz);
    return text;
}

}  // namespace

std::vector<std::vector<int64_t>> quality_crosstalk_bins(double rate, int64_t n, int loops)
{
    const double ceiling = quality_plan_tone_ceiling_hz(rate);
    std::vector<std::vector<int64_t>> bins(static_cast<size_t>(std::max(loops, 0)));
    std::vector<std::vector<int64_t>> made(bins.size());  // each loop's products so far, sorted
    // Whether loop l may play c: no other loop's tone or product near it, and
    // none of its products with l's tones so far near another loop's tone.
    const auto clear = [&](size_t l, int64_t c) {
        const std::vector<int64_t> with = xt_products_with(bins[l], c, n);
        for (size_t o = 0; o < bins.size(); o++) {
            if (o == l)
                continue;
            std::vector<int64_t> theirs = bins[o];
            std::sort(theirs.begin(), theirs.end());
            if (xt_near(theirs, c) || xt_near(made[o], c) ||
                std::any_of(with.begin(), with.end(), [&](int64_t k) { return xt_near(theirs, k); }))
                return false;
        }
        return true;
    };
    // Octave by octave, each loop's tone on the first grid bin from the centre
    // out that is clear; the search stays within half the centre's bins of
    // it (a loop the search could not place there takes the grid bin nearest
    // the centre that no other loop plays: never with up to eight loops).
    for (const double hz : quality_octave_hz) {
        const double centre = hz * static_cast<double>(n) / rate;
        const int64_t grid = xt_grid * std::lrint((centre - xt_residue) / xt_grid) + xt_residue;
        for (size_t l = 0; l < bins.size(); l++) {
            int64_t chosen = -1, fallback = -1;
            for (int64_t i = 0; chosen < 0; i++) {
                const int64_t c = grid + xt_grid * xt_step(i);
                if (std::fabs(static_cast<double>(c) - centre) > centre / 2.0)
                    break;
                if (c < 1 || tones_hz(c, rate, n) > ceiling)
                    continue;
                if (fallback < 0 && std::none_of(bins.begin(), bins.end(), [&](const std::vector<int64_t>& b) {
                        return std::find(b.begin(), b.end(), c) != b.end();
                    }))
                    fallback = c;
                if (clear(l, c))
                    chosen = c;
            }
            bins[l].push_back(chosen >= 0 ? chosen : fallback);
            made[l] = xt_products(bins[l], n);
        }
    }
    return bins;
}

std::vector<quality_crosstalk_pair> quality_crosstalk_read(const quality_plan& p, const quality_segment& s,
                                                           std::span<const std::span<const float>> captures)
{
    const int loops = p.loops;
    std::vector<xt_capture> x;
    for (int l = 0; l < loops; l++) {
        std::vector<int64_t> others;
        for (int o = 0; o < loops; o++)
            if (o != l)
                for (const tone& t : quality_plan_tones(s, o))
                    others.push_back(t.bin);
        const std::span<const float> capture =
            static_cast<size_t>(l) < captures.size() ? captures[static_cast<size_t>(l)] : std::span<const float>();
        x.push_back(xt_prepare(p, s, capture, xt_bins_of(quality_plan_tones(s, l)), others));
    }
    std::vector<quality_crosstalk_pair> pairs;
    for (int from = 0; from < loops; from++)
        for (int to = 0; to < loops; to++) {
            if (from == to)
                continue;
            const xt_capture &a = x[static_cast<size_t>(from)], &b = x[static_cast<size_t>(to)];
            quality_crosstalk_pair pair;
            pair.from = from, pair.to = to;
            pair.from_offset_ppm = xt_ppm(a), pair.to_offset_ppm = xt_ppm(b);
            pair.reason = a.fault.empty() ? b.fault : a.fault;
            const std::vector<tone>& tones = quality_plan_tones(s, from);
            for (size_t j = 0; j < tones.size(); j++) {
                const int64_t bin = tones[j].bin;
                const double hz = tones_hz(bin, p.rate, s.analysed_frames);
                pair.octave_hz.push_back(hz);
                std::optional<double> db;
                quality_floor floor;
                std::string why = pair.reason;
                if (why.empty() && !a.stands[j])
                    why = "no tone came back 20 dB above the noise on the driving loop";
                if (why.empty() &&
                    (std::fabs(a.clock) + std::fabs(b.clock)) * static_cast<double>(bin) > xt_pickup_reach_bins)
                    why = xt_clock_reason(from, to, a, b, hz);
                if (why.empty()) {
                    // The floor: the noise around the pickup, or what the fit
                    // left of the victim's own tone beside it, the larger.
                    distortion_reading reading = distortion_read(b.block, bin, b.components);
                    distortion_raise_floor(reading,
                                           xt_left_at(b, j, quality_plan_tones(s, to)[j].bin, bin, reading.floor));
                    const distortion_figure f = distortion_ratio(reading, a.amplitude[j]);
                    db = xt_db(f.ratio), floor = xt_floor_of(f);
                } else if (pair.reason.empty())
                    pair.reason = why;
                pair.octave_db.push_back(db);
                pair.octave_floor.push_back(floor);
            }
            if (quality_octave_1khz < pair.octave_db.size()) {
                pair.db_1khz = pair.octave_db[quality_octave_1khz];
                pair.floor_1khz = pair.octave_floor[quality_octave_1khz];
                pair.hz = pair.octave_hz[quality_octave_1khz];
            }
            pairs.push_back(pair);
        }
    return pairs;
}

std::vector<quality_crosstalk_pair> quality_crosstalk_aes17_read(const quality_plan& p, const quality_segment& s,
                                                                 std::span<const std::span<const float>> captures)
{
    std::vector<quality_crosstalk_pair> pairs;
    const int from = s.driven;
    if (from < 0 || from >= p.loops || quality_plan_tones(s, from).size() != 1)
        return pairs;
    const int64_t bin = quality_plan_tones(s, from)[0].bin;
    // The drive's harmonics and the tone itself kept out of the silent loops' floors.
    std::vector<int64_t> made;
    for (int64_t h = 1; h <= 10; h++)
        made.push_back(h * bin);
    const auto capture = [&](int l) {
        return static_cast<size_t>(l) < captures.size() ? captures[static_cast<size_t>(l)] : std::span<const float>();
    };
    std::vector<int64_t> none;
    const xt_capture a = xt_prepare(p, s, capture(from), {bin}, none);
    for (int to = 0; to < p.loops; to++) {
        if (to == from)
            continue;
        quality_crosstalk_pair pair;
        pair.from = from, pair.to = to, pair.method = quality_crosstalk_method::aes17;
        pair.hz = tones_hz(bin, p.rate, s.analysed_frames);
        xt_capture b = xt_prepare(p, s, capture(to), none, made);
        pair.from_offset_ppm = xt_ppm(a);
        pair.reason = a.fault.empty() ? b.fault : a.fault;
        if (pair.reason.empty() && !a.stands[0])
            pair.reason = "no tone came back 20 dB above the noise on the driving loop";
        // The silent loop's own clock is not known: the drive's offset alone.
        if (pair.reason.empty() && std::fabs(a.clock) * static_cast<double>(bin) > xt_pickup_reach_bins)
            pair.reason = xt_clock_reason(from, to, a, b, pair.hz);
        if (pair.reason.empty()) {
            const distortion_figure f = distortion_ratio(distortion_read(b.block, bin, b.components), a.amplitude[0]);
            pair.db_1khz = xt_db(f.ratio), pair.floor_1khz = xt_floor_of(f);
        }
        pairs.push_back(pair);
    }
    return pairs;
}

std::vector<quality_crosstalk_pair> quality_crosstalk_pairs(const quality_plan& p,
                                                            std::span<const quality_segment_captures> captures)
{
    std::vector<quality_crosstalk_pair> all;
    for (const quality_kind kind : {quality_kind::crosstalk_aes17, quality_kind::crosstalk})
        for (size_t i = 0; i < p.segments.size() && i < captures.size(); i++) {
            const quality_segment& s = p.segments[i];
            if (s.kind != kind)
                continue;
            const std::vector<quality_crosstalk_pair> pairs = kind == quality_kind::crosstalk
                                                                  ? quality_crosstalk_read(p, s, captures[i])
                                                                  : quality_crosstalk_aes17_read(p, s, captures[i]);
            all.insert(all.end(), pairs.begin(), pairs.end());
        }
    return all;
}
