#pragma once
// The running recording: capture from the recording device, the encoder process fed with
// the captured samples, the captured-byte count and the length limit. At most one runs.
//
// Threads: everything here is called on the main thread, except the capture callback,
// which runs on the sound server's mainloop thread and only queues the block into the
// encoder feed and adds its size to CapturedBytes.
//
// Failures are not hidden: a recording whose capture or encoder cannot start is not
// running (isRecording() stays false) and failure() says why; no record is made for it.
// poll() notices an encoder that died or a capture the server ended and finishes the
// recording: a file the encoder has written (it exists and is not empty) is archived with
// the captured length; a file that was never written is not.

#include "audio/AudioBackend.h"
#include "settings/CodecPreset.h"

#include <QDateTime>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

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
    QString path;            // at most kArchivePathBytes bytes of UTF-8
};

constexpr int kArchivePathBytes = 262;

enum class Failure {
    None,
    CaptureFailed,  // capture could not start: nothing recorded
    EncoderFailed,  // the encoder could not start, or ended without writing a file
    EncoderDied,    // the encoder ended early; what it wrote is archived
    CaptureLost,    // the server ended the capture; the file is finished and archived
};

// Short English texts for the status line: "capture failed", "encoder failed",
// "encoder stopped", "capture lost"; empty for None.
QString failureText(Failure failure);

class RecordingSession {
public:
    explicit RecordingSession(audio::AudioBackend &backend);
    // Ends a running recording without making a record: call StopRecording first.
    ~RecordingSession();
    RecordingSession(const RecordingSession &) = delete;
    RecordingSession &operator=(const RecordingSession &) = delete;

    // Finishes a running recording (its record is returned), then starts a new one:
    // output path from the config and the clock, missing folders created, capture
    // started, the encoder started. limitMs = 0 means no length limit. On failure
    // isRecording() is false and failure() tells why.
    [[nodiscard]] std::optional<FinishedRecording> StartRecording(const RecordingConfig &config,
                                                                  quint32 limitMs);

    // Finishes the running recording: capture stops, the encoder's input is closed (it
    // completes its file in the background) and the record is returned. Nothing while
    // idle. Clears a failure shown from before.
    [[nodiscard]] std::optional<FinishedRecording> StopRecording();

    struct PollResult {
        bool changed = false;  // the recording ended: refresh the status line
        std::optional<FinishedRecording> finished;
    };
    // Called once a second: finishes the recording when its encoder has died or the
    // server ended its capture. Does not apply the length limit (see limitReached()).
    [[nodiscard]] PollResult poll();

    bool isRecording() const { return m_recording; }
    Failure failure() const { return m_failure; }

    std::uint64_t capturedBytes() const { return m_capturedBytes.load(std::memory_order_relaxed); }
    std::uint64_t limitBytes() const { return m_limitBytes; }
    // True while recording with a limit that the captured bytes have reached.
    bool limitReached() const;
    // Captured seconds, truncated; 0 while idle.
    qint64 elapsedSeconds() const;
    // Level word of the capture (see audio::CaptureStream::level), kNoLevel while idle.
    std::uint32_t level() const;
    // Samples the encoder feed had to drop because the encoder fell behind.
    std::uint64_t droppedBytes() const;

    QString currentFile() const { return m_currentFile; }
    double startTime() const { return m_startTime; }
    int sampleRate() const { return m_sampleRate; }

    // Bit rate (kbit/s) of the file being written: from its headers when they give a
    // duration, else from its size and the captured duration. 0 while idle or unknown.
    int estimateBitrate() const;
    // The remaining-time text for the running recording; "? d ?:??:??" while idle.
    QString remainingText() const;

private:
    void captureBlock(const char *data, std::size_t bytes) noexcept;
    std::optional<FinishedRecording> finish(bool encoderDied);
    void release();

    audio::AudioBackend &m_backend;
    std::unique_ptr<audio::CaptureStream> m_capture;  // RecordChannel
    std::unique_ptr<audio::EncoderFeed> m_encoder;
    // The feed the capture callback writes into; null while none is ready.
    std::atomic<audio::EncoderFeed *> m_feedForCallback{nullptr};

    bool m_recording = false;                      // Recording
    std::atomic<std::uint64_t> m_capturedBytes{0}; // CapturedBytes
    std::uint64_t m_limitBytes = 0;                // LimitBytes
    QString m_currentFile;                         // CurrentFile
    QString m_pendingArchiveName;                  // PendingArchiveName
    double m_startTime = 0;                        // StartTime
    int m_sampleRate = 0;
    Failure m_failure = Failure::None;
};

}  // namespace recording
