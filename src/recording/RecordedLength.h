#pragma once
// Byte counts of captured 16-bit stereo audio and the lengths they stand for. 64-bit
// throughout: four hours at 48000 Hz are 2 764 800 000 bytes, past 2^31.

#include <QtGlobal>

#include <cstdint>

namespace recording {

// Whole seconds of audio in capturedBytes at sampleRate, truncated toward zero; 0 for a
// rate of 0. Clamped to the 32-bit range of an archive record.
qint32 wholeSeconds(std::uint64_t capturedBytes, int sampleRate);

// Seconds, with fraction, of audio in capturedBytes (0 for a rate of 0).
double capturedSeconds(std::uint64_t capturedBytes, int sampleRate);

// The byte count of a length limit in milliseconds at sampleRate, whole frames; 0 = none.
std::uint64_t limitBytes(quint32 limitMs, int sampleRate);

}  // namespace recording
