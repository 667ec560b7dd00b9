#include "audio/PlaybackOutputs.h"

#include "audio/Logging.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace audio {

namespace {

constexpr int kStreamTimeoutMs = 3000;
// What the server keeps queued ahead of the sample being heard: short, so a seek or a
// pause is heard at once, long enough for a busy machine to keep it filled.
constexpr pa_usec_t kServerBufferUsec = 100 * PA_USEC_PER_MSEC;

void applyGain(char *data, std::size_t bytes, float factor)
{
    auto *sample = reinterpret_cast<std::int16_t *>(data);
    const std::size_t count = bytes / sizeof(std::int16_t);
    for (std::size_t i = 0; i < count; ++i) {
        const float scaled = sample[i] * factor;
        sample[i] = static_cast<std::int16_t>(std::clamp(std::lrint(scaled), -32768L, 32767L));
    }
}

}  // namespace

PulsePlayback::PulsePlayback(std::shared_ptr<PulseConnection> connection, std::string sink,
                             std::unique_ptr<FileDecoder> decoder)
    : m_connection(std::move(connection)), m_sink(std::move(sink)), m_decoder(std::move(decoder))
{
    m_spec = pa_sample_spec{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(m_decoder->sampleRate()), 2};
}

std::unique_ptr<PlaybackStream> PulsePlayback::open(std::shared_ptr<PulseConnection> connection,
                                                    const std::string &sink,
                                                    std::unique_ptr<FileDecoder> decoder,
                                                    PlaybackFailure *failure)
{
    auto fail = [failure](PlaybackFailure why) {
        if (failure)
            *failure = std::move(why);
        return nullptr;
    };
    if (!connection)
        return fail({PlaybackFailure::Cause::NoSoundServer, QStringLiteral("no sound server")});
    std::unique_ptr<PulsePlayback> playback(
        new PulsePlayback(std::move(connection), sink, std::move(decoder)));
    if (!pa_sample_spec_valid(&playback->m_spec))
        return fail({PlaybackFailure::Cause::OutputRefused,
                     QStringLiteral("unsupported sample rate %1 Hz").arg(playback->m_spec.rate)});
    PlaybackFailure opened;
    QString fellBack;  // logged once the loop runs again: nothing waits on log output there
    {
        LoopLock lock(playback->m_connection->loop());
        opened = playback->connectStream();
        if (opened.failed() && !playback->m_sink.empty()) {
            // The chosen device went away between listing and opening: play on the default.
            fellBack = opened.text;
            playback->dropStream();
            playback->m_sink.clear();
            opened = playback->connectStream();
        }
    }
    if (!fellBack.isEmpty())
        qCWarning(lcAudio).noquote() << "playback device" << QString::fromStdString(sink)
                                     << "failed (" << fellBack << "), using the default";
    if (opened.failed())
        return fail(std::move(opened));
    PulsePlayback *self = playback.get();
    playback->m_decoder->setOnData([self] {
        LoopLock lock(self->m_connection->loop());
        self->feed();
    });
    playback->m_decoder->start();
    playback->m_connection->addStream(self);
    return playback;
}

PulsePlayback::~PulsePlayback()
{
    m_connection->removeStream(this);
    {
        LoopLock lock(m_connection->loop());
        dropStream();  // silent from here on
    }
    m_decoder.reset();  // joins the decoder thread, whose wake-up finds no stream
}

PlaybackFailure PulsePlayback::connectStream()
{
    PulseConnection &c = *m_connection;
    m_written = 0;
    m_draining = false;
    m_drained.store(false);
    if (!c.isReady())
        return {PlaybackFailure::Cause::NoSoundServer, QStringLiteral("no sound server")};
    auto refused = [](QString why) {
        return PlaybackFailure{PlaybackFailure::Cause::OutputRefused, std::move(why)};
    };
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    m_stream = pa_stream_new(c.context(), "Playback", &m_spec, &map);
    if (!m_stream)
        return refused(c.lastError());
    pa_stream_set_state_callback(m_stream, &PulsePlayback::onState, this);
    pa_stream_set_write_callback(m_stream, &PulsePlayback::onWrite, this);
    pa_buffer_attr attr;
    attr.maxlength = attr.prebuf = attr.minreq = attr.fragsize = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kServerBufferUsec, &m_spec));
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
        (m_running ? 0 : PA_STREAM_START_CORKED));
    if (pa_stream_connect_playback(m_stream, m_sink.empty() ? nullptr : m_sink.c_str(), &attr,
                                   flags, nullptr, nullptr) < 0)
        return refused(c.lastError());
    pa_stream *stream = m_stream;
    c.waitFor([stream] { return pa_stream_get_state(stream) != PA_STREAM_CREATING; },
              kStreamTimeoutMs);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY)
        return {};
    return refused(state == PA_STREAM_CREATING
                       ? QStringLiteral("the sound server did not open the playback in time")
                       : c.lastError());
}

void PulsePlayback::dropStream()
{
    if (!m_stream)
        return;
    // Lock held: no callback runs now, and with them cleared none runs after this.
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_set_write_callback(m_stream, nullptr, nullptr);
    const pa_stream_state_t state = pa_stream_get_state(m_stream);
    if (state == PA_STREAM_READY || state == PA_STREAM_CREATING)
        pa_stream_disconnect(m_stream);  // drops what the server still holds
    pa_stream_unref(m_stream);
    m_stream = nullptr;
}

void PulsePlayback::stopStream()
{
    LoopLock lock(m_connection->loop());
    dropStream();
    m_failure = QStringLiteral("the sound server connection was closed");
    m_failed.store(true);
}

