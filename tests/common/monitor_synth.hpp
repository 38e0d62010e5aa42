// A simulated interface for the monitor's detector, synthesised exactly and
// fast enough for simulated hours: the monitor's stimulus read at the
// position the capture's clock gives each frame (its rate, rate steps and an
// Ornstein-Uhlenbeck wander, every frame), each tone's phase from its exact
// integer phase at a whole frame every 64 frames and rotated between (no
// interpolation filter, so no error of one: 1e-9 of the signal); then the
// played stream's glitches (slips, mutes, underruns), a linear-phase
// converter filter, the gain, a polynomial, hum, Gaussian noise, a DC
// offset, and the capture's glitches (slips and zeros of whole captured
// frames, clicks, bursts, a level or polarity change). Each glitch is asked
// for at the captured frame where it is to show; the synthesis says where
// it put it. Shared by the unit tests and the harness.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>
#include <vector>

#include "analysis/monitor_stimulus.hpp"

namespace synth {

enum class what {
    capture_drop,     // N captured frames lost
    capture_insert,   // the N captured frames before repeated
    capture_zeros,    // N captured frames of digital zero
    playback_drop,    // N played frames lost before the converter (through its filter)
    playback_insert,  // the N played frames before played again
    playback_zeros,   // N played frames muted (through the filter)
    underrun,         // N played frames of silence, then the stream where it was: the delay grows by N
    click,            // value added to one frame
    burst,            // N frames of Gaussian noise of RMS value
    level,            // the gain times value from the frame on
    polarity,         // the gain inverted from the frame on
    rate_step,        // the clock's offset becomes value ppm from the frame on
};

struct glitch {
    what kind = what::click;
    int64_t frame = 0;  // the captured frame (from the synthesis's first) where it shows
    int64_t frames = 0;
    double value = 0.0;
};

struct options {
    double rate = 48000.0;
    double latency = 300.25;                    // frames at the first captured frame (the filter's centre)
    double ppm = 0.0;                           // the capture's clock fast by ppm: the delay grows ppm 1e-6 a frame
    double wander_rms = 0.0, wander_tau = 1.0;  // ppm, seconds
    double gain = 0.5;
    int filter_half = 0;  // a linear-phase low-pass of 2 half + 1 taps (Blackman sinc, cut-off 0.45 of the rate)
    double a2 = 0.0, a3 = 0.0;
    double noise_rms = 3.1623e-5;  // -90 dBFS
    double hum_hz = 0.0, hum_amplitude = 0.0;
    double dc = 0.0;
    uint64_t seed = 1;
    int64_t first_frame = 0;  // the detector's number of the first captured frame (which holds stimulus
                              // frame first_frame - latency: the loop played stimulus frame i at frame i)
};

// xoshiro256+ and Marsaglia's polar method: fast normal numbers.
struct random_source {
    uint64_t s[4];
    double spare = 0.0;
    bool has_spare = false;

