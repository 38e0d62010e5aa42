// The quality battery's plan: the segments played after the latency, in
// order, each with its stimulus computed before the stream starts (the
// callback only copies floats out).
//
// How long each segment plays: settle, analysed block, tail.
// - settle: 0.2 s, the first 20 ms of it a raised-cosine fade-in; the loop's
//   filters and DC blockers (a 3 Hz high-pass's transient is e^-4 down after
//   0.2 s) and the previous segment's end die away before the block starts;
// - analysed block: the power of two nearest above 0.6 s of frames (32768 at
//   44.1 and 48 kHz, 65536 at 96 kHz, 131072 at 192 kHz): one transform, the
//   tones coherent with it; this is the averaging time (0.68 s at 48 kHz),
//   and a bin is 1.46 Hz wide there;
// - tail: 10 ms fade-out, not analysed, so that no segment ends in a click.
// Six segments with one loop; with two loops or more, the crosstalk's by the
// method asked (quality_crosstalk_method): by default with two loops one
// AES17 segment per loop and the all-driven one, 8.03 s of audio at 48 kHz
// (8.58 s at 44.1 kHz), with three or more the all-driven one alone, 6.25 s.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/tones.hpp"

inline constexpr double quality_settle_s = 0.2;
inline constexpr double quality_fade_in_s = 0.02;
inline constexpr double quality_tail_s = 0.01;
inline constexpr double quality_block_s = 0.6;  // at least; rounded up to a power of two of frames

// AES17's stimuli: the tone, the two intermodulation pairs, octave centres.
inline constexpr double quality_tone_hz = 997.0;
inline constexpr double quality_tone_levels_dbfs[] = {-1.0, -20.0, -60.0};
inline constexpr double quality_gain_level_dbfs = -20.0;      // gain and channel match
inline constexpr double quality_range_level_dbfs = -60.0;     // dynamic range
inline constexpr double quality_pair_peak_dbfs = -1.0;        // the sum of each pair, and of the octave tones
inline constexpr double quality_aes17_level_dbfs = -1.0;      // AES17's crosstalk: the driven loop's 997 Hz tone
inline constexpr double quality_smpte_hz[] = {60.0, 7000.0};  // 4:1
inline constexpr double quality_octave_hz[] = {125.0, 250.0, 500.0, 1000.0, 2000.0, 4000.0, 8000.0, 16000.0};
inline constexpr std::size_t quality_octave_1khz = 3;  // the octave centre the crosstalk figure is read at

// Every tone lies at or below quality_plan_tone_ceiling_hz: in the band, and
// this far inside the converters' passband, whose edge a 44.1 kHz converter
// puts at 20 kHz (0.4535 of the rate, its filter falling from there to the
// stop band at 0.5465) and a faster one proportionally higher. A tone on the
// edge itself (CCIF's 20 kHz at 44.1 kHz, 20000.4 Hz) is read through the
// filter's last ripple or its first fall, not the converter's distortion.
inline constexpr double quality_passband_edge_at_44k1_hz = 20000.0;
inline constexpr double quality_edge_margin_hz = 1000.0;

// CCIF's two tones: f1 the highest whole kHz from which f2 = f1 + 990 Hz
// stays at or below the ceiling (19 kHz + 19.99 kHz from 48 kHz up, 18 kHz +
// 18.99 kHz at 44.1 kHz). 990 Hz, not 1 kHz: f2 - f1 is read where mains hum
// has harmonics (50 Hz's 20th is 1000 Hz, 60 Hz's 16th and 17th 960 and 1020
// Hz), and two tones less than a bin apart (1 kHz against 999.02 Hz at 48
// kHz) cannot be told apart by any window. At 990 Hz the product keeps 10 Hz
// (6.8 bins at 48 kHz) from the nearest, 2 f1 - f2 (18010 Hz) as much from
// 18000 Hz, and the three Hann bins a product is read from take less than
// 0.2 % of a hum harmonic that far away.
inline constexpr double quality_ccif_spacing_hz = 990.0;

enum class quality_kind {
    idle,             // digital silence on every output
    tone,             // 997 Hz on every output at once
    smpte,            // 60 Hz + 7 kHz on every output
    ccif,             // 19 kHz + 19.99 kHz on every output (18 + 18.99 at 44.1 kHz)
    crosstalk,        // every output its own tones near the octave centres (quality_crosstalk.hpp)
    crosstalk_aes17,  // one output (driven) the 997 Hz tone at -1 dBFS, the others silent
};

