#pragma once
// The encoder child process and the feed into its standard input (threads: see
// EncoderFeed.cpp).

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <memory>

#include <sys/types.h>

namespace audio {

// SIGPIPE ignored process-wide, once: a write to a reader that went away (an encoder, a
// client) fails with EPIPE instead of ending the program.
void ignoreSigpipe();

// Starts argv[0] (searched on PATH unless it holds a slash) as the encoders are started,
// with standard input from inputFd and standard output into outputFd, standard error to
// /dev/null: 0 and *pid, or the error code. The caller reaps the child.
int spawnFilter(const QStringList &argv, int inputFd, int outputFd, pid_t *pid);

// The encoder child process and the feed into its standard input.
class EncoderFeed {
public:
    // Starts argv[0] with argv[1…] directly (no shell), then writes a WAV header (PCM,
    // 16-bit, stereo, sampleRate, RIFF and data sizes 0xFFFFFFFF) to its standard input.
    // The child inherits this process's environment plus `environment` ("NAME=value"
    // entries; one whose name is inherited replaces the inherited value).
    // Returns null (and sets *error) when the program cannot be started.
    static std::unique_ptr<EncoderFeed> start(const QStringList &argv, int sampleRate,
                                              QString *error = nullptr,
                                              const QStringList &environment = {});
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

}  // namespace audio
