// Files cut clock-true by the real program (headless, its own WAV writer, the test sound
// server's counting signal), measured against a reference capture of the same signal: a
// file's first frame is the one captured at the second its schedule entry names (or the
// pre-roll before it, or the moment a record command arrived), by the reference within a
// few blocks of the server's, and by the program's own time base, which it writes into the
// event log, within a few milliseconds. A span exported from three such files (vantrel
// --export) joins them without a doubled or lost frame and begins with the frame captured
// at its FROM.
#include "app/RemoteCommands.h"
#include "core/DayCount.h"
#include "core/ProgramFiles.h"
#include "ledger/Ledger.h"
#include "schedule/ScheduleFile.h"
#include "support/ClockReference.h"
#include "support/FileCuts.h"
#include "support/FrameCheck.h"
#include "support/ProgramProcess.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

#include <sys/stat.h>

namespace {

const QString kProgram = QStringLiteral(VT_EXECUTABLE);
constexpr int kRate = 48000;

// A program folder recording WAV at 48 kHz into home/rec, with `options` in [Options].
void makeHome(const QTemporaryDir &home, const QByteArray &options = {})
{
    QVERIFY(QFile::link(QStringLiteral(VT_PROGRAM_DIR "/Plugins"), home.filePath(QStringLiteral("Plugins"))));
    QFile ini(home.filePath(QStringLiteral("vantrel.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[Options]\nSaveFolder=%1\n").arg(home.filePath(QStringLiteral("rec"))).toUtf8() + options
              + "\n[Device]\nSampleRate=48000\n[Encoder]\nName=WAV\nCmd=vtwav ::s\nExt=wav\n");
}

void writeSchedule(const QTemporaryDir &home, const std::vector<std::pair<QDateTime, qint32>> &records)
{
    std::vector<schedule::ScheduleEntry> entries;
    for (const auto &[when, lengthMs] : records) {
        schedule::ScheduleEntry entry;
        entry.time = core::toDayCount(when);
        entry.lengthMs = lengthMs;
        entry.action = schedule::ActionRecord;
        entries.push_back(entry);
    }
    QVERIFY(schedule::writeScheduleFile(home.filePath(schedule::defaultScheduleFile()), entries));
}

QDateTime wholeSecond(const QDateTime &t) { return t.addMSecs(-t.time().msec()); }

void waitUntil(const QDateTime &when)
{
    QTest::qWait(int(qMax<qint64>(0, QDateTime::currentDateTime().msecsTo(when))));
}

qint64 epochUs(const QDateTime &t) { return t.toMSecsSinceEpoch() * 1000; }

// Where the event log says the file begins, in ms from `planned`.
QString loggedError(const testsupport::FileCut &cut, const QDateTime &planned)
{
    return cut.begins.isValid() ? QStringLiteral("%1 ms").arg(planned.msecsTo(cut.begins))
                                : QStringLiteral("not said");
}

}  // namespace

class TestClockTrueCuts : public QObject {
    Q_OBJECT

    QTemporaryDir m_runtimeParent;
    QProcessEnvironment m_env;  // headless, with a runtime folder of this test's own
    testsupport::TestSignal m_signal;
    testsupport::ClockReference m_reference;

    // Starts the program headless on `home` and waits until it answers commands.
    bool start(QProcess &program, const QTemporaryDir &home)
    {
        program.setProcessEnvironment(m_env);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(kProgram, {QStringLiteral("--home"), home.path(), QStringLiteral("--headless")});
        if (!program.waitForStarted())
            return false;
        const QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired() && program.state() == QProcess::Running) {
            if (QFile::exists(app::commandSocketPath(home.path(), nullptr)))
                return true;
            QTest::qWait(20);
        }
        return false;
    }

    // The files the program wrote, with where the event log says each begins.
    static std::vector<testsupport::FileCut> fileCuts(const QTemporaryDir &home)
    {
        QString error;
        const auto cuts = testsupport::readFileCuts(home.filePath(QStringLiteral("Log/events.log")), &error);
        if (!error.isEmpty())
            qWarning("%s", qPrintable(error));
        return cuts;
    }

