#include "recording/RecordingSession.h"

#include "audio/FileProbe.h"
#include "core/DayCount.h"
#include "recording/Estimate.h"
#include "recording/EventLog.h"
#include "recording/Logging.h"
#include "recording/RecordedLength.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdlib>
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
// A cut further than this from its second is logged.
constexpr qint64 kCutErrorLoggedUs = 5000;
// How long a cut waits for the capture to reach its frame (its latency, a block or two).
constexpr int kCutWaitMs = 500;
// An armed cut not made this long after its moment is lifted (well within the history).
constexpr qint64 kStaleCutMs = 3000;
constexpr qint64 kDriftLogPeriodUs = 3600LL * 1000000;
// A timing report this far from what the capture delivered is not about this stream.
constexpr qint64 kReportPlausibleSeconds = 10;

std::uint64_t frameBytes(double frame)
{
    return frame <= 0 ? 0 : std::uint64_t(std::llround(frame)) * audio::kBytesPerFrame;
}

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

// A new stream: its reports are timed afresh, and its first byte follows the last counted.
bool RecordingSession::startCapture(QString *why)
{
    m_timeBase.reset(m_config.sampleRate);
    ++m_timeBaseGeneration;
    m_timedOverflows = 0;
    m_driftLoggedUs = 0;
    m_streamOrigin = m_tap.position();
    if (m_state == State::CaptureLost) {
        m_capture = m_backend.startCaptureFrom(m_captureSource, m_config.sampleRate, m_tap.callback(), why);
    } else {
        m_captureDevice = m_backend.recordDevice();
        m_capture = m_backend.startCapture(m_config.sampleRate, m_tap.callback(), why, &m_captureSource);
    }
    m_tap.setStream(m_capture.get());
    return m_capture != nullptr;
}

// `next` becomes the file written from `firstByte`.
void RecordingSession::adoptFile(OutputFiles::Next &&next, std::uint64_t firstByte)
{
    m_files.adopt(std::move(next), firstByte, captureTimeOf(firstByte), m_clock.elapsedMs());
    m_fileTimeBase = m_timeBaseGeneration;
}

// ---- time base ---------------------------------------------------------------------

// The wall clock minus the monotonic one, now: a clock step moves every moment with it.
qint64 RecordingSession::wallOffsetUs() const { return m_clock.wallUs() - m_clock.monotonicUs(); }

void RecordingSession::updateTimeBase()
{
    audio::StreamInstant report;
    // A stream reports before it has delivered anything: no frame is placed by that.
    if (!m_capture || !m_capture->lastInstant(&report) || report.streamByte == 0) return;
    // Audio the server dropped moved every later frame: what was learnt before no longer holds.
    if (m_capture->overflows() != m_timedOverflows) {
        m_timedOverflows = m_capture->overflows();
        m_timeBase.reset(m_sampleRate);
        ++m_timeBaseGeneration;
    }
    const std::uint64_t frame = (m_streamOrigin + report.streamByte) / audio::kBytesPerFrame;
    const std::uint64_t captured = m_tap.position() / audio::kBytesPerFrame;
    const std::uint64_t apart = frame > captured ? frame - captured : captured - frame;
    if (apart > std::uint64_t(kReportPlausibleSeconds) * std::uint64_t(m_sampleRate)) return;
    const qint64 step = m_timeBase.add({double(frame), report.wallUs, report.monotonicUs});
    if (step != 0)
        qCWarning(lcRecording).noquote() << QStringLiteral("the system clock was set %1%2 s; the capture's time base follows it")
                                                .arg(step > 0 ? QStringLiteral("+") : QString())
                                                .arg(step / 1e6, 0, 'f', 3);
    if (m_driftLoggedUs == 0 || report.monotonicUs - m_driftLoggedUs >= kDriftLogPeriodUs) logDrift();
    // The first frame's moment, as well as it is known: a file begun before the server's
    // first report (a start from idle) was placed by the clock of the command, and every
    // report after places it more exactly. Not across a reset: the frames before it no
    // longer lie on the line.
    if (m_timeBase.isKnown() && m_files.encoder() && m_fileTimeBase == m_timeBaseGeneration)
        m_files.setStartedAt(captureTimeOf(m_files.firstByte()));
}

