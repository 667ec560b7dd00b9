#include "recording/RecordingSession.h"

#include "audio/FileProbe.h"
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
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace recording {

namespace {

// Held for an encoder restart: what a dead encoder's feed may still have queued (8 s), the
// time to notice the death (a poll), the second of overlap and what its file may show less
// than it was given (a header it updated a second before), with a second to spare.
constexpr int kHistorySeconds = 12;
constexpr int kOverlapSeconds = 1;       // a restarted encoder's file goes back this far
constexpr qint64 kWorkingEncoderMs = 2000;  // an encoder that dies sooner without a file never worked
constexpr qint64 kCaptureRetryMs = 1000;
// The poll comes once a second, give or take: a retry due a moment later is made now, or
// it would wait a whole second more.
constexpr qint64 kCaptureRetrySlackMs = 200;

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

// How an encoder ended, for the status line: the last line it wrote to its standard error
// when it wrote any ("lame: unrecognized option --no-such-option"), else "lame exited with
// status 1". All it said goes to the log with its exit.
QString describeEncoderEnd(const audio::EncoderFeed &feed, const QString &name, const QString &file)
{
    const QString end = name + QLatin1Char(' ') + feed.endDescription();
    const QString said = feed.errorTail().trimmed();
    if (said.isEmpty())
        return end;
    qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2; it said:\n%3").arg(file, end, said);
    // Progress lines end in a carriage return.
    static const QRegularExpression lineBreak(QStringLiteral("[\r\n]+"));
    QString last = said.split(lineBreak, Qt::SkipEmptyParts).constLast().trimmed();
    // Most encoders begin with the path they were started by: the program's name says it.
    const QString started = QLatin1Char('/') + name + QLatin1Char(':');
    if (const qsizetype at = last.indexOf(started); at > 0 && !last.left(at).contains(QLatin1Char(' ')))
        last.remove(0, at + 1);
    return last;
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

QString failureSentence(Failure failure, const QString &words, const QString &cause, const QString &retrying)
{
    if (failure == Failure::None)
        return {};
    QString sentence = words;
    // "cannot write /srv/rec: permission denied" reads as a sentence; the others as a label.
    if (!cause.isEmpty())
        sentence += (failure == Failure::CannotWrite ? QStringLiteral(" ") : QStringLiteral(": ")) + cause;
    if (failure == Failure::CaptureLost)
        sentence += QStringLiteral(" \u2014 ") + retrying;
    return sentence;
}

RecordingSession::RecordingSession(audio::CaptureBackend &backend) : m_backend(backend) { m_clock.start(); }

RecordingSession::~RecordingSession() { release(); }

// Runs on the sound server's mainloop thread.
void RecordingSession::captureBlock(const char *data, std::size_t bytes) noexcept
{
    audio::EncoderFeed *feed = m_feedForCallback.load(std::memory_order_acquire);
    if (!feed) return;  // no file is ready yet
    // A limited recording takes exactly its length, however late the stop comes: the
    // samples past the limit are not given to the encoder. This thread alone adds.
    const std::uint64_t position = m_streamPosition.load(std::memory_order_relaxed);
    const std::uint64_t limitEnd = m_limitEnd.load(std::memory_order_relaxed);
    if (limitEnd != 0) {
        if (position >= limitEnd) return;
        bytes = std::size_t(std::min<std::uint64_t>(bytes, limitEnd - position));
    }
    m_history->append(data, bytes);
    feed->push(data, bytes);  // a dead feed ignores it; the history keeps it for the next
    m_streamPosition.store(position + bytes, std::memory_order_release);
}

void RecordingSession::betweenBlocks(const std::function<void()> &change)
{
    if (m_capture)
        m_capture->runBetweenBlocks(change);
    else
        change();
}

void RecordingSession::addEvent(SessionEventKind kind, const QString &file, const QString &details)
{
    SessionEvent event;
    event.kind = kind;
    event.at = QDateTime::currentDateTime();
    event.file = file;
    event.details = details;
    m_events.push_back(std::move(event));
}

std::vector<SessionEvent> RecordingSession::takeEvents() { return std::exchange(m_events, {}); }

void RecordingSession::setEncoderRestartLimit(int maxDeaths, qint64 windowMs)
{
    m_maxEncoderDeaths = maxDeaths;
    m_encoderDeathWindowMs = windowMs;
}

bool RecordingSession::startCapture(QString *why)
{
    const auto onBlock = [this](const char *data, std::size_t bytes) { captureBlock(data, bytes); };
    if (m_captureLost) {
        m_capture = m_backend.startCaptureFrom(m_captureSource, m_config.sampleRate, onBlock, why);
    } else {
        m_captureDevice = m_backend.recordDevice();
        m_capture = m_backend.startCapture(m_config.sampleRate, onBlock, why, &m_captureSource);
    }
    return m_capture != nullptr;
}

// The name of the recording's next file at `now`, its folders made.
RecordingSession::NextFile RecordingSession::prepareFile(const QDateTime &now)
{
    NextFile next;
    next.path = firstFreeFileName(
        makeOutputFileName(m_config.saveFolder, m_config.saveFilename, m_config.codec.ext, now),
        m_config.codec.ext, [this](const QString &path) { return isPathTaken(path); });
    const QString folder = QFileInfo(next.path).absolutePath();
    if (const QString why = makeFolders(folder); !why.isEmpty()) {
        next.failure = Failure::CannotWrite;
        next.why = folder + QStringLiteral(": ") + why;
    }
    return next;
}

// Name, folders and encoder of the recording's next file; the capture is not touched.
RecordingSession::NextFile RecordingSession::openNextFile(const QDateTime &now)
{
    NextFile next = prepareFile(now);
    if (next.failure == Failure::None) startEncoder(next);
    return next;
}

void RecordingSession::startEncoder(NextFile &next)
{
    const QStringList argv = encoderArguments(m_config.programFolder, m_config.codec.command, next.path);
    next.encoderName = argv.isEmpty() ? QString() : QFileInfo(argv.front()).fileName();
    if (argv.isEmpty())
        next.why = QStringLiteral("the codec has no command");
    else
        next.feed = audio::EncoderFeed::start(argv, m_config.sampleRate, &next.why);
    if (!next.feed) {
        next.failure = Failure::EncoderFailed;
        if (!argv.isEmpty())
            qCWarning(lcRecording).noquote() << QStringLiteral("encoder command: ") + argv.join(QLatin1Char(' '));
    }
}

// Makes `next` the current file; the callback must already write into it (or not yet run).
void RecordingSession::adoptFile(NextFile &&next, const QDateTime &now, std::uint64_t firstByte)
{
    m_encoder = std::move(next.feed);
    m_encoderName = next.encoderName;
    m_encoderStartedMs = m_clock.elapsed();
    m_currentFile = m_pendingArchiveName = next.path;
    m_fileStart = firstByte;
    // The file starts with what was captured before now (the overlap after a restart).
    const double earlierSeconds = capturedSeconds(m_streamPosition.load() - firstByte, m_sampleRate);
    m_startTime = core::toDayCount(now) - earlierSeconds / core::kSecondsPerDay;
    m_fileSeen = false;
}

std::optional<FinishedRecording> RecordingSession::start(const RecordingConfig &config, quint32 limitMs,
                                                         const QDateTime &now)
{
    if (m_recording && !m_captureLost && m_capture && m_capture->isRunning() && m_encoder->isAlive()
        && config.sampleRate == m_sampleRate && m_backend.recordDevice() == m_captureDevice)
        return changeFile(config, limitMs, now);
    std::optional<FinishedRecording> previous = stop();

    m_config = config;
    m_sampleRate = config.sampleRate;
    m_streamPosition.store(0);
    m_recordingStart = m_fileStart = 0;
    m_limitBytes = recording::limitBytes(limitMs, config.sampleRate);
    m_limitEnd.store(m_limitBytes);
    m_droppedBytes = m_droppedBefore = m_droppedReported = 0;
    m_overflowsBefore = m_overflowBase = m_overflowsReported = 0;
    m_audioDropped = m_fileSeen = false;
    m_encoderDeaths.clear();
    m_captureLost = false;
    m_lostMsBefore = 0;
    m_pendingArchiveName.clear();
    const std::size_t frameBytes = std::size_t(std::max(config.sampleRate, 1)) * audio::kBytesPerFrame;
    m_history = std::make_unique<CaptureHistory>(frameBytes * kHistorySeconds);

    // Capture first, so that an encoder is only started when there is something to feed
    // it: a failed capture then leaves no stub file behind. Blocks arriving before the
    // encoder is ready are not counted.
    NextFile next = prepareFile(now);
    m_currentFile = next.path;
    if (next.failure != Failure::None) {
        fail(next.failure, next.why);
        return previous;
    }
    QString why;
    if (!startCapture(&why)) {
        fail(Failure::CaptureFailed, why);
        return previous;
    }
    startEncoder(next);
    if (!next.feed) {
        release();
        fail(next.failure, next.why);
        return previous;
    }
    adoptFile(std::move(next), now, 0);
    m_feedForCallback.store(m_encoder.get(), std::memory_order_release);
    m_recording = true;
    m_failure = Failure::None;  // what became of the previous recording is in its record
    m_failureCause.clear();
    addEvent(SessionEventKind::Started, m_currentFile);
    return previous;
}

// The capture goes on; the stream is cut between two blocks and the new file takes over.
std::optional<FinishedRecording> RecordingSession::changeFile(const RecordingConfig &config, quint32 limitMs,
                                                              const QDateTime &now)
{
    const RecordingConfig previousConfig = std::exchange(m_config, config);
    NextFile next = openNextFile(now);
    if (!next.feed) {
        m_config = previousConfig;
        std::optional<FinishedRecording> previous = stop();
        m_currentFile = next.path;
        fail(next.failure, next.why);
        return previous;
    }
    const std::uint64_t limitBytes = recording::limitBytes(limitMs, config.sampleRate);
    audio::EncoderFeed *feed = next.feed.get();
    std::uint64_t cut = 0;
    betweenBlocks([&] {
        cut = m_streamPosition.load(std::memory_order_relaxed);
        m_feedForCallback.store(feed, std::memory_order_release);
        m_limitEnd.store(limitBytes == 0 ? 0 : cut + limitBytes, std::memory_order_relaxed);
    });
    // No block reaches the old feed any more: it can be stopped and its length is final.
    noticeDroppedAudio();
    const QString previousFile = m_currentFile;
    std::optional<FinishedRecording> previous = closeFile(cut, false);
    if (m_droppedBytes > 0)
        qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2 s of audio dropped")
                                                .arg(previousFile)
                                                .arg(capturedSeconds(m_droppedBytes, m_sampleRate), 0, 'f', 1);
    m_recordingStart = cut;
    m_limitBytes = limitBytes;
    m_droppedBytes = m_droppedBefore = m_droppedReported = 0;
    m_overflowsBefore = m_overflowsReported = 0;
    m_overflowBase = m_capture->overflows();
    m_lostMsBefore = 0;
    m_audioDropped = false;
    m_encoderDeaths.clear();
    adoptFile(std::move(next), now, cut);
    m_failure = Failure::None;
    m_failureCause.clear();
    addEvent(SessionEventKind::FileChanged, m_currentFile, QStringLiteral("after ") + previousFile);
    return previous;
}

std::optional<FinishedRecording> RecordingSession::stop()
{
    m_failure = Failure::None;
    m_failureCause.clear();
    if (!m_recording) return std::nullopt;
    const QString file = m_currentFile;
    std::optional<FinishedRecording> record = finish(m_encoder && !m_encoder->isAlive());
    addEvent(SessionEventKind::Stopped, file);
    return record;
}

RecordingSession::PollResult RecordingSession::poll()
{
    PollResult result;
    if (!m_recording) return result;
    if (m_captureLost) {
        retryCapture(result);
        return result;
    }
    // A capture that ended first: an encoder restarted now would get a file that the loss
    // then closes at once.
    if (!m_capture->isRunning()) {
        loseCapture(result);
        return result;
    }
    if (!m_encoder->isAlive()) {
        encoderDied(result);
        if (!m_recording) return result;
    }
    if (fileRemoved()) {
        (void)finish(false);  // nothing left to archive
        fail(Failure::FileRemoved, m_currentFile);
        result.changed = true;
        return result;
    }
    result.changed |= noticeDroppedAudio();
    return result;
}

// The encoder is gone: it is started again into a new file that begins with the last second
// it was given, unless it never worked or dies too often.
void RecordingSession::encoderDied(PollResult &result)
{
    result.changed = true;
    const qint64 nowMs = m_clock.elapsed();
    while (!m_encoderDeaths.empty() && nowMs - m_encoderDeaths.front() > m_encoderDeathWindowMs)
        m_encoderDeaths.pop_front();
    m_encoderDeaths.push_back(nowMs);
    const QFileInfo file(m_currentFile);
    const bool worked = (file.exists() && file.size() > 0) || nowMs - m_encoderStartedMs >= kWorkingEncoderMs;
    const bool tooOften = int(m_encoderDeaths.size()) > m_maxEncoderDeaths;
    if (!worked || tooOften) {
        const QString deadFile = m_currentFile;
        if (std::optional<FinishedRecording> record = finish(true)) result.finished.push_back(*record);
        if (tooOften)
            addEvent(SessionEventKind::EncoderGaveUp, deadFile,
                     QStringLiteral("%1 deaths within %2 s").arg(m_encoderDeaths.size()).arg(m_encoderDeathWindowMs / 1000));
        return;
    }

    const QString deadFile = m_currentFile;
    const QString deadEnd = describeEncoderEnd(*m_encoder, m_encoderName, m_currentFile);
    // Up to here the dead encoder had taken samples. What its file shows may end earlier
    // (a header it updates now and then, a frame it never completed): then from that end.
    // The new file goes back a second from there.
    std::uint64_t givenUpTo = m_fileStart + m_encoder->deliveredBytes() + m_encoder->droppedBytes();
    std::uint64_t fileShows = UINT64_MAX;  // bytes of audio the dead file holds, when its headers say
    if (const audio::FileProbe probe = audio::probeFile(deadFile); probe.ok && probe.durationSeconds > 0) {
        fileShows = std::uint64_t(std::llround(probe.durationSeconds * m_sampleRate)) * audio::kBytesPerFrame;
        givenUpTo = std::min(givenUpTo, m_fileStart + fileShows);
    }
    givenUpTo -= givenUpTo % audio::kBytesPerFrame;
    const QDateTime now = QDateTime::currentDateTime();
    NextFile next = openNextFile(now);
    if (!next.feed) {
        // One failure: why the recording could not go on, with how the last encoder ended.
        if (std::optional<FinishedRecording> record = finish(true, false)) result.finished.push_back(*record);
        m_currentFile = next.path;
        fail(next.failure, next.why + QStringLiteral(" (after ") + deadEnd + QLatin1Char(')'));
        return;
    }
    audio::EncoderFeed *feed = next.feed.get();
    std::uint64_t firstByte = 0;
    std::uint64_t end = 0;
    std::uint64_t notHeld = 0;  // given to the dead encoder, lost with it and gone from the history
    const std::uint64_t overlapBytes = std::uint64_t(m_sampleRate) * audio::kBytesPerFrame * kOverlapSeconds;
    betweenBlocks([&] {
        end = m_streamPosition.load(std::memory_order_relaxed);
        firstByte = restartPosition(givenUpTo, overlapBytes, *m_history);
        notHeld = firstByte > givenUpTo ? firstByte - givenUpTo : 0;
        m_history->copyFrom(firstByte, [feed](const char *data, std::size_t bytes) { feed->push(data, bytes); });
        m_feedForCallback.store(feed, std::memory_order_release);
    });
    noticeDroppedAudio();
    if (std::optional<FinishedRecording> record = closeFile(end, true, fileShows)) result.finished.push_back(*record);
    if (notHeld > 0)
        reportDroppedAudio(notHeld, QStringLiteral("lost with the encoder that stopped"));
    adoptFile(std::move(next), now, firstByte);
    result.newFile = true;
    qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2; going on into %3 from %4 s back")
                                            .arg(deadFile, deadEnd, m_currentFile)
                                            .arg(capturedSeconds(end - firstByte, m_sampleRate), 0, 'f', 2);
    addEvent(SessionEventKind::EncoderRestarted, m_currentFile, QStringLiteral("after ") + deadFile + QStringLiteral(": ") + deadEnd);
}

// The server ended the capture: the file is finished and the capture retried from poll().
void RecordingSession::loseCapture(PollResult &result)
{
    result.changed = true;
    const QString cause = m_backend.isConnected() ? QStringLiteral("the recording device went away")
                                                  : QStringLiteral("the sound server went away");
    m_capture->stop();  // no callback after this: the position is final
    m_feedForCallback.store(nullptr, std::memory_order_release);
    m_overflowsBefore += m_capture->overflows() - m_overflowBase;
    m_overflowBase = 0;
    m_capture.reset();
    noticeDroppedAudio();
    const QString file = m_currentFile;
    // A file the capture gave nothing (it failed again right after a retry) is no recording.
    const std::uint64_t end = m_streamPosition.load();
    const bool gotAudio = end > m_fileStart;
    std::optional<FinishedRecording> record = closeFile(end, !m_encoder->isAlive());
    if (record && gotAudio) result.finished.push_back(*record);
    m_captureLost = true;
    m_captureLostAtMs = m_clock.elapsed();
    m_nextCaptureRetryMs = m_captureLostAtMs + kCaptureRetryMs;
    m_failure = Failure::CaptureLost;
    m_failureCause = cause;
    qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2").arg(file, failureReason());
    addEvent(SessionEventKind::CaptureLost, file, cause);
}

void RecordingSession::retryCapture(PollResult &result)
{
    const qint64 nowMs = m_clock.elapsed();
    if (nowMs + kCaptureRetrySlackMs < m_nextCaptureRetryMs || limitReached()) return;
    m_nextCaptureRetryMs = nowMs + kCaptureRetryMs;
    QString why;
    if (!startCapture(&why)) {
        // The next poll tries again; the reason shown follows what stands in the way now.
        if (why != m_failureCause) {
            m_failureCause = why;
            result.changed = true;
            qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2").arg(m_currentFile, failureReason());
        }
        return;
    }
    result.changed = true;
    // What is left of the limit after the time without capture. Used up while the capture
    // started: the limit ends the recording, as it would have.
    const std::uint64_t limitUsed = capturedBytes() + lostSpanBytes();
    if (m_limitBytes != 0 && limitUsed >= m_limitBytes) {
        m_capture->stop();
        m_capture.reset();
        return;
    }
    const std::uint64_t limitLeft = m_limitBytes == 0 ? 0 : m_limitBytes - limitUsed;
    const QDateTime now = QDateTime::currentDateTime();
    NextFile next = openNextFile(now);
    if (!next.feed) {
        release();
        m_captureLost = false;
        m_currentFile = next.path;
        fail(next.failure, next.why);
        return;
    }
    m_overflowBase = 0;
    const std::uint64_t position = m_streamPosition.load();
    m_history->reset(position);  // what came before the loss must not be joined to what follows
    adoptFile(std::move(next), now, position);
    // The callback counts nothing until it has the feed below.
    m_limitEnd.store(m_limitBytes == 0 ? 0 : position + limitLeft);
    const qint64 lostMs = m_clock.elapsed() - m_captureLostAtMs;
    m_lostMsBefore += lostMs;
    m_captureLost = false;
    m_feedForCallback.store(m_encoder.get(), std::memory_order_release);
    m_failure = Failure::None;
    m_failureCause.clear();
    result.newFile = true;
    qCInfo(lcRecording).noquote() << QStringLiteral("recording goes on into %1 after %2 s without capture")
                                         .arg(m_currentFile)
                                         .arg(lostMs / 1000.0, 0, 'f', 1);
    SessionEvent event;
    event.kind = SessionEventKind::CaptureRecovered;
    event.at = now;
    event.file = m_currentFile;
    event.lostMs = lostMs;
    m_events.push_back(std::move(event));
}

void RecordingSession::fail(Failure failure, const QString &cause)
{
    m_failure = failure;
    m_failureCause = cause;
    qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2").arg(m_currentFile, failureReason());
    addEvent(SessionEventKind::Failed, m_currentFile, failureReason());
}

// True the first time audio is found lost; logs it. Every new loss is an event: the feeds'
// with its length, the server's without one (it does not say how much it dropped).
bool RecordingSession::noticeDroppedAudio()
{
    m_droppedBytes = m_droppedBefore + (m_encoder ? m_encoder->droppedBytes() : 0);
    const std::uint64_t overflows = captureOverflows();
    if (m_droppedBytes > m_droppedReported) {
        SessionEvent event;
        event.kind = SessionEventKind::AudioDropped;
        event.at = QDateTime::currentDateTime();
        event.file = m_currentFile;
        event.droppedBytes = m_droppedBytes - m_droppedReported;
        m_events.push_back(std::move(event));
        m_droppedReported = m_droppedBytes;
    }
    if (overflows > m_overflowsReported) {
        addEvent(SessionEventKind::AudioDropped, m_currentFile, QStringLiteral("the server dropped audio (capture held up)"));
        m_overflowsReported = overflows;
    }
    if (m_audioDropped || (m_droppedBytes == 0 && overflows == 0)) return false;
    m_audioDropped = true;
    qCWarning(lcRecording).noquote()
        << QStringLiteral("recording %1: %2 (%3)")
               .arg(m_currentFile, audioDroppedText(),
                    m_droppedBytes > 0 ? QStringLiteral("the encoder fell behind")
                                       : QStringLiteral("the capture was held up and the server dropped audio"));
    return true;
}

// Audio that is lost for a cause of its own: counted with the feeds' drops, and reported.
void RecordingSession::reportDroppedAudio(std::uint64_t bytes, const QString &cause)
{
    m_droppedBefore += bytes;
    m_droppedBytes += bytes;
    m_droppedReported += bytes;
    m_audioDropped = true;
    qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2 s of audio dropped: %3")
                                            .arg(m_currentFile)
                                            .arg(capturedSeconds(bytes, m_sampleRate), 0, 'f', 2)
                                            .arg(cause);
    addEvent(SessionEventKind::AudioDropped, m_currentFile, cause);
    m_events.back().droppedBytes = bytes;
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
    if (m_capture) {
        m_capture->stop();
        m_overflowsBefore = captureOverflows();
        m_overflowBase = 0;
    }
    m_feedForCallback.store(nullptr, std::memory_order_release);
    m_capture.reset();
    if (m_encoder) {
        m_encoder->stop();
        m_finishingEncoders.push_back({QDir::cleanPath(m_currentFile), std::move(m_encoder)});
    }
    m_recording = false;
    m_captureLost = false;
}

// The current file's encoder is given no more blocks: its input is closed and its record
// made. `endPosition`: the stream position after its last block.
std::optional<FinishedRecording> RecordingSession::closeFile(std::uint64_t endPosition, bool encoderDied,
                                                             std::uint64_t fileHoldsAtMost)
{
    if (!m_encoder) return std::nullopt;
    const std::uint64_t dropped = m_encoder->droppedBytes();
    const std::uint64_t given = endPosition - std::min(endPosition, m_fileStart);
    // A dead encoder took what went into its pipe at the most, and wrote what its file shows.
    const std::uint64_t fed = encoderDied ? std::min({given - std::min(dropped, given), m_encoder->deliveredBytes(), fileHoldsAtMost})
                                          : given - std::min(dropped, given);
    m_droppedBefore += dropped;
    m_encoder->stop();
    m_finishingEncoders.push_back({QDir::cleanPath(m_currentFile), std::move(m_encoder)});
    const QString name = std::exchange(m_pendingArchiveName, QString());
    if (encoderDied) {
        // The encoder has exited, so its file is as complete as it will ever be.
        const QFileInfo file(m_currentFile);
        if (!file.exists() || file.size() == 0) return std::nullopt;
    }
    if (name.isEmpty()) return std::nullopt;
    return FinishedRecording{m_startTime, wholeSeconds(fed, m_sampleRate), name};
}

// Ends the recording: capture stops, the current file is closed. A dead encoder is the
// failure, unless the caller says a failure of its own (sayEncoderEnd false).
std::optional<FinishedRecording> RecordingSession::finish(bool encoderDied, bool sayEncoderEnd)
{
    const QString encoderEnd = m_encoder && encoderDied ? describeEncoderEnd(*m_encoder, m_encoderName, m_currentFile)
                                                        : QString();
    // With capture stopped first, the counters are final once it returns.
    if (m_capture) m_capture->stop();
    m_feedForCallback.store(nullptr, std::memory_order_release);
    noticeDroppedAudio();
    const std::uint64_t end = m_streamPosition.load();
    const bool written = [this] {
        const QFileInfo file(m_currentFile);
        return file.exists() && file.size() > 0;
    }();
    const std::uint64_t droppedHere = m_encoder ? m_encoder->droppedBytes() : 0;
    std::optional<FinishedRecording> record = closeFile(end, encoderDied);
    release();
    if (droppedHere > 0)
        qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2 s of audio dropped, %3 s archived")
                                                .arg(m_currentFile)
                                                .arg(capturedSeconds(droppedHere, m_sampleRate), 0, 'f', 1)
                                                .arg(record ? record->lengthSeconds : 0);
    if (encoderDied && sayEncoderEnd)
        fail(written ? Failure::EncoderDied : Failure::EncoderFailed, encoderEnd);
    return record;
}

// An encoder may create its file seconds after it starts (opusenc does), so a name is
// also taken while a stopped encoder of this session is still finishing it.
bool RecordingSession::isPathTaken(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    if (m_encoder && QDir::cleanPath(m_currentFile) == clean) return true;
    m_finishingEncoders.erase(std::remove_if(m_finishingEncoders.begin(), m_finishingEncoders.end(),
                                             [](const FinishingEncoder &e) { return !e.feed->isAlive(); }),
                              m_finishingEncoders.end());
    for (const FinishingEncoder &e : m_finishingEncoders)
        if (e.path == clean) return true;
    const QFileInfo file(clean);
    return file.exists() || file.isSymLink();  // a dangling link would be written through
}

std::uint64_t RecordingSession::capturedBytes() const
{
    return m_streamPosition.load(std::memory_order_acquire) - m_recordingStart;
}

bool RecordingSession::limitReached() const
{
    return m_recording && m_limitBytes != 0 && capturedBytes() + lostSpanBytes() >= m_limitBytes;
}

// The time without capture since the limit began, as the bytes it would have brought.
std::uint64_t RecordingSession::lostSpanBytes() const
{
    const qint64 lostMs = m_lostMsBefore + (m_captureLost ? m_clock.elapsed() - m_captureLostAtMs : 0);
    return std::uint64_t(lostMs) * std::uint64_t(m_sampleRate) / 1000 * audio::kBytesPerFrame;
}

qint64 RecordingSession::elapsedSeconds() const
{
    return m_recording ? wholeSeconds(capturedBytes(), m_sampleRate) : 0;
}

std::uint32_t RecordingSession::level() const
{
    // A lost capture has no level: the meter must not hold the last one as if it were live.
    return m_recording && m_capture && !m_captureLost ? m_capture->level() : audio::kNoLevel;
}

std::uint64_t RecordingSession::droppedBytes() const
{
    return m_encoder ? m_droppedBefore + m_encoder->droppedBytes() : m_droppedBytes;
}

std::uint64_t RecordingSession::captureOverflows() const
{
    return m_overflowsBefore + (m_capture ? m_capture->overflows() - m_overflowBase : 0);
}

int RecordingSession::estimateBitrate() const
{
    if (!m_recording || m_captureLost) return 0;
    // The probe reads headers only, at a cost that does not grow with the file.
    return runningBitrate(audio::probeFile(m_currentFile), capturedSeconds(capturedBytes(), m_sampleRate));
}

QString RecordingSession::remainingText() const
{
    if (!m_recording) return unknownRemainingText();
    return recording::remainingText(freeSpaceBytes(m_currentFile), estimateBitrate());
}

}  // namespace recording