    // Runs the program with `args` on `home` to its end; its exit code, or -1. *err: what it
    // wrote to standard error.
    int runOnce(const QTemporaryDir &home, const QStringList &args, QString *err = nullptr)
    {
        QProcess run;
        run.setProcessEnvironment(m_env);
        run.start(kProgram, QStringList{QStringLiteral("--home"), home.path()} + args);
        if (!run.waitForFinished(60000) || run.exitStatus() != QProcess::NormalExit)
            return -1;
        if (err)
            *err = QString::fromLocal8Bit(run.readAllStandardError());
        return run.exitCode();
    }

    // How far (ms) the first frame of `file` was captured from `plannedUs` by the reference.
    double referenceErrorMs(const QString &file, qint64 plannedUs, QString *why)
    {
        quint32 first = 0;
        qint64 frames = 0;
        if (!testsupport::readFirstFrameNumber(file, &first, &frames, why))
            return qInf();
        const qint64 wallUs = m_reference.wallUsOf(first);
        if (wallUs < 0) {
            *why = QStringLiteral("the reference did not hear frame #%1").arg(first);
            return qInf();
        }
        return (wallUs - plannedUs) / 1000.0;
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER") || !testsupport::TestSignal::isAvailable())
            QSKIP("needs the test sound server with its counting signal (PULSE_SERVER, VT_SOUND_DIR)");
        QVERIFY(::chmod(QFile::encodeName(m_runtimeParent.path()).constData(), 0755) == 0);
        const QString runtime = m_runtimeParent.filePath(QStringLiteral("run"));
        QVERIFY(QDir().mkpath(runtime));
        QVERIFY(::chmod(QFile::encodeName(runtime).constData(), 0700) == 0);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));  // where the command socket is looked for
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.remove(QStringLiteral("DISPLAY"));
        m_env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        m_env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        QString error;
        QVERIFY2(m_signal.set(QStringLiteral("count"), &error), qPrintable(error));
        QVERIFY2(m_reference.start(&error), qPrintable(error));
    }

    void cleanupTestCase()
    {
        m_reference.stop();
        qInfo("%s", qPrintable(m_reference.summary()));
    }

    // Started half a second past a whole second, so that no tick falls on an entry's second:
    // three Record entries 13 s apart, the last with a length. Each file begins at its
    // entry's second, the files together hold every frame once, and the last ends at the
    // second its length names (the frame after it is the one captured then).
    void scheduledCutsFallOnTheirSeconds()
    {
        QTemporaryDir home;
        makeHome(home);
        QDateTime launch = wholeSecond(QDateTime::currentDateTime()).addMSecs(1500);
        const QDateTime first = wholeSecond(launch).addSecs(4);
        const QList<QDateTime> planned{first, first.addSecs(13), first.addSecs(26)};
        constexpr qint32 kLastLengthMs = 4000;
        writeSchedule(home, {{planned[0], 0}, {planned[1], 0}, {planned[2], kLastLengthMs}});
        waitUntil(launch);
        QProcess program;
        QVERIFY(start(program, home));
        waitUntil(planned[2].addMSecs(kLastLengthMs + 1500));
        QCOMPARE(testsupport::terminateProgram(program), 0);

        const auto cuts = fileCuts(home);
        QCOMPARE(int(cuts.size()), 3);
        QString figures, faults;
        QStringList files;
        for (int i = 0; i < 3; ++i) {
            QString why;
            const double byReference = referenceErrorMs(cuts[i].file, epochUs(planned[i]), &why);
            figures += QStringLiteral("file %1 begins %2 ms from %3 by the reference, %4 by the event log %5\n")
                           .arg(i + 1).arg(byReference, 0, 'f', 1).arg(planned[i].toString(QStringLiteral("HH:mm:ss")),
                                                                       loggedError(cuts[i], planned[i]), why);
            if (!(qAbs(byReference) <= 50 && cuts[i].begins.isValid() && qAbs(planned[i].msecsTo(cuts[i].begins)) <= 5))
                faults += QStringLiteral("file %1 ").arg(i + 1);
            files << cuts[i].file;
        }
        qInfo("%s", qPrintable(figures));
        QVERIFY2(faults.isEmpty(), qPrintable(faults + QStringLiteral("off its second (at most 50 ms by the "
                                                                      "reference, 5 ms by the event log):\n") + figures));
        // A break of the feed itself (a dry feed on a loaded PipeWire) is heard by both.
        const auto check = testsupport::checkCountedFrames(files, testsupport::FrameDelivery::ExactlyOnce, 0,
                                                           m_reference.breaksAfter());
        QVERIFY2(check.ok, qPrintable(check.message));
        quint32 firstNumber = 0;
        qint64 frames = 0;
        QString why;
        QVERIFY2(testsupport::readFirstFrameNumber(files[2], &firstNumber, &frames, &why), qPrintable(why));
        const qint64 endUs = m_reference.wallUsOf(firstNumber + quint32(frames));
        const double endError = (endUs - epochUs(planned[2].addMSecs(kLastLengthMs))) / 1000.0;
        QVERIFY2(endUs >= 0 && qAbs(endError) <= 50,
                 qPrintable(QStringLiteral("the limited file ends %1 ms from its second, %2 frames").arg(endError).arg(frames)));
    }

    // With a pre-roll of 5 s, a scheduled recording begins 5 s before its second.
    void preRollBeginsBeforeTheSecond()
    {
        QTemporaryDir home;
        makeHome(home, "PreRollSeconds=5");
        const QDateTime at = wholeSecond(QDateTime::currentDateTime()).addSecs(8);
        writeSchedule(home, {{at, 2000}});
        QProcess program;
        QVERIFY(start(program, home));
        waitUntil(at.addMSecs(2000 + 1500));
        QCOMPARE(testsupport::terminateProgram(program), 0);

        const auto cuts = fileCuts(home);
        QCOMPARE(int(cuts.size()), 1);
        QString why;
        const double error = referenceErrorMs(cuts[0].file, epochUs(at.addSecs(-5)), &why);
        const QString figures = QStringLiteral("the file begins %1 ms from 5 s before %2 by the reference, %3 by "
                                               "the event log %4")
                                    .arg(error, 0, 'f', 1)
                                    .arg(at.toString(QStringLiteral("HH:mm:ss")), loggedError(cuts[0], at.addSecs(-5)), why);
        qInfo("%s", qPrintable(figures));
        QVERIFY2(qAbs(error) <= 50, qPrintable(figures));
    }

    // A record command to an idle program: the file begins with the frame captured when the
    // request was written to the program's command socket.
    void recordCommandBeginsWhenItArrives()
    {
        QTemporaryDir home;
        makeHome(home);
        QProcess program;
        QVERIFY(start(program, home));
        QTest::qWait(1500);  // idle for a while, as a user would find it
        QLocalSocket socket;
        socket.connectToServer(app::commandSocketPath(home.path(), nullptr));
        QVERIFY2(socket.waitForConnected(5000), qPrintable(socket.errorString()));
        socket.write("record\n");
        QVERIFY(socket.flush());
        const qint64 sentUs = epochUs(QDateTime::currentDateTime());
        QByteArray answer;
        const QDeadlineTimer deadline(10000);
        // The answer comes once the recording runs: opening the capture may take a while.
        while (!answer.contains("\nend\n") && !deadline.hasExpired()) {
            socket.waitForReadyRead(100);
            answer += socket.readAll();
        }
        QVERIFY2(answer.contains("recording: yes\n"), answer.constData());
        QTest::qWait(2000);
        QVERIFY(runOnce(home, {QStringLiteral("--command"), QStringLiteral("stop")}) >= 0);
        QCOMPARE(testsupport::terminateProgram(program), 0);

        const auto cuts = fileCuts(home);
        QCOMPARE(int(cuts.size()), 1);
        QString why;
        const double error = referenceErrorMs(cuts[0].file, sentUs, &why);
        const QString figures = QStringLiteral("the file begins %1 ms from the command's arrival by the reference %2")
                                    .arg(error, 0, 'f', 1).arg(why);
        qInfo("%s", qPrintable(figures));
        QVERIFY2(qAbs(error) <= 150, qPrintable(figures));
    }

    // A recording by hand, changed to a new file twice (a record command while recording),
    // 10 s a file. --export of 3.25 s to 25.75 s after the first file's start, as the ledger
    // holds it: every frame once in order across both joins, 22.5 s of them, the first
    // captured at FROM by the reference.
    void exportJoinsTheFilesOfTwoChanges()
    {
        QTemporaryDir home;
        makeHome(home);
        QProcess program;
        QVERIFY(start(program, home));
        for (int file = 0; file < 3; ++file) {
            QCOMPARE(runOnce(home, {QStringLiteral("--command"), QStringLiteral("record")}), 0);
            QTest::qWait(10000);
        }
        QCOMPARE(runOnce(home, {QStringLiteral("--command"), QStringLiteral("stop")}), 0);
        QCOMPARE(testsupport::terminateProgram(program), 0);

        qint64 firstStartMs = 0;
        QStringList recorded;
        {
            ledger::Ledger ledger(home.filePath(core::files::ledger()), ledger::Ledger::Access::ReadOnly);
            const std::vector<ledger::FileEntry> files = ledger.files(0, std::numeric_limits<qint64>::max());
            QCOMPARE(int(files.size()), 3);
            firstStartMs = files.front().startMs;
            for (const ledger::FileEntry &file : files)
                recorded << file.path;
        }
        const qint64 fromMs = firstStartMs + 3250, toMs = firstStartMs + 25750;
        const QString out = home.filePath(QStringLiteral("span.wav"));
        QString err;
        QElapsedTimer took;
        took.start();
        const int status = runOnce(home, {QStringLiteral("--export"), ledger::localIsoText(fromMs),
                                          ledger::localIsoText(toMs), out}, &err);
        const qint64 tookMs = took.elapsed();
        QVERIFY2(status == 0, qPrintable(err));
        QVERIFY2(!err.contains(QStringLiteral("gap:")), qPrintable(err));

        const auto check = testsupport::checkCountedFrames({out}, testsupport::FrameDelivery::ExactlyOnce, 0,
                                                           m_reference.breaksAfter());
        quint32 first = 0;
        qint64 frames = 0;
        QString why;
        QVERIFY2(testsupport::readFirstFrameNumber(out, &first, &frames, &why), qPrintable(why));
        const qint64 wallUs = m_reference.wallUsOf(first);
        const double firstErrorMs = (wallUs - fromMs * 1000) / 1000.0;
        // Where the export fails the count, the recording itself tells whether it was cut that way.
        const QString recording = check.ok ? QString()
                                           : QStringLiteral("; the recorded files: ")
                                                 + testsupport::checkCountedFrames(recorded, testsupport::FrameDelivery::ExactlyOnce,
                                                                                   0, m_reference.breaksAfter()).message;
        const QString figures = QStringLiteral("export: %1; %2 frames in the file; its first frame captured %3 ms "
                                               "from FROM; 22.5 s exported in %4 ms%5")
                                    .arg(check.message).arg(frames).arg(firstErrorMs, 0, 'f', 1).arg(tookMs).arg(recording);
        qInfo("%s", qPrintable(figures));
        QVERIFY2(check.ok, qPrintable(figures));
        // The counted frames fall short of the file's by the zeros of the feed's own breaks.
        QVERIFY2(qAbs(frames - 22500 * 48) <= 40 * 48, qPrintable(figures));
        QVERIFY2(wallUs >= 0 && qAbs(firstErrorMs) <= 50, qPrintable(figures));
    }
};

QTEST_GUILESS_MAIN(TestClockTrueCuts)
#include "test_clock_true_cuts.moc"
