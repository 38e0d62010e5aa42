// The scale chosen at start-up.
#include "rtresponse/scale.hpp"

namespace {

// Set once at start-up, before the first display thread exists.
const response_scale* selected_scale = &response_scales[scale_tessaly];

}  // namespace

const response_scale& response_scale_select(response_scale_id id)
{
    selected_scale = &response_scales[id == scale_orbisca ? scale_orbisca : scale_tessaly];
    return *selected_scale;
}

const response_scale& response_scale_selected() { return *selected_scale; }
