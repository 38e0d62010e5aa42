// The three stream callbacks side by side, each with what puts everything it
// touches back to its program-load state (snapshot frozen), for the tests that
// hold for all of them.
#pragma once
#include <portaudio.h>

#include <cstdint>
#include <vector>

#include "common/program_state.hpp"
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
    void (*fresh_run)();                    // program-load state, tables built as at start-up
    std::vector<const float*> state;        // what the fingerprint folds in after the run: the published
    std::vector<int64_t> state_counts;      // array first, then the snapshot it is published to
    std::vector<const int64_t*> positions;  // the ring positions
};

inline void analyser_fresh_run()
{
    shared_state_reset();
    fft_2048(rtresponse::spectrum_re, rtresponse::spectrum_im, -1, 1);
    build_sweep_table();
}

inline const std::vector<callback_program>& callback_programs()
{
    static const std::vector<callback_program> programs = {
        {"karvel",
         latency_callback,
         karvel_state_reset,
         {latency::tap_weights, latency::display_snapshot, &latency::stimulus_power},
         {latency::tap_count, latency::tap_count, 1},
         {&latency::history_pos, &latency::update_pos}},
        {"morvane",
         response_callback,
         morvane_state_reset,
         {response::tap_weights, rtresponse::display_snapshot, &response::stimulus_power},
         {response::tap_count, response::tap_count, 1},
         {&response::history_pos, &response::update_pos}},
        {"analyser",
         analyser_callback,
         analyser_fresh_run,
         {rtresponse::capture_ring, rtresponse::display_snapshot},
         {2048, 2048},
         {&rtresponse::sweep_pos}},
    };
    return programs;
}
