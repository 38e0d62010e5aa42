// The battery's outcome completed: the figures by the limits' names, the
// crosstalk's pairs, the match's phase with the loops' delay.
#include "analysis/quality_outcome.hpp"

#include <algorithm>
#include <cmath>

#include "analysis/distortion.hpp"
#include "analysis/tones.hpp"

quality_figure_set quality_outcome_figures(const quality_outcome& q, size_t k)
{
    quality_figure_set set = quality_limits_figures(q.loops[k]);
    const quality_response& r = q.responses[k];
    if (r.min_db)
        set["response_deviation_db"] = std::max(std::fabs(*r.min_db), std::fabs(*r.max_db));
    set["latency_frames"] = q.latency_frames[k];
    return set;
}

namespace {

// Loop to's input at bin over loop from's, where from's tone stands 20 dB above its noise.
std::optional<double> pair_db(const distortion_block& from, const distortion_block& to, int64_t bin)
{
    const int64_t bins[] = {bin};
    const double floor = distortion_mean_bin_power(from, bins) * std::pow(10.0, quality_tone_floor_db / 10.0);
    const double driven = std::abs(distortion_phasor(from, bin));
    if (!(driven * driven > floor))
        return std::nullopt;
    return std::max(tones_floor_dbfs, 20.0 * std::log10(std::abs(distortion_phasor(to, bin)) / driven));
}

}  // namespace

// The validity of the captures is the analysis's.
void quality_outcome_crosstalk(quality_outcome& q, const std::vector<std::vector<std::vector<float>>>& captures)
{
    const quality_plan& p = q.plan;
    for (int from = 0; from < p.loops; from++)
        for (int to = 0; to < p.loops; to++) {
            if (from == to)
                continue;
            quality_crosstalk_pair pair;
            pair.from = from, pair.to = to;
            pair.reason = q.loops[static_cast<size_t>(to)].crosstalk_reason;
            for (size_t i = 0; i < p.segments.size(); i++) {
                const quality_segment& seg = p.segments[i];
                if (seg.driven != from)
                    continue;
                const std::vector<float>& a = captures[i][static_cast<size_t>(from)];
                const std::vector<float>& b = captures[i][static_cast<size_t>(to)];
                if (static_cast<int64_t>(std::min(a.size(), b.size())) < seg.settle_frames + seg.analysed_frames)
                    continue;
                const auto block = [&](const std::vector<float>& x) {
                    return distortion_block_of(
                        std::span<const float>(x).subspan(static_cast<size_t>(seg.settle_frames)), seg.analysed_frames,
                        p.rate);
                };
                const distortion_block da = block(a), db = block(b);
                if (seg.kind == quality_kind::crosstalk_tone) {
                    pair.db_1khz = pair_db(da, db, seg.tones[0].bin);
                    if (!pair.db_1khz && pair.reason.empty())
                        pair.reason = "no tone came back 20 dB above the noise on the driven loop";
                } else
                    for (const tone& t : seg.tones) {
                        pair.octave_hz.push_back(tones_hz(t.bin, p.rate, p.block));
                        pair.octave_db.push_back(pair_db(da, db, t.bin));
                    }
            }
            if (pair.db_1khz)
                pair.reason.clear();
            q.crosstalk.push_back(pair);
        }
}

void quality_outcome_match_delay(quality_outcome& q)
{
    const double hz = tones_hz(tones_bin(quality_tone_hz, q.plan.rate, q.plan.block), q.plan.rate, q.plan.block);
    for (size_t k = 1; k < q.loops.size(); k++) {
        std::optional<double>& phase = q.loops[k].match_phase_deg;
        if (!phase)
            continue;
        const double delay = static_cast<double>(q.shifts[k] - q.shifts[0]) / q.plan.rate;
        const double deg = std::remainder(*phase - 360.0 * hz * delay, 360.0);
        *phase = deg <= -180.0 ? deg + 360.0 : deg;
    }
}
