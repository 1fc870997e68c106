#pragma once

// 16-bit PCM WAV: the RIFF header and the samples, little-endian.

#include <cstdint>
#include <span>
#include <string>

namespace sound {

// The whole file's bytes for mono `samples` at `sampleRate`, for the program
// to write whole or not at all.
std::string wavBytes(std::span<const std::int16_t> samples, int sampleRate);

} // namespace sound
