#pragma once
// The running recording: capture from the recording device, the encoder process fed with
// the captured samples, the captured-byte count and the length limit. At most one runs.
//
// Threads: everything here is called on the main thread, except the capture callback,
// which runs on the sound server's mainloop thread: it queues the block into the current
// encoder feed, keeps it in the capture history and adds its size to the stream position.
// The main thread changes what the callback writes to only between two blocks (see
// audio::CaptureStream::runBetweenBlocks), so a block goes whole to one file, and a feed
// is stopped only once no block can reach it any more.
//
// A recording never gives up on audio while it can help it:
// - A start while recording goes on from the same capture into the new file, cut between
//   two blocks: nothing is lost or repeated between the two files (a capture with another
//   rate or device starts afresh instead).
// - An encoder that dies is started again into a new file at the next poll(); that file
//   begins with the last second the dead one was given, so the two overlap at the join.
//   One that dies before writing anything, or a fourth death within a minute, ends the
//   recording (Failure::EncoderFailed / EncoderDied).
// - A capture the server ended (server restart, device gone) finishes the file; the
//   recording then waits with failure() = CaptureLost, starts the capture again every second
//   and goes on into a new file once it runs. isRecording() stays true meanwhile, so that a
//   Stop (by hand, a schedule entry, the close) still ends it cleanly; captureLost() tells
//   a front-end not to show it as recording. A capture from a chosen device is retried
//   from that device alone, by the server's name for it: its number may stand for another
//   one by then. The lost span counts toward the limit as the time it took, so a limited
//   recording ends when it would have; it is not retried once its limit is used up.
//
// Failures are not hidden: a recording whose capture or encoder cannot start is not
// running (isRecording() stays false), failure() says what failed and failureReason() why,
// and the reason is logged; no record is made for it. A file that was removed while being
// written ends the recording without a record. Every file the encoder wrote is archived:
// start(), stop() and poll() return the records of the files they finished.
//
// Audio lost on the way (the encoder fell behind and its feed overflowed, the server
// dropped audio while the capture thread was held up, or a dead encoder had been given more
// than the capture history still held) is shown by audioDropped() until the next start and
// reported as an AudioDropped event. The archived length is what reached the encoder, so it
// matches the file.
//
// What happened is also kept as SessionEvents, in order, until takeEvents().

#include "audio/Capture.h"
#include "audio/EncoderFeed.h"
#include "recording/CaptureHistory.h"
#include "recording/SessionEvent.h"
#include "settings/CodecPreset.h"

#include <QElapsedTimer>

#include <QDateTime>
#include <QString>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace recording {

// Settings a recording starts with; later changes apply to the next start.
struct RecordingConfig {
    QString programFolder;        // ends in '/'; encoders are looked for in its Plugins/
    QString saveFolder;           // SaveFolder
    QString saveFilename;         // SaveFilename, the name template
    int sampleRate = 44100;       // SampleRate, Hz
    settings::CodecPreset codec;  // the current codec
};

// What the archive keeps of a finished recording.
struct FinishedRecording {
    double startTime = 0;    // day count, local time
    qint32 lengthSeconds = 0;  // captured length, truncated to whole seconds
    QString path;            // the whole path the encoder wrote
};

enum class Failure {
    None,
    CaptureFailed,  // capture could not start: nothing recorded
    EncoderFailed,  // the encoder could not start, or ended without writing a file
    EncoderDied,    // the encoder ended early; what it wrote is archived
    CaptureLost,    // the server ended the capture; the file is archived and the capture retried
    CannotWrite,    // the save folder could not be made: nothing recorded
    FileRemoved,    // the file (or its folder) vanished while being written: no record
};

// Short English texts for the status line: "capture failed", "encoder failed",
// "encoder stopped", "capture lost", "cannot write", "file removed"; empty for None.
QString failureText(Failure failure);
// A failure with its cause as the status line says it: "capture failed: recording device 3
// not found", "cannot write /srv/rec: permission denied", "capture lost: the sound server
// went away — retrying". `words` is the failure's text and `retrying` the word for a lost
// capture, in the language shown (failureText() and "retrying" in English).
QString failureSentence(Failure failure, const QString &words, const QString &cause, const QString &retrying);

