// The delay's local refit: a linear spline by least squares, from prefix sums.
#include "analysis/monitor_refit.hpp"

#include <algorithm>
#include <cmath>

namespace {

// One piece [a, b) of the spline: the hats falling (b - n) / h and rising
// (n - a) / h over it, their Gram entries weighted by D^2 and their products
// with r D, from the prefix sums.
struct piece_sums {
    double fall, cross, rise;   // sum of falling^2, falling x rising, rising^2 (x D^2)
    double fall_rhs, rise_rhs;  // sum of falling x r D, rising x r D
};

piece_sums piece_of(const monitor_refit_sums& s, int64_t a, int64_t b)
{
    const double s0 = s.d0[b] - s.d0[a], s1 = s.d1[b] - s.d1[a], s2 = s.d2[b] - s.d2[a];
    const double q0 = s.r0[b] - s.r0[a], q1 = s.r1[b] - s.r1[a];
    const double fa = static_cast<double>(a), fb = static_cast<double>(b), h = fb - fa;
    piece_sums p;
    p.fall = (fb * fb * s0 - 2.0 * fb * s1 + s2) / (h * h);
    p.cross = (-fa * fb * s0 + (fa + fb) * s1 - s2) / (h * h);
    p.rise = (fa * fa * s0 - 2.0 * fa * s1 + s2) / (h * h);
    p.fall_rhs = (fb * q0 - q1) / h;
    p.rise_rhs = (q1 - fa * q0) / h;
    return p;
}

// Solves the tridiagonal system (sub = super = off) for x; false when singular.
bool tridiagonal(int n, const double* diag, const double* off, const double* rhs, double* x)
{
    double c[monitor_refit_most_knots], d[monitor_refit_most_knots];
    for (int i = 0; i < n; i++) {
        const double below = i > 0 ? off[i - 1] : 0.0;
        const double m = diag[i] - (i > 0 ? below * c[i - 1] : 0.0);
        if (!(std::fabs(m) > 0.0))
            return false;
        c[i] = i + 1 < n ? off[i] / m : 0.0;
        d[i] = (rhs[i] - (i > 0 ? below * d[i - 1] : 0.0)) / m;
    }
    for (int i = n - 1; i >= 0; i--)
        x[i] = d[i] - (i + 1 < n ? c[i] * x[i + 1] : 0.0);
    return true;
}

}  // namespace

void monitor_refit_prepare(std::span<const double> r, std::span<const double> d, monitor_refit_sums& s)
{
    s.length = static_cast<int64_t>(r.size());
    s.d0[0] = s.d1[0] = s.d2[0] = s.r0[0] = s.r1[0] = 0.0;
    s.rr = 0.0;
    for (size_t n = 0; n < r.size(); n++) {
        const double f = static_cast<double>(n), dd = d[n] * d[n], rd = r[n] * d[n];
        s.d0[n + 1] = s.d0[n] + dd;
        s.d1[n + 1] = s.d1[n] + f * dd;
        s.d2[n + 1] = s.d2[n] + f * f * dd;
        s.r0[n + 1] = s.r0[n] + rd;
        s.r1[n + 1] = s.r1[n] + f * rd;
        s.rr += r[n] * r[n];
    }
}

monitor_refit monitor_refit_solve(const monitor_refit_sums& s, std::span<const int64_t> knots)
{
    monitor_refit f;
    const int n = static_cast<int>(knots.size());
    if (n < 2 || n > monitor_refit_most_knots || knots[0] != 0 || knots[n - 1] != s.length)
        return f;
    double diag[monitor_refit_most_knots] = {}, off[monitor_refit_most_knots] = {}, rhs[monitor_refit_most_knots] = {};
    for (int j = 0; j + 1 < n; j++) {
        if (knots[j + 1] <= knots[j])
            return f;
        const piece_sums p = piece_of(s, knots[j], knots[j + 1]);
        diag[j] += p.fall, diag[j + 1] += p.rise, off[j] = p.cross;
        rhs[j] += p.fall_rhs, rhs[j + 1] += p.rise_rhs;
    }
    if (!tridiagonal(n, diag, off, rhs, f.value.data()))
        return f;
    // Each knot's standard error: the root of its diagonal element of the inverse.
    for (int j = 0; j < n; j++) {
        double unit[monitor_refit_most_knots] = {}, column[monitor_refit_most_knots] = {};
        unit[j] = 1.0;
        tridiagonal(n, diag, off, unit, column);
        f.spread[static_cast<size_t>(j)] = std::sqrt(std::max(0.0, column[j]));
    }
    f.knots = n;
    for (int j = 0; j < n; j++) {
        f.at[static_cast<size_t>(j)] = knots[j];
        f.explained += f.value[static_cast<size_t>(j)] * rhs[j];
    }
    f.left = std::max(0.0, s.rr - f.explained);
    f.solved = true;
    return f;
}

monitor_refit monitor_refit_even(const monitor_refit_sums& s, int pieces)
{
    std::array<int64_t, monitor_refit_most_knots> knots{};
    pieces = std::clamp(pieces, 1, monitor_refit_most_knots - 1);
    for (int j = 0; j <= pieces; j++)
        knots[static_cast<size_t>(j)] = s.length * j / pieces;
    return monitor_refit_solve(s, std::span<const int64_t>(knots).first(static_cast<size_t>(pieces + 1)));
}

monitor_refit monitor_refit_corner(const monitor_refit_sums& s, int pieces, int64_t first, int64_t end)
{
    pieces = std::clamp(pieces, 1, monitor_refit_most_knots - 2);
    std::array<int64_t, monitor_refit_most_knots> even{}, knots{};
    for (int j = 0; j <= pieces; j++)
        even[static_cast<size_t>(j)] = s.length * j / pieces;
    monitor_refit best;
    for (int64_t b = std::max<int64_t>(1, first); b < std::min(end, s.length); b++) {
        // The even knots with b among them, in order; b on a knot adds nothing.
        int n = 0;
        bool placed = false;
        for (int j = 0; j <= pieces; j++) {
            const int64_t k = even[static_cast<size_t>(j)];
            if (!placed && b <= k) {
                if (b == k)
                    break;
                knots[static_cast<size_t>(n++)] = b;
                placed = true;
            }
            knots[static_cast<size_t>(n++)] = k;
        }
        if (!placed)
            continue;
        const monitor_refit f = monitor_refit_solve(s, std::span<const int64_t>(knots).first(static_cast<size_t>(n)));
        if (f.solved && (!best.solved || f.explained > best.explained))
            best = f;
    }
    return best;
}

double monitor_refit_at(const monitor_refit& f, double n)
{
    if (!f.solved)
        return 0.0;
    int j = 0;
    while (j + 2 < f.knots && n >= static_cast<double>(f.at[static_cast<size_t>(j + 1)]))
        j++;
    const double a = static_cast<double>(f.at[static_cast<size_t>(j)]);
    const double b = static_cast<double>(f.at[static_cast<size_t>(j + 1)]);
    const double va = f.value[static_cast<size_t>(j)], vb = f.value[static_cast<size_t>(j + 1)];
    return va + (vb - va) * (n - a) / (b - a);
}
