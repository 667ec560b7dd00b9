#include "app/RemoteCommands.h"

#include "app/Logging.h"
#include "app/Recorder.h"
#include "core/TextLimits.h"
#include "recording/RecordingSession.h"
#include "schedule/ScheduleEntry.h"
#include "schedule/ScheduleList.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

namespace {

constexpr int kLongestRequest = 64;     // bytes; the longest command is six letters
constexpr int kConnectMs = 3000;
constexpr int kAnswerMs = 30000;        // a start opens the capture and the encoder
const QByteArray kEndLine = QByteArrayLiteral("end");

void say(const QString &text)
{
    std::fprintf(stderr, "vantrel: %s\n", qPrintable(text));
}

// One "key: value" line; a value never breaks the one-line framing.
QString reportLine(const char *key, QString value)
{
    value.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return QLatin1String(key) + QStringLiteral(": ") + value;
}

// /tmp/vantrel-<uid>, made for this user alone: a folder someone else made, or one others
// may enter, could hand our commands to their server, so it is refused.
QString privateTmpFolder(QString *error)
{
    const uid_t uid = ::geteuid();
    const QByteArray path = "/tmp/vantrel-" + QByteArray::number(uint(uid));
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("cannot make %1: %2").arg(QString::fromLocal8Bit(path), QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    struct stat st = {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid || (st.st_mode & 077) != 0) {
        *error = QStringLiteral("%1 is not a private folder of this user").arg(QString::fromLocal8Bit(path));
        return {};
    }
    return QString::fromLocal8Bit(path);
}

// The user id of the process at the other end, or -1 when the system does not say.
qint64 peerUid(const QLocalSocket *peer)
{
    struct ucred cred = {};
    socklen_t size = sizeof cred;
    if (::getsockopt(int(peer->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0)
        return -1;
    return qint64(cred.uid);
}

}  // namespace

std::optional<RemoteCommand> parseRemoteCommand(const QString &word)
{
    if (word == QLatin1String("record"))
        return RemoteCommand::Record;
    if (word == QLatin1String("stop"))
        return RemoteCommand::Stop;
    if (word == QLatin1String("status"))
        return RemoteCommand::Status;
    return std::nullopt;
}

QString commandSocketPath(const QString &programFolder, QString *error)
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        folder = privateTmpFolder(error);
    if (folder.isEmpty())
        return {};
    // The same folder reached through a link or with a trailing slash is the same instance.
    const QFileInfo info(programFolder);
    QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty())
        canonical = info.absoluteFilePath();
    const QByteArray hash = QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return folder + QStringLiteral("/vantrel-") + QString::fromLatin1(hash) + QStringLiteral(".sock");
}

int nextScheduleRow(const schedule::ScheduleList &list, const QTime &now)
{
    const int nowMs = now.msecsSinceStartOfDay();
    int laterToday = -1;
    int earliest = -1;
    for (int row = 0; row < list.count(); ++row) {
        const int ms = list.timeOfDayMsAt(row);
        if (ms > nowMs && (laterToday < 0 || ms < list.timeOfDayMsAt(laterToday)))
            laterToday = row;
        if (earliest < 0 || ms < list.timeOfDayMsAt(earliest))
            earliest = row;
    }
    return laterToday >= 0 ? laterToday : earliest;
}

QStringList statusReport(Recorder &recorder, const QDateTime &now)
{
    const bool recording = recorder.isRecording();
    QString next = QStringLiteral("none");
    const schedule::ScheduleList &list = recorder.scheduleModel().list();
    if (const int row = nextScheduleRow(list, now.time()); row >= 0) {
        // The built-in words, not the language's: scripts read this.
        const schedule::ScheduleEntry &entry = list.at(row);
        const schedule::ActionTexts words;
        next = schedule::cellText(entry, schedule::TimeColumn, words) + QLatin1Char(' ')
               + schedule::cellText(entry, schedule::ActionColumn, words);
        if (schedule::recordingLimitMs(entry) > 0)
            next += QStringLiteral(" for ") + schedule::cellText(entry, schedule::LengthColumn, words);
    }
    // A recording whose capture is lost waits for it: it records nothing meanwhile.
    const QString recordingWord = !recording                           ? QStringLiteral("no")
                                  : recorder.session().captureLost() ? QStringLiteral("no (capture lost, retrying)")
                                                                     : QStringLiteral("yes");
    return {reportLine("recording", recordingWord),
            reportLine("status", recorder.status().text),
            reportLine("file", recording ? recorder.currentFile() : QStringLiteral("none")),
            reportLine("elapsed", core::formatHms(recording ? recorder.elapsedSeconds() : 0)),
            reportLine("disk left", recorder.remainingText()),
            reportLine("next entry", next)};
}

// ---- server --------------------------------------------------------------------------

CommandServer::CommandServer(Recorder &recorder, QObject *parent)
    : QObject(parent), m_recorder(recorder), m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &CommandServer::accept);
}

