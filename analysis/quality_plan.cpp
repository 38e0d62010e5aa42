// The battery's segments and their stimuli.
#include "analysis/quality_plan.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "analysis/deconvolve.hpp"
#include "analysis/quality_crosstalk.hpp"
#include "analysis/weighting.hpp"

namespace {

int64_t frames_of(double seconds, double rate) { return std::lrint(seconds * rate); }

quality_segment segment(const quality_plan& p, quality_kind kind, double level_dbfs)
{
    quality_segment s;
    s.kind = kind;
    s.level_dbfs = level_dbfs;
    s.fade_frames = frames_of(quality_fade_in_s, p.rate);
    s.settle_frames = frames_of(quality_settle_s, p.rate);
    s.analysed_frames = p.block;
    s.tail_frames = frames_of(quality_tail_s, p.rate);
    return s;
}

// Tones at the given frequencies whose amplitudes, in the given proportions,
// add up to the peak: cosines of phase 0 all peak together at the block's
// start, so that is the sum's peak.
std::vector<tone> tones_summing_to(const quality_plan& p, std::span<const double> hz, std::span<const double> parts,
                                   double peak_dbfs)
{
    double total = 0.0;
    for (const double part : parts)
        total += part;
    std::vector<tone> t;
    for (size_t i = 0; i < hz.size(); i++)
        t.push_back({tones_bin(hz[i], p.rate, p.block), tones_amplitude(peak_dbfs) * parts[i] / total});
    return t;
}

// CCIF's pair: f1 on the odd bin nearest its whole kHz, f2 the even number of
// bins nearest quality_ccif_spacing_hz above it, both lowered a bin pair
// should f2 land above the ceiling.
std::vector<tone> ccif_pair(const quality_plan& p)
{
    const double ceiling = quality_plan_tone_ceiling_hz(p.rate);
    const double f1 = 1000.0 * std::floor((ceiling - quality_ccif_spacing_hz) / 1000.0);
    const double bin_hz = p.rate / static_cast<double>(p.block);
    int64_t low = tones_bin(f1, p.rate, p.block);
    int64_t high = low + 2 * std::lrint(quality_ccif_spacing_hz / bin_hz / 2.0);
    if (tones_hz(high, p.rate, p.block) > ceiling)
        low -= 2, high -= 2;
    const double amplitude = tones_amplitude(quality_pair_peak_dbfs) / 2.0;
    return {{low, amplitude}, {high, amplitude}};
}

double raised_cosine(int64_t i, int64_t frames)
{
    return 0.5 - 0.5 * std::cos(std::numbers::pi * (static_cast<double>(i) + 0.5) / static_cast<double>(frames));
}

}  // namespace

double quality_plan_tone_ceiling_hz(double rate)
{
    const double edge = quality_passband_edge_at_44k1_hz * rate / 44100.0;
    return std::min(weighting_band_high_hz, edge - quality_edge_margin_hz);
}

int64_t quality_plan_segment_frames(const quality_segment& s)
{
    return s.settle_frames + s.analysed_frames + s.tail_frames;
}

std::string quality_plan_method_name(quality_crosstalk_method m)
{
    switch (m) {
    case quality_crosstalk_method::automatic: return "auto";
    case quality_crosstalk_method::aes17: return "aes17";
    case quality_crosstalk_method::all_driven: return "all-driven";
    case quality_crosstalk_method::both: return "both";
    }
    return "auto";
}

bool quality_plan_method_parse(const std::string& word, quality_crosstalk_method& m)
{
    for (const quality_crosstalk_method candidate :
         {quality_crosstalk_method::automatic, quality_crosstalk_method::aes17, quality_crosstalk_method::all_driven,
          quality_crosstalk_method::both})
        if (word == quality_plan_method_name(candidate)) {
            m = candidate;
            return true;
        }
    return false;
}

bool quality_plan_uses_aes17(quality_crosstalk_method m, int loops)
{
    return loops >= 2 && (m == quality_crosstalk_method::aes17 || m == quality_crosstalk_method::both ||
                          (m == quality_crosstalk_method::automatic && loops == 2));
}

bool quality_plan_uses_all_driven(quality_crosstalk_method m, int loops)
{
    return loops >= 2 && m != quality_crosstalk_method::aes17;
}

