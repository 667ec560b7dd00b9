#pragma once
// The header an encoder reads first on its standard input: PCM, 16-bit, stereo, with RIFF
// and data sizes 0xFFFFFFFF, the usual mark of a stream whose length is not known yet.

#include <array>
#include <cstdint>

namespace audio {

constexpr std::size_t kWavHeaderBytes = 44;

inline std::array<char, kWavHeaderBytes> streamingWavHeader(int sampleRate)
{
    std::array<char, kWavHeaderBytes> h{};
    std::size_t at = 0;
    auto text = [&](const char *four) {
        for (int i = 0; i < 4; ++i)
            h[at++] = four[i];
    };
    auto le = [&](std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            h[at++] = static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    const auto rate = static_cast<std::uint32_t>(sampleRate);
    text("RIFF");
    le(0xFFFFFFFFu, 4);
    text("WAVE");
    text("fmt ");
    le(16, 4);         // size of the format chunk
    le(1, 2);          // PCM
    le(2, 2);          // channels
    le(rate, 4);
    le(rate * 4, 4);   // bytes per second
    le(4, 2);          // bytes per frame
    le(16, 2);         // bits per sample
    text("data");
    le(0xFFFFFFFFu, 4);
    return h;
}

}  // namespace audio
