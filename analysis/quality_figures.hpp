// The battery's figures per loop, from each segment's capture. Every figure
// is optional: where a segment could not be measured (clipped, no tone came
// back, too short, not in the plan) its figures are empty and the segment's
// reason says why.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/quality_plan.hpp"

// A capture sample at or above this (0.1 dB under full scale) is clipping.
inline constexpr double quality_clip_level = 0.98855309465693886;  // 10^(-0.1/20)
// A tone's bin must stand this far above the mean bin of the rest of the band.
inline constexpr double quality_tone_floor_db = 20.0;

struct quality_conditions {
    double rate = 0.0;
    std::vector<double> hz;               // the tones' actual frequencies
    double level_dbfs = 0.0;              // played: the tone's level, or several tones' peak
    std::optional<double> received_dbfs;  // the fundamental's level; several tones' summed amplitudes as a peak; the
                                          // band's RMS in silence
    double band_low_hz = 0.0, band_high_hz = 0.0;
    std::string weighting;             // "none", or "none and A" where an _a figure goes with it
    int64_t block_frames = 0;          // analysed, no window, tones coherent
    double averaging_s = 0.0;          // the block's duration
    int64_t settle_frames = 0;         // played before the block
    std::optional<double> offset_ppm;  // a tone's frequency as it came back, re as played (tones only)
};

// What a ratio figure stands on (distortion_floor.hpp): its floor, the level
// the noise alone reads as the same figure, and whether the figure is a
// measurement or a bound ("<": it stood less than 10 dB above its floor, and
// is given as the level it lies below).
struct quality_floor {
    std::optional<double> db;    // the floor, dB as the figure
    bool bound = false;          // the figure is an upper bound, not a measurement
    bool noise_limited = false;  // the noise in it carries a tenth or more of its power (lifts it 0.46 dB)
};

// What every segment's figures carry: its conditions and its validity.
struct quality_measured {
    quality_conditions conditions;
    bool valid = false;
    bool clipped = false;  // not valid because a capture sample reached full scale
    std::string reason;    // why not valid; empty when valid
};

struct quality_tone_figures : quality_measured {
    std::optional<double> thd_n_db, thd_n_pct, thd_n_a_db;
    // THD+N's floors: the idle noise re the fundamental, unweighted and A
    // (set by quality_analyse from the idle segment; THD+N is never a bound).
    quality_floor thd_n_floor, thd_n_a_floor;
    // What a tone off its bin spread beyond the notch, taken out of THD+N's
    // residue, re the fundamental (dB; empty: the tone came back on its bin).
    std::optional<double> offbin_spread_db;
    std::optional<double> thd_db, thd_pct;
    quality_floor thd_floor;                            // the RSS of the harmonics' floors
    std::array<std::optional<double>, 9> harmonics_db;  // H2 .. H10 re the fundamental; empty beyond the band
    std::array<quality_floor, 9> harmonics_floor;       // each one's floor (its local noise, three bins)
    std::optional<double> gain_db;                      // received over played at the fundamental
    std::optional<double> phase_deg;                    // the loop's phase there (the capture aligned to the frame)
};

struct quality_noise_figures : quality_measured {
    std::optional<double> noise_dbfs, noise_dbfs_a;
    // The analysis's own floor: digital silence reads tones_floor_dbfs.
    std::optional<double> floor_dbfs;
};

// SMPTE: the RSS of the four sidebands re the 7 kHz tone. The twin tone
// (CCIF-like, 19 + 19.99 kHz): db the RSS of f2 - f1 and 2 f1 - f2 re the RSS
// of the two tones (the figure loopcheck always gave); and IEC 60268-3's
// difference-frequency distortion, each re twice f2's amplitude (the pair's
// peak): d2 = U(f2 - f1) / (2 U(f2)), d3 = (U(2 f1 - f2) + U(2 f2 - f1)) / (2 U(f2)).
struct quality_imd_figures : quality_measured {
    std::optional<double> db, pct;
    quality_floor floor;
    std::optional<double> d2_db, d3_db;
    quality_floor d2_floor, d3_floor;
    std::optional<double> reference_dbfs;  // d2's and d3's reference, 2 U(f2), as a peak level
};

struct quality_crosstalk_row {
    double hz = 0.0;           // the octave centre (each other loop plays a tone of its own near it)
    std::optional<double> db;  // this loop's input re the driving loop's, the worst over the other loops
    quality_floor floor;       // that pair's
};

struct quality_loop_figures {
    int loop = 0;
    std::vector<quality_tone_figures> tones;  // at -1, -20 and -60 dBFS
    quality_noise_figures noise;
    std::optional<double> dynamic_range_db_a;  // 60 dB minus the -60 dBFS tone's A-weighted THD+N
    quality_imd_figures smpte, ccif;
    std::optional<double> gain_db;       // the -20 dBFS tone's
    std::optional<double> crosstalk_db;  // at the other loops' tones near 1 kHz, the worst
    quality_floor crosstalk_floor;       // that pair's
    // The method crosstalk_db was taken by: AES17's where the plan holds it
    // (at 997 Hz), else the all-driven one's (at each other loop's tone near 1 kHz).
    quality_crosstalk_method crosstalk_method = quality_crosstalk_method::all_driven;
    std::vector<quality_crosstalk_row> crosstalk_octaves;  // all-driven
    std::string crosstalk_reason;                          // why crosstalk_db is empty
    std::optional<double> match_gain_db, match_phase_deg;  // this loop minus loop 0, at the -20 dBFS tone
    std::string match_reason;                              // why they are empty
    bool valid = false;                                    // every segment of this loop measured
    std::string reason;                                    // the first reason one was not
};

// One segment's captures, one span per loop, frame 0 the segment's first
// played frame (the latency taken out); at least settle + analysed frames.
using quality_segment_captures = std::vector<std::span<const float>>;

// Why a capture cannot be measured, or empty: shorter than settle and block,
// a sample that is not a number (a driver's fault), or one that clipped
// (clipped set), over all it holds.
std::string quality_capture_fault(const quality_segment& s, std::span<const float> capture, bool& clipped);

// A tone segment's figures for one loop's capture.
quality_tone_figures quality_tone_measure(const quality_plan& p, const quality_segment& s,
                                          std::span<const float> capture);

// The idle segment's noise for one loop's capture.
quality_noise_figures quality_noise_measure(const quality_plan& p, const quality_segment& s,
                                            std::span<const float> capture);

// An SMPTE or CCIF segment's figure for one loop's capture.
quality_imd_figures quality_imd_measure(const quality_plan& p, const quality_segment& s,
                                        std::span<const float> capture);

// All of it: captures[i] belongs to p.segments[i].
std::vector<quality_loop_figures> quality_analyse(const quality_plan& p,
                                                  std::span<const quality_segment_captures> captures);
