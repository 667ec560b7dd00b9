#pragma once
// The sound boundary of Vantrel: the only module that knows PulseAudio and FFmpeg.
//
// Threads
// - The main (GUI) thread calls everything declared here unless a comment says otherwise.
// - AudioBackend runs one pa_threaded_mainloop. Capture stream callbacks run on
//   that mainloop thread. A capture callback only copies the block into preallocated memory
//   (the encoder feed's ring buffer, a history of recent blocks) and bumps atomic counters: no
//   allocation, no pipe or file I/O, no blocking lock. The main thread takes turns with it
//   through CaptureStream::runBetweenBlocks().
// - Each EncoderFeed owns a writer thread that moves bytes from its ring buffer into the
//   encoder's standard input, so a slow encoder never blocks capture. After stop() the writer
//   drains what is left, closes the pipe and reaps the child (no zombie).
// - Nothing here touches widgets; the GUI reads state (levels, counters, flags) from timers.
//
// Device numbering (settings keys PlayDev, RecDev, RecSrc use these numbers):
// - playback: 0 = "No sound" (decodes in real time, nothing heard), 1 (and -1, "no
//   selection") = "Default", 2… = sinks
// - recording: 0 (and -1, "no selection") = "Default", 1… = sources in server order
//   (monitors included); a number the server does not list records nothing
// - inputs: the ports of the chosen recording device in server order
// Without a reachable server the playback list is just "No sound" and the others are empty.

#include <QString>
#include <QStringList>

#include <atomic>
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

class CaptureStream;
class PlaybackStream;

class AudioBackend {
public:
    AudioBackend();
    ~AudioBackend();  // releases everything still open
    AudioBackend(const AudioBackend &) = delete;
    AudioBackend &operator=(const AudioBackend &) = delete;

    // Connects to the sound server (PULSE_SERVER or the session default) and remembers the
    // chosen devices. Never shows anything; false when no server is reachable. Until
    // release(), the device lists and startCapture() connect again when the server has gone
    // away since (or was not there at first).
    bool init(int playDevice, int recordDevice);
    void release();
    bool isConnected() const;

    QStringList playbackDevices() const;
    QStringList recordingDevices() const;
    QStringList recordingInputs() const;  // of the current recording device
    QStringList recordingInputs(int device) const;  // of recording device number `device`
    bool selectInput(int index);           // makes that port of the current device active

    // The recording device that the next startCapture() and selectInput() use; a capture
    // already running goes on from the device it was started with.
    void setRecordDevice(int device);
    int recordDevice() const;

    // Called on the mainloop thread for every captured block; must not block.
    using BlockCallback = std::function<void(const char *data, std::size_t bytes)>;

    // The source a capture records from: the server's name for it and its description
    // (both empty for the server's default source, which a capture follows wherever it goes).
    struct CaptureSource {
        QString name;
        QString description;
    };

    // Starts capturing 16-bit stereo at sampleRate from the recording device, delivering
    // ~40 ms blocks to onBlock. Returns null (and sets *error: "no sound server (…)",
    // "recording device 3 not found", …) when capture cannot start. *source, when given, is
    // set to the source the device number stood for, for a later startCaptureFrom().
    std::unique_ptr<CaptureStream> startCapture(int sampleRate, BlockCallback onBlock,
                                                QString *error = nullptr,
                                                CaptureSource *source = nullptr);
    // The same from `source` as an earlier startCapture() resolved it, whatever the device
    // numbers stand for now: a device unplugged and plugged in again shifts them. Fails with
    // "recording device “…” not found" while the server does not list that source.
    std::unique_ptr<CaptureStream> startCaptureFrom(const CaptureSource &source, int sampleRate,
                                                    BlockCallback onBlock,
                                                    QString *error = nullptr);

    // Opens `path` for playback on playback device `playDevice` (0 = "No sound", 1 = the
    // default sink, 2… = sinks; a sink the server no longer lists falls back to the default,
    // and so does -1, "no selection", which older settings dialogs stored for such a sink).
    // The stream starts paused at byte 0. Null (and *error, *unreadableFile) when the file
    // cannot be decoded or the server refuses the stream.
    std::unique_ptr<PlaybackStream> openPlayback(const QString &path, int playDevice,
                                                 QString *error = nullptr,
                                                 bool *unreadableFile = nullptr);

