#pragma once
// Capture from one source: a record stream delivering ~40 ms blocks of 16-bit stereo.
//
// The read callback runs on the mainloop thread.
//
// The server's timing reports (about every 1.5 s) say which stream byte its source was
// capturing when: the byte the server had written for us plus the source's own latency, at
// the server's timestamp. They become StreamInstants for the recording's time base. It hands each block to the caller's block
// callback, turns holes in the stream into silence of the same length (so that the sample
// count, and with it every length derived from it, stays true), and publishes the per-channel
// peak of the most recent ~20 ms, however many frames each read held. It neither allocates
// nor locks.
//
// Audio the server had to throw away is counted, never hidden. While the mainloop thread is
// held up the server queues the stream's audio up to the buffer's maxlength and then drops
// what comes after, without a hole or a notice: PulseAudio sends overflow notices for
// playback streams only. So a pause between two reads longer than the buffer holds counts
// as an overflow, and so does a notice where a server sends one.

#include "audio/Capture.h"
#include "audio/PulseConnection.h"
#include "audio/RecentPeak.h"

#include <atomic>
#include <memory>
#include <string>

namespace audio {

class PulseCapture final : public CaptureStream, private ServerStream {
public:
    // `source` empty = the server's default source. Waits at most timeoutMs for the stream.
    static std::unique_ptr<CaptureStream> start(std::shared_ptr<PulseConnection> connection,
                                                const std::string &source, int sampleRate,
                                                BlockCallback onBlock,
                                                int timeoutMs, QString *error);
    ~PulseCapture() override;

    int sampleRate() const override { return m_sampleRate; }
    std::uint32_t level() const override;
    bool isRunning() const override;
    std::uint64_t overflows() const override { return m_overflows.load(std::memory_order_relaxed); }
    void stop() override;
    void runBetweenBlocks(const std::function<void()> &change) override;
    bool lastInstant(StreamInstant *instant) const override;

private:
    PulseCapture(std::shared_ptr<PulseConnection> connection, int sampleRate,
                 BlockCallback onBlock);
    void stopStream() override { stop(); }
    // Creates and connects the record stream and waits for it; the failure, or empty. Lock held.
    QString connectStream(const std::string &source, const pa_sample_spec &spec, int timeoutMs);
    void readAvailable();
    void deliver(const char *data, std::size_t bytes);

    static void onRead(pa_stream *stream, std::size_t bytes, void *self);
    static void onState(pa_stream *stream, void *self);
    static void onOverflow(pa_stream *stream, void *self);
    static void onTimingUpdate(pa_stream *stream, void *self);

    std::shared_ptr<PulseConnection> m_connection;  // outlives m_stream
    pa_stream *m_stream = nullptr;
    const int m_sampleRate;
    BlockCallback m_onBlock;
    std::unique_ptr<char[]> m_silence;  // zeros that stand in for holes
    RecentPeak m_recentPeak;  // mainloop thread only
    std::atomic<std::uint32_t> m_level{kNoLevel};
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stopped{false};
    std::atomic<std::uint64_t> m_overflows{0};
    pa_usec_t m_stallLimitUsec = 0;  // a pause between reads longer than this lost audio
    pa_usec_t m_lastReadUsec = 0;    // mainloop thread only
    // The latest timing report; written on the mainloop thread, read under its lock.
    StreamInstant m_instant;
    bool m_hasInstant = false;
};

}  // namespace audio
