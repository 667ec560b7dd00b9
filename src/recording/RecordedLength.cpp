#include "recording/RecordedLength.h"

#include "audio/Capture.h"

#include <limits>

namespace recording {

double capturedSeconds(std::uint64_t capturedBytes, int sampleRate)
{
    if (sampleRate <= 0) return 0;
    return double(capturedBytes) / (double(sampleRate) * audio::kBytesPerFrame);
}

qint32 wholeSeconds(std::uint64_t capturedBytes, int sampleRate)
{
    if (sampleRate <= 0) return 0;
    const std::uint64_t seconds = capturedBytes / (std::uint64_t(sampleRate) * audio::kBytesPerFrame);
    return qint32(qMin<std::uint64_t>(seconds, std::numeric_limits<qint32>::max()));
}

std::uint64_t limitBytes(quint32 limitMs, int sampleRate)
{
    if (sampleRate <= 0) return 0;
    return std::uint64_t(limitMs) * std::uint64_t(sampleRate) / 1000 * audio::kBytesPerFrame;
}

}  // namespace recording
