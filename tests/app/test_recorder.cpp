// The recorder without any window, on the test sound server with the real WAV writer: the
// schedule it applies, the length limit, the close and its failure states.
#include "app/ProgramFolder.h"
#include "audio/AudioBackend.h"
#include "app/Recorder.h"
#include "app/RemoteCommands.h"
#include "archive/Archive.h"
#include "archive/ArchiveIndex.h"
#include "core/DayCount.h"
#include "core/Ini.h"
#include "ledger/Ledger.h"
#include "ledger/LedgerCommands.h"
#include "ledger/LedgerEntry.h"
#include "recording/RecordingSession.h"
#include "schedule/ScheduleFile.h"
#include "support/FrameCheck.h"
#include "support/PrivateSoundServer.h"
#include "support/TestEncoder.h"

#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QtTest>

class TestRecorder : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the test sound server (PULSE_SERVER)");
        m_dir = std::make_unique<QTemporaryDir>();
        app::setProgramFolder(m_dir->path());
        QVERIFY(QFile::link(QStringLiteral(VT_PROGRAM_DIR "/Plugins"), m_dir->filePath(QStringLiteral("Plugins"))));
        writeSettings(QStringLiteral("[Encoder]\nName=WAV\nCmd=vtwav ::s\nExt=wav\n"));
    }

    // A due Record entry starts a recording at the tick, its length ends it, and the record
    // is in the archive with that length.
    void scheduleStartsAndItsLengthStops()
    {
        const QDateTime at = QDateTime::currentDateTime().addSecs(1);
        schedule::ScheduleEntry entry;
        entry.time = core::toDayCount(at);
        entry.lengthMs = 1000;
        entry.action = schedule::ActionRecord;
        QVERIFY(schedule::writeScheduleFile(m_dir->filePath(schedule::defaultScheduleFile()), {entry}));

        app::Recorder recorder;
        QSignalSpy status(&recorder, &app::Recorder::statusChanged);
        recorder.tick(at.addMSecs(-500));
        QVERIFY(!recorder.isRecording());
        recorder.tick(at.addMSecs(100));
        QVERIFY(recorder.isRecording());
        QCOMPARE(recorder.status().kind, app::StatusKind::Recording);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.session().limitReached(), 5000);
        recorder.tick(at.addMSecs(1500));
        QVERIFY(!recorder.isRecording());
        QCOMPARE(recorder.status().kind, app::StatusKind::Stopped);
        QCOMPARE(status.count(), 2);
        QCOMPARE(recorder.archive().records().size(), size_t(1));
        QCOMPARE(recorder.archive().records().front().lengthSeconds, 1);
        recorder.close({});
    }

    // The close finishes the running recording and writes every file.
    void closeFinishesTheRecordingAndWritesEveryFile()
    {
        {
            app::Recorder recorder;
            recorder.record();
            QVERIFY(recorder.isRecording());
            QTest::qWait(1200);
            app::FrontEndLayout layout;
            layout.levelMin = -36;
            recorder.close(layout);
            QVERIFY(!recorder.isRecording());
        }
        const core::Ini settings = core::Ini::load(m_dir->filePath(QStringLiteral("vantrel.ini")));
        QCOMPARE(settings.readInt(QStringLiteral("Options"), QStringLiteral("LevelMin"), 0), -36);
        archive::Archive index(archive::archiveIndexPath(m_dir->path()));
        QVERIFY(index.load());
        QCOMPARE(index.records().size(), size_t(1));
        QVERIFY(QFileInfo(index.records().front().path).size() > 44);
        QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("Log/RecordingJournal.ini"))));
    }

    // A start that fails is a failure with its cause, never "recording", and no record.
    void failedStartIsAFailureWithItsCause()
    {
        writeSettings(QStringLiteral("[Device]\nRecDev=99\n[Encoder]\nName=WAV\nCmd=vtwav ::s\nExt=wav\n"));
        app::Recorder recorder;
        recorder.record();
        QVERIFY(!recorder.isRecording());
        QCOMPARE(recorder.status().kind, app::StatusKind::Failed);
        QVERIFY2(recorder.status().text.contains(QStringLiteral("recording device 99 not found")),
                 qPrintable(recorder.status().text));
        recorder.stop();
        QCOMPARE(recorder.status().kind, app::StatusKind::Stopped);
        QVERIFY(recorder.archive().records().empty());
        recorder.close({});
    }

    // A changed recording device holds from the next start, without a restart; the
    // recording that runs while it changes goes on from its own. vtout plays nothing, so
    // its monitor is silent while the default source carries the sine.
    void changedRecordingDeviceHoldsFromTheNextStart()
    {
        app::Recorder recorder;
        const int silentDevice = int(recorder.audio().recordingDevices().indexOf(QStringLiteral("Monitor of vtout")));
        QVERIFY(silentDevice >= 1);
        const auto loudness = [&] { return recorder.level() & 0xFFFF; };

        recorder.record();
        QTRY_VERIFY_WITH_TIMEOUT(loudness() > 8000, 5000);
        app::Settings settings = recorder.settings();
        settings.recDev = silentDevice;
        recorder.applySettings(settings);
        QTest::qWait(300);
        QVERIFY(loudness() > 8000);
        recorder.stop();

        // An idle null sink's monitor delivers its first block late: wait for it.
        recorder.record();
        QVERIFY(recorder.isRecording());
        QTRY_COMPARE_WITH_TIMEOUT(loudness(), 0u, 5000);
        recorder.close({});
    }

    // The feed falls silent longer than SilenceSeconds: the alarm shows until the sine is back,
    // and the event log holds the span's start and end.
    void silenceIsShownAndLoggedUntilTheSoundReturns()
    {
        if (!testsupport::TestSignal::isAvailable())
            QSKIP("VT_SOUND_DIR is not set: the signal must be switched");
        // 3 s below -50 dBFS: the rule is the same for the shipped 30 s.
        writeSettings(QStringLiteral("[Alarm]\nSilenceSeconds=3\nDiskHours=0\n[Encoder]\nName=WAV\nCmd=vtwav ::s\nExt=wav\n"));
        app::Recorder recorder;
        recorder.start();
        recorder.record();
        QVERIFY(recorder.isRecording());
        testsupport::TestSignal signal;
        QVERIFY(signal.set(QStringLiteral("silence")));
        QElapsedTimer silent;
        silent.start();
        QTRY_VERIFY_WITH_TIMEOUT(recorder.status().text.contains(QStringLiteral("silence")), 8000);
        QVERIFY2(silent.elapsed() >= 2500, qPrintable(QString::number(silent.elapsed())));
        QCOMPARE(recorder.status().kind, app::StatusKind::Warning);
        QTest::qWait(int(6000 - silent.elapsed()));
        QVERIFY(recorder.isRecording());
        QVERIFY(signal.set(QStringLiteral("sine")));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.status().kind, app::StatusKind::Recording, 5000);
        recorder.close({});
        const QStringList words = loggedEvents();
        QCOMPARE(words.count(QStringLiteral("silence")), 1);
        QCOMPARE(words.count(QStringLiteral("silence-end")), 1);
    }

    // An encoder that stalls past its feed's room: the dropped length is shown amber while
    // recording, and logged.
    void droppedAudioIsShownAndLogged()
    {
        QVERIFY(QFile::remove(m_dir->filePath(QStringLiteral("Plugins"))));
        QVERIFY(testsupport::writeTestEncoder(m_dir->filePath(QStringLiteral("Plugins")), QStringLiteral("stallenc"),
                                              "sleep 11\nexec cat > \"$1\"\n"));
        // At 32000 Hz the feed holds 8.2 s.
        writeSettings(QStringLiteral("[Device]\nSampleRate=32000\n[Encoder]\nName=Stall\nCmd=stallenc ::s\nExt=raw\n"));
        app::Recorder recorder;
        recorder.start();
        recorder.record();
        QVERIFY(recorder.isRecording());
        QTRY_VERIFY2_WITH_TIMEOUT(recorder.status().text.contains(QStringLiteral("dropped")),
                                  qPrintable(recorder.status().text), 15000);
        QCOMPARE(recorder.status().kind, app::StatusKind::Warning);
        recorder.close({});
        QVERIFY(loggedEvents().contains(QStringLiteral("dropped")));
    }

    // A damaged coverage ledger is kept aside, said once, and made again from the archive.
    void damagedLedgerIsSetAsideAndRebuilt()
    {
        const QString log = m_dir->filePath(QStringLiteral("Log"));
        QVERIFY(QDir().mkpath(log));
        QFile damaged(log + QStringLiteral("/ledger.sqlite"));
        QVERIFY(damaged.open(QIODevice::WriteOnly) && damaged.write(QByteArray(8192, 'x')) == 8192);
        damaged.close();
        QFile index(archive::archiveIndexPath(m_dir->path()));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write(archive::writeArchiveIndex({{core::toDayCount(QDateTime::currentDateTime().addSecs(-600)), 60,
                                                 QStringLiteral("/rec/earlier.wav"), {}, {}}}));
        index.close();
        app::Recorder recorder;
        QSignalSpy notices(&recorder, &app::Recorder::failureRaised);
        recorder.listenForNotices();
        QTRY_VERIFY(!recorder.archive().isLoading());
        QCOMPARE(notices.count(), 1);
        QVERIFY2(notices[0][1].toString().contains(QStringLiteral("was damaged")), qPrintable(notices[0][1].toString()));
        QVERIFY(recorder.ledger().file(QStringLiteral("/rec/earlier.wav")));
        QCOMPARE(QDir(log).entryList({QStringLiteral("ledger.sqlite.damaged-*")}).size(), 1);
        recorder.close({});
    }

    // A span on hold survives the store-time sweep and Delete however old it is; released
    // from the command line beside the running recorder, the next sweep retires it.
    void heldSpanSurvivesUntilReleased()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->filePath(QStringLiteral("trash-home"))));
        const auto restore = qScopeGuard([] { qunsetenv("XDG_DATA_HOME"); });
        const QDateTime old = QDateTime::currentDateTime().addDays(-40);  // the store time is 30 days
        const QString held = m_dir->filePath(QStringLiteral("held.wav"));
        const QString free = m_dir->filePath(QStringLiteral("free.wav"));
        for (const QString &file : {held, free}) {
            QFile audio(file);
            QVERIFY(audio.open(QIODevice::WriteOnly) && audio.write("audio") == 5);
        }
        QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("Log"))));
        QFile index(archive::archiveIndexPath(m_dir->path()));
        QVERIFY(index.open(QIODevice::WriteOnly));
        index.write(archive::writeArchiveIndex({{core::toDayCount(old), 60, held, {}, {}},
                                                {core::toDayCount(old.addSecs(3600)), 60, free, {}, {}}}));
        index.close();

        app::Recorder recorder;
        QSignalSpy notices(&recorder, &app::Recorder::failureRaised);
        recorder.listenForNotices();
        QTRY_VERIFY(!recorder.archive().isLoading());
        const auto verb = [&](const std::function<int(std::FILE *)> &run) {
            std::FILE *out = std::tmpfile();
            const int status = run(out);
            std::fclose(out);
            return status;
        };
        const QStringList span{ledger::localIsoText(old.addSecs(10).toMSecsSinceEpoch()),
                               ledger::localIsoText(old.addSecs(20).toMSecsSinceEpoch())};
        QCOMPARE(verb([&](std::FILE *out) {
                     return ledger::runHold(m_dir->path(), span, QStringLiteral("complaint"), out, stderr);
                 }),
                 0);

        recorder.sweepExpired(QDateTime::currentDateTime());
        QCOMPARE(recorder.archive().records().size(), size_t(1));
        QTRY_VERIFY(!QFile::exists(free));  // moved to the trash on the archive's worker
        QVERIFY(QFile::exists(held));
        const QModelIndex row = recorder.archive().model().index(0, 0);
        QVERIFY(row.data(Qt::ToolTipRole).toString().endsWith(QStringLiteral("\non hold 1: complaint")));
        QVERIFY(row.data(Qt::BackgroundRole).isValid());

        recorder.deleteRecord(0);
        QCOMPARE(recorder.archive().records().size(), size_t(1));
        QVERIFY(QFile::exists(held));
        QCOMPARE(notices.count(), 1);
        QCOMPARE(notices[0][1].toString(), held + QStringLiteral(" is not deleted: on hold 1: complaint."));

        QCOMPARE(verb([&](std::FILE *out) {
                     return ledger::runRelease(m_dir->path(), {QStringLiteral("1")}, out, stderr);
                 }),
                 0);
        recorder.sweepExpired(QDateTime::currentDateTime());
        QVERIFY(recorder.archive().records().empty());
        QTRY_VERIFY(!QFile::exists(held));
        recorder.close({});
    }

    // An encoder that stops writing half-way and still ends well: the check of the finished
    // file finds it short, and says so in the status line, the event log and the ledger.
    void fileCutShortIsFoundDamaged()
    {
        QVERIFY(QFile::remove(m_dir->filePath(QStringLiteral("Plugins"))));
        QVERIFY(testsupport::writeTestEncoder(m_dir->filePath(QStringLiteral("Plugins")), QStringLiteral("halfwav"),
                                              "head -c 384000 | " VT_PROGRAM_DIR "/Plugins/vtwav \"$@\"\n"
                                              "exec cat > /dev/null\n"));
        writeSettings(QStringLiteral("[Device]\nSampleRate=48000\n[Encoder]\nName=Half\nCmd=halfwav ::s\nExt=wav\n"));
        app::Recorder recorder;
        recorder.record();
        QTRY_VERIFY_WITH_TIMEOUT(recorder.session().capturedBytes() > 4 * 4 * 48000, 8000);
        const QString file = recorder.currentFile();
        recorder.stop();
        QTRY_VERIFY_WITH_TIMEOUT((recorder.watch(), recorder.status().text.contains(QStringLiteral("damaged file"))),
                                 10000);
        QCOMPARE(recorder.status().kind, app::StatusKind::Failed);
        QVERIFY(loggedEvents().contains(QStringLiteral("damaged")));
        const std::optional<ledger::FileEntry> entry = recorder.ledger().file(file);
        QVERIFY(entry);
        QCOMPARE(entry->verification, ledger::Verification::Damaged);
        QVERIFY2(entry->reason.startsWith(QStringLiteral("decodes to 00:00:02.0 of 00:00:0")), qPrintable(entry->reason));
        recorder.close({});
    }

    // While the server is gone the status shows the loss in red, never "recording"; the file
    // so far is archived, the recording goes on into a new file once the server is back, and
    // the entry's length ends it on time, the time without capture counted. The ledger holds
    // the loss as a lost span with its cause.
    void lostCaptureShowsAsFailureAndItsLengthStillEndsIt()
    {
        testsupport::PrivateSoundServer server;
        QVERIFY(server.started());
        const QDateTime at = QDateTime::currentDateTime().addSecs(1);
        schedule::ScheduleEntry entry;
        entry.time = core::toDayCount(at);
        entry.lengthMs = 14000;
        entry.action = schedule::ActionRecord;
        QVERIFY(schedule::writeScheduleFile(m_dir->filePath(schedule::defaultScheduleFile()), {entry}));
        app::Recorder recorder;
        recorder.tick(at.addMSecs(100));
        QTRY_VERIFY_WITH_TIMEOUT(recorder.session().capturedBytes() > 4 * 48000, 8000);
        QVERIFY(server.run("stop-server"));
        QTRY_VERIFY_WITH_TIMEOUT((recorder.watch(), recorder.session().captureLost()), 3000);
        QElapsedTimer lost;
        lost.start();
        const qint64 limitLeftMs = 14000 - qint64(recorder.session().capturedBytes()) * 1000 / (4 * 48000);
        QCOMPARE(recorder.status().kind, app::StatusKind::Failed);
        QVERIFY2(recorder.status().text.startsWith(QStringLiteral("capture lost: ")), qPrintable(recorder.status().text));
        QVERIFY(recorder.isRecording());
        QCOMPARE(app::statusReport(recorder, QDateTime::currentDateTime()).value(0),
                 QStringLiteral("recording: no (capture lost, retrying)"));
        QCOMPARE(recorder.archive().records().size(), size_t(1));
        QTest::qWait(5000);
        QVERIFY(server.run("start-server"));
        QTRY_VERIFY_WITH_TIMEOUT((recorder.watch(), !recorder.isRecording()), 12000);
        QVERIFY2(qAbs(lost.elapsed() - limitLeftMs) < 1000,
                 qPrintable(QStringLiteral("%1 ms after the loss, %2 ms expected").arg(lost.elapsed()).arg(limitLeftMs)));
        QCOMPARE(recorder.status().kind, app::StatusKind::Stopped);
        QCOMPARE(recorder.archive().records().size(), size_t(2));
        recorder.close({});
        QVERIFY(loggedEvents().contains(QStringLiteral("capture-lost")));
        std::vector<ledger::Span> lostSpans;
        for (const ledger::Span &span : recorder.ledger().spans(at.toMSecsSinceEpoch(), at.addSecs(20).toMSecsSinceEpoch()))
            if (span.kind == ledger::SpanKind::Lost) lostSpans.push_back(span);
        QCOMPARE(lostSpans.size(), size_t(1));
        const qint64 lostMs = lostSpans[0].endMs - lostSpans[0].startMs;
        QVERIFY2(lostMs >= 4000 && lostMs <= 9000, qPrintable(QString::number(lostMs)));
        QVERIFY(!lostSpans[0].cause.isEmpty());
    }

private:
    // The event words of Log/events.log, in order.
    QStringList loggedEvents() const
    {
        QFile log(m_dir->filePath(QStringLiteral("Log/events.log")));
        if (!log.open(QIODevice::ReadOnly))
            return {};
        QStringList words;
        for (const QByteArray &line : log.readAll().split('\n'))
            if (!line.isEmpty())
                words << QString::fromUtf8(line.split('\t').value(1));
        return words;
    }

    void writeSettings(const QString &encoderSections)
    {
        QFile ini(m_dir->filePath(QStringLiteral("vantrel.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        // No disk warning: 24 hours of WAV need more room than a test machine may have.
        const QString alarm = encoderSections.contains(QStringLiteral("[Alarm]")) ? QString()
                                                                                 : QStringLiteral("[Alarm]\nDiskHours=0\n");
        ini.write((QStringLiteral("[Options]\nSaveFolder=%1\n").arg(m_dir->filePath(QStringLiteral("rec"))) + alarm +
                   encoderSections)
                      .toUtf8());
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestRecorder)
#include "test_recorder.moc"
