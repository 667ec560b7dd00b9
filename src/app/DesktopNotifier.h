#pragma once
// Desktop notifications (the freedesktop Notifications service on the session bus) for what
// the user must hear of while the window is hidden: failures and silence.
//
// Only where a notification service runs: without a session bus or without the service the
// notice is quietly dropped (the status line and the log have it). Nothing here waits for the
// bus: the service check and the notice are asynchronous calls, answered on the main thread.

#include <QObject>
#include <QString>

namespace app {

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    explicit DesktopNotifier(QObject *parent = nullptr);

    // A notice with a summary ("Vantrel: silence") and a body (the file, the cause).
    void notify(const QString &summary, const QString &body);

    // For a process about to exit: the same notice, sent at once and waited for at most
    // `timeoutMs` per call. Nothing happens without a session bus; none is started.
    static void notifyBeforeExit(const QString &summary, const QString &body, int timeoutMs);

private:
    void send(const QString &summary, const QString &body);
};

}  // namespace app
