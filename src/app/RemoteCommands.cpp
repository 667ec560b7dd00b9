#include "app/RemoteCommands.h"

#include "app/Logging.h"
#include "app/Recorder.h"
#include "core/TextLimits.h"
#include "recording/RecordingSession.h"
#include "schedule/ScheduleEntry.h"
#include "schedule/ScheduleList.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace app {

namespace {

constexpr int kLongestRequest = 64;     // bytes; the longest command is six letters
constexpr int kDescriptorRetryMs = 250;
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
qint64 peerUid(int fd)
{
    struct ucred cred = {};
    socklen_t size = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) != 0)
        return -1;
    return qint64(cred.uid);
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A listening stream socket at `path`, open to its owner only; -1 with *error otherwise.
int listenAt(const QString &path, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (size_t(name.size()) >= sizeof address.sun_path) {
        *error = QStringLiteral("%1 is too long for a socket path").arg(path);
        return -1;
    }
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *error = systemError(errno);
        return -1;
    }
    ::unlink(name.constData());  // left by a killed instance
    // The file is made without rights for others: a client of another user never gets in,
    // and the peer check below stands behind that.
    const mode_t oldMask = ::umask(077);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::umask(oldMask);
    if (!bound || ::listen(fd, SOMAXCONN) != 0) {
        *error = systemError(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

bool descriptorsExhausted(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
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
    if (word == QLatin1String("reload"))
        return RemoteCommand::Reload;
    if (word == QLatin1String("show"))
        return RemoteCommand::Show;
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

QByteArray answerRemoteCommand(Recorder &recorder, RemoteCommand command, const std::function<void()> &showWindow)
{
    if (recorder.isClosed())
        return "error: Vantrel is closing\n";
    QByteArray reply;
    switch (command) {
    case RemoteCommand::Record:
        recorder.record();
        if (!recorder.isRecording())  // the client says so and exits non-zero
            reply = reportLine("error", QStringLiteral("the recording did not start: ") + recorder.status().text)
                        .toUtf8() + '\n';
        break;
    case RemoteCommand::Stop:
        recorder.stop();
        break;
    case RemoteCommand::Reload: {
        QString error;
        if (!recorder.reloadFiles(&error))
            reply = reportLine("error", error).toUtf8() + '\n';
        break;
    }
    case RemoteCommand::Show:
        if (!showWindow)
            return reportLine("error", QStringLiteral("this Vantrel runs without a window (process %1)")
                                           .arg(QCoreApplication::applicationPid()))
                       .toUtf8() + '\n';
        showWindow();
        return "shown: yes\n";
    case RemoteCommand::Status:
        break;
    }
    for (const QString &line : statusReport(recorder, QDateTime::currentDateTime()))
        reply += line.toUtf8() + '\n';
    return reply;
}

CommandServer::CommandServer(Recorder &recorder, QObject *parent)
    : CommandServer(Handler(), parent)
{
    m_handler = [this, &recorder](RemoteCommand command) {
        return answerRemoteCommand(recorder, command, m_showWindow);
    };
}

CommandServer::CommandServer(Handler handler, QObject *parent)
    : QObject(parent), m_handler(std::move(handler)), m_descriptorRetry(new QTimer(this))
{
    m_descriptorRetry->setSingleShot(true);
    m_descriptorRetry->setInterval(kDescriptorRetryMs);
    connect(m_descriptorRetry, &QTimer::timeout, this, &CommandServer::acceptPending);
}

CommandServer::~CommandServer()
{
    closeListener();
}

void CommandServer::closeListener()
{
    if (m_listenFd < 0)
        return;
    delete m_notifier;
    m_notifier = nullptr;
    ::close(m_listenFd);
    m_listenFd = -1;
    ::unlink(QFile::encodeName(m_path).constData());
}

bool CommandServer::listen(const QString &programFolder, QString *error)
{
    closeListener();
    QString why;
    m_path = commandSocketPath(programFolder, &why);
    if (!m_path.isEmpty()) {
        m_listenFd = listenAt(m_path, &why);
        if (m_listenFd >= 0) {
            m_notifier = new QSocketNotifier(qintptr(m_listenFd), QSocketNotifier::Read, this);
            connect(m_notifier, &QSocketNotifier::activated, this, &CommandServer::acceptPending);
            return true;
        }
        why = QStringLiteral("cannot listen on %1: %2").arg(m_path, why);
    }
    if (error)
        *error = QStringLiteral("commands from the command line are off (%1)").arg(why);
    return false;
}

// Takes connections while there is room; the notifier is off while all kMaxPeers are being
// served or no descriptor is left, so that the rest wait in the backlog without a busy loop.
void CommandServer::acceptPending()
{
    if (m_listenFd < 0)
        return;
    while (m_peers < kMaxPeers) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            serve(fd);
            continue;
        }
        const int error = errno;
        if (error == EINTR || error == ECONNABORTED)
            continue;
        if (descriptorsExhausted(error)) {
            if (!m_waitingForDescriptors)
                qCWarning(lcApp).noquote()
                    << QStringLiteral("cannot take a command connection (%1); waiting for a free file descriptor")
                           .arg(systemError(error));
            m_waitingForDescriptors = true;
            m_notifier->setEnabled(false);
            m_descriptorRetry->start();
            return;
        }
        if (error != EAGAIN && error != EWOULDBLOCK) {
            qCWarning(lcApp).noquote() << "cannot take a command connection:" << systemError(error);
        } else if (m_waitingForDescriptors) {  // every waiting connection has been taken
            m_waitingForDescriptors = false;
            qCInfo(lcApp).noquote() << "command connections are taken again";
        }
        break;
    }
    m_notifier->setEnabled(m_peers < kMaxPeers);
}

void CommandServer::serve(int fd)
{
    const qint64 uid = peerUid(fd);
    if (uid != qint64(::geteuid())) {
        qCWarning(lcApp).noquote() << QStringLiteral("refused a command from user id %1 (only %2 may send them)")
                                          .arg(uid).arg(::geteuid());
        ::close(fd);
        return;
    }
    auto *peer = new QLocalSocket(this);
    if (!peer->setSocketDescriptor(fd)) {
        ::close(fd);
        delete peer;
        return;
    }
    ++m_peers;
    connect(peer, &QObject::destroyed, this, &CommandServer::peerGone);
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    connect(peer, &QLocalSocket::readyRead, this, [this, peer] { answer(peer); });
    // A client that never finishes its request would hold its place for ever.
    QTimer::singleShot(m_requestTimeoutMs, peer, [peer] {
        if (peer->property("answered").toBool())
            return;
        peer->abort();
        peer->deleteLater();
    });
}

void CommandServer::peerGone()
{
    --m_peers;
    if (m_notifier && !m_descriptorRetry->isActive())
        QTimer::singleShot(0, this, &CommandServer::acceptPending);
}

void CommandServer::answer(QLocalSocket *peer)
{
    const bool whole = peer->canReadLine();
    if (!whole && peer->bytesAvailable() <= kLongestRequest)
        return;  // the rest of the line is on its way
    disconnect(peer, &QLocalSocket::readyRead, this, nullptr);  // one request per connection
    peer->setProperty("answered", true);
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
    } else {
        // Said like the menu's commands would be; a status query (a script may poll) is not.
        if (*command != RemoteCommand::Status)
            qCInfo(lcApp).noquote() << "command from the command line:" << word;
        reply = m_handler(*command);
    }
    peer->write(reply + kEndLine + '\n');
    peer->disconnectFromServer();  // after the answer is written
}

