#pragma once
// A span of the recordings exported into an HTTP answer as it is made: the files of the
// span are planned at once (so that a bad span is refused before anything is sent), then
// decoded, cut and joined on a thread of the stream's own and handed to the reader as they
// come. WAV is written here with its sizes known ahead; FLAC through the flac encoder
// reading the frames on its standard input and writing the file to its standard output.
//
// The reader holds the producer back: no more than kBufferBytes wait unread. A reader that
// goes away (the client closed the connection) cancels the export; nothing is written to
// disk, and neither the archive nor the ledger is changed.

#include <QString>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <sys/types.h>

namespace ledger { class Ledger; }

namespace web {

class ExportStream {
public:
    static constexpr qint64 kBufferBytes = 4 << 20;

    // The stream of [fromMs, toMs) in `format` ("wav" or "flac"); null with *error (one
    // sentence) when the span cannot be exported.
    static std::shared_ptr<ExportStream> start(ledger::Ledger &ledger, qint64 fromMs, qint64 toMs,
                                               const QString &format, QString *error);
    ~ExportStream();
    ExportStream(const ExportStream &) = delete;
    ExportStream &operator=(const ExportStream &) = delete;

    // The bytes the stream will hold, -1 when not known ahead (FLAC).
    qint64 length() const { return m_length; }
    // Up to `max` bytes, waiting until some are there: their number, -1 at the end of the
    // stream, -2 when the export failed (the cause is logged).
    ssize_t read(char *buffer, size_t max);

    // For the producer.
    bool push(const char *data, qint64 bytes);  // false once cancelled
    void end(bool ok, const QString &error);

private:
    ExportStream() = default;

    qint64 m_length = -1;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QByteArray m_pending;
    bool m_ended = false;
    bool m_ok = false;
    bool m_cancelled = false;
    std::thread m_producer;
};

}  // namespace web
