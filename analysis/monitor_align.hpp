// Finding the capture's alignment again after a disturbance: how far the
// answer moved against the model, to a fraction of a frame, from one window
// of clean capture, within a reach of many thousand frames.
#pragma once
#include <cstdint>
#include <span>

#include "analysis/monitor_model.hpp"

struct monitor_shift {
    bool found = false;
    double frames = 0.0;         // stimulus frames the capture moved ahead: + when frames were lost
    bool level_changed = false;  // the tones' gain or phase changed beyond a shift
    double level_db = 0.0;       // the tones' mean gain change
    int sign = 1;                // -1: the capture inverted against the model
};

// A shift the tones' phases suggest, of either polarity, refined to a
// fraction of a frame; score: sum_k |G_k|^2 Re(rho_k e^(-i w_k d)) x sign.
struct monitor_candidate {
    double frames = 0.0;
    int sign = 1;
    double score = 0.0;
};
inline constexpr int monitor_align_candidates_most = 8;

// The caller's scratch: one element per tone, and the window's weights.
struct monitor_align_work {
    std::span<double> rho_re, rho_im, weight;
    std::span<const double> window;  // monitor_align_window of the window's length
    monitor_pass pass;               // phasor scratch; limit and accumulators unused
    monitor_model* trial = nullptr;  // the model tried; on success the model to adopt
    double mean = 0.0;               // the window's weighted mean of the capture: its DC
};

// A 4-term Blackman-Harris window (sidelobes 92 dB down) into out.
void monitor_align_window(std::span<double> out);

// Each tone of y (frames first .., window.size() of them) against the
// model's: rho_k = 1 when the capture still follows it, e^(i w_k d) when it
// moved ahead by d frames.
void monitor_align_ratios(const monitor_model& m, std::span<const float> y, int64_t first, monitor_align_work& w);

// The best shifts of y's tones against the model's within +-reach frames,
// of either polarity (an inverted capture's phases all turned by pi: a
// polarity flip is the same shift, not some distant one whose phases happen
// to come close), refined, best first, into out; returns how many. After
// monitor_align_ratios on the window.
int monitor_align_candidates(const monitor_model& m, int64_t reach, monitor_align_work& w,
                             std::span<monitor_candidate> out);

// The trial model (w.trial) for a candidate: the model shifted by it and
// inverted with it; with level, each tone's gain and phase as the ratios
// found them (and the window's DC).
void monitor_align_trial(const monitor_model& m, const monitor_align_work& w, const monitor_candidate& c, bool level);

// The tones' common gain of model b over model a (complex, weighted by a's
// power): 1 the same, -1 inverted, 0.5 6 dB down.
void monitor_align_common_gain(const monitor_model& a, const monitor_model& b, double& re, double& im);

// The shift of y against the model within +-reach frames: the few best
// integer shifts by the tones' phases, each refined to a fraction of a frame,
// then tried on the samples themselves; the first whose residue stays within
// peak_limit and whose RMS within rms_limit wins. With allow_level, a change
// of the tones' gain and phase (and of the DC with them) is taken too, and
// said so.
monitor_shift monitor_align(const monitor_model& m, std::span<const float> y, int64_t first, int64_t reach,
                            double peak_limit, double rms_limit, bool allow_level, monitor_align_work& w);

// The stretch between two disturbances, whose ends are not clean: the shift
// of y against the model (w.window as long as y), among the few best by the
// tones' phases, that leaves the earliest run of at least least frames
// within peak_limit, [run_first, run_end) in y's frames. residue: the
// caller's scratch, as long as y.
// With both_signs, inverted shifts are tried too. w.trial holds the model of the run found.
struct monitor_run_shift {
    bool found = false;
    double frames = 0.0;
    int sign = 1;
    int64_t run_first = 0, run_end = 0;
};
monitor_run_shift monitor_align_run(const monitor_model& m, std::span<const float> y, int64_t first, int64_t reach,
                                    double peak_limit, int64_t least, bool both_signs, monitor_align_work& w,
                                    std::span<double> residue);
