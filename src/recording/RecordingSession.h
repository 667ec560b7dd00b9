#pragma once
// The running recording: capture from the recording device, the encoder process fed with
// the captured samples, the captured-byte count and the length limit. At most one runs.
//
// Its parts: the CaptureTap is all that runs on the audio thread (see there); OutputFiles
// names, makes and closes the files and keeps their encoders, which a FileStarter starts;
// the LossAccount counts what was lost. This class is the state machine over them (idle,
// recording, capture lost), on a capture interface and clocks it is given. Everything here
// is called on the main thread.
//
// Files begin and end at the frame captured at their second. A time base (see TimeBase)
// maps the stream's frames to the wall clock by the sound server's own timing reports; a
// start, stop or split at a moment cuts at the frame captured then, whatever the block
// sizes, and the capture history hands a file what was captured since that frame. An end
// must be known before the capture passes it, or the old file has been given more:
// armCut() sets it ahead (the schedule does, a second before), and a cut that cannot be
// placed at its second is logged with its error.
//
// A recording never gives up on audio while it can help it:
// - A start while recording goes on from the same capture into the new file: nothing is
//   lost or repeated between the two files (a capture with another rate or device starts
//   afresh instead).
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
#include "recording/CaptureTap.h"
#include "recording/EncoderDeaths.h"
#include "recording/FileStarter.h"
#include "recording/LossAccount.h"
#include "recording/OutputFiles.h"
#include "recording/RecordingConfig.h"
#include "recording/RecordingFailure.h"
#include "recording/SessionClock.h"
#include "recording/SessionEvent.h"
#include "recording/TimeBase.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace recording {

class RecordingSession {
public:
    // `capture`, `files` and `clock` must outlive the session: by default the encoder
    // processes of the codec and the system's clocks.
    explicit RecordingSession(audio::CaptureBackend &capture, FileStarter &files = encoderProcesses(),
                              SessionClock &clock = systemClock());
    // Ends a running recording without making a record: call stop() first.
    ~RecordingSession();
    RecordingSession(const RecordingSession &) = delete;
    RecordingSession &operator=(const RecordingSession &) = delete;

    // Starts a recording at `at` (local time; a scheduled second, or when a command came):
    // output path from the config and `at` (with a suffix when that name is taken, see
    // firstFreeFileName), missing folders created, capture started unless it runs, the
    // encoder started. The file begins with the frame captured at `at`, or
    // config.preRollSeconds before it from idle, as far back as the capture reaches.
    // limitMs = 0 means no length limit; a limit counts from `at`. A running recording is
    // finished first (its record is returned); while its capture runs with the same rate and
    // device, the new file takes over at `at`. On failure isRecording() is false and
    // failure() tells why.
    [[nodiscard]] std::optional<FinishedRecording> start(const RecordingConfig &config, quint32 limitMs,
                                                         const QDateTime &at);
    // The running recording goes on into a new file from `at`, with its config and limit;
    // nothing when its file began at `at` or later.
    [[nodiscard]] std::optional<FinishedRecording> split(const QDateTime &at);
    // The running recording's file ends at the frame captured at `at` (null: lift it), so
    // that a start, split or stop at `at` cuts there. Set it before the capture gets there.
    void armCut(const QDateTime &at);

    // Finishes the running recording at the frame captured at `at` (invalid: at once):
    // capture stops (unless it stands by for the pre-roll), the encoder's input is closed (it
    // completes its file in the background) and the record is returned (none while the
    // capture is lost: that file was archived at the loss). Nothing while idle. Clears a
    // failure shown from before.
    [[nodiscard]] std::optional<FinishedRecording> stop(const QDateTime &at = {});

    // While idle: the capture runs without a file (for a start that is due, or for the
    // pre-roll), so that a start reaches back. Nothing shows it. A capture that cannot start
    // is logged; the next call tries again.
    void standBy(const RecordingConfig &config);
    // The capture of standBy() stops.
    void leaveStandBy();
    // The drift of the capture's clock against the system's, ppm (0 until measured).
    double driftPpm() const { return m_timeBase.driftPpm(); }

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
    void setEncoderRestartLimit(int maxDeaths, qint64 windowMs) { m_encoderDeaths.setLimit(maxDeaths, windowMs); }

    // True from a start that succeeded until stop(), also while the capture is lost.
    bool isRecording() const { return m_state != State::Idle; }
    // The capture went away and is being retried: a recording, but not one that records.
    bool captureLost() const { return m_state == State::CaptureLost; }
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
    bool audioDropped() const { return m_loss.audioDropped(); }

    // Bytes captured for the running or last recording since its start (or its cut from the
    // one before), up to its limit; the span of a lost capture is not in it.
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
    // encoder fell behind, with audio lost with an encoder that died.
    std::uint64_t droppedBytes() const { return m_loss.droppedBytes(feedDropped()); }
    // Times the server dropped audio of the running or last recording's capture.
    std::uint64_t captureOverflows() const { return m_loss.overflows(captureOverflowCount()); }

