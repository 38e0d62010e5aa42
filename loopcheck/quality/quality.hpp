// --quality: the battery of tones and sweeps after the latency, on every loop
// at once (analysis/quality_plan.hpp): a sweep at -20 dBFS for each loop's
// response, then the battery's segments back to back, each loop's capture of
// each segment copied from its first played frame plus that loop's latency, a
// segment a dropout spoiled played again on its own, and the figures analysed
// and judged against --limits. The callback only copies the clips made before
// the stream starts.
#pragma once
#include <atomic>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <vector>

#include "analysis/quality_limits.hpp"
#include "analysis/quality_outcome.hpp"
#include "loopcheck/io/capture.hpp"
#include "loopcheck/mode.hpp"

std::span<const option_row> quality_options();

struct quality_clips {
    int battery = -1;  // every segment back to back, each on its outputs
    int replay = -1;   // one segment's room, filled before each replay
    // The sweeps at quality_sweep_dbfs on every loop, for the response: the
    // short one (85 ms at 48 kHz), and the long one (1.4 s) where the short
    // one stands less than capture_lengthen_below_db above the noise. The short
    // one's capture is a third as long, so a dropout spoils it a third as often.
    int short_sweep = -1, long_sweep = -1;
    std::vector<float> short_samples, long_samples;  // the same, mono, for the deconvolution
};

// What the command line asks of it (--quality, --limits, --crosstalk), and (prepare) the
// battery's plan for the stream's rate and loops, and its clips.
struct battery_plan {
    quality_limits limits;                                 // --limits' items, read before anything is measured
    std::vector<int64_t> out_channels{1}, in_channels{1};  // the loops' channels, from 1
    quality_crosstalk_method crosstalk = quality_crosstalk_method::automatic;  // --crosstalk
    double max_delay_s = 2.0;  // the longest loop: the ring holds a segment beyond it
    quality_plan plan;
    quality_clips clips;
};

struct battery_outcome {
    mode_end end;
    battery_plan plan;
    quality_outcome quality;
};

mode_row quality_mode();

// The plan's clips added to s. Before the stream starts: clips are fixed
// while it runs (the replay clip's samples change only while it is not
// scheduled, and keep their size).
quality_clips quality_run_clips(stream& s, const quality_plan& plan);

// Frames the capture ring must hold for the battery on loops up to latency frames long.
int64_t quality_run_ring_frames(const quality_plan& plan, int64_t latency);

// Plays and analyses it all for the plan's loops, each at its mean latency
// (latency_frames, one a loop), and compares its figures with the plan's
// limits. A segment or sweep spoiled stream_attempts times (the battery's
// first play counting for its segments) ends it unstable; a stall ends it so too.
battery_outcome quality_run_measure(stream& s, const battery_plan& plan, std::span<const double> latency_frames,
                                    const capture_wait& wait, const std::atomic<bool>* interrupted);

// Its words (quality_report.cpp): the text, a block per loop, every figure
// with its conditions, the crosstalk, the match and the limits' verdicts (or
// its warnings alone: segments played again after a dropout); its keys of the
// JSON, "quality" (the figures under channels[k] by the names the
// documentation gives, null with a "<name>_reason" beside where not taken)
// and "limits" ({figure, value, min, max, pass} per limit).
std::string quality_text(const battery_outcome& o, const mode_judgement& j, text_part part);
void quality_json(const battery_outcome& o, const mode_judgement& j, nlohmann::ordered_json& report);

// Its section of the page (quality_html.cpp).
void quality_html(report_page& page, const battery_outcome& o, const mode_judgement& j, html_part part);

// Its plots (quality_html_plots.cpp), all on the response's frequency axis
// (10 Hz to the Nyquist frequency, log). A tone's spectrum (loop, tone: the
// index in quality_loop_figures::tones) in dBFS, -200..0, the fundamental's
// level and each harmonic in the band marked, and the THD+N residue's RMS
// level as a line across the band.
struct report_plot;
inline constexpr double quality_spectrum_low_dbfs = -200.0;
inline constexpr const char* quality_harmonic_colour = "#ff7f0e";
inline constexpr const char* quality_residue_colour = "#2ca02c";
bool quality_plot_tone_spectrum(const quality_outcome& q, size_t loop, size_t tone, report_plot& out);
// The silent outputs' noise spectrum, unweighted and A-weighted.
bool quality_plot_noise_spectrum(const quality_outcome& q, size_t loop, report_plot& out);
// Every ordered pair's all-driven crosstalk at the octave centres, -160..0
// dB. False with one loop, or no all-driven segment.
bool quality_plot_crosstalk(const quality_outcome& q, report_plot& out);
// A loop's harmonics H2 ... H10 re the fundamental at each tone's level, a
// bar each (the levels side by side at each order, in plot_colours' order),
// a bound (a harmonic below its noise) hatched up to the level it lies
// below, each floor a grey dot; the level axis from the lowest floor to the
// highest bar, in 20 dB steps. False without a tone measured.
inline constexpr const char* quality_floor_colour = "#7f7f7f";
bool quality_plot_harmonics(const quality_outcome& q, size_t loop, report_plot& out);
