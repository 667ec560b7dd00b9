// The program under the real clock, on the test sound server, started as a user would:
// the entries of its default schedule file start and stop real recordings.
#include "archive/Archive.h"
#include "archive/ArchiveIndex.h"
#include "core/DayCount.h"
#include "schedule/ScheduleFile.h"
#include "support/Ffprobe.h"
#include "support/FrameCheck.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

schedule::ScheduleEntry entryAt(const QDateTime &when, qint32 lengthMs, qint32 action)
{
    schedule::ScheduleEntry e;
    e.time = core::toDayCount(when);
    e.lengthMs = lengthMs;
    e.action = action;
    return e;
}

// A program folder recording MP3 (or `encoder`: "Name\nCmd=…\nExt=…") into home/rec from
// the build's encoders.
void makeHome(const QTemporaryDir &home,
              const QString &encoder = QStringLiteral("MP3\nCmd=lame --quiet -b 128 - ::s\nExt=mp3"))
{
    QVERIFY(QFile::link(QStringLiteral(VT_PROGRAM_DIR "/Plugins"), home.filePath(QStringLiteral("Plugins"))));
    QFile ini(home.filePath(QStringLiteral("vantrel.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[Options]\nSaveFolder=%1\nSaveFilename=%y-%m-%d_%t\n"
                             "[Device]\nSampleRate=48000\n"
                             "[Encoder]\nName=%2\n")
                  .arg(home.filePath(QStringLiteral("rec")), encoder)
                  .toUtf8());
}

// Starts the program on the test display (offscreen without one).
void startProgram(QProcess &program, const QTemporaryDir &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (env.contains(QStringLiteral("DISPLAY")))
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(VT_PROGRAM_DIR "/vantrel"), {QStringLiteral("--home"), home.path()});
    QVERIFY(program.waitForStarted());
}

// The next whole second at least `ahead` seconds from now.
QDateTime wholeSecondAhead(int ahead)
{
    QDateTime t = QDateTime::currentDateTime().addSecs(ahead);
    return t.addMSecs(-t.time().msec());
}

}  // namespace

class TestScheduledRecording : public QObject {
    Q_OBJECT
public:
    // One case runs for five minutes, QtTest's default limit for a test function: read once,
    // before the first case, so it is raised here.
    TestScheduledRecording()
    {
        if (qEnvironmentVariableIsEmpty("QTEST_FUNCTION_TIMEOUT"))
            qputenv("QTEST_FUNCTION_TIMEOUT", "420000");
    }

private slots:
    void defaultScheduleStartsAndStopsRecordings()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the test sound server (PULSE_SERVER)");
        QTemporaryDir home;
        makeHome(home);

        // Whole seconds, so that the file names and the archive's seconds compare exactly.
        const QDateTime t0 = wholeSecondAhead(4);
        const QDateTime first = t0;                  // Record with a 6000 ms length
        const QDateTime second = t0.addSecs(10);     // Record without a length ...
        const QDateTime stop = t0.addSecs(15);       // ... ended by a Stop entry
        const std::vector<schedule::ScheduleEntry> entries = {
            entryAt(stop, 0, schedule::ActionStop), entryAt(first, 6000, schedule::ActionRecord),
            entryAt(second, 0, schedule::ActionRecord)};
        QVERIFY(schedule::writeScheduleFile(home.filePath(schedule::defaultScheduleFile()), entries));

        QProcess program;
        startProgram(program, home);