    QString currentFile() const { return m_files.path(); }
    // The encoder of a finished file is still completing it.
    bool isFinishing(const QString &path) const { return m_files.isFinishing(path); }
    double startTime() const { return m_files.startTime(); }
    int sampleRate() const { return m_sampleRate; }

    // The remaining-time text for the running recording; "? d ?:??:??" while idle.
    QString remainingText() const;
    // Bit rate (kbit/s) of the file being written (see runningBitrate); 0 while not
    // recording or unknown. Probes the file's headers.
    int estimateBitrate() const;

private:
    enum class State { Idle, Recording, CaptureLost };
    // changeFile()'s limit for a split: the running recording's limit goes on.
    static constexpr quint32 kKeepLimit = UINT32_MAX;

    bool startCapture(QString *why);
    bool keepsCapture(const RecordingConfig &config) const;
    void openCapture(const RecordingConfig &config, QString *why);
    void adoptFile(OutputFiles::Next &&next, std::uint64_t firstByte);
    std::optional<FinishedRecording> changeFile(const RecordingConfig &config, quint32 limitMs,
                                                const QDateTime &at);
    void setLimit(const QDateTime &at, quint32 limitMs, std::uint64_t startByte);
    void followLimit();
    // The time base: the server's latest report, the stream position of a moment, and the
    // logged error of a cut placed at `cut` for `at`.
    void updateTimeBase();
    // When the frame at stream position `byte` was captured.
    QDateTime captureTimeOf(std::uint64_t byte) const;
    qint64 wallOffsetUs() const;
    void logDrift();
    std::uint64_t byteAt(const QDateTime &at) const;
    std::uint64_t byteAtWaiting(const QDateTime &at);
    void noteCut(const QDateTime &at, std::uint64_t cut, const QString &file);
    QStringList fileStartEnvironment(std::uint64_t firstByte) const;
    std::uint64_t limitEnd() const;
    std::optional<FinishedRecording> closeFile(std::uint64_t endPosition, bool encoderDied,
                                               std::uint64_t fileHoldsAtMost = UINT64_MAX);
    std::optional<FinishedRecording> finish(bool encoderDied, bool sayEncoderEnd = true,
                                            std::uint64_t endByte = CaptureTap::kNoEnd);
    void encoderDied(PollResult &result);
    void restartEncoder(PollResult &result);
    void loseCapture(PollResult &result);
    void retryCapture(PollResult &result);
    void resumeCapture(PollResult &result, std::uint64_t limitLeft);
    std::uint64_t stopCapture();
    void release();
    void fail(Failure failure, const QString &cause, SessionEventKind kind = SessionEventKind::Failed);
    void addEvent(SessionEventKind kind, const QString &file, const QString &details = {});
    bool noticeDroppedAudio();
    void clearFailure();
    std::uint64_t lostSpanBytes() const;
    std::uint64_t feedDropped() const { return m_files.encoder() ? m_files.encoder()->droppedBytes() : 0; }
    std::uint64_t captureOverflowCount() const { return m_capture ? m_capture->overflows() : 0; }

    audio::CaptureBackend &m_backend;
    SessionClock &m_clock;
    OutputFiles m_files;
    CaptureTap m_tap;
    LossAccount m_loss;
    RecordingConfig m_config;  // of the running recording: its later files are made with it
    std::unique_ptr<audio::CaptureStream> m_capture;
    int m_captureDevice = 0;              // the recording device it captures
    audio::CaptureSource m_captureSource;  // what that number stood for at the start

    State m_state = State::Idle;
    std::uint64_t m_recordingStart = 0;  // stream position where the recording (or its file) began
    std::uint64_t m_limitBytes = 0;      // from m_recordingStart; 0: none
    qint64 m_limitEndWallUs = 0;         // the limit's end on the wall clock; 0: none or lost track
    std::uint64_t m_limitEndByte = CaptureTap::kNoEnd;  // the limit's end in the stream
    std::uint64_t m_armedCut = CaptureTap::kNoEnd;  // the current file ends here at the latest
    TimeBase m_timeBase;
    std::uint64_t m_streamOrigin = 0;    // the position of the running stream's first byte
    qint64 m_driftLoggedUs = 0;          // monotonic time the drift was last logged; 0: not yet
    std::uint64_t m_timedOverflows = 0;  // the capture's overflows when the time base began
    std::uint64_t m_stoppedAt = 0;       // where the last finished file's stream ended
    QDateTime m_fileMoment;              // the moment the current file is for
    std::uint64_t m_timeBaseGeneration = 0;  // counts the resets of the time base
    std::uint64_t m_fileTimeBase = 0;        // the generation the current file began in
    QDateTime m_armedMoment;             // the moment m_armedCut is for; null: none
    QString m_standByFailure;            // why the capture could not stand by, as last said
    int m_sampleRate = 0;
    Failure m_failure = Failure::None;
    QString m_failureCause;

    EncoderDeaths m_encoderDeaths;
    qint64 m_nextCaptureRetryMs = 0;
    std::vector<SessionEvent> m_events;
};

}  // namespace recording