// Shown with the status while a recording lost audio, until the next start.
inline QString audioDroppedText() { return QStringLiteral("audio dropped"); }

class RecordingSession {
public:
    explicit RecordingSession(audio::CaptureBackend &backend);
    // Ends a running recording without making a record: call stop() first.
    ~RecordingSession();
    RecordingSession(const RecordingSession &) = delete;
    RecordingSession &operator=(const RecordingSession &) = delete;

    // Starts a recording at `now` (local time): output path from the config and now (with a
    // suffix when that name is taken, see firstFreeFileName), missing folders created,
    // capture started, the encoder started. limitMs = 0 means no length limit; a limit
    // counts from this start. A running recording is finished first (its record is
    // returned); while its capture runs with the same rate and device, the new file takes
    // over from the next block. On failure isRecording() is false and failure() tells why.
    [[nodiscard]] std::optional<FinishedRecording> start(const RecordingConfig &config, quint32 limitMs,
                                                         const QDateTime &now);

    // Finishes the running recording: capture stops, the encoder's input is closed (it
    // completes its file in the background) and the record is returned (none while the
    // capture is lost: that file was archived at the loss). Nothing while idle. Clears a
    // failure shown from before.
    [[nodiscard]] std::optional<FinishedRecording> stop();

    struct PollResult {
        bool changed = false;   // the recording ended, changed file or lost audio: refresh
        bool newFile = false;   // it went on into a new file (currentFile())
        std::vector<FinishedRecording> finished;  // files finished, oldest first
    };
    // Called once a second: starts a dead encoder again (or gives up), finishes the file
    // of a lost capture and retries the capture, ends the recording when its file was
    // removed, and notices dropped audio. Does not apply the length limit (see limitReached()).
    [[nodiscard]] PollResult poll();

    // What happened since the last call, oldest first.
    std::vector<SessionEvent> takeEvents();

    // An encoder that dies more than maxDeaths times within windowMs ends the recording
    // (3 within a minute unless set).
    void setEncoderRestartLimit(int maxDeaths, qint64 windowMs);

    // True from a start that succeeded until stop(), also while the capture is lost.
    bool isRecording() const { return m_recording; }
    // The capture went away and is being retried: a recording, but not one that records.
    bool captureLost() const { return m_captureLost; }
    Failure failure() const { return m_failure; }
    // failureText() with its cause: "encoder failed: oggenc not found", "capture failed:
    // recording device 3 not found", "cannot write /srv/rec: permission denied"; empty for None.
    QString failureReason() const
    {
        return failureSentence(m_failure, failureText(m_failure), m_failureCause, QStringLiteral("retrying"));
    }
    // What failureReason() says after failureText(): "oggenc not found", "/srv/rec: permission
    // denied", "the recording device went away"; for a front-end that words the failure itself.
    QString failureCause() const { return m_failureCause; }
    // The running or last recording lost audio; cleared by the next start.
    bool audioDropped() const { return m_audioDropped; }

    // Bytes captured for the running or last recording since its start (or its cut from the
    // one before); the span of a lost capture is not in it.
    std::uint64_t capturedBytes() const;
    std::uint64_t limitBytes() const { return m_limitBytes; }
    // True while recording with a limit that the captured bytes and the time without
    // capture have reached together.
    bool limitReached() const;
    // Captured seconds, truncated; 0 while idle.
    qint64 elapsedSeconds() const;
    // Level word of the capture (see audio::CaptureStream::level), kNoLevel while idle.
    std::uint32_t level() const;
    // Samples the encoder feeds of the running or last recording had to drop because the
    // encoder fell behind.
    std::uint64_t droppedBytes() const;
    // Times the server dropped audio of the running or last recording's capture.
    std::uint64_t captureOverflows() const;

    QString currentFile() const { return m_currentFile; }
    double startTime() const { return m_startTime; }
    int sampleRate() const { return m_sampleRate; }

    // Bit rate (kbit/s) of the file being written (see runningBitrate). 0 while idle or
    // unknown.
    int estimateBitrate() const;
    // The remaining-time text for the running recording; "? d ?:??:??" while idle.
    QString remainingText() const;

private:
    // An encoder started into a new file, not yet written to.
    struct NextFile {
        QString path;
        std::unique_ptr<audio::EncoderFeed> feed;
        QString encoderName;
        Failure failure = Failure::None;
        QString why;
    };

