// What only real recordings show: the test sound server's 440 Hz sine (or counting signal)
// captured and encoded by the encoders of the build's Plugins folder with the shipped
// presets, a server that stops and comes back, a device unplugged, an encoder killed.
#include "audio/AudioBackend.h"
#include "audio/EncoderFeed.h"
#include "recording/Estimate.h"
#include "recording/RecordedLength.h"
#include "recording/RecordingSession.h"
#include "settings/CodecPreset.h"
#include "support/Ffprobe.h"
#include "support/FrameCheck.h"
#include "support/PrivateSoundServer.h"
#include "support/ProgramThreads.h"
#include "audio/SineReference.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <algorithm>
#include <signal.h>
#include <unistd.h>

using namespace recording;
using settings::CodecPreset;

namespace {

const QString kProgramFolder = QStringLiteral(VT_PROGRAM_DIR "/");
constexpr int kRate = 48000;

using testsupport::ffprobeDuration;

// Polls as the one-second display timer would, until the session reports a change.
RecordingSession::PollResult pollUntilChanged(RecordingSession &session, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    RecordingSession::PollResult result;
    while (!result.changed && clock.elapsed() < timeoutMs) {
        QTest::qWait(100);
        result = session.poll();
    }
    return result;
}

int countEntries(const char *folder) { return int(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size()); }

struct ChildProcess {
    pid_t pid = 0;
    QByteArray state;    // "Z": a zombie
    QByteArray program;  // its name
};

// The processes of any state (zombies included) whose parent is this test.
std::vector<ChildProcess> childProcesses()
{
    std::vector<ChildProcess> children;
    const QStringList pids = QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs);
    for (const QString &pid : pids) {
        QFile stat("/proc/" + pid + "/stat");
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray text = stat.readAll();
        // "pid (comm) state ppid …": comm may hold blanks, so read after its last ')'.
        const qsizetype open = text.indexOf('('), close = text.lastIndexOf(')');
        const QList<QByteArray> fields = text.mid(close + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == ::getpid())
            children.push_back({pid_t(pid.toInt()), fields[0], text.mid(open + 1, close - open - 1)});
    }
    return children;
}

// The running encoder: the one child of this test named `program` that is not a zombie.
pid_t runningChild(const QByteArray &program)
{
    pid_t found = 0;
    for (const ChildProcess &child : childProcesses()) {
        if (child.state == "Z" || child.program != program) continue;
        if (found) return 0;  // not one
        found = child.pid;
    }
    return found;
}

int countEvents(const std::vector<SessionEvent> &events, SessionEventKind kind)
{
    return int(std::count_if(events.begin(), events.end(), [kind](const SessionEvent &e) { return e.kind == kind; }));
}

}  // namespace

class TestRecordingOnServer : public QObject {
    Q_OBJECT

    std::unique_ptr<audio::AudioBackend> backend;
    QTemporaryDir saveDir;
    QList<CodecPreset> presets;

    RecordingConfig config(const QString &presetName, const QString &tmpl = "%y-%m-%d_%t")
    {
        RecordingConfig c;
        c.programFolder = kProgramFolder;
        c.saveFolder = saveDir.path();
        c.saveFilename = tmpl;
        c.sampleRate = kRate;
        for (const CodecPreset &p : presets)
            if (p.name == presetName) c.codec = p;
        return c;
    }

    // Runs the recording for ms, polling as the main window's one-second timer does; fails
    // when it ends by itself. Returns whether the estimate showed a figure at some point.
    bool keepRecording(RecordingSession &session, int ms)
    {
        bool figureShown = false;
        QElapsedTimer clock;
        clock.start();
        qint64 nextPoll = 1000;
        while (clock.elapsed() < ms) {
            QTest::qWait(50);
            if (clock.elapsed() < nextPoll) continue;
            nextPoll += 1000;
            const RecordingSession::PollResult result = session.poll();
            if (!session.isRecording()) {
                qWarning("recording ended by itself: %s", qPrintable(failureText(session.failure())));
                return false;
            }
            if (session.remainingText() != unknownRemainingText()) figureShown = true;
        }
        return figureShown;
    }

