// Transforms and the deconvolution.
#include "analysis/deconvolve.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <unsupported/Eigen/FFT>

namespace {

// One engine for the program: it keeps a plan per transform length.
Eigen::FFT<double>& fft_engine()
{
    static Eigen::FFT<double> engine = [] {
        Eigen::FFT<double> e;
        e.SetFlag(Eigen::FFT<double>::HalfSpectrum);
        return e;
    }();
    return engine;
}

template <class Sample>
spectrum transform(std::span<const Sample> x, int64_t n)
{
    std::vector<double> padded(static_cast<size_t>(n), 0.0);
    std::copy_n(x.begin(), std::min<int64_t>(n, static_cast<int64_t>(x.size())), padded.begin());
    spectrum bins;
    fft_engine().fwd(bins, padded);
    return bins;
}

// A raised-cosine step from 0 at from to 1 at to (from > to for a falling edge).
double cosine_step(double x, double from, double to)
{
    const double u = std::clamp((x - from) / (to - from), 0.0, 1.0);
    return 0.5 - 0.5 * std::cos(std::numbers::pi * u);
}

}  // namespace

int64_t fft_size_at_least(int64_t frames)
{
    int64_t n = 2;
    while (n < frames)
        n *= 2;
    return n;
}

spectrum spectrum_of(std::span<const float> x, int64_t n) { return transform(x, n); }
spectrum spectrum_of(std::span<const double> x, int64_t n) { return transform(x, n); }

std::vector<double> signal_of(const spectrum& bins, int64_t n)
{
    std::vector<double> x;
    fft_engine().inv(x, bins, n);
    return x;
}

double band_window(double hz, double rate)
{
    return cosine_step(hz, 10.0, 20.0) * cosine_step(hz, 0.475 * rate, 0.45 * rate);
}

impulse_response deconvolve(std::span<const float> stimulus, std::span<const float> capture, double rate)
{
    impulse_response r;
    r.n = fft_size_at_least(static_cast<int64_t>(capture.size() + stimulus.size()));
    r.rate = rate;
    r.stimulus = spectrum_of(stimulus, r.n);
    const spectrum captured = spectrum_of(capture, r.n);
    const size_t bins = r.stimulus.size();
    r.transfer.assign(bins, 0.0);
    r.banded.assign(bins, 0.0);
    for (size_t k = 0; k < bins; k++) {
        const double w = band_window(static_cast<double>(k) * rate / static_cast<double>(r.n), rate);
        if (std::norm(r.stimulus[k]) > 0.0)
            r.transfer[k] = captured[k] / r.stimulus[k];
        r.banded[k] = r.transfer[k] * w;
    }
    r.ir = signal_of(r.banded, r.n);
    return r;
}
