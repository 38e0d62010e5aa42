// The crosstalk of every loop into every other, from one segment: each loop
// plays its own tones near the octave centres (125 Hz ... 16 kHz), all loops
// at once, and each loop's input is read at every other loop's bins.
//
// The bins lie on one grid, 1 (mod 4). At each centre the loops' tones are 4
// bins apart: the first loop's on the grid's bin nearest the centre, the
// others a whole number of steps of 4 bins below or above it, the same step
// at every centre. While every loop plays, its own converters' distortion
// makes products of its tones, and one that landed on another loop's bin
// would pass for crosstalk from it. A product p1 f1 + p2 f2 + ... of tones
// 1 (mod 4) lies at p1 + p2 + ... (mod 4), so the second order's (2 f,
// f1 + f2, f1 - f2) never lands on the grid, nor the third order's 3 f and
// f1 + f2 + f3; what can (f1 + f2 - f3, 2 f1 - f2, the 5th and 9th
// harmonics) each loop's step keeps clear of: the first of 0, -1, +1, -2,
// +2, ... whose tones meet no product of another loop's tones up to the third
// order nor any of its harmonics up to the tenth, and whose own products
// meet no other loop's tones. With two loops the steps are 0 and -1 at every
// rate; with eight, at 48 kHz, 0, -1, 1, -2, 2, -3, 4, -5 (tones up to 31.7 Hz
// from their centre). Products above the Nyquist frequency are not followed:
// an analog nonlinearity's are the converter's filter's to remove; a digital
// one's fold back and can land on another loop's bins.
//
// The bins are read from the transform with no window: a coherent tone or
// product leaves nothing in any bin but its own, and the second-order
// products sit a bin beside the grid, where a Hann window's bin would take in
// half of one.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/quality_plan.hpp"

// Each loop's bins, one per octave centre (quality_octave_hz), in a block of
// n frames at the rate.
std::vector<std::vector<int64_t>> quality_crosstalk_bins(double rate, int64_t n, int loops);

// Loop to's input re loop from's at from's tones, while every loop plays.
struct quality_crosstalk_pair {
    int from = 0, to = 0;           // loops, from 0
    std::optional<double> db_1khz;  // at from's tone near 1 kHz (quality_octave_1khz)
    std::vector<double> octave_hz;  // from's tones as played, one per octave centre
    std::vector<std::optional<double>> octave_db;
    std::string reason;  // why db_1khz is empty
};

// Every ordered pair's crosstalk from the crosstalk segment's captures, one
// per loop, frame 0 the segment's first played frame: pairs from 0 to 1, 0
// to 2 ... 1 to 0 ... A capture too short, not finite or clipped empties the
// pairs it is in, the reason given; a tone of from's that does not stand
// 20 dB above the rest of its band empties that figure.
std::vector<quality_crosstalk_pair> quality_crosstalk_read(const quality_plan& p, const quality_segment& s,
                                                           std::span<const std::span<const float>> captures);
