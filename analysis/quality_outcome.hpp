// What --quality found: the battery's figures per loop
// (analysis/quality_figures.hpp), each loop's response from the -20 dBFS
// sweep, the crosstalk of every pair of loops, the segments that were played
// again and the verdicts on the --limits; and the pure steps that complete it.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/quality_crosstalk.hpp"
#include "analysis/quality_figures.hpp"
#include "analysis/quality_limits.hpp"
#include "analysis/quality_spectra.hpp"
#include "analysis/response_points.hpp"

// The sweep the response is read from, and the band its deviation spans.
inline constexpr double quality_sweep_dbfs = -20.0;

// One loop's response from the long sweep at quality_sweep_dbfs: the level's
// lowest and highest from 20 Hz to 20 kHz re the row nearest 1 kHz (996.1 Hz),
// and the -3 dB points either side of it.
struct quality_response {
    std::optional<double> min_db, max_db;
    std::optional<double> minus3_low_hz,
        minus3_high_hz;  // empty: not within the rows (below 12 Hz, or none below Nyquist)
    std::string reason;  // why min and max are empty
    // The band's points 1/24 octave apart (analysis/response_points.hpp): a
    // baseline's mask reads them; empty where min and max are.
    std::vector<response_point> points;
    int64_t sweep_frames = 0;
    double received_peak_dbfs = 0.0;  // the capture's peak sample, for clipping
};

struct quality_outcome {
    bool ran = false;  // the battery played and was analysed
    quality_plan plan;
    std::vector<int64_t> shifts;         // each loop's latency to the frame: where its captures start
    std::vector<double> latency_frames;  // each loop's mean latency
    std::vector<quality_loop_figures> loops;
    std::vector<quality_response> responses;        // per loop
    std::vector<quality_crosstalk_pair> crosstalk;  // every ordered pair by each method, with two loops or more
    std::vector<std::string> replayed;              // a line per segment played again, and why
    double play_seconds = 0.0;                      // the battery's audio, replays included
    bool judged = false;                            // --limits given
    std::vector<quality_verdict> verdicts;
    std::vector<quality_loop_spectra> spectra;  // per loop, decimated, for the HTML report
    // The interface's clock against the system's over the stream so far, ppm;
    // empty where it ran less than 5 s (every loop's, one stream).
    std::optional<double> clock_rate_ppm;
};

// The figures of one loop by the limits' names: the battery's, the response's
// deviation (the larger of |min| and |max|), the latency and the stream's clock.
quality_figure_set quality_outcome_figures(const quality_outcome& q, size_t loop);

// Every ordered pair's crosstalk from the battery's captures (segment, then
// loop), by each method the plan holds (AES17's pairs first): the analysis
// gives each loop's worst; this names the pairs.
void quality_outcome_crosstalk(quality_outcome& q, const std::vector<std::vector<std::vector<float>>>& captures);

// The captures start at each loop's own latency to the frame, which takes the
// loops' difference in delay out of the match's phases: it goes back in.
void quality_outcome_match_delay(quality_outcome& q);
