#pragma once
// Stand-ins for what a recording session works on, so that its rules run block by block
// without a sound server, encoder processes or the system's clocks: a capture delivering a
// counting signal (left = low 16 bits of the frame number, right = high 16 bits) when the
// test says, encoder feeds that keep what they are given in memory, and a clock of the
// test's own.
#include "audio/Capture.h"
#include "audio/EncoderFeed.h"
#include "recording/FileStarter.h"
#include "recording/SessionClock.h"

#include <QByteArray>
#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

namespace fakes {

class FakeCapture;

class FakeStream : public audio::CaptureStream {
public:
    FakeStream(FakeCapture &owner, audio::BlockCallback onBlock, int rate)
        : m_owner(owner), m_onBlock(std::move(onBlock)), m_rate(rate) {}
    ~FakeStream() override;
    int sampleRate() const override { return m_rate; }
    std::uint32_t level() const override;
    bool isRunning() const override { return m_running && !m_ended; }
    std::uint64_t overflows() const override;
    void stop() override { m_running = false; }
    void runBetweenBlocks(const std::function<void()> &change) override { change(); }
    bool lastInstant(audio::StreamInstant *instant) const override;

    void deliver(const QByteArray &block) { if (isRunning()) m_onBlock(block.constData(), std::size_t(block.size())); }
    void end() { m_ended = true; }

private:
    FakeCapture &m_owner;
    audio::BlockCallback m_onBlock;
    int m_rate;
    bool m_running = true;
    bool m_ended = false;
};

// The sound server: one capture at a time, started as the test allows.
class FakeCapture : public audio::CaptureBackend {
public:
    QString refusal;           // not empty: captures fail to start with it
    bool connected = true;
    int device = 0;
    audio::CaptureSource source;  // what device stands for
    std::uint32_t levelWord = 0;
    std::uint64_t overflowCount = 0;
    int starts = 0;            // by device number
    int startsFromSource = 0;  // by a source an earlier start resolved
    FakeStream *stream = nullptr;  // the running one
    std::uint32_t nextFrame = 0;   // the signal goes on whether a capture listens or not
    bool timed = false;            // the streams report `instant`, the server's timing
    audio::StreamInstant instant;

    std::unique_ptr<audio::CaptureStream> startCapture(int rate, audio::BlockCallback onBlock, QString *error,
                                                       audio::CaptureSource *resolved) override
    {
        ++starts;
        if (resolved) *resolved = source;
        return open(rate, std::move(onBlock), error);
    }
    std::unique_ptr<audio::CaptureStream> startCaptureFrom(const audio::CaptureSource &from, int rate,
                                                           audio::BlockCallback onBlock, QString *error) override
    {
        ++startsFromSource;
        if (from.name != source.name) {
            if (error) *error = QStringLiteral("recording device \u201c%1\u201d not found").arg(from.description);
            return nullptr;
        }
        return open(rate, std::move(onBlock), error);
    }
    int recordDevice() const override { return device; }
    bool isConnected() const override { return connected; }

