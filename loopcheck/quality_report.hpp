// What --quality found, as loopcheck keeps it for the report: the battery's
// figures per loop (analysis/quality_figures.hpp), each loop's response from
// the -20 dBFS sweep, the crosstalk of every pair of loops, the segments that
// were played again and the verdicts on the --limits.
#pragma once
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "analysis/quality_figures.hpp"
#include "analysis/quality_limits.hpp"
#include "loopcheck/quality_spectra.hpp"

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
    int64_t sweep_frames = 0;
    double received_peak_dbfs = 0.0;  // the capture's peak sample, for clipping
};

// Loop to's input at a frequency re loop from's, while from alone plays.
struct quality_crosstalk_pair {
    int from = 0, to = 0;           // loops, from 0
    std::optional<double> db_1khz;  // at the crosstalk tone
    std::vector<double> octave_hz;  // the octave centres as played
    std::vector<std::optional<double>> octave_db;
    std::string reason;  // why db_1khz is empty
};

struct quality_outcome {
    bool ran = false;  // the battery played and was analysed
    quality_plan plan;
    std::vector<int64_t> shifts;         // each loop's latency to the frame: where its captures start
    std::vector<double> latency_frames;  // each loop's mean latency
    std::vector<quality_loop_figures> loops;
    std::vector<quality_response> responses;        // per loop
    std::vector<quality_crosstalk_pair> crosstalk;  // every ordered pair, with two loops or more
    std::vector<std::string> replayed;              // a line per segment played again, and why
    double play_seconds = 0.0;                      // the battery's audio, replays included
    bool judged = false;                            // --limits given
    std::vector<quality_verdict> verdicts;
    std::vector<quality_loop_spectra> spectra;  // per loop, decimated, for the HTML report
};

// The figures of one loop by the limits' names: the battery's, the response's
// deviation (the larger of |min| and |max|) and the latency.
quality_figure_set quality_report_figures(const quality_outcome& q, size_t loop);

// The battery's warnings: segments played again after a dropout.
std::string quality_report_warnings(const quality_outcome& q);
// The text: a block per loop, every figure with its conditions; the crosstalk,
// the match and the verdicts after them. out and in: the loops' channels, from 1.
std::string quality_report_text(const quality_outcome& q, const std::vector<int64_t>& out,
                                const std::vector<int64_t>& in);

// The JSON under "quality": the figures under channels[k] by the names the
// documentation gives, null with a "<name>_reason" beside where not taken.
nlohmann::ordered_json quality_report_json(const quality_outcome& q, const std::vector<int64_t>& out,
                                           const std::vector<int64_t>& in);

// The JSON's "limits": {figure, value, min, max, pass} per limit.
nlohmann::ordered_json quality_report_limits_json(const quality_outcome& q);
