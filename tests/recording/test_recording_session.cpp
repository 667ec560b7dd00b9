// The recording session's rules, block by block: a fake capture delivers a counting signal,
// encoder feeds keep what they are given in memory and the clock is the test's own, so no
// sound server is needed and nothing waits for real time.
#include "SessionFakes.h"

#include "audio/EncoderFeed.h"
#include "core/DayCount.h"
#include "recording/OutputFileName.h"
#include "recording/RecordingSession.h"
#include "settings/CodecPreset.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace recording;

namespace {

constexpr int kRate = 48000;
constexpr int kBlockFrames = 1920;  // 40 ms
constexpr std::uint64_t kSecondBytes = std::uint64_t(kRate) * audio::kBytesPerFrame;

int countEvents(const std::vector<SessionEvent> &events, SessionEventKind kind)
{
    return int(std::count_if(events.begin(), events.end(), [kind](const SessionEvent &e) { return e.kind == kind; }));
}

// Why `files`, joined in order, do not hold consecutive frames of the signal, each exactly
// once (or, with overlaps allowed, at least once and in order); empty when they do.
QString joinFault(const std::vector<QByteArray> &files, bool overlapsAllowed = false)
{
    std::int64_t last = -1;
    for (std::size_t f = 0; f < files.size(); ++f) {
        const std::vector<std::uint32_t> frames = fakes::framesOf(files[f]);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const std::int64_t frame = frames[i];
            const bool joinOk = i == 0 && last >= 0 && overlapsAllowed && frame <= last + 1;
            if (last >= 0 && frame != last + 1 && !joinOk)
                return QStringLiteral("file %1, frame %2: %3 after %4").arg(f).arg(i).arg(frame).arg(last);
            last = frame;
        }
    }
    return {};
}

}  // namespace

class TestRecordingSession : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> saveDir;
    fakes::FakeCapture capture;
    fakes::MemoryStarter starter;
    fakes::TestClock clock;
    std::unique_ptr<RecordingSession> session;
    std::vector<FinishedRecording> finished;  // every record the session gave, in order
    int newFiles = 0;

    RecordingConfig config(const QString &tmpl = QStringLiteral("%y-%m-%d_%t"), int rate = kRate)
    {
        RecordingConfig c;
        c.programFolder = QStringLiteral(VT_PROGRAM_DIR "/");
        c.saveFolder = saveDir->path();
        c.saveFilename = tmpl;
        c.sampleRate = rate;
        c.codec = {QStringLiteral("WAV"), QStringLiteral("vtwav ::s"), QStringLiteral("wav")};
        return c;
    }

    void keep(std::optional<FinishedRecording> record)
    {
        if (record) finished.push_back(*record);
    }
    bool start(const QString &tmpl = QStringLiteral("%y-%m-%d_%t"), quint32 limitMs = 0, int rate = kRate)
    {
        keep(session->start(config(tmpl, rate), limitMs, clock.now()));
        return session->isRecording();
    }
    RecordingSession::PollResult poll()
    {
        RecordingSession::PollResult result = session->poll();
        finished.insert(finished.end(), result.finished.begin(), result.finished.end());
        newFiles += result.newFile;
        return result;
    }
    // Lets ms of capture pass in blocks of blockFrames, polling after each whole second as
    // the window's timer does.
    void pass(int ms, int blockFrames = kBlockFrames)
    {
        const qint64 end = clock.ms + ms;
        while (clock.ms < end) {
            const qint64 before = clock.ms;
            capture.deliver(blockFrames);
            clock.ms += qint64(blockFrames) * 1000 / kRate;
            if (clock.ms / 1000 != before / 1000) poll();
        }
    }
    std::vector<QByteArray> encoderBytes() const
    {
        std::vector<QByteArray> all;
        for (const auto &e : starter.encoders) all.push_back(e->bytes);
        return all;
    }

