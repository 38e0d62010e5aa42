// --reopen N: the latency from one start of the stream to the next. Many USB
// interfaces come back from each start with a round trip a millisecond or so
// away from the last, which a measurement inside one stream (--repeat) cannot
// see. N starts: the first on the stream as the session opened it, then N - 1
// times the stream closed and opened again (on JACK and PipeWire a new client,
// its ports registered and connected anew: the server's device is not
// restarted), at each the latency as a plain run measures it and the time
// from the opening to the first callback; the time from the first frame
// played (a click, the start's first sound) to the first captured frame that
// holds it; the starts' mean, spread and whether they agree within their
// uncertainties. Alone, as --buffers: it
// takes the stream to itself.
#pragma once
#include <any>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "analysis/first_heard.hpp"
#include "loopcheck/io/capture.hpp"
#include "loopcheck/mode.hpp"

std::span<const option_row> reopen_options();

struct reopen_plan {
    int64_t starts = 0;
    std::any latency;  // the latency's plan, as a plain run reads it
    // (prepare) The click each start plays first, at the sweeps' peak level: its clip in the stream.
    int click_clip = -1;
    double rate = 48000.0, max_delay_s = 2.0;  // the stream's, and how far its answer is looked for
};

// One start: its latency (the runs' mean and its uncertainty), or why not.
struct reopen_start {
    bool measured = false;
    double latency_frames = 0.0, uncertainty_frames = 0.0;
    double open_ms = -1.0;  // from the opening to the first callback; -1 not known
    int64_t buffer = 0;     // the most frames the callback was handed
    std::string failure;    // why it was not measured
    // From the click's frame to the first captured frame that holds it; -1
    // where it was not heard (first_failure says why).
    int64_t first_heard_frames = -1;
    std::string first_failure;
};

// The starts' figures: over those measured.
struct reopen_statistics {
    int64_t measured = 0;
    double mean = 0.0, min = 0.0, max = 0.0, sd = 0.0;
    // The highest and the lowest start within the sum of their uncertainties.
    bool agree = true;
    // The first played frame to its first captured sound, over the starts where it was heard.
    int64_t heard = 0;
    double heard_mean = 0.0, heard_min = 0.0, heard_max = 0.0, heard_sd = 0.0;
};

struct reopen_outcome {
    mode_end end;
    reopen_plan plan;
    stream_facts facts;
    std::vector<reopen_start> starts;
};

mode_row reopen_mode();

// The statistics of the starts measured (pure).
reopen_statistics reopen_statistics_of(const std::vector<reopen_start>& starts);

// The start's first sound: the click played as soon as the stream allows,
// its answer captured on loop 1 until heard (and 20 ms past it) or until
// max_delay_s has passed, the noise before it kept; made again when a dropout
// spoiled it (three attempts). frames: the click's frame to the first captured
// frame that holds it, or -1 with the reason in failure.
struct reopen_first {
    int64_t frames = -1;
    std::string failure;
    first_heard heard;
    int attempts = 0;
};
reopen_first reopen_first_heard(stream& s, const reopen_plan& p, const capture_wait& wait);

// Its section of the page (reopen_html.cpp): each start's round trip with its
// uncertainty against the start's number, the mean and min..max marked, and a
// row per start. The plot's series (report_html.hpp): x the starts, y their
// round trips; more[0] the uncertainties. False with no start measured.
struct report_plot;
bool reopen_plot(const reopen_outcome& o, report_plot& out);
void reopen_html(report_page& page, const reopen_outcome& o, const mode_judgement& j, html_part part);
