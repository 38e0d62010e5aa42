// loopsim's static nonlinearity y = x + a2 x^2 + a3 x^3 + ... + a10 x^10, and
// the closed form of what it makes of one or two cosines: with
// x = A1 cos(t1) + A2 cos(t2) written as a sum of four exponentials, the
// multinomial expansion of each x^k gives every product at p f1 + q f2 exactly.
#pragma once
#include <cstdint>
#include <vector>

namespace loopsim {

constexpr int64_t poly_max_order = 10;

struct poly {
    int64_t order = 1;                          // 1: the identity, no distortion
    double a[poly_max_order + 1] = {0.0, 1.0};  // a[k] multiplies x^k; a[1] = 1
};

// From a2, a3, ... (at most nine of them).
poly poly_make(const std::vector<double>& coefficients);

// y = x + a2 x^2 + ... by Horner's rule. Real-time safe.
double poly_apply(const poly& p, double x);

// One product of the distortion: the cosine at p f1 + q f2 (p > 0, or p = 0 and
// q >= 0; p = q = 0 is DC) and its peak amplitude.
struct poly_product {
    int64_t p = 0, q = 0;
    double amplitude = 0.0;
};

// Every product of orders 1 .. the polynomial's of A1 cos(t1) + A2 cos(t2)
// (A2 = 0: one tone, its harmonics), amplitudes below 1e-300 left out. The
// phases of the two tones change no amplitude. Products at equal frequencies
// (aliases, or f1 and f2 in a small integer ratio) add with their phases: the
// caller keeps its tones apart.
std::vector<poly_product> poly_products(const poly& p, double a1, double a2);

}  // namespace loopsim