// The drift, once measured: when first known, hourly and at each start.
void RecordingSession::logDrift()
{
    if (m_timeBase.spanUs() < TimeBase::kDriftAfterUs) return;
    m_driftLoggedUs = m_clock.monotonicUs();
    qCInfo(lcRecording).noquote() << QStringLiteral("capture clock: %1 ppm against the system clock")
                                         .arg(m_timeBase.driftPpm(), 0, 'f', 1);
}

// The position of the frame captured at `at`. Until the server has reported its timing,
// the newest frame counted is taken as captured now.
std::uint64_t RecordingSession::byteAt(const QDateTime &at) const
{
    const qint64 atUs = at.toMSecsSinceEpoch() * 1000;
    if (m_timeBase.isKnown()) return frameBytes(m_timeBase.frameAt(atUs - wallOffsetUs()));
    const double newest = double(m_tap.position() / audio::kBytesPerFrame);
    return frameBytes(newest + double(atUs - m_clock.wallUs()) * m_sampleRate / 1e6);
}

// The same for a cut of the running file: its end is set there, then the capture is
// waited for until it reaches it (a moment just past is still on its way), so that the file
// holds neither less nor more.
std::uint64_t RecordingSession::byteAtWaiting(const QDateTime &at)
{
    armCut(at);
    const std::uint64_t byte = byteAt(at);
    for (int waited = 0; waited < kCutWaitMs && m_tap.position() < byte && m_capture && m_capture->isRunning();
         waited += 2)
        m_clock.sleepMs(2);
    return std::min(byte, m_tap.position());
}

QDateTime RecordingSession::captureTimeOf(std::uint64_t byte) const
{
    const double frame = double(byte / audio::kBytesPerFrame);
    if (m_timeBase.isKnown())
        return QDateTime::fromMSecsSinceEpoch(std::llround((m_timeBase.monotonicUsOf(frame) + wallOffsetUs()) / 1000.0));
    const double earlierSeconds = (double(m_tap.position() / audio::kBytesPerFrame) - frame) / std::max(m_sampleRate, 1);
    return m_clock.now().addMSecs(-std::llround(earlierSeconds * 1000));
}

// How far the frame cut at lies from the moment it was meant for; logged when it matters.
void RecordingSession::noteCut(const QDateTime &at, std::uint64_t cut, const QString &file)
{
    if (!m_timeBase.isKnown() || !at.isValid()) return;
    const qint64 errorUs = m_timeBase.monotonicUsOf(double(cut / audio::kBytesPerFrame)) + wallOffsetUs()
        - at.toMSecsSinceEpoch() * 1000;
    if (std::llabs(errorUs) <= kCutErrorLoggedUs) return;
    qCWarning(lcRecording).noquote() << QStringLiteral("cut of %1 for %2 is %3 ms %4 it")
                                            .arg(file, at.toString(QStringLiteral("HH:mm:ss.zzz")))
                                            .arg(std::llabs(errorUs) / 1000.0, 0, 'f', 1)
                                            .arg(errorUs > 0 ? QStringLiteral("after") : QStringLiteral("before"));
}

// What the own WAV writer puts in its file's bext chunk: the file's start, and the same in
// samples since local midnight.
QStringList RecordingSession::fileStartEnvironment(std::uint64_t firstByte) const
{
    const QDateTime start = captureTimeOf(firstByte);
    const qint64 sinceMidnightMs = start.time().msecsSinceStartOfDay();
    return {QStringLiteral("VANTREL_FILE_START=") + isoTimeWithOffset(start, true),
            QStringLiteral("VANTREL_TIME_REFERENCE=") + QString::number(sinceMidnightMs * m_sampleRate / 1000)};
}

// ---- limit and armed cuts -----------------------------------------------------------

// The limit of a recording begun at `at`, at position startByte, ends at the frame captured
// limitMs later.
void RecordingSession::setLimit(const QDateTime &at, quint32 limitMs, std::uint64_t startByte)
{
    m_limitBytes = limitMs == 0 ? 0 : recording::limitBytes(limitMs, m_sampleRate);
    m_limitEndWallUs = limitMs == 0 ? 0 : (at.toMSecsSinceEpoch() + limitMs) * 1000;
    m_limitEndByte = CaptureTap::kNoEnd;
    if (limitMs != 0)
        m_limitEndByte = m_timeBase.isKnown() ? std::max(frameBytes(m_timeBase.frameAt(m_limitEndWallUs - wallOffsetUs())), startByte)
                                              : startByte + m_limitBytes;
}

