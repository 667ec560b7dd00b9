#include "audio/PulseCapture.h"

#include "core/SystemClocks.h"

namespace audio {

namespace {

constexpr std::size_t kSilenceBytes = 16384;  // holes are delivered in steps of this size
// A block every 40 ms: the meter, polled every 50 ms, still sees a new peak at nearly every
// poll, and the mainloop wakes half as often as with 20 ms (for months of recording).
constexpr pa_usec_t kFragmentUsec = 40 * PA_USEC_PER_MSEC;
// What the server holds for us while the mainloop thread is held up. Larger only delays
// the loss; this keeps a stall that long measurable.
constexpr pa_usec_t kServerBufferUsec = 4 * PA_USEC_PER_SEC;

}  // namespace

PulseCapture::PulseCapture(std::shared_ptr<PulseConnection> connection, int sampleRate,
                           BlockCallback onBlock)
    : m_connection(std::move(connection)),
      m_sampleRate(sampleRate),
      m_onBlock(std::move(onBlock)),
      m_silence(new char[kSilenceBytes]()),
      m_recentPeak(sampleRate)
{
}

std::unique_ptr<CaptureStream> PulseCapture::start(std::shared_ptr<PulseConnection> connection,
                                                   const std::string &source, int sampleRate,
                                                   BlockCallback onBlock,
                                                   int timeoutMs, QString *error)
{
    const pa_sample_spec spec{PA_SAMPLE_S16LE, static_cast<std::uint32_t>(sampleRate), 2};
    if (sampleRate < kMinSampleRate || sampleRate > kMaxSampleRate ||
        !pa_sample_spec_valid(&spec)) {
        if (error)
            *error = QStringLiteral("unsupported sample rate %1 Hz").arg(sampleRate);
        return nullptr;
    }
    if (!connection) {
        if (error)
            *error = QStringLiteral("not connected to a sound server");
        return nullptr;
    }
    std::unique_ptr<PulseCapture> capture(
        new PulseCapture(std::move(connection), sampleRate, std::move(onBlock)));
    QString failure;
    {
        LoopLock lock(capture->m_connection->loop());
        failure = capture->connectStream(source, spec, timeoutMs);
    }
    if (!failure.isEmpty()) {
        if (error)
            *error = failure;
        return nullptr;  // the destructor disconnects what was opened
    }
    capture->m_connection->addStream(capture.get());
    return capture;
}

QString PulseCapture::connectStream(const std::string &source, const pa_sample_spec &spec,
                                    int timeoutMs)
{
    PulseConnection &c = *m_connection;
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    m_stream = c.isReady() ? pa_stream_new(c.context(), "Recording", &spec, &map) : nullptr;
    if (!m_stream)
        return c.isReady() ? c.lastError() : QStringLiteral("not connected to a sound server");
    pa_stream *stream = m_stream;
    pa_stream_set_state_callback(stream, &PulseCapture::onState, this);
    pa_stream_set_read_callback(stream, &PulseCapture::onRead, this);
    pa_stream_set_overflow_callback(stream, &PulseCapture::onOverflow, this);
    pa_stream_set_latency_update_callback(stream, &PulseCapture::onTimingUpdate, this);
    // Without an explicit fragment size the server delivers in bursts of seconds.
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(pa_usec_to_bytes(kServerBufferUsec, &spec));
    attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentUsec, &spec));
    // A stream on the default source follows the default; one on a chosen device ends with
    // it rather than quietly recording another device.
    const pa_stream_flags_t flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE | (source.empty() ? 0 : PA_STREAM_DONT_MOVE));
    if (pa_stream_connect_record(stream, source.empty() ? nullptr : source.c_str(), &attr,
                                 flags) < 0)
        return c.lastError();
    c.waitFor([stream] { return pa_stream_get_state(stream) != PA_STREAM_CREATING; }, timeoutMs);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_CREATING)
        return QStringLiteral("the sound server did not open the recording in time");
    if (state != PA_STREAM_READY)
        return c.lastError();
    if (const pa_buffer_attr *granted = pa_stream_get_buffer_attr(stream))
        m_stallLimitUsec = pa_bytes_to_usec(granted->maxlength, &spec);
    return {};
}

PulseCapture::~PulseCapture()
{
    m_connection->removeStream(this);
    stop();
    LoopLock lock(m_connection->loop());
    if (m_stream)
        pa_stream_unref(m_stream);
}

std::uint32_t PulseCapture::level() const
{
    if (!isRunning())
        return kNoLevel;
    return m_level.load(std::memory_order_relaxed);
}

bool PulseCapture::isRunning() const
{
    return m_running.load(std::memory_order_acquire) && !m_stopped.load(std::memory_order_acquire);
}

