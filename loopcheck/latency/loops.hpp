// Several loops at once (--out 1,2 --in 1,2): the stimuli laid out for every
// loop's output, and the latency measured per loop, the sweeps played on
// every loop together and each loop's capture analysed on its own.
#pragma once
#include <span>
#include <vector>

#include "loopcheck/io/capture.hpp"
#include "loopcheck/io/stream.hpp"
#include "loopcheck/latency/runs.hpp"
#include "loopcheck/outcome/outcome.hpp"

// The latency of every loop the stream carries: the first loop's runs as
// the outcome's own (its text and JSON as with one loop), the others' in its
// loops, each with the channels in out_channels and in_channels (1-based). A
// loop not found, unstable or broken ends it, its reason naming the loop
// (plan.loop_names); on_run sees the first loop's runs.
latency_outcome loops_measure(stream& s, const latency_plan& plan, runs_setup setup, const capture_wait& wait,
                              const runs_hook& on_run, std::span<const int64_t> out_channels,
                              std::span<const int64_t> in_channels);
