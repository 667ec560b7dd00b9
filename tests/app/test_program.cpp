// The vantrel executable as a user starts it.
#include "support/Ffprobe.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

// The program as a user starts it: on the X display when there is one, else offscreen.
QProcessEnvironment windowEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (env.contains(QStringLiteral("DISPLAY")))
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    else
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

// A schedule file entry: day count, length in ms, action (1 Record, 2 Stop), little-endian.
QByteArray scheduleRecord(const QDateTime &when, qint32 lengthMs, qint32 action)
{
    const double days = QDate(1899, 12, 30).daysTo(when.date()) + when.time().msecsSinceStartOfDay() / 86400000.0;
    QByteArray out(16, '\0');
    qToLittleEndian(days, out.data());
    qToLittleEndian(lengthMs, out.data() + 8);
    qToLittleEndian(action, out.data() + 12);
    return out;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

}  // namespace

class TestProgram : public QObject {
    Q_OBJECT
private slots:
    void listDevicesNumbersTheServersDevices()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the test sound server (PULSE_SERVER)");
        QTemporaryDir home;
        QProcess p;
        p.start(QStringLiteral(VT_EXECUTABLE), {QStringLiteral("--home"), home.path(), QStringLiteral("--list-devices")});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 0);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const int recording = out.indexOf(QStringLiteral("Recording devices"));
        QVERIFY2(recording > 0, qPrintable(out));
        const QString playback = out.left(recording);
        const QString rec = out.mid(recording);
        QVERIFY2(playback.contains(QStringLiteral("  0  No sound\n")), qPrintable(out));
        QVERIFY2(playback.contains(QStringLiteral("  1  Default\n")), qPrintable(out));
        QVERIFY2(playback.contains(QStringLiteral("vtout")), qPrintable(out));
        QVERIFY2(rec.contains(QStringLiteral("  0  Default\n")), qPrintable(out));
        QVERIFY2(rec.contains(QStringLiteral("vtsrc")), qPrintable(out));
    }

    void noDisplayIsSaidInOneLine()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        QTemporaryDir home;
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(VT_EXECUTABLE), {QStringLiteral("--home"), home.path()});
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 1);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(err.count(u'\n'), 1);
        QVERIFY(err.contains(QStringLiteral("no display")));
    }

    void terminationSignalClosesTheWindowNormally()
    {
        QTemporaryDir home;
        QProcess p;
        p.setProcessEnvironment(windowEnvironment());
        p.start(QStringLiteral(VT_EXECUTABLE), {QStringLiteral("--home"), home.path()});
        QVERIFY(p.waitForStarted());
        QTest::qWait(1500);
        QCOMPARE(p.state(), QProcess::Running);
        QVERIFY(p.processId() > 0);
        QVERIFY(!QFile::exists(home.filePath(QStringLiteral("vantrel.ini"))));
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(QFile::exists(home.filePath(QStringLiteral("vantrel.ini"))));
    }

    // A second start on a folder in use is refused (it names the holder), and a lock left by
    // a killed instance does not keep the folder from being used again.
    void oneInstancePerProgramFolder()
    {
        QTemporaryDir home;
        const QString lockPath = home.filePath(QStringLiteral("vantrel.lock"));
        QProcess first;
        first.setProcessEnvironment(windowEnvironment());
        first.start(QStringLiteral(VT_EXECUTABLE), {QStringLiteral("--home"), home.path()});
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lockPath), 10000);

        // Without a display the refused start has no message box to wait on.
        QProcessEnvironment headless = QProcessEnvironment::systemEnvironment();
        headless.remove(QStringLiteral("DISPLAY"));
        headless.remove(QStringLiteral("QT_QPA_PLATFORM"));
        QProcess second;
        second.setProcessEnvironment(headless);
        second.start(QStringLiteral(VT_EXECUTABLE), {QStringLiteral("--home"), home.path()});
        QVERIFY(second.waitForFinished(10000));
        QVERIFY(second.exitCode() != 0);
        const QString said = QString::fromUtf8(second.readAllStandardError());
        QVERIFY2(said.contains(QStringLiteral("process %1").arg(first.processId())), qPrintable(said));
        QCOMPARE(first.state(), QProcess::Running);

        ::kill(pid_t(first.processId()), SIGKILL);
        QVERIFY(first.waitForFinished(10000));
        QVERIFY(QFile::exists(lockPath));  // left behind by the killed instance
        QProcess third;
        third.setProcessEnvironment(windowEnvironment());
        third.start(QStringLiteral(VT_EXECUTABLE), {QStringLiteral("--home"), home.path()});
        QVERIFY(third.waitForStarted());
        QTest::qWait(1500);
        QCOMPARE(third.state(), QProcess::Running);
        ::kill(pid_t(third.processId()), SIGTERM);
        QVERIFY(third.waitForFinished(20000));
        QCOMPARE(third.exitCode(), 0);
        QVERIFY(!QFile::exists(lockPath));
    }

    // Killed while recording: the next start archives the file with the length it holds.
    void killedRecordingIsArchivedAtTheNextStart()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("needs the test sound server (PULSE_SERVER)");
        QTemporaryDir home;
        QVERIFY(QFile::link(QStringLiteral(VT_PROGRAM_DIR "/Plugins"), home.filePath(QStringLiteral("Plugins"))));
        QVERIFY(writeFile(home.filePath(QStringLiteral("vantrel.ini")),
                          QStringLiteral("[Options]\nSaveFolder=%1\n[Device]\nSampleRate=48000\n"
                                         "[Encoder]\nName=MP3\nCmd=lame --quiet -b 128 - ::s\nExt=mp3\n")
                              .arg(home.filePath(QStringLiteral("rec")))
                              .toUtf8()));
        // Record, killed 4 s later; the Stop entry has passed when the program starts again.
        QDateTime start = QDateTime::currentDateTime().addSecs(3);
        start = start.addMSecs(-start.time().msec());
        QVERIFY(writeFile(home.filePath(QStringLiteral("Presets/Vantrel/Default.vts")),
                          scheduleRecord(start, 0, 1) + scheduleRecord(start.addSecs(6), 0, 2)));

        QProcess first;
        first.setProcessEnvironment(windowEnvironment());
        first.start(QStringLiteral(VT_EXECUTABLE), {QStringLiteral("--home"), home.path()});
        QVERIFY(first.waitForStarted());
        QTest::qWait(int(QDateTime::currentDateTime().msecsTo(start)) + 4000);
        QCOMPARE(first.state(), QProcess::Running);
        first.kill();
        QVERIFY(first.waitForFinished(10000));
        const QStringList files = QDir(home.filePath(QStringLiteral("rec"))).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        const QString file = home.filePath(QStringLiteral("rec/") + files.first());

        QTest::qWait(int(QDateTime::currentDateTime().msecsTo(start.addSecs(7))));
        QProcess again;
        again.setProcessEnvironment(windowEnvironment());
        again.start(QStringLiteral(VT_EXECUTABLE), {QStringLiteral("--home"), home.path()});
        QVERIFY(again.waitForStarted());
        QTest::qWait(2000);
        ::kill(pid_t(again.processId()), SIGTERM);
        QVERIFY(again.waitForFinished(20000));

        QFile index(home.filePath(QStringLiteral("Log/VantrelArchive.ini")));
        QVERIFY(index.open(QIODevice::ReadOnly));
        const QByteArray text = index.readAll();
        QCOMPARE(text.count("\nFilename="), 1);
        QVERIFY2(text.contains("\nFilename=" + file.toUtf8() + '\n'), text.constData());
        const qsizetype at = text.indexOf("\nLength=") + 8;
        const int length = text.mid(at, text.indexOf('\n', at) - at).toInt();
        const double held = testsupport::ffprobeDuration(file);
        QVERIFY2(held > 2.5 && qAbs(held - length) <= 1.0, qPrintable(QStringLiteral("%1 / %2").arg(length).arg(held)));
        QVERIFY(!QFile::exists(home.filePath(QStringLiteral("Log/RecordingJournal.ini"))));
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "test_program.moc"
