#pragma once
// A test sound server of one test's own, for a test that stops and starts it: started by
// scripts/sound-server.sh in a temporary folder; PULSE_SERVER names it until the object goes,
// which stops it and names the shared server again.
#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace testsupport {

class PrivateSoundServer {
public:
    PrivateSoundServer() : m_saved(qgetenv("PULSE_SERVER"))
    {
        m_started = run("start");
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(m_state.filePath(QStringLiteral("pulse.sock"))));
    }
    ~PrivateSoundServer()
    {
        qputenv("PULSE_SERVER", m_saved);
        run("stop");
    }
    PrivateSoundServer(const PrivateSoundServer &) = delete;
    PrivateSoundServer &operator=(const PrivateSoundServer &) = delete;

    bool started() const { return m_started; }

    // A command of the script on this server: "start", "stop" (with the signal),
    // "start-server", "stop-server" (the server alone, on the same socket).
    bool run(const char *command)
    {
        // The script bounds each of its waits and says on standard error what did not start.
        QProcess p;
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral("bash"), {QStringLiteral(VT_SOURCE_DIR "/scripts/sound-server.sh"),
                                         QString::fromLatin1(command), m_state.path()});
        if (!p.waitForFinished(90000)) {
            qWarning("sound-server.sh %s in %s did not end within 90 s", command, qPrintable(m_state.path()));
            p.kill();
            p.waitForFinished();
            return false;
        }
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

private:
    QTemporaryDir m_state;
    QByteArray m_saved;
    bool m_started = false;
};

}  // namespace testsupport
