// The three stream callbacks side by side, each with what puts everything it
// touches back to its program-load state (snapshot frozen), for the tests that
// hold for all of them.
#pragma once
#include <portaudio.h>

#include <cstdint>
#include <vector>

#include "dsp/fft.hpp"
#include "dsp/filters.hpp"
#include "dsp/noise.hpp"
#include "frame/handshake.hpp"
#include "latency/callback.hpp"
#include "latency/state.hpp"
#include "response/callback.hpp"
#include "response/state.hpp"
#include "rtresponse/capture.hpp"
#include "rtresponse/state.hpp"
#include "rtresponse/sweep.hpp"

struct callback_program {
    const char* name;
    PaStreamCallback* callback;
    void (*fresh_run)();              // program-load state, tables built as at start-up
    std::vector<const float*> state;  // what the fingerprint folds in after the run
    std::vector<int64_t> state_counts;
};

inline void karvel_fresh_run()
{
    latency::latency_reset_state();
    rand_reset();
    snapshot_reset();
}

inline void morvane_fresh_run()
{
    response::response_reset_state();
    rtresponse::state_reset();
    rand_reset();
    loopback_filters_reset();
    snapshot_reset();
}

inline void analyser_fresh_run()
{
    rtresponse::state_reset();
    loopback_filters_reset();
    snapshot_reset();
    fft_2048(rtresponse::spectrum_re, rtresponse::spectrum_im, -1, 1);
    build_sweep_table();
}

inline const std::vector<callback_program>& callback_programs()
{
    static const std::vector<callback_program> programs = {
        {"karvel",
         latency_callback,
         karvel_fresh_run,
         {latency::tap_weights, latency::display_snapshot, &latency::stimulus_power},
         {latency::tap_count, latency::tap_count, 1}},
        {"morvane",
         response_callback,
         morvane_fresh_run,
         {response::tap_weights, rtresponse::display_snapshot, &response::stimulus_power},
         {response::tap_count, response::tap_count, 1}},
        {"analyser",
         analyser_callback,
         analyser_fresh_run,
         {rtresponse::capture_ring, rtresponse::display_snapshot},
         {2048, 2048}},
    };
    return programs;
}
