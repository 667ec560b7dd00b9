// The vantrel executable as a user starts it.
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
};

QTEST_GUILESS_MAIN(TestProgram)
#include "test_program.moc"
