#pragma once
// Capture: what a recording takes from a sound server, and all it needs to know of one.
// A backend of its own (PulseAudio today) implements CaptureBackend; the recording works
// on this interface alone, so a test can drive it with blocks of its own making.
//
// Threads: CaptureBackend and CaptureStream are called on the main thread, except level(),
// which any thread may read. The block callback runs on the backend's own audio thread; it
// must not block, allocate, lock or do I/O.

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace audio {

// 16-bit signed little-endian stereo: four bytes a frame.
constexpr int kBytesPerFrame = 4;

// Capture sample rates asked of the server; anything else fails before it is asked.
constexpr int kMinSampleRate = 1000;
constexpr int kMaxSampleRate = 384000;

// A level word: low 16 bits left, high 16 bits right, each 0…32768; kNoLevel = no level.
constexpr std::uint32_t kNoLevel = 0xFFFFFFFFu;

// Called on the audio thread for every captured block; must not block.
using BlockCallback = std::function<void(const char *data, std::size_t bytes)>;

// Which byte of a stream the source was capturing at which moment, by the sound server's
// own timing (not when the byte reached the program). Stream bytes count from the first
// byte the stream delivered.
struct StreamInstant {
    std::uint64_t streamByte = 0;
    std::int64_t wallUs = 0;       // system wall clock, µs since the epoch
    std::int64_t monotonicUs = 0;  // the same moment on the monotonic clock (CLOCK_MONOTONIC)
};

// The source a capture records from: the server's name for it and its description (both
// empty for the server's default source, which a capture follows wherever it goes).
struct CaptureSource {
    QString name;
    QString description;
};

class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    virtual int sampleRate() const = 0;
    // Peak per channel of the most recent ~20 ms captured, whatever sizes the server delivers
    // in, packed; kNoLevel once stopped or failed. Any thread.
    virtual std::uint32_t level() const = 0;
    // False once the server ended the stream (device gone, server lost).
    virtual bool isRunning() const = 0;
    // Times the server's buffer for this stream overflowed because the capture thread was
    // held up: audio was lost there and never delivered.
    virtual std::uint64_t overflows() const = 0;
    // Stops capture; no callback runs after it returns.
    virtual void stop() = 0;
    // The server's latest report of its capture timing; false while it has given none.
    virtual bool lastInstant(StreamInstant *instant) const
    {
        (void)instant;
        return false;
    }
    // Runs `change` at a block boundary: no block callback runs meanwhile, and the next one
    // sees everything `change` did. Blocks the caller for at most one block's delivery.
    virtual void runBetweenBlocks(const std::function<void()> &change) = 0;
};

// What a recording asks of a sound server.
class CaptureBackend {
public:
    virtual ~CaptureBackend() = default;

    // Starts capturing 16-bit stereo at sampleRate from the recording device, delivering
    // blocks of a few tens of milliseconds to onBlock. Returns null (and sets *error: "no
    // sound server (…)", "recording device 3 not found", …) when capture cannot start.
    // *source, when given, is set to the source the device number stood for, for a later
    // startCaptureFrom().
    virtual std::unique_ptr<CaptureStream> startCapture(int sampleRate, BlockCallback onBlock,
                                                        QString *error = nullptr,
                                                        CaptureSource *source = nullptr) = 0;
    // The same from `source` as an earlier startCapture() resolved it, whatever the device
    // numbers stand for now: a device unplugged and plugged in again shifts them. Fails with
    // "recording device “…” not found" while the server does not list that source.
    virtual std::unique_ptr<CaptureStream> startCaptureFrom(const CaptureSource &source, int sampleRate,
                                                            BlockCallback onBlock,
                                                            QString *error = nullptr) = 0;
    // The recording device that the next startCapture() uses; a capture already running
    // goes on from the device it was started with.
    virtual int recordDevice() const = 0;
    // False while the sound server cannot be reached.
    virtual bool isConnected() const = 0;
};

}  // namespace audio
