#include "recording/RecordingSession.h"

#include "recording/EncoderCommand.h"
#include "recording/Logging.h"
#include "recording/Estimate.h"
#include "recording/OutputFileName.h"
#include "recording/RecordedLength.h"

#include "core/DayCount.h"
#include "core/TextLimits.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include <algorithm>

namespace recording {

namespace {

// Creates every missing folder of `folder`, level by level; returns why one could not be
// made ("permission denied"), empty on success. QDir::mkpath gives no reason.
QString makeFolders(const QString &folder)
{
    const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    qsizetype next = 0;
    while (next >= 0) {
        next = clean.indexOf(QLatin1Char('/'), next + 1);
        const QString level = next < 0 ? clean : clean.left(next);
        if (QFileInfo(level).isDir()) continue;
        if (::mkdir(QFile::encodeName(level).constData(), 0777) != 0 && errno != EEXIST)
            return QString::fromLocal8Bit(std::strerror(errno)).toLower();
        if (!QFileInfo(level).isDir()) return QStringLiteral("%1 is not a folder").arg(level);
    }
    return {};
}

}  // namespace

QString failureText(Failure failure)
{
    switch (failure) {
    case Failure::None: return {};
    case Failure::CaptureFailed: return QStringLiteral("capture failed");
    case Failure::EncoderFailed: return QStringLiteral("encoder failed");
    case Failure::EncoderDied: return QStringLiteral("encoder stopped");
    case Failure::CaptureLost: return QStringLiteral("capture lost");
    case Failure::CannotWrite: return QStringLiteral("cannot write");
    case Failure::FileRemoved: return QStringLiteral("file removed");
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
    // A limited recording takes exactly its length, however late the stop comes: the
    // samples past the limit are not given to the encoder. This thread alone adds.
    if (m_limitBytes != 0) {
        const std::uint64_t captured = m_capturedBytes.load(std::memory_order_relaxed);
        if (captured >= m_limitBytes) return;
        bytes = std::size_t(std::min<std::uint64_t>(bytes, m_limitBytes - captured));
    }
    feed->push(data, bytes);
    m_capturedBytes.fetch_add(bytes, std::memory_order_relaxed);
}

std::optional<FinishedRecording> RecordingSession::start(const RecordingConfig &config, quint32 limitMs,
                                                         const QDateTime &now)
{
    std::optional<FinishedRecording> previous = stop();

    m_capturedBytes.store(0);
    m_sampleRate = config.sampleRate;
    m_currentFile = firstFreeFileName(
        makeOutputFileName(config.saveFolder, config.saveFilename, config.codec.ext, now),
        config.codec.ext, [this](const QString &path) { return isPathTaken(path); });
    m_droppedBytes = m_captureOverflows = 0;
    m_audioDropped = m_fileSeen = false;
    const QString folder = QFileInfo(m_currentFile).absolutePath();
    if (const QString why = makeFolders(folder); !why.isEmpty()) {
        fail(Failure::CannotWrite, folder + QStringLiteral(": ") + why);
        return previous;
    }
    m_pendingArchiveName = m_currentFile;
    m_startTime = core::toDayCount(now);

    // Capture first, so that an encoder is only started when there is something to feed
    // it: a failed capture then leaves no stub file behind. Blocks arriving before the
    // encoder is ready are not counted.
    QString why;
    m_capture = m_backend.startCapture(
        config.sampleRate,
        [this](const char *data, std::size_t bytes) { captureBlock(data, bytes); }, &why);
    if (!m_capture) {
        m_pendingArchiveName.clear();
        fail(Failure::CaptureFailed, why);
        return previous;
    }

    const QStringList argv = encoderArguments(config.programFolder, config.codec.command, m_currentFile);
    m_encoderName = argv.isEmpty() ? QString() : QFileInfo(argv.front()).fileName();
    if (argv.isEmpty())
        why = QStringLiteral("the codec has no command");
    else
        m_encoder = audio::EncoderFeed::start(argv, config.sampleRate, &why);
    if (!m_encoder) {
        release();
        m_pendingArchiveName.clear();
        fail(Failure::EncoderFailed, why);
        if (!argv.isEmpty())
            qCWarning(lcRecording).noquote() << QStringLiteral("encoder command: ") + argv.join(QLatin1Char(' '));
        return previous;
    }
    // The limit is set before the feed is published: the capture callback reads it.
    m_limitBytes = recording::limitBytes(limitMs, config.sampleRate);
    m_feedForCallback.store(m_encoder.get(), std::memory_order_release);
    m_recording = true;
    m_failure = Failure::None;  // what became of the previous recording is in its record
    m_failureReason.clear();
    return previous;
}

std::optional<FinishedRecording> RecordingSession::stop()
{
    m_failure = Failure::None;
    m_failureReason.clear();
    if (!m_recording) return std::nullopt;
    return finish(!m_encoder->isAlive());
}

RecordingSession::PollResult RecordingSession::poll()
{
    if (!m_recording) return {};
    if (!m_encoder->isAlive()) return {true, finish(true)};
    if (!m_capture->isRunning()) {
        std::optional<FinishedRecording> record = finish(false);
        fail(Failure::CaptureLost, m_backend.isConnected() ? QStringLiteral("the recording device went away")
                                                           : QStringLiteral("the sound server went away"));
        return {true, record};
    }
    if (fileRemoved()) {
        (void)finish(false);  // nothing left to archive
        fail(Failure::FileRemoved, m_currentFile);
        return {true, std::nullopt};
    }
    return {noticeDroppedAudio(), std::nullopt};
}

void RecordingSession::fail(Failure failure, const QString &cause)
{
    m_failure = failure;
    m_failureReason = failureText(failure);
    // "cannot write /srv/rec: permission denied" reads as a sentence; the others as a label.
    if (!cause.isEmpty())
        m_failureReason += (failure == Failure::CannotWrite ? QStringLiteral(" ") : QStringLiteral(": ")) + cause;
    qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2").arg(m_currentFile, m_failureReason);
}

// True the first time audio is found lost; logs it.
bool RecordingSession::noticeDroppedAudio()
{
    if (m_encoder) m_droppedBytes = m_encoder->droppedBytes();
    if (m_capture) m_captureOverflows = m_capture->overflows();
    if (m_audioDropped || (m_droppedBytes == 0 && m_captureOverflows == 0)) return false;
    m_audioDropped = true;
    qCWarning(lcRecording).noquote()
        << QStringLiteral("recording %1: %2 (%3)")
               .arg(m_currentFile, audioDroppedText(),
                    m_droppedBytes > 0 ? QStringLiteral("the encoder fell behind")
                                       : QStringLiteral("the capture was held up and the server dropped audio"));
    return true;
}

// The encoder writes in steps and some start only seconds in (opusenc), so a file not there
// yet is no sign; one that was there and is gone, or a save folder that is gone, is.
bool RecordingSession::fileRemoved()
{
    const QFileInfo file(m_currentFile);
    if (file.exists()) {
        m_fileSeen = true;
        return false;
    }
    return m_fileSeen || !QFileInfo(file.absolutePath()).isDir();
}

// Stops capture before the feed, so the feed receives every block counted.
void RecordingSession::release()
{
    if (m_capture) m_capture->stop();
    m_feedForCallback.store(nullptr, std::memory_order_release);
    m_capture.reset();
    if (m_encoder) {
        m_encoder->stop();
        m_finishingEncoders.push_back({QDir::cleanPath(m_currentFile), std::move(m_encoder)});
    }
    m_recording = false;
}

std::optional<FinishedRecording> RecordingSession::finish(bool encoderDied)
{
    const QString encoderEnd = m_encoder ? m_encoder->endDescription() : QString();
    // With capture stopped first, the counters are final once release() returns.
    if (m_capture) m_capture->stop();
    noticeDroppedAudio();
    release();
    const std::uint64_t fed = m_capturedBytes.load() - std::min(m_droppedBytes, m_capturedBytes.load());
    const qint32 length = wholeSeconds(fed, m_sampleRate);
    const QString name = m_pendingArchiveName;
    m_pendingArchiveName.clear();
    if (m_droppedBytes > 0)
        qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2 s of audio dropped, %3 s archived")
                                                .arg(m_currentFile)
                                                .arg(capturedSeconds(m_droppedBytes, m_sampleRate), 0, 'f', 1)
                                                .arg(capturedSeconds(fed, m_sampleRate), 0, 'f', 1);

    if (encoderDied) {
        // The encoder has exited, so its file is as complete as it will ever be.
        const QFileInfo file(m_currentFile);
        const bool written = file.exists() && file.size() > 0;
        fail(written ? Failure::EncoderDied : Failure::EncoderFailed, m_encoderName + QLatin1Char(' ') + encoderEnd);
        if (!written) return std::nullopt;
    }
    if (name.isEmpty()) return std::nullopt;
    return FinishedRecording{m_startTime, length, name};
}

// An encoder may create its file seconds after it starts (opusenc does), so a name is
// also taken while a stopped encoder of this session is still finishing it.
bool RecordingSession::isPathTaken(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    m_finishingEncoders.erase(std::remove_if(m_finishingEncoders.begin(), m_finishingEncoders.end(),
                                             [](const FinishingEncoder &e) { return !e.feed->isAlive(); }),
                              m_finishingEncoders.end());
    for (const FinishingEncoder &e : m_finishingEncoders)
        if (e.path == clean) return true;
    const QFileInfo file(clean);
    return file.exists() || file.isSymLink();  // a dangling link would be written through
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
    return m_encoder ? m_encoder->droppedBytes() : m_droppedBytes;
}

std::uint64_t RecordingSession::captureOverflows() const
{
    return m_capture ? m_capture->overflows() : m_captureOverflows;
}

int RecordingSession::estimateBitrate() const
{
    if (!m_recording) return 0;
    // The probe reads headers only, at a cost that does not grow with the file.
    return runningBitrate(audio::probeFile(m_currentFile), capturedSeconds(capturedBytes(), m_sampleRate));
}

QString RecordingSession::remainingText() const
{
    if (!m_recording) return unknownRemainingText();
    return recording::remainingText(freeSpaceBytes(m_currentFile), estimateBitrate());
}

}  // namespace recording