void PulsePlayback::applyCork()
{
    if (m_stream && pa_stream_get_state(m_stream) == PA_STREAM_READY)
        pa_operation_unref(pa_stream_cork(m_stream, m_running ? 0 : 1, nullptr, nullptr));
}

void PulsePlayback::feed()
{
    if (!m_stream || m_draining || pa_stream_get_state(m_stream) != PA_STREAM_READY)
        return;
    std::size_t writable = pa_stream_writable_size(m_stream);
    const float gain = m_gain.load(std::memory_order_relaxed);
    while (writable >= static_cast<std::size_t>(kBytesPerFrame) && writable != std::size_t(-1)) {
        void *data = nullptr;
        std::size_t bytes = writable;
        if (pa_stream_begin_write(m_stream, &data, &bytes) < 0 || !data)
            return;
        const std::size_t got = m_decoder->take(static_cast<char *>(data), bytes);
        if (got == 0) {
            pa_stream_cancel_write(m_stream);
            break;
        }
        if (gain != 1.0f)
            applyGain(static_cast<char *>(data), got, gain);
        if (pa_stream_write(m_stream, data, got, nullptr, 0, PA_SEEK_RELATIVE) < 0)
            return;
        m_written += static_cast<std::int64_t>(got);
        writable -= got;
    }
    if (m_decoder->finished()) {
        m_draining = true;
        pa_operation_unref(pa_stream_drain(m_stream, &PulsePlayback::onDrained, this));
    }
}

void PulsePlayback::onWrite(pa_stream *, std::size_t, void *self)
{
    static_cast<PulsePlayback *>(self)->feed();
}

void PulsePlayback::onState(pa_stream *stream, void *self)
{
    auto *playback = static_cast<PulsePlayback *>(self);
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY:
        playback->applyCork();
        playback->feed();
        break;
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
        playback->m_failure = QStringLiteral("the sound server ended the playback (%1)")
                                  .arg(playback->m_connection->lastError());
        playback->m_failed.store(true);
        break;
    default:
        break;
    }
    playback->m_connection->signal();
}

void PulsePlayback::onDrained(pa_stream *stream, int success, void *self)
{
    auto *playback = static_cast<PulsePlayback *>(self);
    // A drain of a stream since replaced (a seek) reports for a stream we no longer play.
    if (stream == playback->m_stream && success)
        playback->m_drained.store(true);
}

void PulsePlayback::start()
{
    LoopLock lock(m_connection->loop());
    m_running = true;
    applyCork();
}

void PulsePlayback::pause()
{
    LoopLock lock(m_connection->loop());
    m_running = false;
    applyCork();
}

std::int64_t PulsePlayback::positionBytes() const
{
    LoopLock lock(m_connection->loop());
    pa_usec_t played = 0;
    if (!m_stream || pa_stream_get_time(m_stream, &played) < 0)
        return m_segmentStart;
    const auto bytes = static_cast<std::int64_t>(pa_usec_to_bytes(played, &m_spec));
    return m_segmentStart + std::min(bytes, m_written);
}

void PulsePlayback::seek(std::int64_t bytes)
{
    PlaybackFailure failure;
    {
        LoopLock lock(m_connection->loop());
        dropStream();
        m_decoder->seek(bytes);
        m_segmentStart = bytes;
        failure = connectStream();
        if (!failure.failed())
            return;
        dropStream();
        m_failure = failure.text;
        m_failed.store(true);
    }
    qCWarning(lcAudio).noquote() << "playback stopped after a seek:" << failure.text;
}

bool PulsePlayback::hasEnded() const
{
    return m_drained.load() || m_failed.load();
}

QString PulsePlayback::failure() const
{
    LoopLock lock(m_connection->loop());
    if (!m_failure.isEmpty())
        return m_failure;
    return m_decoder->failure();
}

SilentPlayback::SilentPlayback(std::unique_ptr<FileDecoder> decoder) : m_decoder(std::move(decoder))
{
    m_decoder->start();
}

void SilentPlayback::start()
{
    if (m_running)
        return;
    m_running = true;
    m_lastAdvance = Clock::now();
}

void SilentPlayback::pause()
{
    advance();
    m_running = false;
}

void SilentPlayback::advance() const
{
    if (!m_running)
        return;
    const Clock::time_point now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - m_lastAdvance).count();
    m_lastAdvance = now;
    const double bytesPerSecond = double(m_decoder->sampleRate()) * kBytesPerFrame;
    // A decoder that fell behind is not caught up by more than a second at once.
    m_owedBytes = std::min(m_owedBytes + seconds * bytesPerSecond, bytesPerSecond);
    std::vector<char> &discard = m_discard;
    while (m_owedBytes >= kBytesPerFrame) {
        const std::size_t want = std::min(discard.size(), static_cast<std::size_t>(m_owedBytes));
        const std::size_t got = m_decoder->take(discard.data(), want);
        if (got == 0)
            break;
        m_position += static_cast<std::int64_t>(got);
        m_owedBytes -= static_cast<double>(got);
    }
}

std::int64_t SilentPlayback::positionBytes() const
{
    advance();
    return m_position;
}

void SilentPlayback::seek(std::int64_t bytes)
{
    m_decoder->seek(bytes);
    m_position = bytes;
    m_owedBytes = 0;
    m_lastAdvance = Clock::now();
}

bool SilentPlayback::hasEnded() const
{
    advance();
    return m_decoder->finished();
}

}  // namespace audio
