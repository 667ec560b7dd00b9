#include "recording/RecordingSession.h"

#include "recording/EncoderCommand.h"
#include "recording/Estimate.h"
#include "recording/OutputFileName.h"
#include "recording/RecordedLength.h"

#include "core/DayCount.h"
#include "core/TextLimits.h"

#include <QDir>
#include <QFileInfo>

namespace recording {

namespace {
constexpr int kSamePathWaitMs = 5000;
}

QString failureText(Failure failure)
{
    switch (failure) {
    case Failure::None: return {};
    case Failure::CaptureFailed: return QStringLiteral("capture failed");
    case Failure::EncoderFailed: return QStringLiteral("encoder failed");
    case Failure::EncoderDied: return QStringLiteral("encoder stopped");
    case Failure::CaptureLost: return QStringLiteral("capture lost");
    }
    return {};
}

RecordingSession::RecordingSession(audio::AudioBackend &backend) : m_backend(backend) {}

RecordingSession::~RecordingSession() { release(); }

// Runs on the sound server's mainloop thread.
void RecordingSession::captureBlock(const char *data, std::size_t bytes) noexcept
{
    audio::EncoderFeed *feed = m_feedForCallback.load(std::memory_order_acquire);
    if (!feed) return;  // the encoder is not running yet
    feed->push(data, bytes);
    m_capturedBytes.fetch_add(bytes, std::memory_order_relaxed);
}

std::optional<FinishedRecording> RecordingSession::StartRecording(const RecordingConfig &config,
                                                                  quint32 limitMs)
{
    const QString previousFile = m_currentFile;
    std::optional<FinishedRecording> previous = StopRecording();

    const QDateTime now = QDateTime::currentDateTime();
    m_capturedBytes.store(0);
    m_sampleRate = config.sampleRate;
    m_currentFile = makeOutputFileName(config.saveFolder, config.saveFilename, config.codec.ext, now);
    // Two starts within one second can name the same file. Two encoders writing one file
    // at once would leave neither recording readable, so the new one waits (briefly) for
    // the old one to finish; the new recording then replaces it, as any rerun would.
    if (m_currentFile == previousFile && audio::EncoderFeed::runningCount() > 0)
        audio::EncoderFeed::waitForAll(kSamePathWaitMs);
    // A folder that cannot be made shows up as an encoder that cannot write its file.
    QDir().mkpath(QFileInfo(m_currentFile).absolutePath());
    m_pendingArchiveName = core::cutToBytes(m_currentFile, kArchivePathBytes);
    m_startTime = core::toDayCount(now);

    // Capture first, so that an encoder is only started when there is something to feed
    // it: a failed capture then leaves no stub file behind. Blocks arriving before the
    // encoder is ready are not counted.
    m_capture = m_backend.startCapture(
        config.sampleRate,
        [this](const char *data, std::size_t bytes) { captureBlock(data, bytes); });
    if (!m_capture) {
        m_failure = Failure::CaptureFailed;
        m_pendingArchiveName.clear();
        return previous;
    }

    const QStringList argv = encoderArguments(config.programFolder, config.codec.command, m_currentFile);
    if (!argv.isEmpty()) m_encoder = audio::EncoderFeed::start(argv, config.sampleRate);
    if (!m_encoder) {
        release();
        m_failure = Failure::EncoderFailed;
        m_pendingArchiveName.clear();
        return previous;
    }
    m_feedForCallback.store(m_encoder.get(), std::memory_order_release);

    m_limitBytes = recording::limitBytes(limitMs, config.sampleRate);
    m_recording = true;
    m_failure = Failure::None;  // what became of the previous recording is in its record
    return previous;
}

std::optional<FinishedRecording> RecordingSession::StopRecording()
{
    m_failure = Failure::None;
    if (!m_recording) return std::nullopt;
    return finish(!m_encoder->isAlive());
}

RecordingSession::PollResult RecordingSession::poll()
{
    if (!m_recording) return {};
    if (!m_encoder->isAlive()) return {true, finish(true)};
    if (!m_capture->isRunning()) {
        std::optional<FinishedRecording> record = finish(false);
        m_failure = Failure::CaptureLost;
        return {true, record};
    }
    return {};
}

// Stops capture before the feed, so the feed receives every block counted.
void RecordingSession::release()
{
    if (m_capture) m_capture->stop();
    m_feedForCallback.store(nullptr, std::memory_order_release);
    m_capture.reset();
    if (m_encoder) m_encoder->stop();
    m_encoder.reset();
    m_recording = false;
}

std::optional<FinishedRecording> RecordingSession::finish(bool encoderDied)
{
    release();
    const qint32 length = wholeSeconds(m_capturedBytes.load(), m_sampleRate);
    const QString name = m_pendingArchiveName;
    m_pendingArchiveName.clear();

    if (encoderDied) {
        // The encoder has exited, so its file is as complete as it will ever be.
        const QFileInfo file(m_currentFile);
        const bool written = file.exists() && file.size() > 0;
        m_failure = written ? Failure::EncoderDied : Failure::EncoderFailed;
        if (!written) return std::nullopt;
    }
    if (name.isEmpty()) return std::nullopt;
    return FinishedRecording{m_startTime, length, name};
}

bool RecordingSession::limitReached() const
{
    return m_recording && m_limitBytes != 0 && capturedBytes() >= m_limitBytes;
}

qint64 RecordingSession::elapsedSeconds() const
{
    return m_recording ? wholeSeconds(capturedBytes(), m_sampleRate) : 0;
}

std::uint32_t RecordingSession::level() const
{
    return m_recording && m_capture ? m_capture->level() : audio::kNoLevel;
}

std::uint64_t RecordingSession::droppedBytes() const
{
    return m_encoder ? m_encoder->droppedBytes() : 0;
}

int RecordingSession::estimateBitrate() const
{
    if (!m_recording) return 0;
    const audio::FileProbe probe = audio::probeFile(m_currentFile);
    if (const int kbps = recording::estimateBitrate(probe)) return kbps;
    // A readable file whose headers carry no duration while it grows (FLAC, fragmented
    // MP4): measure its size against the captured duration. A file not readable yet (no
    // complete header) stays unknown rather than giving a wild figure.
    if (!probe.ok) return 0;
    return recording::estimateBitrate(probe.fileBytes, capturedSeconds(capturedBytes(), m_sampleRate));
}

QString RecordingSession::remainingText() const
{
    if (!m_recording) return unknownRemainingText();
    return recording::remainingText(freeSpaceBytes(m_currentFile), estimateBitrate());
}

}  // namespace recording