quality_plan quality_plan_make(double rate, int loops, quality_crosstalk_method method)
{
    quality_plan p;
    if (!(rate >= quality_rate_min && rate <= quality_rate_max)) {
        p.error = "the quality battery needs a rate from 44100 to 768000 Hz";
        return p;
    }
    if (loops < 1) {
        p.error = "the quality battery needs a loop";
        return p;
    }
    p.rate = rate;
    p.loops = loops;
    p.crosstalk = method;
    p.block = fft_size_at_least(frames_of(quality_block_s, rate));
    const int64_t tone_bin = tones_bin(quality_tone_hz, rate, p.block);

    p.segments.push_back(segment(p, quality_kind::idle, tones_floor_dbfs));
    for (const double level : quality_tone_levels_dbfs) {
        quality_segment s = segment(p, quality_kind::tone, level);
        s.tones = {{tone_bin, tones_amplitude(level)}};
        p.segments.push_back(s);
    }
    quality_segment smpte = segment(p, quality_kind::smpte, quality_pair_peak_dbfs);
    smpte.tones = tones_summing_to(p, quality_smpte_hz, std::vector<double>{4.0, 1.0}, quality_pair_peak_dbfs);
    p.segments.push_back(smpte);
    quality_segment ccif = segment(p, quality_kind::ccif, quality_pair_peak_dbfs);
    ccif.tones = ccif_pair(p);
    p.segments.push_back(ccif);

    for (int driven = 0; quality_plan_uses_aes17(method, loops) && driven < loops; driven++) {
        // AES17's: one loop at a time, the others silent.
        quality_segment aes17 = segment(p, quality_kind::crosstalk_aes17, quality_aes17_level_dbfs);
        aes17.driven = driven;
        aes17.loop_tones.assign(static_cast<size_t>(loops), {});
        aes17.loop_tones[static_cast<size_t>(driven)] = {{tone_bin, tones_amplitude(quality_aes17_level_dbfs)}};
        p.segments.push_back(aes17);
    }
    if (quality_plan_uses_all_driven(method, loops)) {
        // Every loop at once, each on bins of its own, the octave tones of
        // each summing to the peak as the pairs do.
        quality_segment crosstalk = segment(p, quality_kind::crosstalk, quality_pair_peak_dbfs);
        const double amplitude =
            tones_amplitude(quality_pair_peak_dbfs) / static_cast<double>(std::size(quality_octave_hz));
        for (const std::vector<int64_t>& bins : quality_crosstalk_bins(rate, p.block, loops)) {
            std::vector<tone> own;
            for (const int64_t bin : bins)
                own.push_back({bin, amplitude});
            crosstalk.loop_tones.push_back(own);
        }
        p.segments.push_back(crosstalk);
    }

    int64_t start = 0;
    for (quality_segment& s : p.segments)
        s.start = start, start += quality_plan_segment_frames(s);
    return p;
}

int64_t quality_plan_frames(const quality_plan& p)
{
    int64_t frames = 0;
    for (const quality_segment& s : p.segments)
        frames += quality_plan_segment_frames(s);
    return frames;
}

const std::vector<tone>& quality_plan_tones(const quality_segment& s, int loop)
{
    static const std::vector<tone> silent;
    if (s.loop_tones.empty())
        return s.tones;
    return loop >= 0 && static_cast<size_t>(loop) < s.loop_tones.size() ? s.loop_tones[static_cast<size_t>(loop)]
                                                                        : silent;
}

std::vector<float> quality_plan_stimulus(const quality_plan& p, const quality_segment& s, int loop)
{
    const int64_t frames = quality_plan_segment_frames(s);
    // Frame settle_frames is the block's first: the tones' phase counts from
    // there, so that the block starts at phase 0 whatever the settle.
    std::vector<double> x(static_cast<size_t>(frames), 0.0);
    tones_add(x, p.block - s.settle_frames % p.block, p.block, quality_plan_tones(s, loop));
    for (int64_t i = 0; i < s.fade_frames; i++)
        x[static_cast<size_t>(i)] *= raised_cosine(i, s.fade_frames);
    for (int64_t i = 0; i < s.tail_frames; i++)
        x[static_cast<size_t>(frames - 1 - i)] *= raised_cosine(i, s.tail_frames);
    return std::vector<float>(x.begin(), x.end());
}

std::string quality_plan_kind_name(quality_kind k)
{
    switch (k) {
    case quality_kind::idle: return "idle";
    case quality_kind::tone: return "tone";
    case quality_kind::smpte: return "imd_smpte";
    case quality_kind::ccif: return "imd_ccif";
    case quality_kind::crosstalk: return "crosstalk";
    case quality_kind::crosstalk_aes17: return "crosstalk_aes17";
    }
    return "unknown";
}
