// Morvane's model state with its program-load values.
#include "response/state.hpp"
#include "dsp/adaptive.hpp"

namespace response {

float stimulus_history[2 * tap_count + 1] = {};
int64_t history_pos = 0;
int64_t update_pos = 0;
float tap_weights[tap_count + 1] = {};
float stimulus_power = 1.0f;  // far above the stimulus's 0.0133: the adaptation starts slowly
int64_t reset_pending = 1;

void response_reset_state()
{
    nlms_reset(stimulus_history, tap_weights, tap_count, history_pos, update_pos, stimulus_power);
    reset_pending = 1;
}

}  // namespace response