    // Records ms with a preset; returns the record (or none) after the encoder finished.
    std::optional<FinishedRecording> recordWith(const QString &presetName, int ms,
                                                bool *figureShown = nullptr,
                                                const QString &tmpl = "%y-%m-%d_%t")
    {
        RecordingSession session(*backend);
        const RecordingConfig c = config(presetName, tmpl);
        if (c.codec.command.isEmpty()) {
            qWarning("no preset %s", qPrintable(presetName));
            return std::nullopt;
        }
        if (session.start(c, 0, QDateTime::currentDateTime())) return std::nullopt;
        if (!session.isRecording()) {
            qWarning("%s: %s", qPrintable(presetName), qPrintable(failureText(session.failure())));
            return std::nullopt;
        }
        const bool shown = keepRecording(session, ms);
        if (figureShown) *figureShown = shown;
        std::optional<FinishedRecording> record = session.stop();
        if (session.droppedBytes() > 0)
            qWarning("%s: the encoder fell behind, %llu bytes dropped", qPrintable(presetName),
                     static_cast<unsigned long long>(session.droppedBytes()));
        if (!audio::EncoderFeed::waitForAll(10000)) qWarning("encoders still running");
        return record;
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("PULSE_SERVER is not set: these tests need the test sound server");
        backend = std::make_unique<audio::AudioBackend>();
        QVERIFY2(backend->init(1, 0), "cannot reach the sound server");
        presets = settings::readPresetFile(settings::presetFilePath(kProgramFolder));
        QVERIFY2(presets.size() >= 7, "the build's preset file is missing");
        QVERIFY(saveDir.isValid());
    }

    void everyShippedPresetWritesACompleteFile_data()
    {
        QTest::addColumn<QString>("preset");
        QTest::addColumn<int>("ms");
        QTest::addColumn<double>("tolerance");
        QTest::addColumn<bool>("figureWhileWriting");
        QTest::newRow("mp3-192") << "MP3 192 kbit/s" << 4200 << 0.5 << true;
        QTest::newRow("ogg") << "Ogg Vorbis" << 4200 << 0.5 << true;
        // opusenc holds back its first pages for a few seconds: the file is readable (and
        // so measurable) only after about five. Opus and AAC pad the end to a whole frame.
        QTest::newRow("opus") << "Opus" << 6200 << 0.6 << true;
        QTest::newRow("flac") << "FLAC" << 4200 << 0.5 << false;
        QTest::newRow("aac") << "AAC (m4a)" << 4200 << 0.6 << false;
        QTest::newRow("wav") << "WAV" << 4200 << 0.5 << true;
    }

    void everyShippedPresetWritesACompleteFile()
    {
        QFETCH(QString, preset);
        QFETCH(int, ms);
        QFETCH(double, tolerance);
        QFETCH(bool, figureWhileWriting);
        RecordingSession session(*backend);
        QVERIFY(!session.start(config(preset), 0, QDateTime::currentDateTime()));
        QVERIFY2(session.isRecording(), qPrintable(failureText(session.failure())));
        const bool shown = keepRecording(session, ms);
        const auto record = session.stop();
        QVERIFY(record);
        const double captured = capturedSeconds(session.capturedBytes(), kRate);
        QVERIFY(audio::EncoderFeed::waitForAll(10000));
        const double probed = ffprobeDuration(record->path);
        qInfo("%s: captured %.3f s, file %.3f s, figure while writing: %s", qPrintable(preset),
              captured, probed, shown ? "yes" : "no");
        QVERIFY(qAbs(probed - captured) <= tolerance);
        QCOMPARE(record->lengthSeconds, qint32(captured));
        if (figureWhileWriting) QVERIFY2(shown, "no remaining time was shown while recording");
    }

    void wavRecordingIsAnUnbrokenSine()
    {
        QElapsedTimer timeline;
        timeline.start();
        sine::Reference reference;
        QVERIFY(reference.start({}, &timeline));
        RecordingSession session(*backend);
        QVERIFY(!session.start(config("WAV", "sine"), 0, QDateTime::currentDateTime()));
        const qint64 firstFrameMs = timeline.elapsed();
        QVERIFY(keepRecording(session, 15300));
        const auto record = session.stop();
        const QByteArray heard = reference.stop();
        QVERIFY(record);
        QCOMPARE(session.droppedBytes(), std::uint64_t(0));
        QCOMPARE(session.captureOverflows(), std::uint64_t(0));
        QVERIFY(!session.audioDropped());
        QVERIFY(audio::EncoderFeed::waitForAll(10000));
        QVERIFY(qAbs(record->lengthSeconds - 15) <= 1);

        QFile file(record->path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        // RIFF and fmt, the bext chunk dating the file (8 + 602 bytes), then the data.
        constexpr int kDataAt = 44 + 610;
        QVERIFY(bytes.size() > kDataAt);
        QCOMPARE(bytes.mid(kDataAt - 8, 4), QByteArray("data"));
        const quint32 dataBytes = qFromLittleEndian<quint32>(bytes.constData() + kDataAt - 4);
        QCOMPARE(qsizetype(dataBytes), bytes.size() - kDataAt);
        QCOMPARE(std::uint64_t(dataBytes), session.capturedBytes());
        QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 24), quint32(kRate));

