#pragma once
// The two places a decoded file can play: a server playback stream, or nowhere ("No sound"),
// where a clock takes the decoded samples in real time so positions still advance.

#include "audio/Capture.h"
#include "audio/Playback.h"
#include "audio/FileDecoder.h"
#include "audio/PulseConnection.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace audio {

// Feeds a server playback stream from the decoder's ring on the mainloop thread, applying
// the gain factor as samples are written. Taking from the decoder never waits on it (see
// FileDecoder.h); the decoder thread calls feed() itself, under the loop's lock, when a take
// had come up short.
//
// A seek replaces the server stream with a new one that starts at the asked byte: what the
// old one still held is dropped at once, and the new stream's clock (which the server
// corrects for its latency) counts from zero, so position = seek byte + bytes of that clock.
// At the end of the decoded output the stream is drained; the drain completing ends it.
class PulsePlayback final : public PlaybackStream, private ServerStream {
public:
    // `sink` empty = the server's default sink; one that fails to open falls back to it.
    static std::unique_ptr<PlaybackStream> open(std::shared_ptr<PulseConnection> connection,
                                                const std::string &sink,
                                                std::unique_ptr<FileDecoder> decoder,
                                                PlaybackFailure *failure);
    ~PulsePlayback() override;

    int sampleRate() const override { return m_decoder->sampleRate(); }
    std::int64_t lengthBytes() const override { return m_decoder->lengthBytes(); }
    void start() override;
    void pause() override;
    std::int64_t positionBytes() const override;
    void seek(std::int64_t bytes) override;
    bool hasEnded() const override;
    QString failure() const override;
    void setGainFactor(float factor) override { m_gain.store(factor, std::memory_order_relaxed); }

private:
    PulsePlayback(std::shared_ptr<PulseConnection> connection, std::string sink,
                  std::unique_ptr<FileDecoder> decoder);
    void stopStream() override;
    PlaybackFailure connectStream();     // lock held
    void dropStream();                   // lock held
    void feed();                         // lock held
    void applyCork();                    // lock held

    static void onWrite(pa_stream *stream, std::size_t bytes, void *self);
    static void onState(pa_stream *stream, void *self);
    static void onDrained(pa_stream *stream, int success, void *self);

    std::shared_ptr<PulseConnection> m_connection;  // outlives m_stream
    std::string m_sink;
    std::unique_ptr<FileDecoder> m_decoder;
    pa_stream *m_stream = nullptr;
    pa_sample_spec m_spec{};
    std::atomic<float> m_gain{1.0f};
    bool m_running = false;         // start() rather than pause() was asked last
    std::int64_t m_segmentStart = 0;  // byte where the current server stream begins
    std::int64_t m_written = 0;       // bytes written to the current server stream
    bool m_draining = false;
    std::atomic<bool> m_drained{false};
    std::atomic<bool> m_failed{false};
    QString m_failure;  // lock held
};

// "No sound": nothing is heard; the decoded samples are taken at the real-time rate.
class SilentPlayback final : public PlaybackStream {
public:
    explicit SilentPlayback(std::unique_ptr<FileDecoder> decoder);

    int sampleRate() const override { return m_decoder->sampleRate(); }
    std::int64_t lengthBytes() const override { return m_decoder->lengthBytes(); }
    void start() override;
    void pause() override;
    std::int64_t positionBytes() const override;
    void seek(std::int64_t bytes) override;
    bool hasEnded() const override;
    QString failure() const override { return m_decoder->failure(); }
    void setGainFactor(float) override {}

private:
    using Clock = std::chrono::steady_clock;
    void advance() const;  // takes what the clock says has been played since the last call

    std::unique_ptr<FileDecoder> m_decoder;
    bool m_running = false;
    mutable Clock::time_point m_lastAdvance;
    mutable std::int64_t m_position = 0;  // bytes taken so far
    mutable double m_owedBytes = 0;       // played by the clock, not yet taken
    mutable std::vector<char> m_discard = std::vector<char>(64 * 1024);
};

}  // namespace audio
