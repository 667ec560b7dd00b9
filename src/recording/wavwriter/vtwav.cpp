// vtwav OUTPUT: writes the WAV stream read on standard input (a RIFF/WAVE header, then PCM
// samples, sizes usually unknown: 0xFFFFFFFF) to the file OUTPUT, with correct sizes.
//
// The file is written in place, not via a temporary: it grows while recording. Its header
// is rewritten with the sizes so far about once a second, so the file is a valid WAV of
// what it holds at any moment (readers can measure it while it grows), and once more when
// the input ends. Data past 4 GiB cannot be described by a RIFF header: the sizes are then
// kept at their maximum and readers take the data to the end of the file.
//
// With VANTREL_FILE_START and VANTREL_TIME_REFERENCE in its environment (see WavHeader.h)
// the file gets a Broadcast Wave "bext" chunk between "fmt " and "data"; a malformed value
// is said on standard error and the file is written without it.
//
// Exit status: 0 on success, 1 on a read or write error, 2 on bad arguments or a stream
// that is not PCM WAV.

#include "audio/WavHeader.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {

// Reads exactly n bytes unless the input ends first; returns the count read, -1 on error.
ssize_t readFully(int fd, void *buffer, size_t n)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::read(fd, static_cast<char *>(buffer) + done, n - done);
        if (r == 0) break;
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        done += size_t(r);
    }
    return ssize_t(done);
}

bool writeFully(int fd, const void *buffer, size_t n)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd, static_cast<const char *>(buffer) + done, n - done);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += size_t(w);
    }
    return true;
}

bool writeAt(int fd, const void *buffer, size_t n, off_t offset)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::pwrite(fd, static_cast<const char *>(buffer) + done, n - done,
                                   offset + off_t(done));
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += size_t(w);
    }
    return true;
}

bool updateSizes(int fd, const wav::Layout &layout, uint64_t dataBytes)
{
    uint8_t riff[4], data[4];
    wav::putLe32(riff, wav::riffSize(layout, dataBytes));
    wav::putLe32(data, wav::dataSize(dataBytes));
    return writeAt(fd, riff, 4, 4) && writeAt(fd, data, 4, off_t(layout.dataSizeOffset));
}

bool isDigits(const char *text, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

// Whether text begins with pattern, each 'd' of which stands for a digit.
bool beginsWith(const char *text, const char *pattern)
{
    for (; *pattern; ++text, ++pattern)
        if (*pattern == 'd' ? !isDigits(text, 1) : *text != *pattern) return false;
    return true;
}

int twoDigits(const char *text) { return (text[0] - '0') * 10 + (text[1] - '0'); }

// "yyyy-mm-ddThh:mm:ss", then optional fractional seconds and an optional "Z" or "±hh:mm".
bool parseFileStart(const char *text, wav::BroadcastInfo &info)
{
    if (!beginsWith(text, "dddd-dd-ddTdd:dd:dd")) return false;
    const int month = twoDigits(text + 5), day = twoDigits(text + 8);
    if (month < 1 || month > 12 || day < 1 || day > 31 || twoDigits(text + 11) > 23
        || twoDigits(text + 14) > 59 || twoDigits(text + 17) > 59)
        return false;
    const char *rest = text + 19;
    if (*rest == '.') {
        const size_t digits = std::strspn(rest + 1, "0123456789");
        if (digits == 0) return false;
        rest += 1 + digits;
    }
    const bool offset = (beginsWith(rest, "+dd:dd") || beginsWith(rest, "-dd:dd")) && rest[6] == '\0';
    if (!offset && std::strcmp(rest, "Z") != 0 && *rest != '\0') return false;
    info.originationDate.assign(text, 10);
    info.originationTime.assign(text + 11, 8);
    return true;
}

bool parseTimeReference(const char *text, wav::BroadcastInfo &info)
{
    const size_t length = std::strlen(text);
    if (length == 0 || length > 19 || !isDigits(text, length)) return false;
    info.timeReference = std::strtoull(text, nullptr, 10);
    return true;
}

// The file's start from the environment: false if there is none to write, with a line on
// standard error when one value is malformed or missing.
bool broadcastInfoFromEnvironment(wav::BroadcastInfo &info)
{
    const char *fileStart = std::getenv(wav::kFileStartVariable);
    const char *timeReference = std::getenv(wav::kTimeReferenceVariable);
    if (!fileStart && !timeReference) return false;
    const char *name = wav::kFileStartVariable;
    const char *value = fileStart;
    if (fileStart && parseFileStart(fileStart, info)) {
        if (timeReference && parseTimeReference(timeReference, info)) return true;
        name = wav::kTimeReferenceVariable;
        value = timeReference;
    }
    if (value)
        std::fprintf(stderr, "vtwav: %s is malformed (\"%s\"); writing no bext chunk\n", name, value);
    else
        std::fprintf(stderr, "vtwav: %s is not set; writing no bext chunk\n", name);
    return false;
}

int failWith(const char *what, const char *path)
{
    std::fprintf(stderr, "vtwav: %s %s: %s\n", what, path, std::strerror(errno));
    return 1;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vtwav OUTPUT.wav  (reads a WAV stream on standard input)\n");
        return 2;
    }
    const char *path = argv[1];
    // An output that cannot be written is reported by the write, not by a signal.
    ::signal(SIGPIPE, SIG_IGN);

    std::vector<uint8_t> header;
    std::string problem;
    if (!wav::readHeader([](void *buf, size_t n) { return readFully(0, buf, n); }, header, &problem)) {
        std::fprintf(stderr, "vtwav: %s\n", problem.c_str());
        return 2;
    }
    wav::BroadcastInfo broadcastInfo;
    if (broadcastInfoFromEnvironment(broadcastInfo))
        wav::insertChunk(header, wav::bextChunk(broadcastInfo));
    const wav::Layout layout = wav::layoutOf(header);

    const int out = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) return failWith("cannot create", path);
    wav::putLe32(&header[4], wav::riffSize(layout, 0));
    wav::putLe32(&header[layout.dataSizeOffset], 0);
    if (!writeFully(out, header.data(), header.size())) return failWith("cannot write", path);

    using Clock = std::chrono::steady_clock;
    constexpr auto kHeaderPeriod = std::chrono::seconds(1);
    auto lastUpdate = Clock::now();
    uint64_t dataBytes = 0;
    std::vector<char> buffer(64 * 1024);

    for (;;) {
        const ssize_t n = ::read(0, buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "vtwav: reading the input: %s\n", std::strerror(errno));
            break;  // keep what was written, with correct sizes
        }
        if (!writeFully(out, buffer.data(), size_t(n))) return failWith("cannot write", path);
        const bool firstData = dataBytes == 0;
        dataBytes += uint64_t(n);
        const auto now = Clock::now();
        if (firstData || now - lastUpdate >= kHeaderPeriod) {
            if (!updateSizes(out, layout, dataBytes)) return failWith("cannot write", path);
            lastUpdate = now;
        }
    }

    // RIFF chunks have even sizes: an odd data chunk gets a pad byte after it.
    if (dataBytes % 2 != 0) {
        const char pad = 0;
        if (!writeFully(out, &pad, 1)) return failWith("cannot write", path);
    }
    if (!updateSizes(out, layout, dataBytes) || ::close(out) != 0)
        return failWith("cannot finish", path);
    return 0;
}