    explicit random_source(uint64_t seed)
    {
        for (uint64_t& x : s) {
            seed += 0x9E3779B97F4A7C15ull;
            uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            x = z ^ (z >> 31);
        }
    }
    uint64_t bits()
    {
        const uint64_t result = s[0] + s[3], t = s[1] << 17;
        s[2] ^= s[0], s[3] ^= s[1], s[1] ^= s[2], s[0] ^= s[3], s[2] ^= t;
        s[3] = (s[3] << 45) | (s[3] >> 19);
        return result;
    }
    double unit() { return static_cast<double>(bits() >> 11) * (1.0 / 9007199254740992.0); }
    double normal()
    {
        if (has_spare) {
            has_spare = false;
            return spare;
        }
        double u, v, r;
        do {
            u = 2.0 * unit() - 1.0, v = 2.0 * unit() - 1.0, r = u * u + v * v;
        } while (r >= 1.0 || r == 0.0);
        const double f = std::sqrt(-2.0 * std::log(r) / r);
        spare = v * f, has_spare = true;
        return u * f;
    }
};

// The synthesis, a block at a time.
class interface {
public:
    interface(const monitor_stimulus& s, const options& o, std::vector<glitch> glitches)
        : s_(s), o_(o), random_(o.seed), glitches_(std::move(glitches)), gain_(o.gain)
    {
        std::stable_sort(glitches_.begin(), glitches_.end(),
                         [](const glitch& a, const glitch& b) { return a.frame < b.frame; });
        const size_t tones = s.tones.size();
        re_.assign(tones, 0.0), im_.assign(tones, 0.0), turn_re_.assign(tones, 0.0), turn_im_.assign(tones, 0.0);
        for (size_t k = 0; k < tones; k++)
            turn_re_[k] = std::cos(s.tones[k].omega), turn_im_[k] = std::sin(s.tones[k].omega);
        const int half = o.filter_half;
        taps_.assign(static_cast<size_t>(2 * half + 1), 0.0);
        if (half == 0) {
            taps_[0] = 1.0;
        } else {
            double sum = 0.0;
            for (int j = -half; j <= half; j++) {
                const double t = 0.9 * j, w = std::numbers::pi * j / (half + 1);
                const double sinc = j == 0 ? 1.0 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
                sum += taps_[static_cast<size_t>(j + half)] =
                    sinc * (0.42 + 0.5 * std::cos(w) + 0.08 * std::cos(2 * w));
            }
            for (double& t : taps_)
                t /= sum;
        }
        pre_.assign(taps_.size(), 0.0);
        where_.assign(taps_.size(), 0.0);
        history_.assign(history_size, 0.0f);
        offset_ppm_ = o.ppm;
        if (o.wander_rms > 0.0) {
            pull_ = std::exp(-1.0 / (o.wander_tau * o.rate));
            kick_ = o.wander_rms * std::sqrt(-std::expm1(-2.0 / (o.wander_tau * o.rate)));
            wander_ = o.wander_rms * random_.normal();
        }
        // The pre-filter stage's first frame: half the filter before the first captured frame's centre.
        whole_ = o.first_frame - half - static_cast<int64_t>(std::floor(o.latency));
        part_ = -(o.latency - std::floor(o.latency));
        normalise();
        hum_turn_ = 2.0 * std::numbers::pi * o.hum_hz / o.rate;
        // The pre-filter stage runs half the filter ahead: fill it.
        for (int j = 0; j < 2 * half; j++)
            pre_stage();
    }

    // The next frames.
    void fill(std::span<float> out)
    {
        for (float& y : out)
            y = next();
    }

    // The stimulus position the last frame made was centred on (its filter's middle tap): the truth of
    // the delay there is its frame less this.
    double last_position() const { return last_position_; }
    int64_t frames_made() const { return out_; }
    // The clock's offset now, ppm, the wander in it.
    double offset_now_ppm() const { return offset_ppm_ + wander_; }

private:
    static constexpr int64_t history_size = 1 << 14;  // repeats up to 16384 frames
    static constexpr int64_t resync = 64;

    void normalise()
    {
        const double f = std::floor(part_);
        whole_ += static_cast<int64_t>(f), part_ -= f;
    }

    // The stimulus's phasors at the current position, exactly.
    void phasors()
    {
        for (size_t k = 0; k < s_.tones.size(); k++) {
            const monitor_tone& t = s_.tones[k];
            const double phase = monitor_tone_phase(t, whole_) + t.omega * part_;
            re_[k] = std::cos(phase), im_[k] = std::sin(phase);
        }
        since_sync_ = 0;
        synced_ = true;
    }

    bool muted(double at) const
    {
        for (const auto& m : mutes_)
            if (at >= m.first && at < m.second)
                return true;
        return false;
    }

