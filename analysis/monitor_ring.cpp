// The detector's ring of the capture and its scratch.
#include <algorithm>

#include "analysis/monitor_steps.hpp"

float monitor_ring_at(const monitor_detector& d, int64_t frame)
{
    d.work++;
    return d.ring[static_cast<size_t>(frame) & (d.ring.size() - 1)];
}

// Frames first .. first + count - 1 (all in the ring) into d.frames.
std::span<const float> monitor_ring_stretch(monitor_detector& d, int64_t first, int64_t count)
{
    return monitor_ring_copy(d, first, count, d.frames);
}

std::span<const float> monitor_ring_copy(const monitor_detector& d, int64_t first, int64_t count,
                                         std::vector<float>& into)
{
    for (int64_t n = 0; n < count; n++)
        into[static_cast<size_t>(n)] = monitor_ring_at(d, first + n);
    return std::span<const float>(into).first(static_cast<size_t>(count));
}

// The oldest frame still in the ring and valid.
int64_t monitor_ring_oldest(const monitor_detector& d)
{
    return std::max(d.valid_from, d.fed_end - static_cast<int64_t>(d.ring.size()));
}

monitor_pass monitor_pass_of(monitor_detector& d)
{
    monitor_pass p;
    p.unit_re = d.unit_re;
    p.unit_im = d.unit_im;
    p.turn_re = d.turn_re;
    p.turn_im = d.turn_im;
    p.limit_level = d.learnt_level;
    p.work = &d.work;
    return p;
}

monitor_align_work monitor_align_of(monitor_detector& d)
{
    monitor_align_work w;
    w.rho_re = d.rho_re;
    w.rho_im = d.rho_im;
    w.weight = d.weight;
    w.window = d.window_weights;
    w.pass = monitor_pass_of(d);
    w.trial = &d.trial;
    return w;
}

void monitor_adopt_trial(monitor_detector& d)
{
    d.model.gain_re = d.trial.gain_re;
    d.model.gain_im = d.trial.gain_im;
    d.model.delay = d.trial.delay;
    d.model.dc = d.trial.dc;
    d.model.square = d.trial.square;
    d.model.cube = d.trial.cube;
}

int64_t monitor_capture_copy(const monitor_detector& d, int64_t first_frame, std::span<float> out)
{
    int64_t there = 0;
    const int64_t low = d.fed_any ? monitor_ring_oldest(d) : 0;
    for (size_t i = 0; i < out.size(); i++) {
        const int64_t frame = first_frame + static_cast<int64_t>(i);
        const bool held = d.fed_any && frame >= low && frame < d.fed_end;
        out[i] = held ? monitor_ring_at(d, frame) : 0.0f;
        there += held ? 1 : 0;
    }
    return there;
}

int64_t monitor_frames_fed(const monitor_detector& d) { return d.fed_end; }

int64_t monitor_work(const monitor_detector& d) { return d.work; }
