// --monitor: after the latency, a stimulus of twelve tones played on the
// loop for a duration (or until Ctrl-C), every frame that comes back checked
// against the detector's prediction (analysis/monitor*), every glitch named
// as it is found, the clocks' drift at the end. A live mode: it prints its
// lines as it runs (monitor_report.hpp), the session's report so far first,
// and its summary last.
#pragma once
#include <cstdint>
#include <nlohmann/json.hpp>
#include <span>
#include <string>

#include "analysis/monitor_stimulus.hpp"
#include "loopcheck/mode.hpp"
#include "loopcheck/monitor/monitor_run.hpp"

std::span<const option_row> monitor_options();

// What the command line asks of it, and (prepare) its stimulus and clip.
struct monitor_plan {
    double duration_s = 0.0;      // 0: until Ctrl-C
    int64_t max_glitches = -1;    // -1: no limit
    double max_drift_ppm = -1.0;  // -1: no limit
    std::string save_dir;         // "": no snippets
    double load_percent = 0.0;    // the callback kept busy meanwhile (--buffers' soak under --load)
    monitor_stimulus stimulus;
    int clip = -1;
};

struct monitor_outcome {
    mode_end end;
    monitor_plan plan;
    monitor_trace trace;        // what it saw: its end's figures and, for the HTML report, its trace
    monitor_progress progress;  // where it stood when it ended
    clock_rate clock;           // the interface's clock against the system's over the stream's life
};

mode_row monitor_mode();

// "30s", "10m" or "10min", "8h", "1h30m" (units largest first, each once),
// "90" (a bare number: seconds) or "0": seconds in duration_s. A duration is
// 0 (until Ctrl-C) or 1 s to 1000 h; "" or why not.
std::string monitor_duration_parse(const std::string& text, double& duration_s);

// Its stimulus and clip for the stream, and the ring it needs: "" (its design
// throws for a rate it cannot serve: the mode fails, the session goes on).
std::string monitor_prepare(monitor_plan& plan, stream& s);

// The watch on the loop as the modes before found it (prior: its latency and
// signed gain), the lines handed to sink as they come.
monitor_outcome monitor_run_with(const monitor_plan& plan, const mode_prior& prior, mode_run& run,
                                 const monitor_sink& sink);

// Its figures against its limits, each that fails: a stimulus never found,
// glitches (without --max-glitches), more glitches than --max-glitches, a
// drift beyond --max-drift.
mode_judgement monitor_judge(const monitor_outcome& outcome);

// Its words (monitor_report.cpp): the summary (text, or the summary line's
// keys), and the lines as it runs to a person or a script (monitor_printer).
std::string monitor_text(const monitor_outcome& o, const mode_judgement& j, text_part part);
void monitor_json(const monitor_outcome& o, const mode_judgement& j, nlohmann::ordered_json& line);
monitor_sink monitor_printer(mode_run& run);

// Its section of the page (monitor_html.cpp).
void monitor_html(report_page& page, const monitor_outcome& o, const mode_judgement& j, html_part part);

// Its plots (monitor_html_plots.cpp). The loop's delay against time from the
// stimulus's start (s, min or h by the run's length: up to 600 s, up to 600
// min, beyond), each glitch kept a red line at its time; the line of the
// delay breaks between two points with a glitch between them.
struct report_plot;
bool monitor_plot_delay(const monitor_trace& trace, report_plot& out);
// The time unit of the delay's axis for a run of checked_s: 1, 60 or 3600 s.
double monitor_delay_unit_s(double checked_s);
// The histogram of the glitch-free stretches on a log axis of seconds, from
// the bin before the first that holds one to the bin after the last.
bool monitor_plot_stretches(const monitor_trace& trace, report_plot& out);