    // One frame of the played stream read at the clock, before the filter.
    void pre_stage()
    {
        const int64_t k = internal_pre_++;
        // Playback glitches: placed so that they show at their captured frame through the filter's centre.
        while (next_playback_ < glitches_.size()) {
            const glitch& g = glitches_[next_playback_];
            if (!is_playback(g.kind)) {
                next_playback_++;
                continue;
            }
            const int64_t at = internal_ + (g.frame - out_) + o_.filter_half;
            if (k < at)
                break;
            const double here = static_cast<double>(whole_) + part_;
            if (g.kind == what::playback_drop)
                whole_ += g.frames, synced_ = false;
            else if (g.kind == what::playback_insert)
                whole_ -= g.frames, synced_ = false;
            else if (g.kind == what::playback_zeros)
                mutes_.push_back({here, here + static_cast<double>(g.frames)}), trim_mutes(here);
            else if (g.kind == what::underrun)
                held_ = static_cast<double>(g.frames);
            (void)here;
            next_playback_++;
        }
        if (!synced_ || since_sync_ >= resync)
            phasors();
        const double here = static_cast<double>(whole_) + part_;
        double value = 0.0;
        // An underrun's silence while it holds the stream, a mute's over the played frames it covers.
        // (Plain pointers in this frame's loops: the sanitizer build leaves
        // the tests' code unoptimised, and a call an element was most of it.)
        const monitor_tone* tones = s_.tones.data();
        const size_t count = s_.tones.size();
        double* re = re_.data();
        double* im = im_.data();
        const double* turn_re = turn_re_.data();
        const double* turn_im = turn_im_.data();
        if (held_ <= 0.0 && !muted(here))
            for (size_t k2 = 0; k2 < count; k2++)
                value += tones[k2].amplitude * im[k2];
        pre_[static_cast<size_t>(k % static_cast<int64_t>(pre_.size()))] = value;
        where_[static_cast<size_t>(k % static_cast<int64_t>(pre_.size()))] = here;
        // The clock: the next frame's position, by 1 - offset; held, the played stream stands still
        // for the underrun's frames and goes on where it was.
        const double offset = (offset_ppm_ + wander_) * 1e-6;
        double step = 1.0 - offset;
        if (held_ > 0.0) {
            const double hold = std::min(held_, step);
            held_ -= hold;
            step -= hold;
        }
        part_ += step;
        normalise();
        // Rotate on: e^(i w step), to second order in the offset (exact resync every 64 frames).
        for (size_t k2 = 0; k2 < count; k2++) {
            const double w = tones[k2].omega, e = w * (step - 1.0);
            const double c = 1.0 - 0.5 * e * e, sn = e - e * e * e / 6.0;
            const double r1 = re[k2] * turn_re[k2] - im[k2] * turn_im[k2];
            const double i1 = re[k2] * turn_im[k2] + im[k2] * turn_re[k2];
            re[k2] = r1 * c - i1 * sn, im[k2] = r1 * sn + i1 * c;
        }
        since_sync_++;
        if (step != 1.0 - offset)
            synced_ = false;  // a held frame: the rotation above assumed the full step
        if (kick_ > 0.0)
            wander_ = pull_ * wander_ + kick_ * random_.normal();
    }

    void trim_mutes(double here)
    {
        mutes_.erase(std::remove_if(mutes_.begin(), mutes_.end(), [&](const auto& m) { return m.second < here - 1e6; }),
                     mutes_.end());
    }

    static bool is_playback(what k)
    {
        return k == what::playback_drop || k == what::playback_insert || k == what::playback_zeros ||
               k == what::underrun;
    }

