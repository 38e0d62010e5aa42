// --quality on the running stream, after the latency: a sweep at -20 dBFS
// for each loop's response, then the battery's segments back to
// back (analysis/quality_plan.hpp), each loop's capture of each segment
// copied from its first played frame plus that loop's latency, a segment a
// dropout spoiled played again on its own, and the figures analysed and
// judged. The callback only copies the clips made here before the stream starts.
#pragma once
#include <atomic>
#include <cstdint>
#include <vector>

#include "loopcheck/io/capture.hpp"
#include "loopcheck/io/stream.hpp"
#include "loopcheck/outcome/outcome.hpp"

struct quality_clips {
    int battery = -1;  // every segment back to back, each on its outputs
    int replay = -1;   // one segment's room, filled before each replay
    // The sweeps at quality_sweep_dbfs on every loop, for the response: the
    // short one (85 ms at 48 kHz), and the long one (1.4 s) where the short
    // one stands less than capture_lengthen_below_db above the noise. The short
    // one's capture is a third as long, so a dropout spoils it a third as often.
    int short_sweep = -1, long_sweep = -1;
    std::vector<float> short_samples, long_samples;  // the same, mono, for the deconvolution
};

// The plan for the stream's rate and loops, and its clips added to s. Before
// the stream starts: clips are fixed while it runs (the replay clip's samples
// change only while it is not scheduled, and keep their size).
quality_clips quality_run_clips(stream& s, const quality_plan& plan);

// Frames the capture ring must hold for the battery on loops up to latency frames long.
int64_t quality_run_ring_frames(const quality_plan& plan, int64_t latency);

// What the battery needs of the session: its plan (made before the stream
// starts, with the clips), each loop's mean latency as the runs measured it,
// and --limits' items (none: the figures are not judged).
struct battery_plan {
    quality_plan plan;
    std::vector<double> latency_frames;
    std::vector<quality_limit> limits;
};

// Plays and analyses it all for the plan's loops, and compares its figures
// with the plan's limits. A segment or sweep spoiled stream_attempts times
// (the battery's first play counting for its segments) ends it unstable; a stall ends it so too.
battery_outcome quality_run_measure(stream& s, const battery_plan& plan, const quality_clips& clips,
                                    const capture_wait& wait, const std::atomic<bool>* interrupted);
