// Vector kernels over OpenBLAS's CBLAS and the doubled delay line built on them.
// Every BLAS call uses unit strides. Counts arrive as int64_t and are narrowed to
// blasint; the callers pass at most a few thousand elements.
#include "dsp/vector.hpp"

#include <cblas.h>

int64_t vec_max_index(int64_t n, const float* x)
{
    return static_cast<int64_t>(cblas_isamax(static_cast<blasint>(n), x, 1));
}

void vec_scale(int64_t n, float a, float* x) { cblas_sscal(static_cast<blasint>(n), a, x, 1); }

float vec_abs_sum(int64_t n, const float* x) { return cblas_sasum(static_cast<blasint>(n), x, 1); }

float vec_norm(int64_t n, const float* x) { return cblas_snrm2(static_cast<blasint>(n), x, 1); }

void vec_copy(int64_t n, const float* x, float* y) { cblas_scopy(static_cast<blasint>(n), x, 1, y, 1); }

void vec_axpy(int64_t n, float a, const float* x, float* y) { cblas_saxpy(static_cast<blasint>(n), a, x, 1, y, 1); }

float vec_dot(int64_t n, const float* x, const float* y) { return cblas_sdot(static_cast<blasint>(n), x, 1, y, 1); }

int64_t blas_num_procs() { return openblas_get_num_procs(); }

int64_t blas_num_threads() { return openblas_get_num_threads(); }

// The programs never call this: OpenBLAS keeps its default thread count.
void blas_set_threads(int64_t n) { openblas_set_num_threads(static_cast<int>(n)); }

// Runs per frame on the audio thread: no allocation, no lock, no wrap-around
// test on the read.
float delay_line_dot(float x, float* d, const float* c, int64_t n, int64_t& p)
{
    d[p] = x;
    d[p + n] = x;
    const float s = cblas_sdot(static_cast<blasint>(n), d + p, 1, c, 1);
    p = (p + n - 1) % n;
    return s;
}

// Called right after delay_line_dot with q == old p, it reads the same window.
void ring_axpy(float* y, float a, const float* d, int64_t n, int64_t& q)
{
    cblas_saxpy(static_cast<blasint>(n), a, d + q, 1, y, 1);
    q = (q + n - 1) % n;
}

void correlate_lags(const float* x, const float* y, float* r, int64_t n, int64_t m)
{
    for (int64_t i = 0; i <= m; ++i) {
        r[i] = cblas_sdot(static_cast<blasint>(n - i), x, 1, y + i, 1);
    }
}