// How the crosstalk is taken, with two loops or more.
// - all_driven: one segment in which every loop plays its own tones near the
//   octave centres, -19.06 dBFS each; every ordered pair at every octave from
//   one capture, every converter busy as in use. Its floor lies 18 dB higher
//   than AES17's (each tone 18 dB lower), and crosstalk that grows with the
//   level (a shared supply or ground) is driven 18 dB less.
// - aes17: a segment per loop, that loop alone driven with 997 Hz at -1 dBFS,
//   the others silent, each silent loop read at the drive's own bins (a
//   narrow band of three Hann bins): AES17's method, near 1 kHz only.
// - both: the two.
// - automatic: both with two loops (8.03 s at 48 kHz, 8.58 s at 44.1 kHz, within
//   10 s), the all-driven one alone from three loops up.
enum class quality_crosstalk_method { automatic, aes17, all_driven, both };

// "auto", "aes17", "all-driven", "both"; and back (false for another word).
std::string quality_plan_method_name(quality_crosstalk_method m);
bool quality_plan_method_parse(const std::string& word, quality_crosstalk_method& m);

// The methods a plan uses for its loops.
bool quality_plan_uses_aes17(quality_crosstalk_method m, int loops);
bool quality_plan_uses_all_driven(quality_crosstalk_method m, int loops);

struct quality_segment {
    quality_kind kind = quality_kind::idle;
    std::vector<tone> tones;  // bins of the analysed block and peak amplitudes, the same on every output
    std::vector<std::vector<tone>> loop_tones;  // instead, where each loop plays its own (the crosstalk)
    int driven = -1;                            // crosstalk_aes17: the loop that plays (the others are silent)
    double level_dbfs = 0.0;                    // a tone's level; for several tones, their sum's peak
    int64_t start = 0;                          // the segment's first frame within the battery
    int64_t fade_frames = 0;                    // the fade-in, within settle
    int64_t settle_frames = 0;                  // played before the analysed block
    int64_t analysed_frames = 0;                // the block
    int64_t tail_frames = 0;                    // the fade-out after it
};

struct quality_plan {
    std::string error;  // why no plan could be made (the rate, the loops); no segments then
    double rate = 0.0;
    int loops = 0;
    quality_crosstalk_method crosstalk = quality_crosstalk_method::automatic;
    int64_t block = 0;  // the analysed block's frames: a power of two
    std::vector<quality_segment> segments;
};

// The segments' frames: settle + analysed + tail.
int64_t quality_plan_segment_frames(const quality_segment& s);

// Rates it plans for: the band's top, 20 kHz, must lie below the Nyquist frequency.
inline constexpr double quality_rate_min = 44100.0, quality_rate_max = 768000.0;

// The highest a tone of the battery may lie at the rate: 20 kHz, or
// quality_edge_margin_hz below the converters' passband edge where that is
// lower (19 kHz at 44.1 kHz).
double quality_plan_tone_ceiling_hz(double rate);

// The battery for the rate and number of loops (1 or more): silence, the
// three tones, SMPTE, CCIF, then (with two loops or more) the crosstalk by
// the method: AES17's segments, one per loop in the loops' order, then the
// all-driven one. A rate that is not a number within quality_rate_min .. max,
// or fewer than one loop: no segments and the reason in error.
quality_plan quality_plan_make(double rate, int loops,
                               quality_crosstalk_method crosstalk = quality_crosstalk_method::automatic);

// All the battery's frames.
int64_t quality_plan_frames(const quality_plan& p);

// The tones loop plays in the segment.
const std::vector<tone>& quality_plan_tones(const quality_segment& s, int loop);

// The segment's stimulus on loop's output: settle, block and tail, faded in
// and out, computed in double precision and stored as float. Where every
// loop plays the same (loop_tones empty), any loop's is every loop's.
std::vector<float> quality_plan_stimulus(const quality_plan& p, const quality_segment& s, int loop);

// The kind's name as the results and the documentation give it.
std::string quality_plan_kind_name(quality_kind k);