        const qsizetype frames = dataBytes / 4;
        QVERIFY(qAbs(frames / double(kRate) - 15.3) < 1.0);
        const qint16 *s = reinterpret_cast<const qint16 *>(bytes.constData() + kDataAt);
        QVERIFY2(*std::max_element(s, s + 2 * frames) > 12000, "no sine recorded");
        const QString unheard = sine::unheardBreaks(bytes.mid(kDataAt), firstFrameMs, heard, reference.firstFrameMs());
        if (!unheard.isEmpty()) {
            const QString kept = QDir::temp().filePath("vt-broken-sine.wav");
            QFile::remove(kept);
            QFile::copy(record->path, kept);
            QFAIL(qPrintable(QString("breaks the reference did not hear: %1 (file kept as %2)").arg(unheard, kept)));
        }
    }

    void manyStartsInARowLeaveNothingBehind()
    {
        // One recording first, so the sound connection's threads and files are in place.
        QVERIFY(recordWith("MP3 128 kbit/s", 300, nullptr, "warmup"));
        const int fds = countEntries("/proc/self/fd");
        const QStringList threads = testsupport::programThreads();

        RecordingSession session(*backend);
        QList<FinishedRecording> records;
        for (int i = 0; i < 40; ++i) {
            const auto previous = session.start(config("MP3 128 kbit/s", QString("run%1").arg(i)), 0, QDateTime::currentDateTime());
            if (previous) records.append(*previous);
            QVERIFY2(session.isRecording(), qPrintable(failureText(session.failure())));
            QTest::qWait(60);
        }
        if (const auto last = session.stop()) records.append(*last);
        QCOMPARE(records.size(), 40);
        for (int i = 0; i < 40; ++i) QVERIFY(records[i].path.endsWith(QString("/run%1.mp3").arg(i)));

        QVERIFY(audio::EncoderFeed::waitForAll(10000));
        QCOMPARE(audio::EncoderFeed::runningCount(), 0);
        QCOMPARE(childProcesses().size(), std::size_t(0));
        for (const FinishedRecording &r : records) QVERIFY2(QFileInfo::exists(r.path), qPrintable(r.path));
        QTest::qWait(200);
        QCOMPARE(countEntries("/proc/self/fd"), fds);
        QCOMPARE(testsupport::programThreads(), threads);
    }

    // The sound server stopped and started again while idle: the next start records.
    void recordsAgainAfterTheServerRestarts()
    {
        testsupport::PrivateSoundServer server;
        QVERIFY(server.started());
        audio::AudioBackend ownServer;
        QVERIFY(ownServer.init(1, 0));
        QVERIFY(server.run("stop"));
        QTRY_VERIFY_WITH_TIMEOUT(!ownServer.isConnected(), 3000);
        QVERIFY(server.run("start"));

        RecordingSession session(ownServer);
        QVERIFY(!session.start(config("WAV", "afterrestart"), 0, QDateTime::currentDateTime()));
        QVERIFY2(session.isRecording(), qPrintable(session.failureReason()));
        // A server just started delivers its first block after about two seconds.
        QTRY_VERIFY_WITH_TIMEOUT(session.capturedBytes() > 4 * kRate, 8000);
        const auto record = session.stop();
        QVERIFY(record);
        QVERIFY(audio::EncoderFeed::waitForAll(10000));
        QVERIFY(QFileInfo(record->path).size() > 44 + 4 * kRate);

        // The device lists, too, find the server again.
        QVERIFY(server.run("stop"));
        QTRY_VERIFY_WITH_TIMEOUT(!ownServer.isConnected(), 3000);
        QVERIFY(server.run("start"));
        QVERIFY(ownServer.recordingDevices().contains("Monitor of vtsrc"));
    }

    // A start while recording cuts the captured stream between two blocks: together the files
    // hold every frame once, in order.
    void startsWhileRecordingLoseAndRepeatNoFrame()
    {
        if (!testsupport::TestSignal::isAvailable()) QSKIP("VT_SOUND_DIR is not set: the counting signal is needed");
        testsupport::TestSignal signal;
        QVERIFY(signal.set("count"));
        QTest::qWait(500);  // until the capture hears it
        RecordingSession session(*backend);
        const QDateTime now = QDateTime::currentDateTime();
        QVERIFY(!session.start(config("WAV", "cut_0"), 0, now));
        QStringList files{session.currentFile()};
        for (int i = 1; i <= 100; ++i) {
            QTest::qWait(30 + i % 4 * 15);  // the cuts fall anywhere between blocks
            const auto previous = session.start(config("WAV", QString("cut_%1").arg(i)), 0, now);
            QVERIFY(previous);
            QCOMPARE(previous->path, files.last());
            QVERIFY2(session.isRecording(), qPrintable(session.failureReason()));
            files << session.currentFile();
        }
        QTest::qWait(200);
        QVERIFY(session.stop());
        QCOMPARE(countEvents(session.takeEvents(), SessionEventKind::FileChanged), 100);
        QVERIFY(audio::EncoderFeed::waitForAll(10000));
        const testsupport::FrameCheckResult check = testsupport::checkCountedFrames(files);
        qInfo("%s", qPrintable(check.message));
        QVERIFY2(check.ok, qPrintable(check.message));
    }

    // An encoder killed four times is started again each time; every file is archived and the
    // next begins with the last second the killed one was given: no frame is missing.
    void killedEncoderGoesOnIntoAFileThatOverlapsTheLast()
    {
        if (!testsupport::TestSignal::isAvailable()) QSKIP("VT_SOUND_DIR is not set: the counting signal is needed");
        testsupport::TestSignal signal;
        QVERIFY(signal.set("count"));
        QTest::qWait(500);  // until the capture hears it
        RecordingSession session(*backend);
        session.setEncoderRestartLimit(3, 4000);  // kills 2 s apart stay within it
        QVERIFY(!session.start(config("WAV", "killed"), 0, QDateTime::currentDateTime()));
        QStringList archived;
        std::vector<FinishedRecording> killedRecords;
        for (int kill = 0; kill < 4; ++kill) {
            QTest::qWait(2000);
            const pid_t encoder = runningChild("vtwav");
            QVERIFY(encoder > 0);
            QCOMPARE(::kill(encoder, SIGKILL), 0);
            RecordingSession::PollResult result;
            QElapsedTimer clock;
            clock.start();
            while (!result.newFile && clock.elapsed() < 3000) {
                QTest::qWait(500);
                result = session.poll();
                for (const FinishedRecording &r : result.finished) archived << r.path;
                killedRecords.insert(killedRecords.end(), result.finished.begin(), result.finished.end());
            }
            QVERIFY2(result.newFile && session.isRecording(), qPrintable(session.failureReason()));
        }
        QTest::qWait(500);
        const auto last = session.stop();
        QVERIFY(last);
        archived << last->path;
        QCOMPARE(archived.size(), 5);
        QCOMPARE(countEvents(session.takeEvents(), SessionEventKind::EncoderRestarted), 4);
        QVERIFY(audio::EncoderFeed::waitForAll(10000));
        for (const FinishedRecording &r : killedRecords)  // what the killed encoder wrote, not what it was given
            QVERIFY2(r.lengthSeconds <= ffprobeDuration(r.path), qPrintable(QString("%1: %2 s archived, %3 s in the file").arg(r.path).arg(r.lengthSeconds).arg(ffprobeDuration(r.path))));
        const testsupport::FrameCheckResult check =
            testsupport::checkCountedFrames(archived, testsupport::FrameDelivery::AtLeastOnce, kRate);
        qInfo("%s", qPrintable(check.message));
        QVERIFY2(check.ok, qPrintable(check.message));
    }

    // The server stopped for 5 s while recording: the loss shows at once, the file so far is
    // archived, and the recording goes on into a new file once the server is back.
    void lostCaptureGoesOnIntoANewFileWhenTheServerIsBack()
    {
        testsupport::PrivateSoundServer server;
        QVERIFY(server.started());
        audio::AudioBackend ownServer;
        QVERIFY(ownServer.init(1, 0));
        RecordingSession session(ownServer);
        QVERIFY(!session.start(config("WAV", "beforeloss"), 0, QDateTime::currentDateTime()));
        QTRY_VERIFY_WITH_TIMEOUT(session.capturedBytes() > 4 * kRate, 8000);

        QVERIFY(server.run("stop-server"));
        QElapsedTimer clock;
        clock.start();
        std::vector<FinishedRecording> records;
        auto pollUntil = [&](const std::function<bool()> &done, int timeoutMs) {
            while (!done() && clock.elapsed() < timeoutMs) {
                QTest::qWait(200);
                const RecordingSession::PollResult result = session.poll();
                records.insert(records.end(), result.finished.begin(), result.finished.end());
            }
            return done();
        };
        QVERIFY(pollUntil([&] { return session.captureLost(); }, 2000));
        QVERIFY(session.isRecording());
        QCOMPARE(session.failure(), Failure::CaptureLost);
        QVERIFY2(session.failureReason().startsWith("capture lost: "), qPrintable(session.failureReason()));
        QCOMPARE(records.size(), std::size_t(1));
        pollUntil([] { return false; }, 5000);
        QVERIFY(session.captureLost());

        QVERIFY(server.run("start-server"));
        clock.restart();
        QVERIFY(pollUntil([&] { return !session.captureLost(); }, 3000));
        QVERIFY2(session.isRecording() && session.failure() == Failure::None, qPrintable(session.failureReason()));
        QTest::qWait(2000);
        const auto resumed = session.stop();
        QVERIFY(resumed);
        QVERIFY(resumed->path != records.front().path);
        QVERIFY(audio::EncoderFeed::waitForAll(10000));
        QVERIFY(ffprobeDuration(records.front().path) > 1.0);
        QVERIFY(ffprobeDuration(resumed->path) > 1.0);
        const std::vector<SessionEvent> events = session.takeEvents();
        const auto recovered = std::find_if(events.begin(), events.end(), [](const SessionEvent &e) {
            return e.kind == SessionEventKind::CaptureRecovered;
        });
        QCOMPARE(countEvents(events, SessionEventKind::CaptureLost), 1);
        QVERIFY(recovered != events.end());
        QVERIFY2(recovered->lostMs >= 5000, qPrintable(QString::number(recovered->lostMs)));
        QCOMPARE(recovered->file, resumed->path);
    }

    // The chosen device unplugged while recording: its number then stands for the next
    // device, but the recording waits for its own and goes on once that is back.
    void unpluggedDeviceIsWaitedForAndNotReplaced()
    {
        const auto plugIn = [](const QString &name) {
            QProcess p;
            p.start("pactl", {"load-module", "module-null-sink", "sink_name=" + name,
                              "sink_properties=device.description=" + name, "rate=48000"});
            return p.waitForFinished(5000) && p.exitCode() == 0 ? p.readAllStandardOutput().trimmed() : QByteArray();
        };
        const auto unplug = [](const QByteArray &module) {
            return QProcess::execute("pactl", {"unload-module", QString::fromLatin1(module)}) == 0;
        };
        QByteArray plugged = plugIn("vtplug");
        const QByteArray next = plugIn("vtnext");
        auto cleanup = qScopeGuard([&] {
            unplug(next);
            if (!plugged.isEmpty()) unplug(plugged);
        });
        QVERIFY(!plugged.isEmpty() && !next.isEmpty());
        audio::AudioBackend chosen;
        QVERIFY(chosen.init(1, 0));
        chosen.setRecordDevice(int(chosen.recordingDevices().indexOf("Monitor of vtplug")));
        QVERIFY(chosen.recordDevice() >= 1);
        RecordingSession session(chosen);
        QVERIFY(!session.start(config("WAV", "unplugged"), 0, QDateTime::currentDateTime()));
        QVERIFY2(session.isRecording(), qPrintable(session.failureReason()));
        QTRY_VERIFY_WITH_TIMEOUT(session.capturedBytes() > 0, 5000);

        QVERIFY(unplug(std::exchange(plugged, QByteArray())));
        QVERIFY(pollUntilChanged(session, 3000).changed && session.captureLost());
        QCOMPARE(chosen.recordingDevices().value(chosen.recordDevice()), QString("Monitor of vtnext"));
        pollUntilChanged(session, 2500);
        QVERIFY(session.captureLost());
        QCOMPARE(session.failureReason(), QString("capture lost: recording device \u201cMonitor of vtplug\u201d not found \u2014 retrying"));

        plugged = plugIn("vtplug");
        QVERIFY(!plugged.isEmpty());
        QElapsedTimer clock;
        clock.start();
        while (session.captureLost() && clock.elapsed() < 3000) {
            QTest::qWait(200);
            (void)session.poll();
        }
        QVERIFY2(!session.captureLost() && session.isRecording(), qPrintable(session.failureReason()));
        QVERIFY(session.stop());
    }

    void cleanupTestCase() { audio::EncoderFeed::waitForAll(10000); }
};

QTEST_GUILESS_MAIN(TestRecordingOnServer)
#include "test_recording_on_server.moc"
