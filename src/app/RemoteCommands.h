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
//   "reload" reads the settings, the default schedule and the presets again; "show" brings
//   the window to the front (a second start on the folder sends it), and is refused with
//   "error:" by an instance without a window.
// The server never lets clients take it down: a connection that has not sent its request
// line within a few seconds is closed, at most kMaxPeers are served at once (the others wait
// in the socket's backlog), and when the process has no file descriptor left it waits and
// accepts again; its socket stays open all the while.
// The socket is "vantrel-<hash of the canonical program folder>.sock" in $XDG_RUNTIME_DIR,
// or in /tmp/vantrel-<uid>/ (0700, ours) without one, so a client given the same --home
// finds that folder's instance. Only the same user gets in: the socket file is open to its
// owner only, and the server checks every peer's user id (SO_PEERCRED) besides.
//
// Threads: the server runs on the thread of its Recorder (the GUI thread in the program).

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QDateTime;
class QLocalSocket;
class QSocketNotifier;
class QTimer;
class QTime;

namespace schedule { class ScheduleList; }

namespace app {

class Recorder;

enum class RemoteCommand { Record, Stop, Status, Reload, Show };
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
    // The answer lines to a command (each ending in LF, "end" not included).
    using Handler = std::function<QByteArray(RemoteCommand command)>;

    static constexpr int kMaxPeers = 16;
    static constexpr int kRequestTimeoutMs = 5000;

    // Answers for `recorder`; "show" is refused until setShowWindow() gives a window.
    explicit CommandServer(Recorder &recorder, QObject *parent = nullptr);
    // Answers with `handler` (tests: the transport without a recorder).
    explicit CommandServer(Handler handler, QObject *parent = nullptr);
    ~CommandServer() override;  // closes the socket and removes its file

    // Listens on the socket of `programFolder`; false, with *error, when it cannot. A socket
    // file left by a killed instance is replaced (the folder's lock is ours by now).
    [[nodiscard]] bool listen(const QString &programFolder, QString *error);
    QString socketPath() const { return m_path; }

    // What "show" does in a front-end with a window.
    void setShowWindow(std::function<void()> show) { m_showWindow = std::move(show); }
    // How long a connection may take to send its request line.
    void setRequestTimeout(int ms) { m_requestTimeoutMs = ms; }
    int peerCount() const { return m_peers; }

private:
    void acceptPending();
    void serve(int fd);
    void answer(QLocalSocket *peer);
    void peerGone();
    void closeListener();

    Handler m_handler;
    std::function<void()> m_showWindow;
    QString m_path;
    int m_listenFd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_descriptorRetry = nullptr;  // runs while no file descriptor is left
    int m_peers = 0;
    bool m_waitingForDescriptors = false;  // said once in the log until the backlog is empty
    int m_requestTimeoutMs = kRequestTimeoutMs;
};

// The answer of `recorder` to a command; `showWindow` is empty without a window.
QByteArray answerRemoteCommand(Recorder &recorder, RemoteCommand command, const std::function<void()> &showWindow);

// Exit statuses of the client.
constexpr int kCommandDone = 0;
constexpr int kCommandFailed = 1;      // refused, broken off or answered with an error
constexpr int kCommandUsage = 2;       // not a command
constexpr int kCommandNoInstance = 3;  // nothing runs on the folder

// The client: sends `word` to the instance of `programFolder`, prints the answer on
// standard output and every failure in one line on standard error.
int runRemoteCommand(const QString &word, const QString &programFolder);

// A second start on a folder whose instance runs: asks it, within `timeoutMs`, to bring its
// window to the front. True when it did; false when it has no window or gave no answer.
bool askToShowWindow(const QString &programFolder, int timeoutMs);

}  // namespace app