// ---- client --------------------------------------------------------------------------

namespace {

enum class Exchange { Answered, NoInstance, Unreachable, NoAnswer };

// Sends `word` and reads the answer lines up to "end" within `timeoutMs` in all.
Exchange exchange(const QString &path, const QString &word, int timeoutMs, QList<QByteArray> *lines, QString *why)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(int(qMin<qint64>(kConnectMs, deadline.remainingTime())))) {
        *why = socket.errorString();
        return socket.error() == QLocalSocket::ServerNotFoundError
                       || socket.error() == QLocalSocket::ConnectionRefusedError
                   ? Exchange::NoInstance
                   : Exchange::Unreachable;
    }
    socket.write(word.toUtf8() + '\n');
    socket.flush();

    bool ended = false;
    const auto takeLines = [&] {
        while (!ended && socket.canReadLine()) {
            const QByteArray line = socket.readLine().trimmed();
            ended = line == kEndLine;
            if (!ended)
                lines->append(line);
        }
    };
    // The server closes right after "end": what it wrote is still read after the close.
    for (takeLines(); !ended && socket.waitForReadyRead(int(deadline.remainingTime()));)
        takeLines();
    takeLines();
    return ended ? Exchange::Answered : Exchange::NoAnswer;
}

}  // namespace

int runRemoteCommand(const QString &word, const QString &programFolder)
{
    if (!parseRemoteCommand(word)) {
        say(QStringLiteral("unknown command \"%1\"").arg(word));
        std::fprintf(stderr, "usage: vantrel --command record|stop|status|reload|show [--home DIR]\n");
        return kCommandUsage;
    }
    QString error;
    const QString path = commandSocketPath(programFolder, &error);
    if (path.isEmpty()) {
        say(error);
        return kCommandFailed;
    }
    QList<QByteArray> lines;
    switch (exchange(path, word, kAnswerMs, &lines, &error)) {
    case Exchange::NoInstance:
        say(QStringLiteral("no Vantrel runs on %1").arg(programFolder));
        return kCommandNoInstance;
    case Exchange::Unreachable:
        say(QStringLiteral("cannot reach the Vantrel on %1: %2").arg(programFolder, error));
        return kCommandFailed;
    case Exchange::NoAnswer:
        say(QStringLiteral("the Vantrel on %1 gave no answer").arg(programFolder));
        return kCommandFailed;
    case Exchange::Answered:
        break;
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

bool askToShowWindow(const QString &programFolder, int timeoutMs)
{
    QString error;
    const QString path = commandSocketPath(programFolder, &error);
    if (path.isEmpty())
        return false;
    QList<QByteArray> lines;
    return exchange(path, QStringLiteral("show"), timeoutMs, &lines, &error) == Exchange::Answered
           && lines.contains(QByteArrayLiteral("shown: yes"));
}

}  // namespace app
