// The battery's outcome completed: the figures by the limits' names, the
// crosstalk's pairs, the match's phase with the loops' delay.
#include "analysis/quality_outcome.hpp"

#include <algorithm>
#include <cmath>

#include "analysis/tones.hpp"

quality_figure_set quality_outcome_figures(const quality_outcome& q, size_t k)
{
    quality_figure_set set = quality_limits_figures(q.loops[k]);
    const quality_response& r = q.responses[k];
    if (r.min_db)
        set["response_deviation_db"] = std::max(std::fabs(*r.min_db), std::fabs(*r.max_db));
    set["latency_frames"] = q.latency_frames[k];
    if (q.clock_rate_ppm)
        set["clock_rate_ppm"] = *q.clock_rate_ppm;
    return set;
}

void quality_outcome_crosstalk(quality_outcome& q, const std::vector<std::vector<std::vector<float>>>& captures)
{
    std::vector<quality_segment_captures> spans;
    for (const std::vector<std::vector<float>>& segment : captures)
        spans.emplace_back(segment.begin(), segment.end());
    q.crosstalk = quality_crosstalk_pairs(q.plan, spans);
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
