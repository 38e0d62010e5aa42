// The program-load state of what the response programs share: the analyser's
// program-wide state and snapshot, the scale, the generators, the loopback
// filters, the handshake and the FFT tables.
#pragma once
#include "dsp/fft.hpp"
#include "dsp/filters.hpp"
#include "dsp/noise.hpp"
#include "frame/handshake.hpp"
#include "rtresponse/scale.hpp"
#include "rtresponse/state.hpp"

inline void shared_state_reset()
{
    rtresponse::state_reset();
    response_scale_select(scale_tessaly);
    rand_reset();
    loopback_filters_reset();
    snapshot_reset();
    fft_reset();
}
