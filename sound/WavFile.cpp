#include "sound/WavFile.h"

namespace sound {
namespace {

void putLittleEndian(std::string& bytes, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xffu));
}

} // namespace

std::string wavBytes(std::span<const std::int16_t> samples, int sampleRate)
{
    constexpr std::uint32_t kChannels = 1;
    constexpr std::uint32_t kBytesPerSample = 2;
    const auto dataSize = static_cast<std::uint32_t>(samples.size() * kBytesPerSample);
    std::string bytes;
    bytes.reserve(44 + dataSize);
    bytes += "RIFF";
    putLittleEndian(bytes, 36 + dataSize, 4);
    bytes += "WAVEfmt ";
    putLittleEndian(bytes, 16, 4);  // the format chunk's size
    putLittleEndian(bytes, 1, 2);   // PCM
    putLittleEndian(bytes, kChannels, 2);
    putLittleEndian(bytes, static_cast<std::uint32_t>(sampleRate), 4);
    putLittleEndian(bytes, static_cast<std::uint32_t>(sampleRate) * kChannels * kBytesPerSample, 4);
    putLittleEndian(bytes, kChannels * kBytesPerSample, 2);
    putLittleEndian(bytes, 8 * kBytesPerSample, 2);
    bytes += "data";
    putLittleEndian(bytes, dataSize, 4);
    for (const std::int16_t sample : samples)
        putLittleEndian(bytes, static_cast<std::uint16_t>(sample), 2);
    return bytes;
}

} // namespace sound