        const qint64 untilStopped = QDateTime::currentDateTime().msecsTo(stop) + 3000;
        QTest::qWait(int(untilStopped));
        QCOMPARE(program.state(), QProcess::Running);
        QVERIFY(program.processId() > 0);
        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 0);

        archive::Archive archive(archive::archiveIndexPath(home.path() + QStringLiteral("/")));
        QVERIFY(archive.load());
        const auto &records = archive.records();
        QCOMPARE(int(records.size()), 2);

        // Each starts within one tick of its time (the tick comes about once a second).
        const QDateTime started1 = core::fromDayCount(records[0].start);
        const QDateTime started2 = core::fromDayCount(records[1].start);
        QVERIFY2(first.secsTo(started1) >= 0 && first.secsTo(started1) <= 2, qPrintable(started1.toString()));
        QVERIFY2(second.secsTo(started2) >= 0 && second.secsTo(started2) <= 2, qPrintable(started2.toString()));

        // The length limit ended the first; the Stop entry ended the second.
        QVERIFY2(records[0].lengthSeconds >= 6 && records[0].lengthSeconds <= 7, qPrintable(QString::number(records[0].lengthSeconds)));
        const double d1 = testsupport::ffprobeDuration(records[0].path);
        QVERIFY2(d1 >= 6.0 && d1 <= 7.0, qPrintable(QString::number(d1)));
        const qint64 expected2 = started2.secsTo(stop);
        QVERIFY2(qAbs(records[1].lengthSeconds - expected2) <= 2, qPrintable(QString::number(records[1].lengthSeconds)));
        const double d2 = testsupport::ffprobeDuration(records[1].path);
        // The record keeps whole seconds, cut down; the encoder pads its last frame.
        const double over = d2 - records[1].lengthSeconds;
        QVERIFY2(over >= -0.1 && over < 1.1, qPrintable(QStringLiteral("%1 s in the file").arg(d2)));
    }

    // A Record entry every minute, none with a length, the way an hourly schedule runs: each
    // entry goes on from the one before without a break, so that together the files hold
    // every frame of the five "minutes" once, in order. VT_SCHEDULE_MINUTE sets the seconds
    // of such a minute: 60 for the real thing (5 minutes), 6 unless set, to keep the test
    // command short; the rule does not depend on the spacing.
    void recordEntriesAMinuteApartLoseNoFrame()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER") || !testsupport::TestSignal::isAvailable())
            QSKIP("needs the test sound server with its counting signal (PULSE_SERVER, VT_SOUND_DIR)");
        testsupport::TestSignal signal;
        QVERIFY(signal.set(QStringLiteral("count")));
        QTemporaryDir home;
        makeHome(home, QStringLiteral("WAV\nCmd=vtwav ::s\nExt=wav"));
        const int minute = qEnvironmentVariableIsSet("VT_SCHEDULE_MINUTE") ? qEnvironmentVariableIntValue("VT_SCHEDULE_MINUTE") : 6;
        const QDateTime t0 = wholeSecondAhead(4);
        std::vector<schedule::ScheduleEntry> entries;
        for (int m = 0; m < 5; ++m)
            entries.push_back(entryAt(t0.addSecs(minute * m), 0, schedule::ActionRecord));
        entries.push_back(entryAt(t0.addSecs(minute * 5), 0, schedule::ActionStop));
        QVERIFY(schedule::writeScheduleFile(home.filePath(schedule::defaultScheduleFile()), entries));

        QProcess program;
        startProgram(program, home);
        QTest::qWait(int(QDateTime::currentDateTime().msecsTo(t0.addSecs(minute * 5))) + 3000);
        QCOMPARE(program.state(), QProcess::Running);
        ::kill(pid_t(program.processId()), SIGTERM);
        QVERIFY(program.waitForFinished(30000));

        archive::Archive archive(archive::archiveIndexPath(home.path() + QStringLiteral("/")));
        QVERIFY(archive.load());
        QStringList files;
        for (const auto &record : archive.records())
            files << record.path;
        QCOMPARE(files.size(), 5);
        const testsupport::FrameCheckResult check = testsupport::checkCountedFrames(files);
        qInfo("%s", qPrintable(check.message));
        QVERIFY2(check.ok, qPrintable(check.message));
        QVERIFY2(qAbs(check.totalFrames / 48000.0 - minute * 5) < 3, qPrintable(check.message));
    }

    // The index is written when a recording finishes, not only at close: a program killed
    // outright afterwards has lost nothing, and its next start lists the recording.
    void killedProgramKeepsFinishedRecordings()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the test sound server (PULSE_SERVER)");
        QTemporaryDir home;
        makeHome(home);
        const QDateTime start = wholeSecondAhead(3);
        QVERIFY(schedule::writeScheduleFile(home.filePath(schedule::defaultScheduleFile()),
                                            {entryAt(start, 2000, schedule::ActionRecord)}));
        QProcess program;
        startProgram(program, home);
        QTest::qWait(int(QDateTime::currentDateTime().msecsTo(start)) + 5000);
        QCOMPARE(program.state(), QProcess::Running);
        program.kill();  // SIGKILL: no close, no save
        QVERIFY(program.waitForFinished(10000));

        archive::Archive archive(archive::archiveIndexPath(home.path() + QStringLiteral("/")));
        QVERIFY(archive.load());
        QCOMPARE(int(archive.records().size()), 1);
        QVERIFY(archive.records()[0].path.startsWith(home.filePath(QStringLiteral("rec/"))));
        QVERIFY(archive.records()[0].lengthSeconds >= 2);

        QProcess again;
        startProgram(again, home);
        QTest::qWait(1500);
        again.terminate();
        QVERIFY(again.waitForFinished(20000));
        archive::Archive reread(archive::archiveIndexPath(home.path() + QStringLiteral("/")));
        QVERIFY(reread.load());
        QCOMPARE(int(reread.records().size()), 1);  // kept by the next run's close too
    }
};

QTEST_GUILESS_MAIN(TestScheduledRecording)
#include "test_scheduled_recording.moc"
