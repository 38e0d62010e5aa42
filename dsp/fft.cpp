// Radix-2 decimation-in-time FFT of 2048 points on separate real and imaginary
// float arrays, driven by program-wide twiddle and bit-reversal tables.
#include "dsp/fft.hpp"

#include <cmath>
#include <utility>

namespace {

constexpr int64_t table_size = fft_size / 2 + 1;  // 1025: half a period plus a spare

// Zero at program load; filled by the initialisation call of fft_2048.
float fft_cos[table_size] = {};
float fft_sin[table_size] = {};
int64_t fft_swap_first[table_size] = {};
int64_t fft_swap_second[table_size] = {};
int64_t fft_swap_count = 0;

}  // namespace

// Number of halvings (integer division) that take n down to 1: 11 for 2048.
int64_t log2_int(int64_t n)
{
    int64_t k = 0;
    while (n > 1) {
        n /= 2;
        ++k;
    }
    return k;
}

// cos and sin of 2 pi k / n for k = 0 .. n/2 - 1 (n a multiple of 4). Only the first
// quarter wave is evaluated, in double and rounded to float once; the rest of both
// tables mirrors those floats, so the tables are exactly symmetric. Entry n/2 is not written.
void fft_make_twiddles(float* cos_table, float* sin_table, int64_t n)
{
    const int64_t quarter = n / 4;
    cos_table[0] = 1.0f;
    cos_table[quarter] = 0.0f;
    sin_table[0] = 0.0f;
    sin_table[quarter] = 1.0f;
    for (int64_t i = 1; i < quarter; ++i) {
        const float c =
            static_cast<float>(std::cos(6.283185307179586 / static_cast<double>(n) * static_cast<double>(i)));
        cos_table[i] = c;
        cos_table[2 * quarter - i] = -c;
        sin_table[quarter - i] = c;
        sin_table[quarter + i] = c;
    }
}

// Lists the pairs (i, bit-reverse of i) with reverse > i, i ascending, so that each
// index that is not its own reversal is swapped exactly once. For n = 2048 the lists
// need 992 entries; the program-wide ones hold 1025.
void fft_make_bitrev(int64_t* first, int64_t* second, int64_t& count, int64_t n)
{
    count = 0;
    for (int64_t i = 1; i <= n - 2; ++i) {
        int64_t r = 0;
        int64_t mirrored = 1;
        for (int64_t weight = n / 2; weight >= 1; weight /= 2) {
            if ((i & weight) != 0)
                r += mirrored;
            mirrored *= 2;
        }
        if (r > i) {
            first[count] = i;
            second[count] = r;
            ++count;
        }
    }
}

// Applies the swap list to a, pair by pair in list order.
void fft_bitrev_swap(float* a, const int64_t* first, const int64_t* second, int64_t count)
{
    for (int64_t i = 0; i < count; ++i) {
        std::swap(a[first[i]], a[second[i]]);
    }
}

void fft_2048(float* re, float* im, int64_t direction, int64_t init)
{
    if (init != 0) {
        fft_make_twiddles(fft_cos, fft_sin, fft_size);
        fft_make_bitrev(fft_swap_first, fft_swap_second, fft_swap_count, fft_size);
        return;
    }
    fft_bitrev_swap(re, fft_swap_first, fft_swap_second, fft_swap_count);
    fft_bitrev_swap(im, fft_swap_first, fft_swap_second, fft_swap_count);

    const float sign = static_cast<float>(direction);
    const int64_t stages = log2_int(fft_size);
    int64_t groups = fft_size / 2;
    int64_t half = 1;
    int64_t span = 2;
    for (int64_t stage = 0; stage < stages; ++stage) {
        for (int64_t j = 0; j < half; ++j) {
            const float wr = fft_cos[j * groups];
            const float wi = fft_sin[j * groups] * sign;
            int64_t a = j;
            for (int64_t g = 0; g < groups; ++g) {
                const int64_t b = a + half;
                // Rounding: every product is rounded to float before the sum or
                // difference; the build forbids contraction into fused multiply-add.
                const float tr = re[b] * wr - im[b] * wi;
                const float ti = re[b] * wi + im[b] * wr;
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] = re[a] + tr;
                im[a] = im[a] + ti;
                a += span;
            }
        }
        groups /= 2;
        half *= 2;
        span *= 2;
    }

    if (direction == 1) {
        for (int64_t i = 0; i < fft_size; ++i) {
            re[i] = re[i] / 2048.0f;
            im[i] = im[i] / 2048.0f;
        }
    }
}

void fft_reset()
{
    for (int64_t i = 0; i < table_size; ++i) {
        fft_cos[i] = 0.0f;
        fft_sin[i] = 0.0f;
        fft_swap_first[i] = 0;
        fft_swap_second[i] = 0;
    }
    fft_swap_count = 0;
}