    void captureBlock(const char *data, std::size_t bytes) noexcept;
    bool startCapture(QString *why);
    NextFile prepareFile(const QDateTime &now);
    void startEncoder(NextFile &next);
    NextFile openNextFile(const QDateTime &now);
    void adoptFile(NextFile &&next, const QDateTime &now, std::uint64_t firstByte);
    void betweenBlocks(const std::function<void()> &change);
    std::optional<FinishedRecording> changeFile(const RecordingConfig &config, quint32 limitMs,
                                                const QDateTime &now);
    std::optional<FinishedRecording> closeFile(std::uint64_t endPosition, bool encoderDied,
                                               std::uint64_t fileHoldsAtMost = UINT64_MAX);
    std::optional<FinishedRecording> finish(bool encoderDied, bool sayEncoderEnd = true);
    void encoderDied(PollResult &result);
    void loseCapture(PollResult &result);
    void retryCapture(PollResult &result);
    void release();
    void fail(Failure failure, const QString &cause);
    void addEvent(SessionEventKind kind, const QString &file, const QString &details = {});
    bool noticeDroppedAudio();
    void reportDroppedAudio(std::uint64_t bytes, const QString &cause);
    std::uint64_t lostSpanBytes() const;
    bool fileRemoved();
    bool isPathTaken(const QString &path);

    audio::CaptureBackend &m_backend;
    RecordingConfig m_config;  // of the running recording: its later files are made with it
    std::unique_ptr<audio::CaptureStream> m_capture;  // RecordChannel
    int m_captureDevice = 0;                          // the recording device it captures
    audio::CaptureSource m_captureSource;  // what that number stood for at the start
    std::unique_ptr<audio::EncoderFeed> m_encoder;
    // What the capture callback writes into and counts; changed between blocks only.
    std::atomic<audio::EncoderFeed *> m_feedForCallback{nullptr};  // null: not counted
    std::atomic<std::uint64_t> m_streamPosition{0};  // bytes counted since the recording began
    std::atomic<std::uint64_t> m_limitEnd{0};        // stream position of the limit; 0 = none
    std::unique_ptr<CaptureHistory> m_history;
    // Stopped encoders that may still be writing their files, with those files' paths.
    struct FinishingEncoder {
        QString path;
        std::unique_ptr<audio::EncoderFeed> feed;
    };
    std::vector<FinishingEncoder> m_finishingEncoders;

    bool m_recording = false;                      // Recording
    std::uint64_t m_recordingStart = 0;  // stream position where the recording began
    std::uint64_t m_fileStart = 0;       // stream position of the current file's first byte
    std::uint64_t m_limitBytes = 0;                // LimitBytes
    QString m_currentFile;                         // CurrentFile
    QString m_pendingArchiveName;                  // PendingArchiveName
    double m_startTime = 0;                        // StartTime
    int m_sampleRate = 0;
    Failure m_failure = Failure::None;
    QString m_failureCause;
    QString m_encoderName;                 // file name of the encoder program, for reasons
    qint64 m_encoderStartedMs = 0;
    std::uint64_t m_droppedBytes = 0;      // of the feeds, kept when the recording ends
    std::uint64_t m_droppedBefore = 0;     // of the feeds of this recording's earlier files
    std::uint64_t m_droppedReported = 0;   // in AudioDropped events so far
    std::uint64_t m_overflowsBefore = 0;   // of this recording's earlier captures
    std::uint64_t m_overflowBase = 0;      // the current capture's count at the recording's start
    std::uint64_t m_overflowsReported = 0; // in AudioDropped events so far
    bool m_audioDropped = false;
    bool m_fileSeen = false;               // the encoder has created the output file

    QElapsedTimer m_clock;                 // monotonic, for deaths and the lost span
    std::deque<qint64> m_encoderDeaths;    // when, on m_clock
    int m_maxEncoderDeaths = 3;
    qint64 m_encoderDeathWindowMs = 60000;
    bool m_captureLost = false;
    qint64 m_captureLostAtMs = 0;
    qint64 m_nextCaptureRetryMs = 0;
    qint64 m_lostMsBefore = 0;             // the spans without capture that ended, since the limit's start
    std::vector<SessionEvent> m_events;
};

}  // namespace recording
