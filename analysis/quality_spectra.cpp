// The battery's spectra, decimated for the report.
#include "analysis/quality_spectra.hpp"

#include <cmath>
#include <complex>

#include "analysis/distortion.hpp"
#include "analysis/series.hpp"
#include "analysis/tones.hpp"
#include "analysis/weighting.hpp"

quality_spectrum_curve quality_spectrum_of(const quality_plan& p, const quality_segment& seg,
                                           std::span<const float> capture, bool a_weighted)
{
    quality_spectrum_curve c;
    if (static_cast<int64_t>(capture.size()) < seg.settle_frames + seg.analysed_frames || seg.analysed_frames < 4)
        return c;
    const distortion_block b =
        distortion_block_of(capture.subspan(static_cast<size_t>(seg.settle_frames)), seg.analysed_frames, p.rate);
    std::vector<double> hz, dbfs;
    for (int64_t k = 1; k < b.n / 2; k++) {
        const double f = tones_hz(k, b.rate, b.n);
        hz.push_back(f);
        dbfs.push_back(tones_dbfs_of_amplitude(std::abs(distortion_phasor(b, k))) +
                       (a_weighted ? weighting_a_db(f) : 0.0));
    }
    series_decimate_log(hz, dbfs, quality_spectrum_low_hz, p.rate / 2.0, quality_spectrum_bins, c.hz, c.dbfs);
    return c;
}

std::vector<quality_loop_spectra> quality_spectra_take(const quality_plan& p,
                                                       const std::vector<std::vector<std::vector<float>>>& captures)
{
    std::vector<quality_loop_spectra> out(static_cast<size_t>(p.loops));
    for (size_t i = 0; i < p.segments.size() && i < captures.size(); i++) {
        const quality_segment& seg = p.segments[i];
        if (seg.kind != quality_kind::tone && seg.kind != quality_kind::idle)
            continue;
        for (size_t k = 0; k < out.size(); k++) {
            const std::span<const float> capture =
                k < captures[i].size() ? std::span<const float>(captures[i][k]) : std::span<const float>();
            if (seg.kind == quality_kind::tone) {
                out[k].tones.push_back(quality_spectrum_of(p, seg, capture, false));
                out[k].tone_levels_dbfs.push_back(seg.level_dbfs);
            } else {
                out[k].noise = quality_spectrum_of(p, seg, capture, false);
                out[k].noise_a = quality_spectrum_of(p, seg, capture, true);
            }
        }
    }
    return out;
}
