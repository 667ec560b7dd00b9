// vt_test_feeder MODEFILE: writes the test sound server's signal, 48000 Hz s16le stereo, to
// standard output until the reader goes away. The pipe paces it: a player such as pacat
// blocks while its buffer is full, so the feeder runs in real time and costs next to nothing.
//
// Before each 10 ms block it reads MODEFILE (a missing or unknown word keeps the mode):
//   sine     440 Hz at half scale on both channels
//   count    every frame says which one it is: left = low 16 bits of the frame number,
//            right = high 16 bits; the number counts every frame ever written, whatever
//            the mode, so a capture can tell exactly which frames it lost or repeated
//   silence  zeros
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kBlockFrames = kRate / 100;

enum class Mode { Sine, Count, Silence };

bool readMode(const char *path, Mode &mode)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char word[16] = {};
    const ssize_t n = ::read(fd, word, sizeof word - 1);
    ::close(fd);
    if (n <= 0)
        return false;
    const std::string text(word, std::size_t(n));
    if (text.rfind("sine", 0) == 0)
        mode = Mode::Sine;
    else if (text.rfind("count", 0) == 0)
        mode = Mode::Count;
    else if (text.rfind("silence", 0) == 0)
        mode = Mode::Silence;
    else
        return false;
    return true;
}

bool writeFully(const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(1, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vt_test_feeder MODEFILE\n");
        return 2;
    }
    // A pipe of one page keeps a mode change from waiting behind a default 64 KiB of
    // queued signal (a third of a second); the player's own buffer is latency enough.
    ::fcntl(1, F_SETPIPE_SZ, 4096);

    // A 10 ms block holds 4.4 periods of 440 Hz, so the sine is taken from the frame
    // number: its phase runs on across blocks and mode changes.
    const double step = 2.0 * M_PI * 440.0 / kRate;
    std::vector<int16_t> block(kBlockFrames * 2);
    Mode mode = Mode::Sine;
    uint64_t frame = 0;
    for (;;) {
        readMode(argv[1], mode);
        for (int i = 0; i < kBlockFrames; ++i, ++frame) {
            int16_t left = 0, right = 0;
            if (mode == Mode::Sine) {
                // The phase wraps every 12000 frames (exactly 110 periods).
                left = right = int16_t(std::lround(16383.0 * std::sin(step * double(frame % 12000))));
            } else if (mode == Mode::Count) {
                left = int16_t(uint16_t(frame & 0xFFFF));
                right = int16_t(uint16_t((frame >> 16) & 0xFFFF));
            }
            block[2 * i] = left;
            block[2 * i + 1] = right;
        }
        if (!writeFully(reinterpret_cast<const char *>(block.data()), block.size() * sizeof(int16_t)))
            return 0;  // the reader went away: the server stopped the feed
    }
}
