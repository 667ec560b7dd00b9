// The program without a window and the commands sent to a running instance, on the test
// sound server with the build's encoders: the real executable, started as a user would.
#include "archive/Archive.h"
#include "archive/ArchiveIndex.h"
#include "core/DayCount.h"
#include "schedule/ScheduleFile.h"
#include "support/Ffprobe.h"
#include "support/ProgramProcess.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kProgram = QStringLiteral(VT_EXECUTABLE);

struct Answer {
    int exitCode = -1;
    QString out;
    QString err;
};

// A program folder recording MP3 from `recDev` into home/rec, with `extra` appended to its ini.
void makeHome(const QTemporaryDir &home, int recDev = 0, const QByteArray &extra = {})
{
    QVERIFY(QFile::link(QStringLiteral(VT_PROGRAM_DIR "/Plugins"), home.filePath(QStringLiteral("Plugins"))));
    QFile ini(home.filePath(QStringLiteral("vantrel.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[Options]\nSaveFolder=%1\n[Device]\nRecDev=%2\nSampleRate=48000\n"
                             "[Encoder]\nName=MP3\nCmd=lame --quiet -b 128 - ::s\nExt=mp3\n")
                  .arg(home.filePath(QStringLiteral("rec")))
                  .arg(recDev)
                  .toUtf8()
              + extra);
}

archive::ArchiveList archivedRecords(const QTemporaryDir &home)
{
    archive::Archive archive(archive::archiveIndexPath(home.path() + QStringLiteral("/")));
    if (!archive.load())
        return {};
    return archive.records();
}

QDateTime wholeSecondAhead(int ahead)
{
    QDateTime t = QDateTime::currentDateTime().addSecs(ahead);
    return t.addMSecs(-t.time().msec());
}

void waitUntil(const QDateTime &when)
{
    QTest::qWait(int(qMax<qint64>(0, QDateTime::currentDateTime().msecsTo(when))));
}

}  // namespace

class TestHeadless : public QObject {
    Q_OBJECT

    QTemporaryDir m_runtimeParent;
    QProcessEnvironment m_env;  // no display; a runtime folder other users can see but not enter

    Answer run(const QStringList &arguments, const QStringList &runAs = {}, const QProcessEnvironment *env = nullptr)
    {
        QProcess p;
        p.setProcessEnvironment(env ? *env : m_env);
        if (runAs.isEmpty())
            p.start(kProgram, arguments);
        else
            p.start(runAs.first(), runAs.mid(1) + QStringList{kProgram} + arguments);
        if (!p.waitForFinished(30000))
            return {};
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }

    Answer command(const QTemporaryDir &home, const QString &word, const QStringList &runAs = {})
    {
        return run({QStringLiteral("--home"), home.path(), QStringLiteral("--command"), word}, runAs);
    }

