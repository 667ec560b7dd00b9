#pragma once
// A decoded file played on a playback device (see AudioBackend::openPlayback).

#include <QString>

#include <cstdint>

namespace audio {

// Why a file could not be opened for playback, as its cause and in a few words for the log
// and the user. Set where the failure arises; no one reads the cause back from the text.
struct PlaybackFailure {
    enum class Cause {
        None,
        FileUnreadable,  // missing, unreadable, or no audio the decoder can play
        NoSoundServer,   // a real device asked for and no server reachable
        OutputRefused,   // the server refused the stream, or the file's format
    };
    Cause cause = Cause::None;
    QString text;

    bool failed() const { return cause != Cause::None; }
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

}  // namespace audio