// Where the current file's stream ends: its limit, or an armed cut before it.
std::uint64_t RecordingSession::limitEnd() const { return std::min(m_limitEndByte, m_armedCut); }

// The time base only grows more exact: the limit's end follows it while it lies ahead.
void RecordingSession::followLimit()
{
    if (m_state != State::Recording || m_limitEndWallUs == 0 || !m_timeBase.isKnown()) return;
    const std::uint64_t end = frameBytes(m_timeBase.frameAt(m_limitEndWallUs - wallOffsetUs()));
    if (end == m_limitEndByte || end <= m_recordingStart || std::min(end, m_limitEndByte) <= m_tap.position()) return;
    m_limitEndByte = end;
    m_limitBytes = end - m_recordingStart;
    m_tap.setEnd(limitEnd());
}

void RecordingSession::armCut(const QDateTime &at)
{
    if (m_state != State::Recording) return;
    updateTimeBase();
    m_armedMoment = at;
    m_armedCut = at.isValid() ? std::max(byteAt(at), m_recordingStart) : CaptureTap::kNoEnd;
    m_tap.setEnd(limitEnd());
}

std::uint64_t RecordingSession::capturedBytes() const
{
    const std::uint64_t end = std::min(m_tap.position(), m_limitEndByte);
    return end > m_recordingStart ? end - m_recordingStart : 0;
}

std::optional<FinishedRecording> RecordingSession::start(const RecordingConfig &config, quint32 limitMs,
                                                         const QDateTime &at)
{
    if (m_state == State::Recording && m_capture->isRunning() && m_files.encoder()->isAlive()
        && config.sampleRate == m_sampleRate && m_backend.recordDevice() == m_captureDevice)
        return changeFile(config, limitMs, at);
    std::optional<FinishedRecording> previous = stop(at);

    // Capture first, so that an encoder is only started when there is something to feed
    // it: a failed capture then leaves no stub file behind.
    OutputFiles::Next next = m_files.prepare(config, at);
    m_files.name(next.path);
    if (next.failure == Failure::None) openCapture(config, &next.why);
    if (next.failure == Failure::None && !m_capture) next.failure = Failure::CaptureFailed;
    m_config = config;
    m_loss = LossAccount{};
    m_loss.captureStarted(m_capture ? m_capture->overflows() : 0);
    m_encoderDeaths.clear();
    m_armedCut = CaptureTap::kNoEnd;
    m_armedMoment = {};
    updateTimeBase();
    // Both placed at once: the start and the limit's end must be measured alike.
    const std::uint64_t atByte = byteAt(at);
    const std::uint64_t firstByte =
        std::max(atByte - std::min(atByte, std::uint64_t(config.preRollSeconds) * config.sampleRate * audio::kBytesPerFrame),
                 m_tap.historyBegin());
    if (next.failure == Failure::None) {
        m_files.startEncoder(config, next, fileStartEnvironment(firstByte));
        if (!next.feed) release();  // no capture left running for nothing
    }
    if (next.failure != Failure::None) {
        fail(next.failure, next.why);
        return previous;
    }
    m_sampleRate = config.sampleRate;
    m_fileMoment = at;
    setLimit(at, limitMs, atByte);
    m_recordingStart = m_tap.startFeed(next.feed.get(), firstByte, limitEnd());
    if (m_limitBytes != 0) m_limitBytes = m_limitEndByte - m_recordingStart;
    adoptFile(std::move(next), m_recordingStart);
    m_state = State::Recording;
    logDrift();
    clearFailure();  // what became of the previous recording is in its record
    addEvent(SessionEventKind::Started, m_files.path(),
             QStringLiteral("begins ") + isoTimeWithOffset(m_files.startedAt(), true));
    return previous;
}

// A capture for `config` that runs already stays; any other is started afresh, from an
// empty history.
bool RecordingSession::keepsCapture(const RecordingConfig &config) const
{
    return m_capture && m_capture->isRunning() && config.sampleRate == m_sampleRate
        && config.preRollSeconds <= m_config.preRollSeconds && m_backend.recordDevice() == m_captureDevice;
}

void RecordingSession::openCapture(const RecordingConfig &config, QString *why)
{
    if (keepsCapture(config)) return;
    stopCapture();
    m_config = config;
    m_sampleRate = config.sampleRate;
    const int seconds = kHistorySeconds + config.preRollSeconds;
    m_tap.reset(std::size_t(std::max(config.sampleRate, 1)) * audio::kBytesPerFrame * std::size_t(seconds));
    if (!startCapture(why)) stopCapture();
}