void PulseCapture::stop()
{
    LoopLock lock(m_connection->loop());
    if (!m_stream || m_stopped.exchange(true))
        return;
    m_running.store(false, std::memory_order_release);
    m_level.store(kNoLevel, std::memory_order_relaxed);
    // With the lock held no callback is running (or it is the caller), and with the
    // callbacks cleared none can start after this returns.
    pa_stream_set_read_callback(m_stream, nullptr, nullptr);
    pa_stream_set_overflow_callback(m_stream, nullptr, nullptr);
    pa_stream_set_latency_update_callback(m_stream, nullptr, nullptr);
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    const pa_stream_state_t state = pa_stream_get_state(m_stream);
    if (state == PA_STREAM_READY || state == PA_STREAM_CREATING)
        pa_stream_disconnect(m_stream);
}

// Blocks are delivered with the mainloop lock held, so holding it puts the caller between two.
void PulseCapture::runBetweenBlocks(const std::function<void()> &change)
{
    LoopLock lock(m_connection->loop());
    change();
}

void PulseCapture::onState(pa_stream *stream, void *self)
{
    auto *capture = static_cast<PulseCapture *>(self);
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY:
        capture->m_running.store(true, std::memory_order_release);
        break;
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
        capture->m_running.store(false, std::memory_order_release);
        break;
    default:
        break;
    }
    capture->m_connection->signal();
}

void PulseCapture::onOverflow(pa_stream *, void *self)
{
    static_cast<PulseCapture *>(self)->m_overflows.fetch_add(1, std::memory_order_relaxed);
}

// Runs on the mainloop thread, whenever the server's timing report was renewed.
void PulseCapture::onTimingUpdate(pa_stream *stream, void *self)
{
    auto *capture = static_cast<PulseCapture *>(self);
    const pa_timing_info *timing = pa_stream_get_timing_info(stream);
    const pa_sample_spec *spec = pa_stream_get_sample_spec(stream);
    if (!timing || !spec || timing->write_index_corrupt || timing->write_index < 0) return;
    const std::int64_t stampUs = std::int64_t(timing->timestamp.tv_sec) * 1000000 + timing->timestamp.tv_usec;
    // The monotonic moment of the timestamp, by the offset between the two clocks now.
    const std::int64_t wallOffsetUs = core::clockUs(CLOCK_REALTIME) - core::clockUs(CLOCK_MONOTONIC);
    const std::uint64_t inSource = pa_usec_to_bytes(timing->source_usec, spec);
    capture->m_instant = {std::uint64_t(timing->write_index) + inSource, stampUs, stampUs - wallOffsetUs};
    capture->m_hasInstant = true;
}

bool PulseCapture::lastInstant(StreamInstant *instant) const
{
    LoopLock lock(m_connection->loop());
    if (m_hasInstant && instant) *instant = m_instant;
    return m_hasInstant;
}

void PulseCapture::onRead(pa_stream *, std::size_t, void *self)
{
    static_cast<PulseCapture *>(self)->readAvailable();
}

// Runs on the mainloop thread.
void PulseCapture::readAvailable()
{
    const pa_usec_t now = pa_rtclock_now();
    if (m_lastReadUsec != 0 && m_stallLimitUsec != 0 && now - m_lastReadUsec > m_stallLimitUsec)
        m_overflows.fetch_add(1, std::memory_order_relaxed);
    m_lastReadUsec = now;

    bool delivered = false;
    while (!m_stopped.load(std::memory_order_relaxed)) {
        const std::size_t readable = pa_stream_readable_size(m_stream);
        if (readable == 0 || readable == static_cast<std::size_t>(-1))
            break;
        const void *data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(m_stream, &data, &bytes) < 0 || bytes == 0)
            break;  // nothing queued: pa_stream_drop() must not be called
        if (data) {
            deliver(static_cast<const char *>(data), bytes);
        } else {
            // A hole: the server lost samples here. Silence of the same length keeps
            // every later sample at its true time.
            for (std::size_t left = bytes; left > 0;) {
                const std::size_t step = left < kSilenceBytes ? left : kSilenceBytes;
                deliver(m_silence.get(), step);
                left -= step;
            }
        }
        delivered = true;
        pa_stream_drop(m_stream);
    }
    if (delivered && !m_stopped.load(std::memory_order_relaxed))
        m_level.store(m_recentPeak.levelWord(), std::memory_order_relaxed);
}

void PulseCapture::deliver(const char *data, std::size_t bytes)
{
    if (m_onBlock)
        m_onBlock(data, bytes);
    m_recentPeak.add(data, bytes);
}

}  // namespace audio
