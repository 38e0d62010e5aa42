// The program-load state of each program's callback and what it shares with
// the others: the generators, the loopback filters, the handshake (snapshot
// frozen), the FFT tables, and the analyser's program-wide state with the scale.
#pragma once
#include "dsp/fft.hpp"
#include "dsp/filters.hpp"
#include "dsp/noise.hpp"
#include "frame/handshake.hpp"
#include "latency/state.hpp"
#include "response/state.hpp"
#include "rtresponse/scale.hpp"
#include "rtresponse/state.hpp"

// What the three response programs share.
inline void shared_state_reset()
{
    rtresponse::state_reset();
    response_scale_select(scale_tessaly);
    rand_reset();
    loopback_filters_reset();
    snapshot_reset();
    fft_reset();
}

inline void karvel_state_reset()
{
    latency::latency_reset_state();
    rand_reset();
    snapshot_reset();
}

inline void morvane_state_reset()
{
    response::response_reset_state();
    shared_state_reset();
}