    // The captured frame the filter centres on internal frame `internal_`, then the converter's own additions.
    float internal_frame()
    {
        pre_stage();
        const int half = o_.filter_half;
        const int64_t size = static_cast<int64_t>(pre_.size());
        // The taps in order over the ring from its frame internal_, wrapping
        // once at most: no division a tap (the harness's and the monitor
        // tables' largest cost at 127 taps, and many times that unoptimised
        // under the sanitizers).
        const double* taps = taps_.data();
        const double* pre = pre_.data();
        int64_t at = internal_ % size;
        double sum = 0.0;
        for (int i = 0; i <= 2 * half; i++) {
            sum += taps[i] * pre[at];
            if (++at == size)
                at = 0;
        }
        last_position_ = where_[static_cast<size_t>((internal_ + half) % size)];
        internal_++;
        const double y = gain_ * sum;
        double v = y + o_.a2 * y * y + o_.a3 * y * y * y + o_.dc;
        if (o_.noise_rms > 0.0)
            v += o_.noise_rms * random_.normal();
        if (o_.hum_amplitude > 0.0)
            v +=
                o_.hum_amplitude * std::sin(hum_turn_ * static_cast<double>(internal_ % static_cast<int64_t>(o_.rate)));
        return static_cast<float>(v);
    }

    float next()
    {
        // The capture's glitches and changes at this frame.
        for (; next_capture_ < glitches_.size() && glitches_[next_capture_].frame <= out_; next_capture_++) {
            const glitch& g = glitches_[next_capture_];
            switch (g.kind) {
            case what::capture_drop:
                for (int64_t i = 0; i < g.frames; i++)
                    internal_frame();
                break;
            case what::capture_insert: repeat_left_ = g.frames, repeat_from_ = out_ - g.frames; break;
            case what::capture_zeros: zeros_left_ = std::max(zeros_left_, g.frames); break;
            case what::click: click_ = g.value; break;
            case what::burst: burst_left_ = g.frames, burst_rms_ = g.value; break;
            case what::level: gain_ *= g.value; break;
            case what::polarity: gain_ = -gain_; break;
            case what::rate_step: offset_ppm_ = g.value; break;
            default: break;
            }
        }
        float y;
        if (repeat_left_ > 0) {
            y = history_[static_cast<size_t>(repeat_from_ % history_size)];
            repeat_from_++, repeat_left_--;
        } else {
            y = internal_frame();
        }
        history_[static_cast<size_t>(out_ % history_size)] = y;
        if (click_ != 0.0)
            y += static_cast<float>(click_), click_ = 0.0;
        if (burst_left_ > 0)
            y += static_cast<float>(burst_rms_ * random_.normal()), burst_left_--;
        if (zeros_left_ > 0)
            y = 0.0f, zeros_left_--;
        out_++;
        return y;
    }

    const monitor_stimulus& s_;
    options o_;
    random_source random_;
    std::vector<glitch> glitches_;
    size_t next_capture_ = 0, next_playback_ = 0;
    std::vector<double> re_, im_, turn_re_, turn_im_, taps_, pre_, where_;
    std::vector<float> history_;
    std::vector<std::pair<double, double>> mutes_;
    int64_t whole_ = 0;
    double part_ = 0.0;
    double last_position_ = 0.0;
    int64_t since_sync_ = 0;
    bool synced_ = false;
    int64_t internal_ = 0, internal_pre_ = 0, out_ = 0;
    double offset_ppm_ = 0.0, wander_ = 0.0, pull_ = 1.0, kick_ = 0.0;
    double gain_ = 0.5;
    double held_ = 0.0;  // played frames an underrun still holds back
    double hum_turn_ = 0.0;
    int64_t repeat_left_ = 0, repeat_from_ = 0, zeros_left_ = 0, burst_left_ = 0;
    double click_ = 0.0, burst_rms_ = 0.0;
};

// A whole capture of `frames` frames at once.
inline std::vector<float> capture(const monitor_stimulus& s, const options& o, std::vector<glitch> glitches,
                                  int64_t frames)
{
    interface i(s, o, std::move(glitches));
    std::vector<float> out(static_cast<size_t>(frames));
    i.fill(out);
    return out;
}

}  // namespace synth
