#include "web/ExportStream.h"

#include "audio/Capture.h"
#include "audio/EncoderFeed.h"
#include "core/ThreadName.h"
#include "ledger/ExportOutput.h"
#include "ledger/Ledger.h"
#include "ledger/SpanExport.h"
#include "web/Logging.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace web {

namespace {

// The frames of the export into the stream, as a WAV file whose sizes are known ahead.
class WavStreamSink final : public ledger::ExportSink {
public:
    explicit WavStreamSink(ExportStream &stream) : ExportSink(QString()), m_stream(stream) {}

    bool start(int sampleRate, qint64 totalFrames, QString *error) override
    {
        const std::vector<std::uint8_t> header = ledger::exportWavHeader(sampleRate, totalFrames);
        return write(reinterpret_cast<const char *>(header.data()), qint64(header.size()), error);
    }
    bool write(const char *data, qint64 bytes, QString *error) override
    {
        if (m_stream.push(data, bytes))
            return true;
        *error = QStringLiteral("the client went away");
        return false;
    }
    bool finish(QString *) override { return true; }

private:
    ExportStream &m_stream;
};

// The frames into a flac encoder whose output a thread of this sink hands to the stream.
class FlacStreamSink final : public ledger::ExportSink {
public:
    explicit FlacStreamSink(ExportStream &stream) : ExportSink(QString()), m_stream(stream) {}
    ~FlacStreamSink() override { stop(); }

    bool start(int sampleRate, qint64 totalFrames, QString *error) override
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0) return failed(error, errno);
        if (::pipe2(out, O_CLOEXEC) != 0) {
            ::close(in[0]);
            ::close(in[1]);
            return failed(error, errno);
        }
        // The input's size lets flac write the length into the stream's header, which it
        // cannot go back to on a pipe.
        const QStringList argv{QStringLiteral("flac"), QStringLiteral("--silent"), QStringLiteral("--force-raw-format"),
                               QStringLiteral("--endian=little"), QStringLiteral("--sign=signed"),
                               QStringLiteral("--channels=2"), QStringLiteral("--bps=16"),
                               QStringLiteral("--sample-rate=%1").arg(sampleRate),
                               QStringLiteral("--input-size=%1").arg(totalFrames * audio::kBytesPerFrame),
                               QStringLiteral("--stdout"), QStringLiteral("-")};
        const int spawned = audio::spawnFilter(argv, in[0], out[1], &m_pid);
        ::close(in[0]);
        ::close(out[1]);
        m_input = in[1];
        if (spawned != 0) {
            ::close(out[0]);
            m_pid = -1;
            return failed(error, spawned);
        }
        m_reader = std::thread([this, fd = out[0]] { forward(fd); });
        return true;
    }
    bool write(const char *data, qint64 bytes, QString *error) override
    {
        while (bytes > 0) {
            const ssize_t n = ::write(m_input, data, size_t(bytes));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return failed(error, errno);
            data += n;
            bytes -= n;
        }
        return true;
    }
    bool finish(QString *error) override
    {
        const bool ok = stop();
        if (!ok) *error = QStringLiteral("the flac encoder failed");
        return ok;
    }
    void abandon() override { stop(); }

private:
    bool failed(QString *error, int code)
    {
        *error = QStringLiteral("the flac encoder: %1").arg(QString::fromLocal8Bit(strerror(code)));
        return false;
    }
    void forward(int fd)
    {
        core::nameThisThread("vt-web-flac");
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0 || !m_stream.push(buffer, n)) break;
        }
        ::close(fd);
    }
    // Closes the encoder's input and waits for it; true when it wrote its whole file.
    bool stop()
    {
        if (m_input >= 0) ::close(m_input);
        m_input = -1;
        if (m_pid <= 0) return false;
        if (m_reader.joinable()) m_reader.join();
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {}
        m_pid = -1;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    ExportStream &m_stream;
    pid_t m_pid = -1;
    int m_input = -1;
    std::thread m_reader;
};

}  // namespace

std::shared_ptr<ExportStream> ExportStream::start(ledger::Ledger &ledger, qint64 fromMs, qint64 toMs,
                                                  const QString &format, QString *error)
{
    if (fromMs >= toMs) {
        *error = QStringLiteral("from must come before to");
        return nullptr;
    }
    QStringList problems;
    const std::vector<ledger::SourceFile> sources = ledger::measureSources(ledger.files(fromMs, toMs), &problems);
    ledger::ExportPlan plan = ledger::planExport(sources, fromMs, toMs);
    if (!plan.ok()) {
        *error = plan.error;
        return nullptr;
    }
    for (const QString &p : problems)
        qCWarning(lcWeb).noquote() << "export:" << p;
    std::shared_ptr<ExportStream> stream(new ExportStream);
    const bool wav = format == QLatin1String("wav");
    if (wav)
        stream->m_length = qint64(ledger::exportWavHeader(plan.sampleRate, plan.totalFrames).size())
            + plan.totalFrames * audio::kBytesPerFrame;
    ExportStream *raw = stream.get();
    stream->m_producer = std::thread([raw, wav, plan = std::move(plan)] {
        core::nameThisThread("vt-web-export");
        std::unique_ptr<ledger::ExportSink> sink;
        if (wav) sink = std::make_unique<WavStreamSink>(*raw);
        else sink = std::make_unique<FlacStreamSink>(*raw);
        const ledger::ExportResult result = ledger::runExport(plan, *sink, {});
        sink.reset();
        raw->end(result.ok, result.error);
    });
    return stream;
}

ExportStream::~ExportStream()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancelled = true;
    }
    m_changed.notify_all();
    if (m_producer.joinable())
        m_producer.join();
}

bool ExportStream::push(const char *data, qint64 bytes)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_cancelled || m_pending.size() < kBufferBytes; });
    if (m_cancelled)
        return false;
    m_pending.append(data, bytes);
    m_changed.notify_all();
    return true;
}

void ExportStream::end(bool ok, const QString &error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!ok && !m_cancelled)
        qCWarning(lcWeb).noquote() << "export failed:" << error;
    m_ended = true;
    m_ok = ok;
    m_changed.notify_all();
}

ssize_t ExportStream::read(char *buffer, size_t max)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_ended || !m_pending.isEmpty(); });
    if (m_pending.isEmpty())
        return m_ok ? -1 : -2;
    const qint64 n = qMin<qint64>(qint64(max), m_pending.size());
    memcpy(buffer, m_pending.constData(), size_t(n));
    m_pending.remove(0, n);
    m_changed.notify_all();
    return ssize_t(n);
}

}  // namespace web