    // The next `frames` frames of the counting signal, as one block.
    void deliver(int frames)
    {
        QByteArray block(frames * audio::kBytesPerFrame, Qt::Uninitialized);
        for (int i = 0; i < frames; ++i, ++nextFrame) {
            qToLittleEndian<quint16>(quint16(nextFrame & 0xFFFF), block.data() + 4 * i);
            qToLittleEndian<quint16>(quint16(nextFrame >> 16), block.data() + 4 * i + 2);
        }
        if (stream) stream->deliver(block);
    }

private:
    std::unique_ptr<audio::CaptureStream> open(int rate, audio::BlockCallback onBlock, QString *error)
    {
        if (!refusal.isEmpty()) {
            if (error) *error = refusal;
            return nullptr;
        }
        auto started = std::make_unique<FakeStream>(*this, std::move(onBlock), rate);
        stream = started.get();
        return started;
    }
};

inline FakeStream::~FakeStream()
{
    if (m_owner.stream == this) m_owner.stream = nullptr;
}
inline std::uint32_t FakeStream::level() const { return m_running ? m_owner.levelWord : audio::kNoLevel; }
inline std::uint64_t FakeStream::overflows() const { return m_owner.overflowCount; }
inline bool FakeStream::lastInstant(audio::StreamInstant *instant) const
{
    if (m_owner.timed) *instant = m_owner.instant;
    return m_owner.timed;
}

// What one encoder was given, kept after the session let go of its feed.
struct EncoderRecord {
    QString path;
    QByteArray bytes;               // the samples it took
    std::uint64_t dropped = 0;
    std::size_t capacity = std::numeric_limits<std::size_t>::max();  // takes no more: it fell behind
    std::uint64_t deliveredAtMost = std::numeric_limits<std::uint64_t>::max();  // it stopped reading there
    bool alive = true;              // false: it died (or, once stopped, finished its file)
    bool stopped = false;
    bool exitsWhenStopped = true;   // false: it goes on finishing its file until the test says
    bool writesFile = true;         // false: it never creates its file
    bool writesFirstBlockOnly = false;  // its file holds the first block alone (keeps a long run small)
};

class MemoryFeed : public audio::EncoderFeed {
public:
    explicit MemoryFeed(std::shared_ptr<EncoderRecord> record) : m_record(std::move(record)) {}
    void push(const char *data, std::size_t bytes) noexcept override
    {
        EncoderRecord &r = *m_record;
        if (!r.alive || r.stopped) return;
        if (std::size_t(r.bytes.size()) + bytes > r.capacity) {
            r.dropped += bytes;
            return;
        }
        const bool first = r.bytes.isEmpty();
        r.bytes.append(data, qsizetype(bytes));
        if (!r.writesFile || (r.writesFirstBlockOnly && !first)) return;
        QFile file(r.path);
        if (file.open(QIODevice::Append)) file.write(data, qint64(bytes));
    }
    void stop() override
    {
        m_record->stopped = true;
        if (m_record->exitsWhenStopped) m_record->alive = false;
    }
    bool isAlive() const override { return m_record->alive; }
    QString endDescription() const override { return m_record->alive ? QString() : QStringLiteral("killed by signal 9"); }
    QString errorTail() const override { return {}; }
    std::uint64_t droppedBytes() const override { return m_record->dropped; }
    std::uint64_t deliveredBytes() const override
    {
        return std::min(std::uint64_t(m_record->bytes.size()), m_record->deliveredAtMost);
    }

private:
    std::shared_ptr<EncoderRecord> m_record;
};

class MemoryStarter : public recording::FileStarter {
public:
    std::vector<std::shared_ptr<EncoderRecord>> encoders;  // every one started, in order
    QString refusal;  // not empty: encoders fail to start with it
    EncoderRecord model;  // what each new encoder is like

    recording::StartedEncoder startEncoder(const recording::RecordingConfig &, const QString &path,
                                           const QStringList &) override
    {
        recording::StartedEncoder started;
        started.name = QStringLiteral("memenc");
        if (!refusal.isEmpty()) {
            started.why = refusal;
            return started;
        }
        auto record = std::make_shared<EncoderRecord>(model);
        record->path = path;
        encoders.push_back(record);
        started.feed = std::make_unique<MemoryFeed>(record);
        return started;
    }
    EncoderRecord &last() { return *encoders.back(); }
};

// Its wall clock is `start` plus the monotonic one, plus what it was set by (stepMs).
class TestClock : public recording::SessionClock {
public:
    QDateTime start{QDate(2026, 12, 9), QTime(10, 0, 0)};
    qint64 ms = 0;
    qint64 stepMs = 0;
    QDateTime now() const override { return start.addMSecs(ms + stepMs); }
    qint64 elapsedMs() const override { return ms; }
    void sleepMs(int waitMs) override { ms += waitMs; }
};

// The frame numbers of the counting signal in `bytes`.
inline std::vector<std::uint32_t> framesOf(const QByteArray &bytes)
{
    std::vector<std::uint32_t> frames(std::size_t(bytes.size()) / audio::kBytesPerFrame);
    for (std::size_t i = 0; i < frames.size(); ++i)
        frames[i] = qFromLittleEndian<quint16>(bytes.constData() + 4 * i)
                    | std::uint32_t(qFromLittleEndian<quint16>(bytes.constData() + 4 * i + 2)) << 16;
    return frames;
}

}  // namespace fakes
