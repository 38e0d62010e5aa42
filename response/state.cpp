// Morvane's model state with its program-load values.
#include <algorithm>
#include <iterator>

#include "response/state.hpp"

namespace response {

float stimulus_history[2 * tap_count + 1] = {};
int64_t history_pos = 0;
int64_t update_pos = 0;
float tap_weights[tap_count + 1] = {};
float stimulus_power = 1.0f;  // far above the stimulus's 0.0133: the adaptation starts slowly
int64_t reset_pending = 1;

// Program-load values again, so that every test starts from a fresh run.
void response_reset_state()
{
    std::fill(std::begin(stimulus_history), std::end(stimulus_history), 0.0f);
    history_pos = 0;
    update_pos = 0;
    std::fill(std::begin(tap_weights), std::end(tap_weights), 0.0f);
    stimulus_power = 1.0f;
    reset_pending = 1;
}

}  // namespace response
