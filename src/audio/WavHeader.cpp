#include "audio/WavHeader.h"

#include <cstring>

namespace wav {

namespace {

constexpr uint32_t kMax32 = 0xFFFFFFFFu;
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// A "fmt " chunk bigger than this is no PCM header.
constexpr uint32_t kMaxFmtBytes = 1024;

bool readExactly(const Reader &read, void *buffer, size_t n)
{
    return read(buffer, n) == ssize_t(n);
}

// Skips n bytes of a chunk the writer does not keep.
bool skip(const Reader &read, uint64_t n)
{
    char scratch[4096];
    while (n > 0) {
        const size_t step = n < sizeof scratch ? size_t(n) : sizeof scratch;
        if (!readExactly(read, scratch, step)) return false;
        n -= step;
    }
    return true;
}

bool fail(std::string *problem, const char *text)
{
    if (problem) *problem = text;
    return false;
}

}  // namespace

void putLe32(uint8_t *at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(value >> (8 * i));
}

uint32_t getLe32(const uint8_t *at)
{
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

Layout layoutOf(const std::vector<uint8_t> &header)
{
    return {header.size(), header.size() - 4};
}

uint32_t riffSize(const Layout &layout, uint64_t dataBytes)
{
    // Everything after the RIFF size field: "WAVE", the chunks, the samples and a pad byte.
    const uint64_t size = uint64_t(layout.headerBytes) - 8 + dataBytes + (dataBytes & 1);
    return size > kMax32 ? kMax32 : uint32_t(size);
}

uint32_t dataSize(uint64_t dataBytes) { return dataBytes > kMax32 ? kMax32 : uint32_t(dataBytes); }

bool readHeader(const Reader &read, std::vector<uint8_t> &header, std::string *problem)
{
    uint8_t riff[12];
    if (!readExactly(read, riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0
        || std::memcmp(riff + 8, "WAVE", 4) != 0)
        return fail(problem, "the input is not a WAV stream");

    std::vector<uint8_t> fmt;
    for (;;) {
        uint8_t chunk[8];
        if (!readExactly(read, chunk, sizeof chunk))
            return fail(problem, "the input ended before its data chunk");
        const uint32_t size = getLe32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) break;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16 || size > kMaxFmtBytes) return fail(problem, "bad format chunk");
            fmt.assign(chunk, chunk + 8);
            fmt.resize(8 + size);
            if (!readExactly(read, fmt.data() + 8, size)) return fail(problem, "bad format chunk");
            // A chunk of odd size is followed by a pad byte, in the input and in the copy.
            if (size & 1) {
                if (!skip(read, 1)) return fail(problem, "bad format chunk");
                fmt.push_back(0);
            }
        } else if (!skip(read, uint64_t(size) + (size & 1))) {
            return fail(problem, "the input ended before its data chunk");
        }
    }
    if (fmt.empty()) return fail(problem, "the input has no format chunk");
    const uint16_t format = uint16_t(fmt[8] | fmt[9] << 8);
    if (format != kFormatPcm && format != kFormatExtensible)
        return fail(problem, "the input is not PCM");

    header.assign(riff, riff + sizeof riff);
    header.insert(header.end(), fmt.begin(), fmt.end());
    const uint8_t data[8] = {'d', 'a', 't', 'a', 0, 0, 0, 0};
    header.insert(header.end(), data, data + sizeof data);
    return true;
}

std::vector<uint8_t> bextChunk(const BroadcastInfo &info)
{
    // Description (256), Originator (32), OriginatorReference (32), OriginationDate (10),
    // OriginationTime (8), TimeReference low and high (4 + 4), Version (2), UMID (64),
    // loudness (5 × 2), reserved (180); no coding history.
    constexpr size_t kOriginator = 8 + 256, kDate = kOriginator + 64, kTime = kDate + 10,
                     kTimeReference = kTime + 8, kVersion = kTimeReference + 8;
    std::vector<uint8_t> chunk(8 + kBextDataBytes, 0);
    std::memcpy(chunk.data(), "bext", 4);
    putLe32(&chunk[4], uint32_t(kBextDataBytes));
    const auto put = [&chunk](size_t at, const std::string &text, size_t width) {
        std::memcpy(&chunk[at], text.data(), text.size() < width ? text.size() : width);
    };
    put(kOriginator, "Vantrel", 32);
    put(kDate, info.originationDate, 10);
    put(kTime, info.originationTime, 8);
    putLe32(&chunk[kTimeReference], uint32_t(info.timeReference));
    putLe32(&chunk[kTimeReference + 4], uint32_t(info.timeReference >> 32));
    chunk[kVersion] = 1;
    return chunk;
}

void insertChunk(std::vector<uint8_t> &header, const std::vector<uint8_t> &chunk)
{
    header.insert(header.end() - 8, chunk.begin(), chunk.end());
}

std::array<char, kStreamingHeaderBytes> streamingWavHeader(int sampleRate)
{
    const auto rate = uint32_t(sampleRate);
    uint8_t h[kStreamingHeaderBytes] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E',
                                        'f', 'm', 't', ' ', 16, 0, 0, 0,  // size of the format chunk
                                        kFormatPcm, 0, 2, 0,              // PCM, two channels
                                        0, 0, 0, 0, 0, 0, 0, 0,           // rate, bytes per second
                                        4, 0, 16, 0,                      // bytes per frame, bits
                                        'd', 'a', 't', 'a', 0, 0, 0, 0};
    putLe32(h + 4, kMax32);
    putLe32(h + 24, rate);
    putLe32(h + 28, rate * 4);
    putLe32(h + 40, kMax32);
    std::array<char, kStreamingHeaderBytes> header;
    std::memcpy(header.data(), h, sizeof h);
    return header;
}

}  // namespace wav