    struct Impl;

private:
    std::unique_ptr<Impl> d;
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
    // Runs `change` at a block boundary: no block callback runs meanwhile, and the next one
    // sees everything `change` did. Blocks the caller for at most one block's delivery.
    virtual void runBetweenBlocks(const std::function<void()> &change) = 0;
};

// One decoded file played on a playback device. A decoder thread of its own fills a buffer
// of decoded 16-bit stereo at the file's rate; the server's stream (or, on "No sound", a
// real-time clock) takes from it. Positions are byte counts of that decoded output.
// All functions: one thread at a time (the engine's); the destructor silences it at once.
class PlaybackStream {
public:
    virtual ~PlaybackStream() = default;
    virtual int sampleRate() const = 0;
    // Length of the decoded output from the container's duration (0 when it gives none).
    virtual std::int64_t lengthBytes() const = 0;
    virtual void start() = 0;  // begins or resumes where it stands
    virtual void pause() = 0;  // holds the sample being heard
    // Position of the sample being heard, the server's latency taken into account.
    virtual std::int64_t positionBytes() const = 0;
    // Goes on from exactly that byte (a whole frame), decoding from the nearest earlier key
    // point and skipping; running or paused as before.
    virtual void seek(std::int64_t bytes) = 0;
    // True once the whole file was decoded and the server's drain of it completed, or the
    // stream failed (failure() then says why).
    virtual bool hasEnded() const = 0;
    virtual QString failure() const = 0;
    // The factor every sample is multiplied with (gain and volume), applied as samples go
    // to the server; any thread.
    virtual void setGainFactor(float factor) = 0;
};

// The encoder child process and the feed into its standard input.
class EncoderFeed {
public:
    // Starts argv[0] with argv[1…] directly (no shell), then writes a WAV header (PCM,
    // 16-bit, stereo, sampleRate, RIFF and data sizes 0xFFFFFFFF) to its standard input.
    // Returns null (and sets *error) when the program cannot be started.
    static std::unique_ptr<EncoderFeed> start(const QStringList &argv, int sampleRate,
                                              QString *error = nullptr);
    virtual ~EncoderFeed() = default;

    // Any one thread at a time (normally the capture callback): queues samples; never
    // blocks. When the buffer (8 s of audio) is full the block is dropped and counted in
    // droppedBytes(); once the encoder is dead or stop() was called, blocks are ignored.
    virtual void push(const char *data, std::size_t bytes) noexcept = 0;

    // Closes the input once the queued samples are written; the encoder then finishes its
    // file on its own and is reaped in the background. Returns at once.
    virtual void stop() = 0;

    // False once the encoder has exited or stopped reading before stop() was called.
    virtual bool isAlive() const = 0;
    // How the encoder ended ("exited with status 1", "killed by signal 9"), or "stopped
    // reading its input" while that is not known yet; empty while it runs.
    virtual QString endDescription() const = 0;
    // The last 4 KB the encoder wrote to its standard error; complete once it has ended
    // (endDescription() no longer says "stopped reading its input").
    virtual QString errorTail() const = 0;
    virtual std::uint64_t droppedBytes() const = 0;
    // Sample bytes written into the encoder's input so far (the header not counted): what
    // the encoder was given, though it may not have read the last pipe's worth of it.
    virtual std::uint64_t deliveredBytes() const = 0;

    // Waits up to timeoutMs for every encoder stopped so far to finish writing its file.
    // Returns true when all have exited.
    static bool waitForAll(int timeoutMs);
    // Encoder processes still running (started and not yet reaped).
    static int runningCount();
};

// Size and duration of an audio file, read from its container headers only.
struct FileProbe {
    bool ok = false;           // false: unreadable or not an audio file
    std::int64_t fileBytes = 0;
    double durationSeconds = 0;  // 0 when the headers give none yet
};
FileProbe probeFile(const QString &path);

}  // namespace audio
