// Program-wide arrays and switch shared by the response programs.
#include "rtresponse/shared_response.hpp"

#include <algorithm>
#include <iterator>

float display_snapshot[2049] = {};
float spectrum_re[2049] = {};
float spectrum_im[2049] = {};
int64_t loopback_mode = -1;

// Back to the values at program load.
void response_shared_reset()
{
    std::fill(std::begin(display_snapshot), std::end(display_snapshot), 0.0f);
    std::fill(std::begin(spectrum_re), std::end(spectrum_re), 0.0f);
    std::fill(std::begin(spectrum_im), std::end(spectrum_im), 0.0f);
    loopback_mode = -1;
}
