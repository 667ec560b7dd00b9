#pragma once
// Commands to a running Vantrel from a shell: `vantrel --command record|stop|status`. The
// running instance (window or headless) serves them; the client is a short-lived process
// that never takes the program folder's lock.
//
// Protocol, on a local stream socket, UTF-8 text, each line ending in LF:
//   request: one line, the command word ("record", "stop" or "status");
//   answer:  "key: value" lines, then the line "end"; the server then closes the connection.
//   Every command is answered with the status after it (statusReport() below); a request
//   the server does not take, or a record that did not start, adds "error: <why>".
// The socket is "vantrel-<hash of the canonical program folder>.sock" in $XDG_RUNTIME_DIR,
// or in /tmp/vantrel-<uid>/ (0700, ours) without one, so a client given the same --home
// finds that folder's instance. Only the same user gets in: the socket file is open to its
// owner only, and the server checks every peer's user id (SO_PEERCRED) besides.
//
// Threads: the server runs on the thread of its Recorder (the GUI thread in the program).

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class QDateTime;
class QLocalServer;
class QLocalSocket;
class QTime;

namespace schedule { class ScheduleList; }

namespace app {

class Recorder;

enum class RemoteCommand { Record, Stop, Status };
std::optional<RemoteCommand> parseRemoteCommand(const QString &word);

// Where the instance of `programFolder` listens; empty, with *error, when no private folder
// for the socket can be had.
QString commandSocketPath(const QString &programFolder, QString *error);

// The row of the schedule entry due next after `now` (time of day): the first one later
// today, else the earliest (tomorrow); -1 for an empty list. Rows of equal time: list order.
int nextScheduleRow(const schedule::ScheduleList &list, const QTime &now);

// The answer to "status": recording, status, file, elapsed, disk left, next entry.
QStringList statusReport(Recorder &recorder, const QDateTime &now);

class CommandServer : public QObject {
    Q_OBJECT
public:
    explicit CommandServer(Recorder &recorder, QObject *parent = nullptr);
    ~CommandServer() override;

    // Listens on the socket of `programFolder`; false, with *error, when it cannot. A socket
    // file left by a killed instance is replaced (the folder's lock is ours by now).
    [[nodiscard]] bool listen(const QString &programFolder, QString *error);
    QString socketPath() const;

private:
    void accept();
    void answer(QLocalSocket *peer);

    Recorder &m_recorder;
    QLocalServer *m_server = nullptr;
};

// Exit statuses of the client.
constexpr int kCommandDone = 0;
constexpr int kCommandFailed = 1;      // refused, broken off or answered with an error
constexpr int kCommandUsage = 2;       // not a command
constexpr int kCommandNoInstance = 3;  // nothing runs on the folder

// The client: sends `word` to the instance of `programFolder`, prints the answer on
// standard output and every failure in one line on standard error.
int runRemoteCommand(const QString &word, const QString &programFolder);

}  // namespace app