    // Starts the program on `home` and waits until it answers commands.
    bool start(QProcess &program, const QTemporaryDir &home, const QProcessEnvironment &env,
               const QStringList &extra = {QStringLiteral("--headless")})
    {
        program.setProcessEnvironment(env);
        program.start(kProgram, QStringList{QStringLiteral("--home"), home.path()} + extra);
        if (!program.waitForStarted())
            return false;
        const QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired() && program.state() == QProcess::Running) {
            if (command(home, QStringLiteral("status")).exitCode == 0)
                return true;
            QTest::qWait(200);
        }
        qWarning("%s", program.readAllStandardError().constData());
        return false;
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the test sound server (PULSE_SERVER)");
        QVERIFY(::chmod(QFile::encodeName(m_runtimeParent.path()).constData(), 0755) == 0);
        const QString runtime = m_runtimeParent.filePath(QStringLiteral("run"));
        QVERIFY(QDir().mkpath(runtime));
        QVERIFY(::chmod(QFile::encodeName(runtime).constData(), 0700) == 0);
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.remove(QStringLiteral("DISPLAY"));
        m_env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        m_env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        m_env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    }

    // A schedule entry records without a display; record, status and stop reach the
    // instance; SIGTERM finishes and archives the running recording and keeps the window's
    // layout in the settings file as it was.
    void headlessRecordsTheScheduleAndTakesCommands()
    {
        QTemporaryDir home;
        const QByteArray layout = "[WindowPos]\nState=0\nX=10\nY=20\nW=600\nH=400\n";
        makeHome(home, 0, layout);
        const QDateTime at = wholeSecondAhead(4);
        schedule::ScheduleEntry entry;
        entry.time = core::toDayCount(at);
        entry.lengthMs = 5000;
        QVERIFY(schedule::writeScheduleFile(home.filePath(schedule::defaultScheduleFile()), {entry}));

        QProcess program;
        QVERIFY(start(program, home, m_env));
        waitUntil(at.addSecs(2));
        Answer status = command(home, QStringLiteral("status"));
        QCOMPARE(status.exitCode, 0);
        QVERIFY2(status.out.contains(QStringLiteral("recording: yes\n")), qPrintable(status.out));
        QVERIFY2(status.out.contains(QStringLiteral("file: ") + home.filePath(QStringLiteral("rec/"))),
                 qPrintable(status.out));
        QVERIFY2(status.out.contains(QStringLiteral("next entry: ") + at.toString(QStringLiteral("HH:mm:ss"))
                                     + QStringLiteral(" Record for 0:00:05\n")),
                 qPrintable(status.out));
        waitUntil(at.addSecs(8));
        QVERIFY(command(home, QStringLiteral("status")).out.contains(QStringLiteral("recording: no\n")));

        QVERIFY(command(home, QStringLiteral("record")).out.contains(QStringLiteral("recording: yes\n")));
        QTest::qWait(2000);
        const Answer stopped = command(home, QStringLiteral("stop"));
        QCOMPARE(stopped.exitCode, 0);
        QVERIFY(stopped.out.contains(QStringLiteral("recording: no\n")));
        QVERIFY(command(home, QStringLiteral("record")).out.contains(QStringLiteral("recording: yes\n")));
        QTest::qWait(2500);
        QCOMPARE(testsupport::terminateProgram(program), 0);

        const QString said = QString::fromUtf8(program.readAllStandardError());
        const QRegularExpression started(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d .*recording started: "),
                                         QRegularExpression::MultilineOption);
        QVERIFY2(said.count(started) == 3 && said.count(QStringLiteral("recording stopped: ")) == 3, qPrintable(said));

        const auto records = archivedRecords(home);
        QCOMPARE(int(records.size()), 3);
        QVERIFY2(records[0].lengthSeconds >= 5 && records[0].lengthSeconds <= 6,
                 qPrintable(QString::number(records[0].lengthSeconds)));
        const double last = testsupport::ffprobeDuration(records[2].path);
        QVERIFY2(last >= 2.0 && last < 4.0, qPrintable(QString::number(last)));

        QFile ini(home.filePath(QStringLiteral("vantrel.ini")));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QByteArray text = ini.readAll();
        QVERIFY2(text.contains(layout) && !text.contains("[Columns]"), text.constData());
    }

    void commandsReachAWindowInstance()
    {
        QTemporaryDir home;
        makeHome(home);
        QProcessEnvironment windowEnv = m_env;
        windowEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        QProcess window;
        QVERIFY(start(window, home, windowEnv, {}));
        // A second start brings the first's window to the front and leaves at once.
        QElapsedTimer clock;
        clock.start();
        const Answer second = run({QStringLiteral("--home"), home.path()}, {}, &windowEnv);
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY2(second.exitCode == 0, qPrintable(second.err));
        QByteArray said;
        QTRY_VERIFY2((said += window.readAllStandardError()).contains("window brought to the front"), said.constData());
        const Answer recording = command(home, QStringLiteral("record"));
        QVERIFY2(recording.out.contains(QStringLiteral("recording: yes\n")), qPrintable(recording.out));
        QTest::qWait(2000);
        QVERIFY(command(home, QStringLiteral("stop")).out.contains(QStringLiteral("recording: no\n")));
        QCOMPARE(testsupport::terminateProgram(window), 0);
        QCOMPARE(int(archivedRecords(home).size()), 1);
    }

    // The socket is found by another user (same runtime folder) but cannot be opened.
    void anotherUserCannotCommand()
    {
        if (::geteuid() != 0)
            QSKIP("runs the client as another user, which needs root");
        QTemporaryDir home;
        makeHome(home);
        QProcess program;
        QVERIFY(start(program, home, m_env));
        const Answer refused = command(home, QStringLiteral("record"),
                                       {QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                                        QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")});
        QVERIFY2(refused.exitCode == 1, qPrintable(refused.err));  // 3 would be "nothing runs"
        QVERIFY(command(home, QStringLiteral("status")).out.contains(QStringLiteral("recording: no\n")));
        QCOMPARE(testsupport::terminateProgram(program), 0);
    }

    void recordThatDoesNotStartFails()
    {
        QTemporaryDir home;
        makeHome(home, 99);
        QProcess program;
        QVERIFY(start(program, home, m_env));
        const Answer failed = command(home, QStringLiteral("record"));
        QCOMPARE(failed.exitCode, 1);
        QVERIFY2(failed.err.contains(QStringLiteral("device 99 not found")), qPrintable(failed.err));
        QCOMPARE(testsupport::terminateProgram(program), 0);
    }

    void commandWithoutInstanceOrUnknown()
    {
        QTemporaryDir home;
        const Answer none = command(home, QStringLiteral("status"));
        QCOMPARE(none.exitCode, 3);
        QCOMPARE(none.err.count(u'\n'), 1);
        QVERIFY2(none.err.contains(QStringLiteral("no Vantrel runs on")), qPrintable(none.err));
        QVERIFY(!QFile::exists(home.filePath(QStringLiteral("vantrel.lock"))));  // a client takes no lock
        const Answer unknown = command(home, QStringLiteral("play"));
        QCOMPARE(unknown.exitCode, 2);
        QVERIFY(unknown.err.contains(QStringLiteral("usage")));
    }

    // A second start is refused at once and leaves the first's files alone; the lock of a
    // killed instance does not keep the folder from the next.
    void oneHeadlessInstancePerFolder()
    {
        QTemporaryDir home;
        makeHome(home);
        QProcess first;
        QVERIFY(start(first, home, m_env));
        const auto snapshot = [&home] {
            QStringList files;
            for (QDirIterator it(home.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
                const QFileInfo info(it.next());
                files << info.filePath() + QString::number(info.size()) + info.lastModified().toString(Qt::ISODateWithMs);
            }
            return files;
        };
        const QStringList before = snapshot();

        // Also one that would open a window: the headless first has none to show, so the
        // second says who holds the folder, at once and without a box to click away.
        QProcessEnvironment windowEnv = m_env;
        windowEnv.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        for (const QProcessEnvironment &env : {m_env, windowEnv}) {
            QElapsedTimer clock;
            clock.start();
            const QStringList extra = &env == &m_env ? QStringList{QStringLiteral("--headless")} : QStringList{};
            const Answer second = run(QStringList{QStringLiteral("--home"), home.path()} + extra, {}, &env);
            QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(second.exitCode, 2);
            QVERIFY2(second.err.contains(QStringLiteral("process %1").arg(first.processId())), qPrintable(second.err));
        }
        QCOMPARE(snapshot(), before);

        first.kill();
        QVERIFY(first.waitForFinished(10000));
        QProcess third;
        QVERIFY(start(third, home, m_env));
        QCOMPARE(testsupport::terminateProgram(third), 0);
    }

    // vantrel.ini edited while the program runs: "reload" (and SIGHUP) apply it without
    // stopping the running recording, and the close keeps every key the program did not change.
    void settingsEditedWhileRunningAreReloadedAndKept()
    {
        QTemporaryDir home;
        makeHome(home, 0, "[Alarm]\nSilenceSeconds=0\n");
        QProcess program;
        QVERIFY(start(program, home, m_env));
        const Answer first = command(home, QStringLiteral("record"));
        QVERIFY2(first.out.contains(QStringLiteral("file: ") + home.filePath(QStringLiteral("rec/"))), qPrintable(first.out));

        const QString iniPath = home.filePath(QStringLiteral("vantrel.ini"));
        const auto edit = [&iniPath](const QByteArray &from, const QByteArray &to) {
            QFile ini(iniPath);
            QVERIFY(ini.open(QIODevice::ReadOnly));
            QByteArray text = ini.readAll();
            ini.close();
            QVERIFY2(text.contains(from), text.constData());
            text.replace(from, to);
            QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
            ini.write(text);
        };
        edit("/rec\n", "/rec2\n");
        const Answer reloaded = command(home, QStringLiteral("reload"));
        QVERIFY2(reloaded.exitCode == 0, qPrintable(reloaded.err));
        QVERIFY2(reloaded.out.contains(QStringLiteral("recording: yes\n")), qPrintable(reloaded.out));
        QVERIFY(command(home, QStringLiteral("stop")).out.contains(QStringLiteral("recording: no\n")));
        const Answer second = command(home, QStringLiteral("record"));
        QVERIFY2(second.out.contains(QStringLiteral("file: ") + home.filePath(QStringLiteral("rec2/"))), qPrintable(second.out));

        // A service's reload: the instance goes on, with the file read again.
        edit("SilenceSeconds=0", "SilenceSeconds=7");
        ::kill(pid_t(program.processId()), SIGHUP);
        QByteArray said;
        QTRY_VERIFY((said += program.readAllStandardError()).count("reloaded the settings") == 2);
        QVERIFY(command(home, QStringLiteral("status")).out.contains(QStringLiteral("recording: yes\n")));

        edit("SilenceSeconds=7", "SilenceSeconds=9");  // not reloaded: the close must keep it
        QCOMPARE(testsupport::terminateProgram(program), 0);
        QFile ini(iniPath);
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QByteArray text = ini.readAll();
        QVERIFY2(text.contains("SilenceSeconds=9\n") && text.contains("/rec2\n"), text.constData());
        QCOMPARE(int(archivedRecords(home).size()), 2);
    }

    // Two folders, two instances, each recording its own source of the test server.
    void twoInstancesRecordTwoSources()
    {
        QTemporaryDir scratch;
        const QString devices = run({QStringLiteral("--home"), scratch.path(), QStringLiteral("--list-devices")}).out;
        const QString recording = devices.mid(devices.indexOf(QStringLiteral("Recording devices")));
        const auto number = [&recording](const char *name) {
            const auto match = QRegularExpression(QStringLiteral("  (\\d+)  Monitor of %1\n").arg(QLatin1String(name)))
                                   .match(recording);
            return match.hasMatch() ? match.captured(1).toInt() : -1;
        };
        const int src = number("vtsrc"), out = number("vtout");
        QVERIFY2(src > 0 && out > 0, qPrintable(devices));

        QTemporaryDir homeA, homeB;
        makeHome(homeA, src);
        makeHome(homeB, out);
        QProcess a, b;
        QVERIFY(start(a, homeA, m_env));
        QVERIFY(start(b, homeB, m_env));
        QVERIFY(command(homeA, QStringLiteral("record")).out.contains(QStringLiteral("recording: yes\n")));
        QVERIFY(command(homeB, QStringLiteral("record")).out.contains(QStringLiteral("recording: yes\n")));
        QTest::qWait(2500);

        // Each capture stream reads its own source: the second column of the short list.
        QProcess pactl;
        pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("source-outputs"), QStringLiteral("short")});
        QVERIFY(pactl.waitForFinished(10000));
        QSet<QString> sources;
        for (const QString &line : QString::fromUtf8(pactl.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts))
            sources << line.split(u'\t').value(1);
        QCOMPARE(sources.size(), 2);

        QCOMPARE(testsupport::terminateProgram(a), 0);
        QCOMPARE(testsupport::terminateProgram(b), 0);
        // Only the source fed in real time is held to its length: the monitor of the idle
        // sink vtout delivers about half of it (parec too).
        for (const QTemporaryDir *home : {&homeA, &homeB}) {
            const auto records = archivedRecords(*home);
            QCOMPARE(int(records.size()), 1);
            QVERIFY(records[0].path.startsWith(home->filePath(QStringLiteral("rec/"))));
            const double held = testsupport::ffprobeDuration(records[0].path);
            QVERIFY2(held >= (home == &homeA ? 2.0 : 0.5), qPrintable(QString::number(held)));
        }
    }
};

QTEST_GUILESS_MAIN(TestHeadless)
#include "test_headless.moc"
