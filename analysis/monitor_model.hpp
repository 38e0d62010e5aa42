// The monitor's model of the loop: what capture frame n should hold,
//   dc + q + c2 q^2 + c3 q^3,  q = sum_k Im(G_k A_k e^(i (w_k (n - delay(n)) + phi_k))),
//   delay(n) = delay + slope (n - anchor),
// the stimulus's tones through the loop's gain and phase at each tone (G_k,
// the pure delay taken out) and a delay that slides when the two ends of the
// loop run on two clocks (slope: frames of delay per captured frame); c2 and
// c3 the converters' weak distortion, which at the tones' rare peaks would
// otherwise stand out of the residue.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/monitor_stimulus.hpp"

struct monitor_model {
    std::vector<monitor_tone> tones;
    std::vector<double> gain_re, gain_im;       // G_k A_k
    double dc = 0.0, square = 0.0, cube = 0.0;  // dc, c2, c3
    int64_t anchor = 0;
    double delay = 0.0;
    double slope = 0.0;
};

// Scratch and results of one pass of the model over captured frames; the
// spans are the caller's, one element per tone (acc and residue may be empty).
struct monitor_pass {
    std::span<double> unit_re, unit_im, turn_re, turn_im;  // scratch
    std::span<double> acc_re, acc_im;                      // += residue x e^(-i phase_k), when given
    std::span<double> cube_re, cube_im;                    // += q^3 x e^(-i phase_k), when given (with acc)
    std::span<double> square_re, square_im;                // += q^2 x e^(-i phase_k), when given (with acc)
    double acc_square = 0.0, acc_cube = 0.0, norm_square = 0.0, norm_cube = 0.0;  // and sum r q^2, r q^3, q^4, q^6
    double sum_square = 0.0, sum_cube = 0.0, cross = 0.0;                         // and sum q^2, q^3, q^5
    std::span<double> residue;                                                    // the residue per frame, when given
    std::span<double> derivative;  // d prediction / d delay per frame, when given (the refit's D)
    std::span<double> limits;      // the limit per frame (grown at the signal's peaks), when given
    std::span<double> signal;      // q per frame (the tones' sum, before the polynomial), when given
    double limit = 0.0;            // stop at the first |residue| above it (0: never)
    // Where the prediction (dc aside) exceeds limit_level, the limit grows
    // as the cube of the excess (0: it never grows).
    double limit_level = 0.0;
    bool stop = true;                                 // false: go on, noting the last frame over the limit
    double sum = 0.0, sum_squares = 0.0, peak = 0.0;  // of the residue over the frames done
    double peak_signal = 0.0;                         // the largest |prediction - dc| over them
    size_t done = 0;                                  // frames done; the one past them exceeded the limit
    int64_t last_over = -1;                           // with stop false: the last frame over the limit, -1: none
    int64_t* work = nullptr;                          // += tones per frame predicted, when given
};

// The model's delay at frame.
double monitor_model_delay_at(const monitor_model& m, int64_t frame);

// e^(i phase_k) at frame and the per-frame turn e^(i w_k (1 - slope)).
void monitor_model_phasors(const monitor_model& m, int64_t frame, monitor_pass& p);

// The residue of y (frames first ..) against the model; see monitor_pass.
void monitor_model_run(const monitor_model& m, std::span<const float> y, int64_t first, monitor_pass& p);

// The RMS of the model's signal (without dc).
double monitor_model_level(const monitor_model& m);

// A bound on |d^2 prediction / d delay^2| (sum of |G_k A_k| w_k^2, the
// distortion aside): what a correction e of the delay leaves, at most
// e^2 / 2 times it, when the residue is projected linearly.
double monitor_model_curvature(const monitor_model& m);

// The model with its delay moved by e frames at frame `at` and its slope by
// de frames a frame, anchored there.
void monitor_model_move(monitor_model& m, int64_t at, double e, double de);