void RecordingSession::standBy(const RecordingConfig &config)
{
    if (m_state != State::Idle || keepsCapture(config)) return;
    QString why;
    openCapture(config, &why);
    // Said once while the same cause stands in the way; the start that needs it says it again.
    if (!m_capture && why != m_standByFailure)
        qCWarning(lcRecording).noquote() << QStringLiteral("cannot keep the capture ready: %1").arg(why);
    m_standByFailure = m_capture ? QString() : why;
}

void RecordingSession::leaveStandBy()
{
    if (m_state == State::Idle) stopCapture();
}

// The capture goes on; the new file takes over at the frame captured at `at`.
std::optional<FinishedRecording> RecordingSession::changeFile(const RecordingConfig &config, quint32 limitMs,
                                                              const QDateTime &at)
{
    const std::uint64_t wanted = std::max(byteAtWaiting(at), m_tap.givenUpTo());
    OutputFiles::Next next = m_files.open(config, at, fileStartEnvironment(wanted));
    if (!next.feed) {
        std::optional<FinishedRecording> previous = stop(at);
        m_files.name(next.path);
        fail(next.failure, next.why);
        return previous;
    }
    m_config = config;
    m_armedCut = CaptureTap::kNoEnd;
    m_armedMoment = {};
    m_fileMoment = at;
    if (limitMs != kKeepLimit) setLimit(at, limitMs, wanted);
    const std::uint64_t cut = m_tap.cutTo(next.feed.get(), wanted, limitEnd());
    // No block reaches the old feed any more: it can be stopped and its length is final.
    noticeDroppedAudio();
    const QString previousFile = m_files.path();
    const std::uint64_t previousFrames = (cut - m_files.firstByte()) / audio::kBytesPerFrame;
    std::optional<FinishedRecording> previous = closeFile(cut, false);
    noteCut(at, cut, next.path);
    m_recordingStart = cut;
    if (m_limitBytes != 0) m_limitBytes = m_limitEndByte > cut ? m_limitEndByte - cut : 0;
    m_loss = LossAccount{};
    m_loss.captureStarted(m_capture->overflows());
    m_encoderDeaths.clear();
    adoptFile(std::move(next), cut);
    clearFailure();
    addEvent(SessionEventKind::FileChanged, m_files.path(),
             QStringLiteral("after %1 (%2 frames); begins %3")
                 .arg(previousFile)
                 .arg(previousFrames)
                 .arg(isoTimeWithOffset(m_files.startedAt(), true)));
    return previous;
}

std::optional<FinishedRecording> RecordingSession::split(const QDateTime &at)
{
    if (m_state != State::Recording || !m_capture->isRunning() || !m_files.encoder()->isAlive()) return std::nullopt;
    // A file begun at that very moment (a scheduled start on the split, a clock set back
    // over a split made) is not split again: the file goes on.
    if (at <= m_fileMoment) {
        if (m_armedMoment == at) armCut({});
        return std::nullopt;
    }
    return changeFile(m_config, kKeepLimit, at);
}

