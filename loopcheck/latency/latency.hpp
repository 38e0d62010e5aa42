// The latency: every loop's round trip, measured by sweeps run after run
// (runs.hpp: each retried when a dropout spoils it, lengthened when weak), the
// loops one after the other, with the response and impulse response kept for
// the files (--response, --ir) and the report. The first mode of the table:
// the others play on the loops as it found them (mode_prior).
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis/analyse.hpp"
#include "analysis/response.hpp"
#include "analysis/run_statistics.hpp"
#include "loopcheck/latency/runs.hpp"
#include "loopcheck/mode.hpp"

inline constexpr double runs_agree_frames = 0.5;  // runs further apart than this are unstable

// The latency's rows of the option table.
std::span<const option_row> latency_options();

// What the command line asks of it, and (prepare) the sweeps it plays.
struct latency_plan {
    double level_dbfs = -12.0;
    int64_t repeat = 1;
    double max_delay_s = 2.0, settle_s = 0.05;
    bool expect = false;
    double expect_frames = 0.0, expect_tolerance = 0.5;
    bool allow_monitor = false;
    bool compensation = false;  // --compensation: what to type where, after the summary
    std::string response_file, ir_file;
    bool report = false;                                   // an HTML report draws the response too
    std::vector<int64_t> out_channels{1}, in_channels{1};  // the loops' channels, from 1
    int64_t buffer_asked = 0;                              // -b, as the conditions name it
    // The sweeps, on every loop at once: their clips and samples.
    runs_setup sweeps;
    std::vector<float> short_sweep, long_sweep, response_sweep;
};

struct latency_outcome {
    mode_end end;
    latency_plan plan;
    stream_facts facts;          // the stream it ran on: the host, the devices, the rate, what the host reports
    int64_t buffer_granted = 0;  // the most frames the callback was handed in one call
    latency_facts measured;      // the runs of every loop, the response, the impulse response
    mode_end files;              // the files written: an error when one could not be
    clock_rate clock;            // the interface's clock against the system's over the stream so far (5 s or more)
};

// The row of the mode table.
mode_row latency_mode();

// Every loop's runs in order: loop 0's are the outcome's own.
std::span<const run_report> latency_loop_runs(const latency_outcome& o, size_t k);
size_t latency_loops(const latency_outcome& o);
// "loop 2 (out 2, in 1)": the k-th loop (from 0), as messages name it.
std::string latency_loop_name(const latency_plan& plan, size_t k);
// The latency stands: measured on every loop, each loop's runs agreeing.
bool latency_stands(const latency_outcome& o);
// --expect passes: the latency stands, on the cable, every loop within it.
bool latency_expect_pass(const latency_outcome& o);
// The first loop's runs' statistics.
run_statistics latency_statistics(const latency_outcome& o);

// What the runs showed beside the verdict: warnings, never a failure of their own.
struct latency_findings {
    bool clipping = false, near_clipping = false, weak_signal = false, inverted = false, echo = false, retried = false,
         input_is_monitor = false;
    double peak = 0.0;  // the input's largest sample
};
latency_findings latency_findings_of(const latency_outcome& o);

// Its words (latency_report.cpp): one run's two lines as it is measured (i
// from 0); the block of the report; its warnings; the JSON's keys.
std::string latency_run_text(const run_report& run, size_t i, const stream_facts& facts);
std::string latency_text(const latency_outcome& o, const mode_judgement& j, text_part part);
std::string latency_quiet(const latency_outcome& o, check_status session);
void latency_json(const latency_outcome& o, const mode_judgement& j, nlohmann::ordered_json& report);
// The page (latency_html.cpp): a failed run's impulse response seen, the key
// figures, the rows of the conditions, the impulse response, the runs, the response.
void latency_html(report_page& page, const latency_outcome& o, const mode_judgement& j, html_part part);

// Its plots (latency_html_plots.cpp). The impulse response on a linear lag
// axis over exactly its excerpt (ir_first .. ir_first + size - 1 frames), its
// values within ±1.15 times the largest; the latency marked (or, for a run
// that found no loop, its largest tap), and the next peak when it falls
// within the excerpt. False when there is no impulse response.
struct report_plot;
bool latency_plot_impulse(const latency_outcome& o, report_plot& out);
// The level of the response's rows on a log axis from 10 Hz to the Nyquist
// frequency, with the ±1 and ±0.1 dB bands; rows under the SNR floor weak.
// The level axis is the first of -3..3, -12..6, -30..10, -60..20 and
// -120..40 dB that holds every row from 20 Hz to 20 kHz (or 0.45 x rate).
bool latency_plot_level(const latency_outcome& o, report_plot& out);
// Their phase, -180..180 degrees, the line broken where it wraps.
bool latency_plot_phase(const latency_outcome& o, report_plot& out);
// Every run's latency against its number, with the mean's uncertainty as a
// band. False for fewer than two runs.
bool latency_plot_runs(const latency_outcome& o, report_plot& out);
// The files (latency_files.cpp): --response and --ir in the formats their
// names ask for, once the latency stands. "" or the reason one cannot be written.
std::string latency_files_write(const latency_outcome& o);
std::string latency_files_ready(const latency_plan& plan);

// The measurement on every loop (loops.cpp): the first loop's runs as the
// outcome's own, the others' in its loops. A loop not found, unstable or
// broken ends it, its reason naming the loop (plan.loop_names); on_run sees the
// first loop's runs.
runs_outcome loops_measure(stream& s, const runs_plan& plan, runs_setup setup, const capture_wait& wait,
                           const runs_hook& on_run, std::span<const int64_t> out_channels,
                           std::span<const int64_t> in_channels);
