// Vector kernels over CBLAS (unit strides throughout) and the doubled delay line.
//
// Doubled delay line of length n: an array of at least 2n floats and a write
// position p in 0 .. n-1. Each sample is stored at p and at p + n, then p steps
// backwards, so the n newest samples always lie contiguously at d[p .. p+n-1]
// (newest first) and one BLAS call can take them without wrap-around handling.
#pragma once
#include <cstdint>

int64_t vec_max_index(int64_t n, const float* x);             // cblas_isamax, counted from 0
void vec_scale(int64_t n, float a, float* x);                 // x <- a x
float vec_abs_sum(int64_t n, const float* x);                 // sum |x[i]|
float vec_norm(int64_t n, const float* x);                    // Euclidean norm
void vec_copy(int64_t n, const float* x, float* y);           // y <- x (source first)
void vec_axpy(int64_t n, float a, const float* x, float* y);  // y <- y + a x
float vec_dot(int64_t n, const float* x, const float* y);     // sum x[i] y[i]
int64_t blas_num_procs();
int64_t blas_num_threads();
void blas_set_threads(int64_t n);

// Pushes x into the delay line d (length n, position p), returns the dot product
// of the n newest samples with c (c[0] meets the newest), steps p back by one.
float delay_line_dot(float x, float* d, const float* c, int64_t n, int64_t& p);

// y[k] += a * d[q + k] for k = 0 .. n-1, then steps q back by one. d is only read.
void ring_axpy(float* y, float a, const float* d, int64_t n, int64_t& q);

// r[i] = sum over k < n - i of x[k] y[k + i], for i = 0 .. m (m < n).
void correlate_lags(const float* x, const float* y, float* r, int64_t n, int64_t m);
