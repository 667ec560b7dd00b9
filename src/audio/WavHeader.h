#pragma once
// RIFF/WAVE headers, the one module that knows their layout: the header an encoder feed
// sends first, and the WAV writer's reading of a header from its input, its Broadcast Wave
// chunk and keeping its sizes current. Plain C++, so that the writer stays a small program without Qt.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace wav {

constexpr size_t kStreamingHeaderBytes = 44;

// The header an encoder reads first on its standard input: PCM, 16-bit, stereo, with RIFF
// and data sizes 0xFFFFFFFF, the usual mark of a stream whose length is not known yet.
std::array<char, kStreamingHeaderBytes> streamingWavHeader(int sampleRate);

void putLe32(uint8_t *at, uint32_t value);
uint32_t getLe32(const uint8_t *at);

// Where the sizes sit in a header made by readHeader.
struct Layout {
    size_t headerBytes = 0;     // the data chunk's samples start here
    size_t dataSizeOffset = 0;  // the data chunk's size field
};
Layout layoutOf(const std::vector<uint8_t> &header);

// Sizes for dataBytes of samples; past what 32 bits hold they stay at their maximum.
uint32_t riffSize(const Layout &layout, uint64_t dataBytes);
uint32_t dataSize(uint64_t dataBytes);

// What a Broadcast Wave "bext" chunk (version 1) tells of a file's start.
struct BroadcastInfo {
    std::string originationDate;  // "yyyy-mm-dd", local time of the first sample
    std::string originationTime;  // "hh:mm:ss"
    uint64_t timeReference = 0;   // samples since local midnight at the first sample
};
constexpr size_t kBextDataBytes = 602;  // without coding history
// The chunk, its 8-byte chunk header included: originator "Vantrel", the rest zeros.
std::vector<uint8_t> bextChunk(const BroadcastInfo &info);
// Puts `chunk` into a header made by readHeader, just before its data chunk.
void insertChunk(std::vector<uint8_t> &header, const std::vector<uint8_t> &chunk);

// The WAV writer's environment: with both set it writes a bext chunk.
// kFileStartVariable: local time of the first sample, ISO 8601 with milliseconds and UTC
// offset ("2026-12-09T10:00:00.000+01:00"); kTimeReferenceVariable: the decimal count of
// samples since local midnight at that sample.
constexpr const char *kFileStartVariable = "VANTREL_FILE_START";
constexpr const char *kTimeReferenceVariable = "VANTREL_TIME_REFERENCE";

// Reads "RIFF", "WAVE", the chunks up to and including the "data" chunk's header, and
// builds a header of "RIFF", "WAVE", the "fmt " chunk as read and the "data" chunk header
// (other chunks are dropped). Refuses anything but integer PCM (format 1, or extensible).
// read(buffer, n) returns the bytes read (fewer at the end of input) or -1.
using Reader = std::function<ssize_t(void *, size_t)>;
bool readHeader(const Reader &read, std::vector<uint8_t> &header, std::string *problem);

}  // namespace wav
