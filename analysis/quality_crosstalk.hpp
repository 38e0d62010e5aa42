// The crosstalk of every loop into every other, by two methods.
//
// All driven (quality_kind::crosstalk): one segment in which each loop plays
// its own tones near the octave centres (125 Hz ... 16 kHz), all loops at
// once, and each loop's input is read at every other loop's bins.
//
// The bins lie on one grid, 3 (mod 6). While every loop plays, its own
// converters' distortion makes products of its tones, and one that landed on
// or beside another loop's bin would pass for crosstalk from it. The bins
// are read through Hann, where a coherent component holds its own bin and
// the two beside it only: 3 bins away it leaves nothing in a reading's three.
// A product p1 f1 + p2 f2 + ... of tones 3 (mod 6) lies at 3 (p1 + p2 + ...)
// (mod 6): those of even order (2 f, f1 + f2, f1 - f2, the fourth's) at 0,
// 3 bins from every grid bin; those of odd order (3 f, f1 + f2 - f3, 2 f1 -
// f2, the 5th, 7th and 9th harmonics) on the grid. So the tones are placed
// clear of each other's: octave by octave from 125 Hz, loop by loop, each
// tone on the first grid bin from its centre out (0, -6, +6, -12, +12, ...
// bins) that lies within 2 bins of no other loop's tone nor of any product up
// to the third order, or harmonic up to the tenth, of another loop's tones,
// and whose own products with its loop's tones so far lie within 2 bins of
// no other loop's tone. Products above the Nyquist frequency are followed
// folded back, as a digital nonlinearity's land (an analog one's are the
// converter's filter's to remove). At 48 kHz the tones lie within 17 Hz of
// their centres with two loops, 35 with three, 61 with four and 386 Hz
// (a 16 kHz tone) with eight; at 96 kHz within 12, 21, 30 and 105 Hz.
//
// A loop whose clock differs from the stream's (a resampler in it) returns
// its tones off their bins, and each spreads through Hann over its
// neighbours: 6 bins from a -19 dBFS tone at 16 kHz, at 0.05 ppm, as much
// as a -110 dB pickup. So each loop's own tones are fitted (their offsets and
// phasors from their three Hann bins) and taken out of its Hann bins
// (distortion_fit.hpp) before the other loops' bins are read; each loop's
// offset is measured and given. A pickup is read from the three Hann bins of
// its tone, which hold it within 0.1 dB up to half a bin off; a pair whose
// loops' offsets could put it further (their sum in ppm over 0.5 bin, 46 ppm
// at 16 kHz) is not read, the reason given. A clock that wanders within the
// block leaves a tone that no steady sinusoid fits; what the fit leaves
// beside it is read in the bins as far on its other side and counts in the
// pickup's floor.
//
// AES17 (quality_kind::crosstalk_aes17): one segment per loop, that loop alone
// driven with the 997 Hz tone at -1 dBFS, the others silent; each silent loop
// read at the drive's bin through three Hann bins, a narrow band.
//
// Every reading carries its floor, the noise around it in three bins (the
// bins of the loops' tones and of the victim's own products left out), and is
// a bound where it stands less than 10 dB above it (distortion_floor.hpp).
// The all-driven tones are 18 dB lower than AES17's: their floor is 18 dB
// higher, and a crosstalk that grows with the level (g x^3 of the driving
// output: a ratio 2 dB larger for every dB more) reads 12 dB and more lower.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/quality_figures.hpp"
#include "analysis/quality_plan.hpp"

// Each loop's bins, one per octave centre (quality_octave_hz), in a block of
// n frames at the rate.
std::vector<std::vector<int64_t>> quality_crosstalk_bins(double rate, int64_t n, int loops);

// Loop to's input re loop from's at from's tones.
struct quality_crosstalk_pair {
    int from = 0, to = 0;                                                    // loops, from 0
    quality_crosstalk_method method = quality_crosstalk_method::all_driven;  // all_driven or aes17
    double hz = 0.0;                // the tone db_1khz is read at: from's near 1 kHz; AES17's 997 Hz tone
    std::optional<double> db_1khz;  // at from's tone near 1 kHz (quality_octave_1khz; AES17: its tone)
    quality_floor floor_1khz;
    std::vector<double> octave_hz;  // from's tones as played, one per octave centre (all driven)
    std::vector<std::optional<double>> octave_db;
    std::vector<quality_floor> octave_floor;
    // Each loop's clock re the stream's as its tones came back, ppm (empty
    // where no tone of it stood to tell; AES17's silent loop has none).
    std::optional<double> from_offset_ppm, to_offset_ppm;
    std::string reason;  // why db_1khz, or an octave's figure, is empty
};

// Every ordered pair's crosstalk from the all-driven segment's captures, one
// per loop, frame 0 the segment's first played frame: pairs from 0 to 1, 0
// to 2 ... 1 to 0 ... A capture too short, not finite or clipped empties the
// pairs it is in, the reason given; a tone of from's that does not stand
// 20 dB above the rest of its band, or that the loops' clocks could put over
// half a bin off, empties that figure.
std::vector<quality_crosstalk_pair> quality_crosstalk_read(const quality_plan& p, const quality_segment& s,
                                                           std::span<const std::span<const float>> captures);

// The pairs from an AES17 segment: from the driven loop to each other.
std::vector<quality_crosstalk_pair> quality_crosstalk_aes17_read(const quality_plan& p, const quality_segment& s,
                                                                 std::span<const std::span<const float>> captures);

// Every pair of every crosstalk segment of the plan (captures[segment][loop]),
// AES17's first: what the outcome lists.
std::vector<quality_crosstalk_pair> quality_crosstalk_pairs(const quality_plan& p,
                                                            std::span<const quality_segment_captures> captures);
