#include "recording/RecordingSession.h"

#include "audio/FileProbe.h"
#include "core/DayCount.h"
#include "recording/Estimate.h"
#include "recording/Logging.h"
#include "recording/RecordedLength.h"

#include <algorithm>
#include <utility>

namespace recording {

namespace {

// Held for an encoder restart: what a dead encoder's feed may still have queued (8 s), a poll,
// the overlap and what its file may show less than it was given (a header it updated a
// second before), with a second to spare.
constexpr int kHistorySeconds = 12;
constexpr int kOverlapSeconds = 1;       // a restarted encoder's file goes back this far
constexpr qint64 kWorkingEncoderMs = 2000;  // an encoder that dies sooner without a file never worked
constexpr qint64 kCaptureRetryMs = 1000;
// The poll comes once a second, give or take: a retry due a moment later is made now, or
// it would wait a whole second more.
constexpr qint64 kCaptureRetrySlackMs = 200;

}  // namespace

RecordingSession::RecordingSession(audio::CaptureBackend &capture, FileStarter &files, SessionClock &clock)
    : m_backend(capture), m_clock(clock), m_files(files)
{
}

RecordingSession::~RecordingSession() { release(); }

void RecordingSession::addEvent(SessionEventKind kind, const QString &file, const QString &details)
{
    m_events.push_back({kind, m_clock.now(), file, details});
}

std::vector<SessionEvent> RecordingSession::takeEvents() { return std::exchange(m_events, {}); }

bool RecordingSession::startCapture(QString *why)
{
    if (m_state == State::CaptureLost) {
        m_capture = m_backend.startCaptureFrom(m_captureSource, m_config.sampleRate, m_tap.callback(), why);
    } else {
        m_captureDevice = m_backend.recordDevice();
        m_capture = m_backend.startCapture(m_config.sampleRate, m_tap.callback(), why, &m_captureSource);
    }
    m_tap.setStream(m_capture.get());
    return m_capture != nullptr;
}

// `next` becomes the file written from `firstByte`; what the stream held before now (the
// overlap after a restart) was captured that much earlier.
void RecordingSession::adoptFile(OutputFiles::Next &&next, const QDateTime &now, std::uint64_t firstByte)
{
    const double earlierSeconds = capturedSeconds(m_tap.position() - firstByte, m_sampleRate);
    m_files.adopt(std::move(next), firstByte, core::toDayCount(now) - earlierSeconds / core::kSecondsPerDay,
                  m_clock.elapsedMs());
}

std::optional<FinishedRecording> RecordingSession::start(const RecordingConfig &config, quint32 limitMs,
                                                         const QDateTime &now)
{
    if (m_state == State::Recording && m_capture->isRunning() && m_files.encoder()->isAlive()
        && config.sampleRate == m_sampleRate && m_backend.recordDevice() == m_captureDevice)
        return changeFile(config, limitMs, now);
    std::optional<FinishedRecording> previous = stop();

    m_config = config;
    m_sampleRate = config.sampleRate;
    m_recordingStart = 0;
    m_limitBytes = recording::limitBytes(limitMs, config.sampleRate);
    m_loss = LossAccount{};
    m_encoderDeaths.clear();
    m_tap.reset(std::size_t(std::max(config.sampleRate, 1)) * audio::kBytesPerFrame * kHistorySeconds);

    // Capture first, so that an encoder is only started when there is something to feed
    // it: a failed capture then leaves no stub file behind. Blocks arriving before the
    // encoder is ready are not counted.
    OutputFiles::Next next = m_files.prepare(config, now);
    m_files.name(next.path);
    if (next.failure == Failure::None && !startCapture(&next.why))
        next.failure = Failure::CaptureFailed;
    if (next.failure == Failure::None) {
        m_files.startEncoder(config, next);
        if (!next.feed) release();  // no capture left running for nothing
    }
    if (next.failure != Failure::None) {
        fail(next.failure, next.why);
        return previous;
    }
    adoptFile(std::move(next), now, 0);
    m_tap.resume(m_files.encoder(), m_limitBytes);
    m_state = State::Recording;
    clearFailure();  // what became of the previous recording is in its record
    addEvent(SessionEventKind::Started, m_files.path());
    return previous;
}

// The capture goes on; the stream is cut between two blocks and the new file takes over.
std::optional<FinishedRecording> RecordingSession::changeFile(const RecordingConfig &config, quint32 limitMs,
                                                              const QDateTime &now)
{
    OutputFiles::Next next = m_files.open(config, now);
    if (!next.feed) {
        std::optional<FinishedRecording> previous = stop();
        m_files.name(next.path);
        fail(next.failure, next.why);
        return previous;
    }
    m_config = config;
    const std::uint64_t limit = recording::limitBytes(limitMs, config.sampleRate);
    const std::uint64_t cut = m_tap.cutTo(next.feed.get(), limit);
    // No block reaches the old feed any more: it can be stopped and its length is final.
    noticeDroppedAudio();
    const QString previousFile = m_files.path();
    std::optional<FinishedRecording> previous = closeFile(cut, false);
    m_recordingStart = cut;
    m_limitBytes = limit;
    m_loss = LossAccount{};
    m_loss.captureStarted(m_capture->overflows());
    m_encoderDeaths.clear();
    adoptFile(std::move(next), now, cut);
    clearFailure();
    addEvent(SessionEventKind::FileChanged, m_files.path(), QStringLiteral("after ") + previousFile);
    return previous;
}

std::optional<FinishedRecording> RecordingSession::stop()
{
    clearFailure();
    if (m_state == State::Idle) return std::nullopt;
    std::optional<FinishedRecording> record = finish(m_files.encoder() && !m_files.encoder()->isAlive());
    addEvent(SessionEventKind::Stopped, m_files.path());  // the file it ended, named still
    return record;
}

RecordingSession::PollResult RecordingSession::poll()
{
    PollResult result;
    if (m_state == State::Idle) return result;
    if (m_state == State::CaptureLost) {
        retryCapture(result);
        return result;
    }
    // A capture that ended first: an encoder restarted now would get a file that the loss
    // then closes at once.
    if (!m_capture->isRunning()) {
        loseCapture(result);
        return result;
    }
    if (!m_files.encoder()->isAlive()) {
        encoderDied(result);
        if (m_state == State::Idle) return result;
    }
    if (m_files.removed()) {
        (void)finish(false);  // nothing left to archive
        fail(Failure::FileRemoved, m_files.path());
        result.changed = true;
        return result;
    }
    result.changed |= noticeDroppedAudio();
    return result;
}

// The encoder is gone: it is started again, unless it never worked or dies too often.
void RecordingSession::encoderDied(PollResult &result)
{
    result.changed = true;
    const qint64 nowMs = m_clock.elapsedMs();
    const bool tooOften = !m_encoderDeaths.note(nowMs);
    const bool worked = m_files.written() || nowMs - m_files.encoderStartedMs() >= kWorkingEncoderMs;
    if (worked && !tooOften) {
        restartEncoder(result);
        return;
    }
    const QString deadFile = m_files.path();
    if (std::optional<FinishedRecording> record = finish(true)) result.finished.push_back(*record);
    if (tooOften) addEvent(SessionEventKind::EncoderGaveUp, deadFile, m_encoderDeaths.describe());
}

// A new encoder goes on into a new file that begins with the last second the dead one was given.
void RecordingSession::restartEncoder(PollResult &result)
{
    const QString deadFile = m_files.path();
    const QString deadEnd = m_files.encoderEnd();
    std::uint64_t fileShows = UINT64_MAX;
    const std::uint64_t givenUpTo = m_files.takenUpTo(m_sampleRate, &fileShows);
    const QDateTime now = m_clock.now();
    OutputFiles::Next next = m_files.open(m_config, now);
    if (!next.feed) {
        // One failure: why the recording could not go on, with how the last encoder ended.
        if (std::optional<FinishedRecording> record = finish(true, false)) result.finished.push_back(*record);
        m_files.name(next.path);
        fail(next.failure, next.why + QStringLiteral(" (after ") + deadEnd + QLatin1Char(')'));
        return;
    }
    const std::uint64_t overlapBytes = std::uint64_t(m_sampleRate) * audio::kBytesPerFrame * kOverlapSeconds;
    const CaptureTap::Restart restart = m_tap.restartInto(next.feed.get(), givenUpTo, overlapBytes);
    noticeDroppedAudio();
    if (std::optional<FinishedRecording> record = closeFile(restart.end, true, fileShows))
        result.finished.push_back(*record);
    if (restart.firstByte > givenUpTo)  // given to the dead encoder and gone from the history
        m_events.push_back(m_loss.loseWithEncoder(restart.firstByte - givenUpTo, m_sampleRate, deadFile, now));
    adoptFile(std::move(next), now, restart.firstByte);
    result.newFile = true;
    qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2; going on into %3 from %4 s back")
                                            .arg(deadFile, deadEnd, m_files.path())
                                            .arg(capturedSeconds(restart.end - restart.firstByte, m_sampleRate), 0, 'f', 2);
    addEvent(SessionEventKind::EncoderRestarted, m_files.path(),
             QStringLiteral("after ") + deadFile + QStringLiteral(": ") + deadEnd);
}

// The server ended the capture: the file is finished and the capture retried from poll().
void RecordingSession::loseCapture(PollResult &result)
{
    result.changed = true;
    const QString cause = m_backend.isConnected() ? QStringLiteral("the recording device went away")
                                                  : QStringLiteral("the sound server went away");
    stopCapture();
    noticeDroppedAudio();
    // A file the capture gave nothing (it failed again right after a retry) is no recording.
    const std::uint64_t end = m_tap.position();
    const bool gotAudio = end > m_files.firstByte();
    std::optional<FinishedRecording> record = closeFile(end, !m_files.encoder()->isAlive());
    if (record && gotAudio) result.finished.push_back(*record);
    m_state = State::CaptureLost;
    m_loss.captureLost(m_clock.elapsedMs());
    m_nextCaptureRetryMs = m_clock.elapsedMs() + kCaptureRetryMs;
    fail(Failure::CaptureLost, cause, SessionEventKind::CaptureLost);
}

void RecordingSession::retryCapture(PollResult &result)
{
    const qint64 nowMs = m_clock.elapsedMs();
    if (nowMs + kCaptureRetrySlackMs < m_nextCaptureRetryMs || limitReached()) return;
    m_nextCaptureRetryMs = nowMs + kCaptureRetryMs;
    QString why;
    if (!startCapture(&why)) {
        // The next poll tries again; the reason shown follows what stands in the way now.
        if (why != m_failureCause) {
            m_failureCause = why;
            result.changed = true;
            qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2").arg(m_files.path(), failureReason());
        }
        return;
    }
    result.changed = true;
    // What is left of the limit after the time without capture. Used up while the capture
    // started: the limit ends the recording, as it would have.
    const std::uint64_t limitUsed = capturedBytes() + lostSpanBytes();
    if (m_limitBytes != 0 && limitUsed >= m_limitBytes) {
        stopCapture();
        return;
    }
    resumeCapture(result, m_limitBytes == 0 ? 0 : m_limitBytes - limitUsed);
}

// The capture runs again: the recording goes on into a new file.
void RecordingSession::resumeCapture(PollResult &result, std::uint64_t limitLeft)
{
    const QDateTime now = m_clock.now();
    OutputFiles::Next next = m_files.open(m_config, now);
    if (!next.feed) {
        release();
        m_files.name(next.path);
        fail(next.failure, next.why);
        return;
    }
    m_loss.captureStarted(0);
    adoptFile(std::move(next), now, m_tap.position());
    m_tap.resume(m_files.encoder(), limitLeft);  // nothing is counted before this
    const qint64 lostMs = m_loss.captureBack(m_clock.elapsedMs());
    m_state = State::Recording;
    clearFailure();
    result.newFile = true;
    qCInfo(lcRecording).noquote() << QStringLiteral("recording goes on into %1 after %2 s without capture")
                                         .arg(m_files.path())
                                         .arg(lostMs / 1000.0, 0, 'f', 1);
    addEvent(SessionEventKind::CaptureRecovered, m_files.path());
    m_events.back().lostMs = lostMs;
}

// Shows the failure, logs it and makes it an event of `kind` (the event of a Failed says it whole).
void RecordingSession::fail(Failure failure, const QString &cause, SessionEventKind kind)
{
    m_failure = failure;
    m_failureCause = cause;
    qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2").arg(m_files.path(), failureReason());
    addEvent(kind, m_files.path(), kind == SessionEventKind::Failed ? failureReason() : cause);
}

// True the first time audio is found lost; logs it.
bool RecordingSession::noticeDroppedAudio()
{
    const QString firstLoss = m_loss.update(feedDropped(), captureOverflowCount(), m_files.path(), m_clock.now(), m_events);
    if (firstLoss.isEmpty()) return false;
    qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2 (%3)").arg(m_files.path(), audioDroppedText(), firstLoss);
    return true;
}

void RecordingSession::clearFailure()
{
    m_failure = Failure::None;
    m_failureCause.clear();
}

// No block comes after this: the position and the counters are final.
void RecordingSession::stopCapture()
{
    if (m_capture) {
        m_capture->stop();
        m_loss.captureEnded(m_capture->overflows());
    }
    m_tap.detach();
    m_capture.reset();
    m_tap.setStream(nullptr);
}

// Stops capture before the feed, so the feed receives every block counted.
void RecordingSession::release()
{
    stopCapture();
    m_files.abandon();
    m_state = State::Idle;
}

// The current file's encoder is given no more blocks: its input is closed and its record
// made. `endPosition`: the stream position after its last block.
std::optional<FinishedRecording> RecordingSession::closeFile(std::uint64_t endPosition, bool encoderDied,
                                                             std::uint64_t fileHoldsAtMost)
{
    const std::uint64_t dropped = feedDropped();
    m_loss.feedClosed(dropped);
    const QString file = m_files.path();
    std::optional<FinishedRecording> record = m_files.close(endPosition, m_sampleRate, encoderDied, fileHoldsAtMost);
    if (dropped > 0)
        qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2 s of audio dropped, %3 s archived")
                                                .arg(file)
                                                .arg(capturedSeconds(dropped, m_sampleRate), 0, 'f', 1)
                                                .arg(record ? record->lengthSeconds : 0);
    return record;
}

// Ends the recording: capture stops, the current file is closed. A dead encoder is the
// failure, unless the caller says a failure of its own (sayEncoderEnd false).
std::optional<FinishedRecording> RecordingSession::finish(bool encoderDied, bool sayEncoderEnd)
{
    const QString encoderEnd = m_files.encoder() && encoderDied ? m_files.encoderEnd() : QString();
    stopCapture();
    noticeDroppedAudio();
    const bool written = m_files.written();
    std::optional<FinishedRecording> record = closeFile(m_tap.position(), encoderDied);
    release();
    if (encoderDied && sayEncoderEnd)
        fail(written ? Failure::EncoderDied : Failure::EncoderFailed, encoderEnd);
    return record;
}

bool RecordingSession::limitReached() const
{
    return m_state != State::Idle && m_limitBytes != 0 && capturedBytes() + lostSpanBytes() >= m_limitBytes;
}

// The time without capture since the limit began, as the bytes it would have brought.
std::uint64_t RecordingSession::lostSpanBytes() const
{
    const qint64 lostMs = m_loss.lostMs(m_clock.elapsedMs(), m_state == State::CaptureLost);
    return std::uint64_t(lostMs) * std::uint64_t(m_sampleRate) / 1000 * audio::kBytesPerFrame;
}

qint64 RecordingSession::elapsedSeconds() const
{
    return m_state != State::Idle ? wholeSeconds(capturedBytes(), m_sampleRate) : 0;
}

std::uint32_t RecordingSession::level() const
{
    // A lost capture has no level: the meter must not hold the last one as if it were live.
    return m_state == State::Recording && m_capture ? m_capture->level() : audio::kNoLevel;
}

int RecordingSession::estimateBitrate() const
{
    if (m_state != State::Recording) return 0;
    // The probe reads headers only, at a cost that does not grow with the file.
    return runningBitrate(audio::probeFile(m_files.path()), capturedSeconds(capturedBytes(), m_sampleRate));
}

QString RecordingSession::remainingText() const
{
    if (m_state == State::Idle) return unknownRemainingText();
    return recording::remainingText(freeSpaceBytes(m_files.path()), estimateBitrate());
}

}  // namespace recording
