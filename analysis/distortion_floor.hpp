// A component read against its own noise. Each level a ratio is made of (a
// harmonic, an intermodulation product, a crosstalk pickup) is three Hann
// bins (distortion_amplitude); where the component is not there, those three
// bins still hold three bins of noise, and read as a level. So each reading
// carries its floor: what the noise around it puts in three bins, taken from
// the Hann bins beside it (not those of the tones and products the stimulus
// makes). A reading less than distortion_bound_margin_db above its floor is
// the noise, not the component: it is given as a bound, "< floor + 10 dB", the
// level a component would have to reach to be read as a measurement.

//
// Why 10 dB: three Hann bins of noise are a sum of squares of a few
// correlated Gaussian bins; their power exceeds 10 times its mean once in 1.4
// million readings, 10 times the local median's estimate of it about once in
// 50 000, so a battery's 70 readings call noise a measurement about once in
// 700 batteries. A component just at the margin reads up to 0.41 dB high (its
// power plus the noise's tenth).
#pragma once
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/distortion.hpp"

inline constexpr double distortion_bound_margin_db = 10.0;

// Bins either side of a reading its noise is taken from: from 3 bins away
// (beyond its own three and a bin of room), until this many bins on each side
// are found that lie within distortion_floor_clear bins of no listed component.
inline constexpr int64_t distortion_floor_bins = 32;
inline constexpr int64_t distortion_floor_clear = 2;

// One component as read.
struct distortion_reading {
    double amplitude = 0.0;  // distortion_amplitude: the peak the three bins hold
    double floor = 0.0;      // what the noise around it puts in three bins, as a peak
    bool bound = false;      // less than distortion_bound_margin_db above floor
};

// A ratio of readings: a harmonic, THD, an intermodulation figure, a crosstalk pair.
struct distortion_figure {
    double ratio = 0.0;          // as read; for a bound, the bound (no component stands above it)
    double floor = 0.0;          // what the noise alone reads as the same ratio
    bool bound = false;          // ratio is an upper bound, not a measurement
    bool noise_limited = false;  // the noise in its bounds carries a tenth or more of its power (lifts it 0.46 dB)
};

// The noise power per bin around bin: of the Hann bins clear of the listed
// components (sorted; each and distortion_floor_clear bins either side),
// within the half spectrum, their median over ln 2 (a bin of noise has an
// exponential power, whose median is its mean x ln 2; a hum harmonic or an
// idle tone among them, a few bins, does not lift the median as it would the
// mean), over the window's mean square (distortion_amplitude's scale: a bin's
// noise power as distortion_band_rms counts it).
double distortion_local_power(const distortion_block& b, int64_t bin, std::span<const int64_t> components);

// The component on bin against the noise around it.
distortion_reading distortion_read(const distortion_block& b, int64_t bin, std::span<const int64_t> components);

// The same for a component coherent with the block, offset bins off its bin
// (a product of tones that came back off theirs: p d1 + q d2): its three bins
// must hold the shape of such a tone. Where they hold more than
// distortion_shape_share of their power beyond it (and 10 times what the
// noise puts there), something else lies in them, a component a bin or two
// away (a product of a digital nonlinearity folded about the Nyquist
// frequency beside it: through three Hann bins it reads as the product), and
// the reading is a bound, no more than its bins hold: a neighbour of -40 dB
// re the reading moves it 0.09 dB at most.
inline constexpr double distortion_shape_share = 1e-4;
distortion_reading distortion_read_coherent(const distortion_block& b, int64_t bin, std::span<const int64_t> components,
                                            double offset);

// Raises a reading's floor to at least floor (another contribution than
// the noise around it) and judges it again.
void distortion_raise_floor(distortion_reading& r, double floor);

// The amplitude a reading is given as: its own, or for a bound the level it
// lies below (floor + distortion_bound_margin_db, or its own where that is higher).
double distortion_reported(const distortion_reading& r);

// A reading re a reference amplitude.
distortion_figure distortion_ratio(const distortion_reading& r, double reference);

// The root sum of squares of readings re a reference (THD, SMPTE, CCIF's RSS):
// a bound when the bounds carry at least half its power, then the RSS of
// the measurements and the bounds' reported levels; its floor the RSS of the
// floors.
distortion_figure distortion_rss(std::span<const distortion_reading> r, double reference);

// The plain sum of readings' amplitudes re a reference (IEC 60268-3's d3): a
// bound when the bounds' amplitudes make up at least half the sum; its floor
// the sum of the floors.
distortion_figure distortion_sum(std::span<const distortion_reading> r, double reference);

// The RMS re the tone's amplitude of what a tone offset_bins off its bin
// spreads through Hann over the band's bins (weighting.hpp), A-weighted or
// not, outside distortion_notch_bins of the tone's bin: the closed form of the
// windowed transform of a sinusoid between bins, bin by bin. For a small
// offset it is distortion_leakage(offset) (unweighted, the band's edges far
// away). THD+N takes it out of its residue: the spread is the tone's own,
// not the loop's noise or distortion.
double distortion_offbin_spread(const distortion_block& b, int64_t bin, double offset_bins, bool a_weighted);