private slots:
    void initTestCase()
    {
        // Each rule's log lines would bury the test's own output.
        QLoggingCategory::setFilterRules(QStringLiteral("vantrel.recording.warning=false\nvantrel.recording.info=false"));
    }

    void init()
    {
        saveDir = std::make_unique<QTemporaryDir>();
        QVERIFY(saveDir->isValid());
        capture = fakes::FakeCapture{};
        starter.encoders.clear();
        starter.refusal.clear();
        starter.model = fakes::EncoderRecord{};
        clock.ms = 0;
        finished.clear();
        newFiles = 0;
        session = std::make_unique<RecordingSession>(capture, starter, clock);
    }
    void cleanup() { session.reset(); }

    // Every counted block goes to the file, named and dated by the clock it was started at.
    void recordsEveryBlockIntoOneFile()
    {
        QVERIFY(start());
        QCOMPARE(session->currentFile(), saveDir->filePath(QStringLiteral("2026-12-09_10-00-00.wav")));
        pass(3000);
        QCOMPARE(session->elapsedSeconds(), qint64(3));
        keep(session->stop());
        QCOMPARE(finished.size(), std::size_t(1));
        QCOMPARE(finished[0].lengthSeconds, 3);
        QCOMPARE(finished[0].startTime, core::toDayCount(clock.start));
        QCOMPARE(std::uint64_t(starter.last().bytes.size()), session->capturedBytes());
        QCOMPARE(joinFault(encoderBytes()), QString());
        QCOMPARE(fakes::framesOf(starter.last().bytes).front(), 0u);
        const std::vector<SessionEvent> events = session->takeEvents();
        QCOMPARE(events.size(), std::size_t(2));
        QCOMPARE(events[0].kind, SessionEventKind::Started);
        QCOMPARE(events[1].kind, SessionEventKind::Stopped);
        QCOMPARE(session->level(), audio::kNoLevel);
    }

    // Starts while recording cut between two blocks of any size: every frame in exactly one file.
    void startsWhileRecordingLoseAndRepeatNoFrame()
    {
        QVERIFY(start(QStringLiteral("cut")));
        for (int i = 1; i <= 30; ++i) {
            pass(200, 300 + 97 * i);
            QVERIFY(start(QStringLiteral("cut")));
        }
        pass(200);
        keep(session->stop());
        QCOMPARE(capture.starts, 1);
        QCOMPARE(finished.size(), std::size_t(31));
        QCOMPARE(starter.encoders.size(), std::size_t(31));
        QVERIFY(finished[1].path.endsWith(QLatin1String("/cut_2.wav")));
        QCOMPARE(joinFault(encoderBytes()), QString());
        QCOMPARE(countEvents(session->takeEvents(), SessionEventKind::FileChanged), 30);
    }

    // Another rate cannot go on from the running capture: it starts afresh.
    void startWithAnotherRateStartsTheCaptureAfresh()
    {
        QVERIFY(start());
        pass(1000);
        QVERIFY(start(QStringLiteral("other"), 0, 44100));
        QCOMPARE(capture.starts, 2);
        QCOMPARE(finished.size(), std::size_t(1));
        QCOMPARE(session->sampleRate(), 44100);
        QCOMPARE(countEvents(session->takeEvents(), SessionEventKind::Started), 2);
    }

    // A limited recording takes exactly its length, though blocks do not end on it.
    void limitTakesExactlyItsLength()
    {
        const QString longName = QString(200, QLatin1Char('L')) + QLatin1Char('/') + QString(100, QChar(0x00E9));
        QVERIFY(start(longName, 1500));
        QCOMPARE(session->limitBytes(), kSecondBytes * 3 / 2);
        pass(1000, 1000);
        QVERIFY(!session->limitReached());
        QVERIFY(session->level() != audio::kNoLevel);
        pass(1000, 1000);
        QVERIFY(session->limitReached());
        keep(session->stop());
        QCOMPARE(finished.back().lengthSeconds, 1);
        QCOMPARE(finished.back().path, session->currentFile());  // whole, however long
        QCOMPARE(std::uint64_t(starter.last().bytes.size()), session->limitBytes());
    }

    // A dead encoder is replaced: the new file begins a second before the last frame the
    // dead one took, so the two overlap and no frame is missing.
    void deadEncoderGoesOnIntoAFileThatOverlapsTheLast()
    {
        QVERIFY(start());
        pass(3000);
        starter.last().alive = false;
        const std::uint32_t lastTaken = fakes::framesOf(starter.last().bytes).back();
        pass(1000);
        QCOMPARE(newFiles, 1);
        QVERIFY(session->isRecording());
        QCOMPARE(fakes::framesOf(starter.last().bytes).front(), lastTaken + 1 - kRate);
        keep(session->stop());
        QCOMPARE(finished.size(), std::size_t(2));
        QCOMPARE(finished[0].lengthSeconds, 3);
        QCOMPARE(joinFault(encoderBytes(), true), QString());
        QCOMPARE(session->droppedBytes(), std::uint64_t(0));
        QCOMPARE(countEvents(session->takeEvents(), SessionEventKind::EncoderRestarted), 1);
    }

    // An encoder that stopped reading its input, then died: its file is archived with what
    // it took, and what it was given beyond what the history still holds is lost, and said.
    void deadEncoderThatStalledLosesWhatTheHistoryNoLongerHolds()
    {
        starter.model.deliveredAtMost = 2 * kSecondBytes;
        QVERIFY(start());
        pass(20000);
        starter.last().alive = false;
        starter.model.deliveredAtMost = std::numeric_limits<std::uint64_t>::max();
        pass(1000);  // noticed at 21 s, when the 12 s of history reach back to 9 s
        QCOMPARE(newFiles, 1);
        QCOMPARE(finished.front().lengthSeconds, 2);
        QCOMPARE(fakes::framesOf(starter.last().bytes).front(), 9u * kRate);
        QCOMPARE(session->droppedBytes(), 7 * kSecondBytes);
        QVERIFY(session->audioDropped());
        const std::vector<SessionEvent> events = session->takeEvents();
        QVERIFY(std::any_of(events.begin(), events.end(), [](const SessionEvent &e) {
            return e.kind == SessionEventKind::AudioDropped && e.droppedBytes == 7 * kSecondBytes
                   && e.details == QLatin1String("lost with the encoder that stopped");
        }));
    }

    void encoderThatNeverWorkedEndsTheRecordingWithoutRecord()
    {
        starter.model.writesFile = false;
        QVERIFY(start());
        pass(480);
        starter.last().alive = false;
        pass(600);
        QVERIFY(!session->isRecording());
        QVERIFY(finished.empty());
        QCOMPARE(session->failure(), Failure::EncoderFailed);
        QCOMPARE(session->failureReason(), QStringLiteral("encoder failed: memenc killed by signal 9"));
    }

    // Three restarts within the window; the fourth death ends the recording.
    void encoderThatKeepsDyingIsGivenUpOnAfterThreeRestarts()
    {
        QVERIFY(start());
        for (int death = 0; death < 4; ++death) {
            pass(5000);
            starter.last().alive = false;
        }
        pass(1000);
        QVERIFY(!session->isRecording());
        QCOMPARE(session->failure(), Failure::EncoderDied);
        QCOMPARE(finished.size(), std::size_t(4));
        const std::vector<SessionEvent> events = session->takeEvents();
        QCOMPARE(countEvents(events, SessionEventKind::EncoderRestarted), 3);
        QCOMPARE(countEvents(events, SessionEventKind::EncoderGaveUp), 1);

        // Deaths spread wider than the window never add up.
        init();
        session->setEncoderRestartLimit(3, 4000);
        QVERIFY(start());
        for (int death = 0; death < 6; ++death) {
            pass(5000);
            starter.last().alive = false;
        }
        pass(1000);
        QVERIFY(session->isRecording());
        QCOMPARE(newFiles, 6);
    }

    // A dead encoder that cannot be started again: one failure says both.
    void encoderThatCannotBeStartedAgainIsOneFailure()
    {
        QVERIFY(start());
        pass(3000);
        starter.last().alive = false;
        starter.refusal = QStringLiteral("memenc not found");
        pass(1000);
        QVERIFY(!session->isRecording());
        QCOMPARE(finished.size(), std::size_t(1));
        QCOMPARE(session->failureReason(), QStringLiteral("encoder failed: memenc not found (after memenc killed by signal 9)"));
        QCOMPARE(countEvents(session->takeEvents(), SessionEventKind::Failed), 1);
    }

    // The capture the server ended: the file is archived, the capture retried every second
    // from the same source, and the recording goes on into a new file once it runs.
    void lostCaptureIsRetriedFromItsSourceAndGoesOnIntoANewFile()
    {
        capture.device = 2;
        capture.source = {QStringLiteral("vtplug.monitor"), QStringLiteral("Monitor of vtplug")};
        QVERIFY(start());
        pass(3000);
        capture.stream->end();
        capture.source = {QStringLiteral("vtnext.monitor"), QStringLiteral("Monitor of vtnext")};  // numbers shifted
        pass(1000);
        QVERIFY(session->captureLost() && session->isRecording());
        QCOMPARE(session->level(), audio::kNoLevel);
        QCOMPARE(finished.size(), std::size_t(1));
        QCOMPARE(session->failureReason(), QStringLiteral("capture lost: the recording device went away \u2014 retrying"));
        pass(2000);
        QCOMPARE(session->failureReason(),
                 QStringLiteral("capture lost: recording device \u201cMonitor of vtplug\u201d not found \u2014 retrying"));
        capture.source = {QStringLiteral("vtplug.monitor"), QStringLiteral("Monitor of vtplug")};
        pass(1000);
        QVERIFY(!session->captureLost());
        QCOMPARE(session->failure(), Failure::None);
        QCOMPARE(capture.starts, 1);
        QCOMPARE(capture.startsFromSource, 3);
        pass(2000);
        keep(session->stop());
        QCOMPARE(finished.size(), std::size_t(2));
        QCOMPARE(fakes::framesOf(starter.last().bytes).size(), std::size_t(2 * kRate));
        const std::vector<SessionEvent> events = session->takeEvents();
        const auto recovered = std::find_if(events.begin(), events.end(),
                                            [](const SessionEvent &e) { return e.kind == SessionEventKind::CaptureRecovered; });
        QVERIFY(recovered != events.end());
        QCOMPARE(recovered->lostMs, qint64(3000));
        QCOMPARE(recovered->file, finished.back().path);
    }

    // The time without capture counts toward the limit: the recording ends when it would have.
    void lostSpanCountsTowardTheLimit()
    {
        capture.connected = false;
        QVERIFY(start(QStringLiteral("limited"), 10000));
        pass(3000);
        capture.stream->end();
        capture.refusal = QStringLiteral("no sound server");
        pass(5000);
        QCOMPARE(session->failureReason(), QStringLiteral("capture lost: no sound server \u2014 retrying"));
        capture.refusal.clear();
        pass(1000);
        QVERIFY(!session->captureLost());
        // 3 s captured and 5 s without capture: 2 s are left.
        pass(1960);
        QVERIFY(!session->limitReached());
        pass(40);
        QVERIFY(session->limitReached());
    }

    // An encoder that falls behind drops audio: said once, and the archive holds what it took.
    void encoderThatFallsBehindDropsAudioAndTheArchiveSaysWhatItHolds()
    {
        starter.model.capacity = std::size_t(kSecondBytes * 2);
        QVERIFY(start());
        pass(1000);
        QVERIFY(!session->audioDropped());
        pass(3000);
        QVERIFY(session->audioDropped());
        QCOMPARE(session->droppedBytes(), 2 * kSecondBytes);
        QVERIFY(!poll().changed);  // said once
        keep(session->stop());
        QCOMPARE(finished.back().lengthSeconds, 2);
        std::uint64_t reported = 0;  // the events account for every byte dropped
        for (const SessionEvent &e : session->takeEvents()) reported += e.droppedBytes;
        QCOMPARE(reported, session->droppedBytes());
        QVERIFY(session->audioDropped());  // shown until the next start
        QVERIFY(start());
        QVERIFY(!session->audioDropped());
    }

    // The server dropped audio while the capture was held up: an event for each new loss.
    void serverOverflowsAreReportedOncePerLoss()
    {
        QVERIFY(start());
        pass(1000);
        capture.overflowCount = 5;  // from before the recording: not its loss
        QVERIFY(start(QStringLiteral("next")));
        (void)session->takeEvents();
        pass(1000);
        QVERIFY(!session->audioDropped());
        capture.overflowCount = 6;
        QVERIFY(poll().changed);
        QVERIFY(!poll().changed);
        QCOMPARE(session->captureOverflows(), std::uint64_t(1));
        const std::vector<SessionEvent> events = session->takeEvents();
        QCOMPARE(countEvents(events, SessionEventKind::AudioDropped), 1);
    }

    void failuresToStartSayWhyAndLeaveNoFile()
    {
        capture.refusal = QStringLiteral("no sound server (connection refused)");
        QVERIFY(!start(QStringLiteral("nocapture")));
        QCOMPARE(session->failureReason(), QStringLiteral("capture failed: no sound server (connection refused)"));
        QVERIFY(starter.encoders.empty());  // no encoder, so no stub file
        QVERIFY(session->poll().finished.empty());
        QVERIFY(!session->stop());
        QCOMPARE(session->failure(), Failure::None);
        QVERIFY(!QFileInfo::exists(session->currentFile()));

        capture.refusal.clear();
        starter.refusal = QStringLiteral("memenc not found");
        QVERIFY(!start(QStringLiteral("noencoder")));
        QCOMPARE(session->failureReason(), QStringLiteral("encoder failed: memenc not found"));
        QVERIFY(!capture.stream);  // the capture is not left running

        QFile blocker(saveDir->filePath(QStringLiteral("plainfile")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(!start(QStringLiteral("plainfile/sub/x")));
        QCOMPARE(session->failureReason(), QStringLiteral("cannot write %1: %2 is not a folder")
                                               .arg(saveDir->filePath(QStringLiteral("plainfile/sub")),
                                                    saveDir->filePath(QStringLiteral("plainfile"))));
        QCOMPARE(countEvents(session->takeEvents(), SessionEventKind::Failed), 3);
    }

    // The save folder removed while recording ends it; no record names a file that is gone.
    void removedSaveFolderEndsTheRecording()
    {
        QVERIFY(start(QStringLiteral("doomed/rec")));
        pass(1000);
        QVERIFY(QDir(saveDir->filePath(QStringLiteral("doomed"))).removeRecursively());
        starter.last().writesFile = false;
        pass(1000);
        QVERIFY(!session->isRecording());
        QVERIFY(finished.empty());
        QCOMPARE(session->failureReason(), QStringLiteral("file removed: ") + session->currentFile());
    }

    // A day of hourly splits from a card whose clock runs 1000 ppm fast against the
    // system's, the wall clock set 90 s forward and later back: every file begins within a
    // millisecond of its second, the drift is measured, no frame is lost or repeated and no
    // file written over (the hour the step back repeats is split again, into a file of its
    // own).
    void cutsFollowADriftingCardAndClockSteps()
    {
        constexpr int rate = 1000;  // the lowest rate keeps a day in memory small
        constexpr double cardRate = rate * 1.001;
        starter.model.writesFirstBlockOnly = true;
        capture.timed = true;
        const qint64 epochUs = clock.start.toMSecsSinceEpoch() * 1000;  // the monotonic clock's 0
        QVERIFY(start(QStringLiteral("%y-%m-%d_%t"), 0, rate));
        std::vector<qint64> plannedUs;  // each split's second, on the monotonic clock
        QDateTime next = clock.start.addSecs(3600);
        bool steppedForward = false;
        bool steppedBack = false;
        while (plannedUs.size() < 25) {
            // A second of the card's clock, and the server's report of when it ended.
            capture.deliver(rate);
            const qint64 capturedUs = qint64(capture.nextFrame * 1e6 / cardRate);
            clock.ms = capturedUs / 1000;
            capture.instant = {std::uint64_t(capture.nextFrame) * audio::kBytesPerFrame,
                               epochUs + clock.stepMs * 1000 + capturedUs, capturedUs};
            (void)poll();
            const QDateTime now = clock.now();
            if (now >= next) {
                plannedUs.push_back((next.toMSecsSinceEpoch() - clock.stepMs) * 1000 - epochUs);
                keep(session->split(next));
                next = next.addSecs(3600);
            } else if (now.msecsTo(next) <= 1000) {
                session->armCut(next);
            }
            if (!steppedForward && plannedUs.size() == 6 && now.time().minute() == 30) {
                clock.stepMs += 90000;
                steppedForward = true;
            }
            if (!steppedBack && plannedUs.size() == 13 && now.time().minute() == 0 && now.time().second() >= 30) {
                clock.stepMs -= 90000;  // back before the split just made: it comes again
                next = next.addSecs(-3600);
                steppedBack = true;
            }
        }
        keep(session->stop());
        QCOMPARE(starter.encoders.size(), std::size_t(26));
        for (std::size_t i = 0; i < plannedUs.size(); ++i) {
            const std::uint32_t first = fakes::framesOf(starter.encoders[i + 1]->bytes.left(4)).front();
            const qint64 errorUs = qint64(first * 1e6 / cardRate) - plannedUs[i];
            QVERIFY2(std::abs(errorUs) <= 1000, qPrintable(QStringLiteral("split %1: %2 µs off").arg(i).arg(errorUs)));
        }
        QVERIFY2(std::abs(session->driftPpm() - 1000) <= 50, qPrintable(QString::number(session->driftPpm())));
        const QString fault = joinFault(encoderBytes());
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QStringList paths;
        for (const auto &e : starter.encoders) paths << e->path;
        QCOMPARE(paths.removeDuplicates(), 0);
        QVERIFY(paths.contains(saveDir->filePath(QStringLiteral("2026-12-09_23-00-00_2.wav"))));
    }

    // A double F5 in one second: an encoder still finishing its file holds the name.
    void nameOfAFileStillBeingFinishedIsTaken()
    {
        starter.model.exitsWhenStopped = false;
        starter.model.writesFile = false;  // like opusenc, which creates its file seconds in
        QVERIFY(start(QStringLiteral("same_%t")));
        pass(300);
        QVERIFY(start(QStringLiteral("same_%t")));
        QVERIFY(finished.at(0).path.endsWith(QLatin1String("/same_10-00-00.wav")));
        QVERIFY(session->currentFile().endsWith(QLatin1String("/same_10-00-00_2.wav")));
    }

    // The real encoder processes, still without a sound server: a name template with shell
    // syntax is exactly the file's name, and a missing or refusing encoder says why.
    void realEncodersWithTheFakeCapture()
    {
        session = std::make_unique<RecordingSession>(capture, encoderProcesses(), clock);
        const QString marker = QStringLiteral("/tmp/vt-pwned-%1").arg(QCoreApplication::applicationPid());
        const QString tmpl = QStringLiteral("a b \"c\" 'd' $(touch %1) `touch %1`; touch %1 & |x").arg(marker);
        QVERIFY2(start(tmpl), qPrintable(session->failureReason()));
        pass(1000);
        keep(session->stop());
        QVERIFY(audio::EncoderFeed::waitForAll(10000));
        // Its bext chunk (8 + 602 bytes) dates it: samples since midnight at 10:00:00.
        QCOMPARE(QFileInfo(finished.back().path).size(), qint64(44 + 610 + kSecondBytes));
        QFile wav(finished.back().path);
        QVERIFY(wav.open(QIODevice::ReadOnly));
        const QByteArray header = wav.read(44 + 610);
        QCOMPARE(header.mid(36, 4), QByteArray("bext"));
        QCOMPARE(qFromLittleEndian<quint64>(header.constData() + 44 + 338), quint64(36000) * (kSecondBytes / 4));
        QCOMPARE(finished.back().path, makeOutputFileName(saveDir->path(), tmpl, QStringLiteral("wav"), clock.start));
        QVERIFY2(!QFile::exists(marker), "the file name ran a command");

        RecordingConfig refusing = config(QStringLiteral("refused"));
        refusing.codec.command = QStringLiteral("lame --no-such-option - ::s");
        keep(session->start(refusing, 0, clock.now()));
        QTRY_VERIFY_WITH_TIMEOUT((poll(), !session->isRecording()), 5000);
        QCOMPARE(session->failureReason(), QStringLiteral("encoder failed: lame: unrecognized option --no-such-option"));

        QTemporaryDir emptyProgram;
        QVERIFY(QDir(emptyProgram.path()).mkpath(QStringLiteral("Plugins")));
        RecordingConfig missing = config(QStringLiteral("missing"));
        missing.programFolder = emptyProgram.path() + QLatin1Char('/');
        missing.codec.command = QStringLiteral("lame - ::s");
        keep(session->start(missing, 0, clock.now()));
        QCOMPARE(session->failureReason(), QStringLiteral("encoder failed: lame not found"));
    }
};

QTEST_GUILESS_MAIN(TestRecordingSession)
#include "test_recording_session.moc"
