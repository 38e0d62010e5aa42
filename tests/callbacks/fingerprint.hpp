// The exact bits of a callback's run over a loop, folded into one number, so
// that a rewrite of the callbacks can be checked to compute the very same floats.
#pragma once
#include <portaudio.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

// The adaptive callbacks' sums come from OpenBLAS, whose kernels (chosen for
// the processor at load time) add in different orders: their bits are fixed
// only with the kernel pinned, as the test build does (OPENBLAS_CORETYPE).
inline bool blas_kernel_pinned()
{
    const char* core = std::getenv("OPENBLAS_CORETYPE");
    return core && std::strcmp(core, "Prescott") == 0;
}

// FNV-1a over the bit patterns of floats.
struct fingerprint {
    uint64_t hash = 1469598103934665603ull;
    void add(const float* values, int64_t count)
    {
        for (int64_t i = 0; i < count; i++) {
            uint32_t bits;
            std::memcpy(&bits, &values[i], sizeof bits);
            for (int byte = 0; byte < 4; byte++) {
                hash ^= (bits >> (8 * byte)) & 0xFFu;
                hash *= 1099511628211ull;
            }
        }
    }
};

// Runs callback for frames frames in buffers of buffer frames, input 1 being
// output 1 of delay frames earlier times gain (input 2 a distraction), and
// folds every output sample into print.
inline void loop_fingerprint(PaStreamCallback* callback, int64_t frames, int64_t buffer, int64_t delay, float gain,
                             fingerprint& print)
{
    std::vector<float> played(static_cast<size_t>(frames + buffer), 0.0f);
    std::vector<float> in(static_cast<size_t>(2 * buffer)), out(static_cast<size_t>(2 * buffer));
    for (int64_t start = 0; start < frames; start += buffer) {
        for (int64_t i = 0; i < buffer; i++) {
            const int64_t t = start + i;
            in[2 * i] = t >= delay ? gain * played[t - delay] : 0.0f;
            in[2 * i + 1] = 0.5f;
        }
        callback(in.data(), out.data(), static_cast<unsigned long>(buffer), nullptr, 0, nullptr);
        for (int64_t i = 0; i < buffer; i++)
            played[start + i] = out[2 * i];
        print.add(out.data(), 2 * buffer);
    }
}
