#pragma once
// The files of a recording: the next file's name (never one that is taken) and folders, its
// encoder (through a FileStarter), the file being written, and the encoders of earlier files
// that may still be finishing theirs. Main thread only.
#include "audio/EncoderFeed.h"
#include "recording/FileStarter.h"
#include "recording/RecordingConfig.h"
#include "recording/RecordingFailure.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace recording {

class OutputFiles {
public:
    explicit OutputFiles(FileStarter &starter) : m_starter(starter) {}
    OutputFiles(const OutputFiles &) = delete;
    OutputFiles &operator=(const OutputFiles &) = delete;

    // A file made ready to take over, or what stands in its way.
    struct Next {
        QString path;
        std::unique_ptr<audio::EncoderFeed> feed;  // null until started, or when it cannot start
        QString encoderName;
        Failure failure = Failure::None;
        QString why;
    };
    // The name of the file `config` makes at `now` (with a suffix when it is taken), its
    // folders made: CannotWrite when they cannot be.
    Next prepare(const RecordingConfig &config, const QDateTime &now);
    // Starts the prepared file's encoder, with `environment` ("NAME=value") added to its
    // own: EncoderFailed when it cannot start.
    void startEncoder(const RecordingConfig &config, Next &next, const QStringList &environment = {});
    // Both.
    Next open(const RecordingConfig &config, const QDateTime &now, const QStringList &environment = {});

    // `next` becomes the file being written: it holds the stream from `firstByte` on, which
    // was captured at `startTime`; its encoder started at nowMs.
    void adopt(Next &&next, std::uint64_t firstByte, const QDateTime &startTime, qint64 nowMs);
    // Names the file a recording could not begin, for the failure and the front-end.
    void name(const QString &path) { m_path = path; }

    // The running encoder; null once its file was closed.
    audio::EncoderFeed *encoder() const { return m_encoder.get(); }
    // The file being written, or the last one.
    const QString &path() const { return m_path; }
    std::uint64_t firstByte() const { return m_firstByte; }
    double startTime() const { return m_startTime; }  // a day count
    const QDateTime &startedAt() const { return m_startedAt; }
    // The first frame's moment, better known than when the file was adopted.
    void setStartedAt(const QDateTime &at) { m_startedAt = at; }
    qint64 encoderStartedMs() const { return m_encoderStartedMs; }

    // How the running encoder ended: the last line it said ("lame: unrecognized option
    // --no-such-option"), else "lame exited with status 1". All it said goes to the log.
    QString encoderEnd() const;
    // The file is there and not empty.
    bool written() const;
    // The file, or its folder, vanished while being written.
    bool removed();

    // Up to where in the stream the running encoder, now dead, had taken samples: what went
    // into its pipe, or less where its file shows less (a header it updated now and then, a
    // frame it never completed); on a whole frame. *fileShows: the bytes of audio at
    // sampleRate its file holds by its headers, UINT64_MAX when they do not say.
    std::uint64_t takenUpTo(int sampleRate, std::uint64_t *fileShows) const;

    // The encoder is given no more: its input is closed (it finishes in the background) and
    // the record made of what it took of the stream up to endPosition (at the most what its
    // file shows, fileHoldsAtMost, when it died). None for a dead encoder that left no file.
    std::optional<FinishedRecording> close(std::uint64_t endPosition, int sampleRate, bool encoderDied,
                                           std::uint64_t fileHoldsAtMost = UINT64_MAX);
    // The same without a record: a recording that could not go on.
    void abandon();
    // A closed file's encoder is still completing it.
    bool isFinishing(const QString &path) const;

private:
    bool isPathTaken(const QString &path);

    FileStarter &m_starter;
    std::unique_ptr<audio::EncoderFeed> m_encoder;
    QString m_encoderName;  // the program's file name, for messages
    QString m_path;
    std::uint64_t m_firstByte = 0;
    double m_startTime = 0;
    QDateTime m_startedAt;
    qint64 m_encoderStartedMs = 0;
    bool m_seen = false;  // the encoder has created the file
    // Stopped encoders that may still be writing their files, with those files' paths.
    struct Finishing {
        QString path;
        std::unique_ptr<audio::EncoderFeed> feed;
    };
    std::vector<Finishing> m_finishing;
};

}  // namespace recording