std::optional<FinishedRecording> RecordingSession::stop(const QDateTime &at)
{
    clearFailure();
    if (m_state == State::Idle) return std::nullopt;
    const bool captureRuns = m_state == State::Recording && m_capture && m_capture->isRunning();
    const std::uint64_t end = at.isValid() && captureRuns ? byteAtWaiting(at) : CaptureTap::kNoEnd;
    const std::uint64_t firstByte = m_files.firstByte();
    const QDateTime startedAt = m_files.startedAt();
    const bool lost = m_state == State::CaptureLost;
    std::optional<FinishedRecording> record = finish(m_files.encoder() && !m_files.encoder()->isAlive(), true, end);
    if (end != CaptureTap::kNoEnd) noteCut(at, m_stoppedAt, m_files.path());
    // The file it ended, named still, with what it holds.
    addEvent(SessionEventKind::Stopped, m_files.path(),
             lost ? QString()
                  : QStringLiteral("%1 frames from %2")
                        .arg((m_stoppedAt - firstByte) / audio::kBytesPerFrame)
                        .arg(isoTimeWithOffset(startedAt, true)));
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
    updateTimeBase();
    followLimit();
    // A cut armed for a moment long past that nobody made: the file goes on, given what the
    // history kept meanwhile.
    if (m_armedMoment.isValid() && m_armedMoment.msecsTo(m_clock.now()) > kStaleCutMs) armCut({});
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
    const std::uint64_t overlapBytes = std::uint64_t(m_sampleRate) * audio::kBytesPerFrame * kOverlapSeconds;
    const std::uint64_t firstByte = std::max(givenUpTo > overlapBytes ? givenUpTo - overlapBytes : 0, m_tap.historyBegin());
    OutputFiles::Next next = m_files.open(m_config, now, fileStartEnvironment(firstByte));
    if (!next.feed) {
        // One failure: why the recording could not go on, with how the last encoder ended.
        if (std::optional<FinishedRecording> record = finish(true, false)) result.finished.push_back(*record);
        m_files.name(next.path);
        fail(next.failure, next.why + QStringLiteral(" (after ") + deadEnd + QLatin1Char(')'));
        return;
    }
    const CaptureTap::Restart restart = m_tap.restartInto(next.feed.get(), givenUpTo, overlapBytes);
    noticeDroppedAudio();
    if (std::optional<FinishedRecording> record = closeFile(restart.end, true, fileShows))
        result.finished.push_back(*record);
    if (restart.firstByte > givenUpTo)  // given to the dead encoder and gone from the history
        m_events.push_back(m_loss.loseWithEncoder(restart.firstByte - givenUpTo, m_sampleRate, deadFile, now));
    adoptFile(std::move(next), restart.firstByte);
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
    const std::uint64_t end = stopCapture();
    noticeDroppedAudio();
    // A file the capture gave nothing (it failed again right after a retry) is no recording.
    const bool gotAudio = end > m_files.firstByte();
    std::optional<FinishedRecording> record = closeFile(end, !m_files.encoder()->isAlive());
    if (record && gotAudio) result.finished.push_back(*record);
    m_state = State::CaptureLost;
    m_limitEndWallUs = 0;  // the limit now counts the time without capture
    m_armedCut = CaptureTap::kNoEnd;
    m_armedMoment = {};
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
    m_tap.restartHistory();  // what came before the gap must never be joined to what follows
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
    OutputFiles::Next next = m_files.open(m_config, m_clock.now(), fileStartEnvironment(m_tap.position()));
    if (!next.feed) {
        release();
        m_files.name(next.path);
        fail(next.failure, next.why);
        return;
    }
    m_loss.captureStarted(0);
    const std::uint64_t from = m_tap.position();
    m_limitEndByte = limitLeft == 0 ? CaptureTap::kNoEnd : from + limitLeft;
    m_tap.startFeed(next.feed.get(), from, m_limitEndByte);
    adoptFile(std::move(next), from);
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

// No block comes after this: the position and the counters are final. Returns where the
// feed's stream ends.
std::uint64_t RecordingSession::stopCapture()
{
    if (m_capture) {
        m_capture->stop();
        m_loss.captureEnded(m_capture->overflows());
    }
    const std::uint64_t end = m_tap.givenUpTo();
    m_tap.detach();
    m_capture.reset();
    m_tap.setStream(nullptr);
    return end;
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
std::optional<FinishedRecording> RecordingSession::finish(bool encoderDied, bool sayEncoderEnd,
                                                          std::uint64_t endByte)
{
    const QString encoderEnd = m_files.encoder() && encoderDied ? m_files.encoderEnd() : QString();
    // A capture kept for the pre-roll goes on without the file.
    const bool keep = m_config.preRollSeconds > 0 && m_capture && m_capture->isRunning() && !encoderDied;
    m_stoppedAt = m_capture ? m_tap.finishFeed(endByte) : m_tap.givenUpTo();
    if (!keep) stopCapture();
    noticeDroppedAudio();
    const bool written = m_files.written();
    std::optional<FinishedRecording> record = closeFile(m_stoppedAt, encoderDied);
    if (keep) {
        m_files.abandon();
        m_state = State::Idle;
    } else {
        release();
    }
    if (encoderDied && sayEncoderEnd)
        fail(written ? Failure::EncoderDied : Failure::EncoderFailed, encoderEnd);
    return record;
}

bool RecordingSession::limitReached() const
{
    if (m_state == State::Idle || m_limitBytes == 0) return false;
    if (m_state == State::CaptureLost) return capturedBytes() + lostSpanBytes() >= m_limitBytes;
    return m_tap.position() >= m_limitEndByte;
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
