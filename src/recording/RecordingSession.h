#pragma once
// The running recording: capture from the recording device, the encoder process fed with
// the captured samples, the captured-byte count and the length limit. At most one runs.
//
// Threads: everything here is called on the main thread, except the capture callback,
// which runs on the sound server's mainloop thread and only queues the block into the
// encoder feed and adds its size to CapturedBytes.
//
// Failures are not hidden: a recording whose capture or encoder cannot start is not
// running (isRecording() stays false), failure() says what failed and failureReason() why,
// and the reason is logged; no record is made for it. poll() notices an encoder that died,
// a capture the server ended and a file that was removed while being written, and
// finishes the recording: a file the encoder has written (it exists and is not empty) is
// archived; a file that was never written, or is gone, is not.
//
// Audio lost on the way (the encoder fell behind and its feed overflowed, or the server
// dropped audio while the capture thread was held up) is shown by audioDropped() until the
// next start. The archived length is what reached the encoder, so it matches the file.

#include "audio/AudioBackend.h"
#include "settings/CodecPreset.h"

#include <QDateTime>
#include <QString>

#include <atomic>
#include <cstdint>
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
    CaptureLost,    // the server ended the capture; the file is finished and archived
    CannotWrite,    // the save folder could not be made: nothing recorded
    FileRemoved,    // the file (or its folder) vanished while being written: no record
};

// Short English texts for the status line: "capture failed", "encoder failed",
// "encoder stopped", "capture lost", "cannot write", "file removed"; empty for None.
QString failureText(Failure failure);

// Shown with the status while a recording lost audio, until the next start.
inline QString audioDroppedText() { return QStringLiteral("audio dropped"); }

class RecordingSession {
public:
    explicit RecordingSession(audio::AudioBackend &backend);
    // Ends a running recording without making a record: call stop() first.
    ~RecordingSession();
    RecordingSession(const RecordingSession &) = delete;
    RecordingSession &operator=(const RecordingSession &) = delete;

    // Finishes a running recording (its record is returned), then starts a new one at
    // `now` (local time): output path from the config and now (with a suffix when that
    // name is taken, see firstFreeFileName), missing folders created, capture started, the
    // encoder started. limitMs = 0 means no length limit. On failure isRecording() is false
    // and failure() tells why.
    [[nodiscard]] std::optional<FinishedRecording> start(const RecordingConfig &config, quint32 limitMs,
                                                         const QDateTime &now);

    // Finishes the running recording: capture stops, the encoder's input is closed (it
    // completes its file in the background) and the record is returned. Nothing while
    // idle. Clears a failure shown from before.
    [[nodiscard]] std::optional<FinishedRecording> stop();

    struct PollResult {
        bool changed = false;  // the recording ended or lost audio: refresh the status line
        std::optional<FinishedRecording> finished;
    };
    // Called once a second: finishes the recording when its encoder has died, the server
    // ended its capture or its file was removed, and notices dropped audio. Does not apply
    // the length limit (see limitReached()).
    [[nodiscard]] PollResult poll();

    bool isRecording() const { return m_recording; }
    Failure failure() const { return m_failure; }
    // failureText() with its cause: "encoder failed: oggenc not found", "capture failed:
    // recording device 3 not found", "cannot write /srv/rec: permission denied"; empty for None.
    QString failureReason() const { return m_failureReason; }
    // The running or last recording lost audio; cleared by the next start.
    bool audioDropped() const { return m_audioDropped; }

    std::uint64_t capturedBytes() const { return m_capturedBytes.load(std::memory_order_relaxed); }
    std::uint64_t limitBytes() const { return m_limitBytes; }
    // True while recording with a limit that the captured bytes have reached.
    bool limitReached() const;
    // Captured seconds, truncated; 0 while idle.
    qint64 elapsedSeconds() const;
    // Level word of the capture (see audio::CaptureStream::level), kNoLevel while idle.
    std::uint32_t level() const;
    // Samples the encoder feed of the running or last recording had to drop because the
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
    void captureBlock(const char *data, std::size_t bytes) noexcept;
    std::optional<FinishedRecording> finish(bool encoderDied);
    void release();
    void fail(Failure failure, const QString &cause);
    bool noticeDroppedAudio();
    bool fileRemoved();
    bool isPathTaken(const QString &path);

    audio::AudioBackend &m_backend;
    std::unique_ptr<audio::CaptureStream> m_capture;  // RecordChannel
    std::unique_ptr<audio::EncoderFeed> m_encoder;
    // The feed the capture callback writes into; null while none is ready.
    std::atomic<audio::EncoderFeed *> m_feedForCallback{nullptr};
    // Stopped encoders that may still be writing their files, with those files' paths.
    struct FinishingEncoder {
        QString path;
        std::unique_ptr<audio::EncoderFeed> feed;
    };
    std::vector<FinishingEncoder> m_finishingEncoders;

    bool m_recording = false;                      // Recording
    std::atomic<std::uint64_t> m_capturedBytes{0}; // CapturedBytes
    std::uint64_t m_limitBytes = 0;                // LimitBytes
    QString m_currentFile;                         // CurrentFile
    QString m_pendingArchiveName;                  // PendingArchiveName
    double m_startTime = 0;                        // StartTime
    int m_sampleRate = 0;
    Failure m_failure = Failure::None;
    QString m_failureReason;
    QString m_encoderName;                 // file name of the encoder program, for reasons
    std::uint64_t m_droppedBytes = 0;      // of the feed, kept when the recording ends
    std::uint64_t m_captureOverflows = 0;  // of the capture, kept when the recording ends
    bool m_audioDropped = false;
    bool m_fileSeen = false;               // the encoder has created the output file
};

}  // namespace recording
