// Four xorshift generators, each with its own program-wide state. Shifts are on
// unsigned types, so they are logical and left shifts drop the bits beyond the width.
#include "dsp/noise.hpp"

namespace {

constexpr uint32_t xs32_initial = 0x5A0FA5F0u;
constexpr uint32_t sign32_initial = 0x5A0FA5F0u;
constexpr uint64_t xs64_initial = 0x5A0FA5F0FF000FF0u;
constexpr uint64_t sign64_initial = 0xA5A5A5A50F0F0F0Fu;

uint32_t xs32_state = xs32_initial;
uint32_t sign32_state = sign32_initial;
uint64_t xs64_state = xs64_initial;
uint64_t sign64_state = sign64_initial;

// Bit 0 of the state as +1 (set) or -1 (clear).
int32_t sign_of(uint64_t s) { return static_cast<int32_t>(s & 1u) * 2 - 1; }

// One step of a xorshift generator with the shift triple (a, b, c), on an
// unsigned state so that the shifts are logical; returns the new state.
template <class State>
State xorshift(State& state, int a, int b, int c)
{
    State s = state;
    s ^= s << a;
    s ^= s >> b;
    s ^= s << c;
    state = s;
    return s;
}

}  // namespace

// Raw 32-bit state after one step with the shift triple (3, 13, 7). A seed
// replaces the state with its bit pattern, not its value.
uint32_t rand_xs32(int32_t seed)
{
    if (seed != 0)
        xs32_state = static_cast<uint32_t>(seed);
    return xorshift(xs32_state, 3, 13, 7);
}

// Random sign from a 32-bit state stepped with the triple (5, 13, 16).
int32_t rand_sign32(int32_t seed)
{
    if (seed != 0)
        sign32_state = static_cast<uint32_t>(seed);
    return sign_of(xorshift(sign32_state, 5, 13, 16));
}

// Low 32 bits of a 64-bit state stepped with the triple (6, 27, 7).
uint32_t rand_xs64(uint64_t seed)
{
    if (seed != 0)
        xs64_state = seed;
    return static_cast<uint32_t>(xorshift(xs64_state, 6, 27, 7));
}

// Random sign from a 64-bit state stepped with the triple (7, 33, 8).
int32_t rand_sign64(uint64_t seed)
{
    if (seed != 0)
        sign64_state = seed;
    return sign_of(xorshift(sign64_state, 7, 33, 8));
}

void rand_reset()
{
    xs32_state = xs32_initial;
    sign32_state = sign32_initial;
    xs64_state = xs64_initial;
    sign64_state = sign64_initial;
}

// Sign first, then magnitude, both generators stepped once. Rounding: both
// factors are widened to double before the multiply (int32 * uint32 would
// otherwise wrap in unsigned arithmetic); the product is exact, "* 0.1" rounds
// once, "/ 2^31" is exact, then one rounding to float.
float noise_stimulus_sample()
{
    const int32_t sign = rand_sign32(0);
    const uint32_t value = rand_xs32(0);
    const double product = static_cast<double>(sign) * static_cast<double>(value);
    return static_cast<float>(product * 0.1 / 2147483648.0);
}
