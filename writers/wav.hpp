// WAV files of 32-bit float samples, through libsndfile.
#pragma once
#include <cstdint>
#include <span>
#include <string>

// Writes samples (interleaved when channels > 1: frame f's channel c at
// f x channels + c) as a 32-bit float WAV at rate Hz. "" on success, else the
// path and the reason (libsndfile's words, or what is wrong with the
// arguments).
std::string wav_write(const std::string& path, int64_t rate, int channels, std::span<const float> samples);