CommandServer::~CommandServer() = default;

bool CommandServer::listen(const QString &programFolder, QString *error)
{
    QString why;
    const QString path = commandSocketPath(programFolder, &why);
    if (!path.isEmpty()) {
        QLocalServer::removeServer(path);
        if (m_server->listen(path))
            return true;
        why = QStringLiteral("cannot listen on %1: %2").arg(path, m_server->errorString());
    }
    if (error)
        *error = QStringLiteral("commands from the command line are off (%1)").arg(why);
    return false;
}

QString CommandServer::socketPath() const
{
    return m_server->fullServerName();
}

void CommandServer::accept()
{
    while (QLocalSocket *peer = m_server->nextPendingConnection()) {
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        const qint64 uid = peerUid(peer);
        if (uid != qint64(::geteuid())) {
            qCWarning(lcApp).noquote() << QStringLiteral("refused a command from user id %1 (only %2 may send them)")
                                              .arg(uid).arg(::geteuid());
            peer->abort();
            peer->deleteLater();
            continue;
        }
        connect(peer, &QLocalSocket::readyRead, this, [this, peer] { answer(peer); });
    }
}

void CommandServer::answer(QLocalSocket *peer)
{
    const bool whole = peer->canReadLine();
    if (!whole && peer->bytesAvailable() <= kLongestRequest)
        return;  // the rest of the line is on its way
    disconnect(peer, &QLocalSocket::readyRead, this, nullptr);  // one request per connection
    if (!whole) {
        peer->write("error: request too long\n" + kEndLine + '\n');
        peer->disconnectFromServer();
        return;
    }
    const QString word = QString::fromUtf8(peer->readLine(kLongestRequest + 1)).trimmed();
    const auto command = parseRemoteCommand(word);
    QByteArray reply;
    if (!command) {
        reply = "error: unknown command\n";
    } else if (m_recorder.isClosed()) {
        reply = "error: Vantrel is closing\n";
    } else {
        // Said like the menu's commands would be; a status query (a script may poll) is not.
        if (*command != RemoteCommand::Status)
            qCInfo(lcApp).noquote() << "command from the command line:" << word;
        if (*command == RemoteCommand::Record) {
            m_recorder.record();
            if (!m_recorder.isRecording())  // the client says so and exits non-zero
                reply = reportLine("error", QStringLiteral("the recording did not start: ") + m_recorder.status().text)
                            .toUtf8() + '\n';
        } else if (*command == RemoteCommand::Stop) {
            m_recorder.stop();
        }
        for (const QString &line : statusReport(m_recorder, QDateTime::currentDateTime()))
            reply += line.toUtf8() + '\n';
    }
    peer->write(reply + kEndLine + '\n');
    peer->disconnectFromServer();  // after the answer is written
}

// ---- client --------------------------------------------------------------------------

int runRemoteCommand(const QString &word, const QString &programFolder)
{
    if (!parseRemoteCommand(word)) {
        say(QStringLiteral("unknown command \"%1\"").arg(word));
        std::fprintf(stderr, "usage: vantrel --command record|stop|status [--home DIR]\n");
        return kCommandUsage;
    }
    QString error;
    const QString path = commandSocketPath(programFolder, &error);
    if (path.isEmpty()) {
        say(error);
        return kCommandFailed;
    }
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(kConnectMs)) {
        if (socket.error() == QLocalSocket::ServerNotFoundError
            || socket.error() == QLocalSocket::ConnectionRefusedError) {
            say(QStringLiteral("no Vantrel runs on %1").arg(programFolder));
            return kCommandNoInstance;
        }
        say(QStringLiteral("cannot reach the Vantrel on %1: %2").arg(programFolder, socket.errorString()));
        return kCommandFailed;
    }
    socket.write(word.toUtf8() + '\n');
    socket.flush();

    QList<QByteArray> lines;
    bool ended = false;
    const QDeadlineTimer deadline(kAnswerMs);
    const auto takeLines = [&] {
        while (!ended && socket.canReadLine()) {
            const QByteArray line = socket.readLine().trimmed();
            ended = line == kEndLine;
            if (!ended)
                lines << line;
        }
    };
    // The server closes right after "end": what it wrote is still read after the close.
    for (takeLines(); !ended && socket.waitForReadyRead(int(deadline.remainingTime()));)
        takeLines();
    takeLines();
    if (!ended) {
        say(QStringLiteral("the Vantrel on %1 gave no answer").arg(programFolder));
        return kCommandFailed;
    }
    int status = kCommandDone;
    for (const QByteArray &line : lines) {
        if (line.startsWith("error: ")) {
            say(QString::fromUtf8(line));
            status = kCommandFailed;
        } else {
            std::fprintf(stdout, "%s\n", line.constData());
        }
    }
    return status;
}

}  // namespace app
