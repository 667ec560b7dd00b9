#include "app/DesktopNotifier.h"

#include "app/Logging.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QFileInfo>
#include <QVariantMap>

namespace app {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

QDBusMessage notice(const QString &summary, const QString &body)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    message << QStringLiteral("Vantrel") << quint32(0) << QStringLiteral("audio-input-microphone") << summary << body
            << QStringList() << QVariantMap() << qint32(-1);
    return message;
}

QDBusMessage askForService()
{
    QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                      QStringLiteral("/org/freedesktop/DBus"),
                                                      QStringLiteral("org.freedesktop.DBus"),
                                                      QStringLiteral("NameHasOwner"));
    ask << kService;
    return ask;
}

// A session bus is there when one is named or the user's runtime folder has one: asking Qt
// for the bus otherwise may launch one, which outlives a process that is about to exit.
bool sessionBusRuns()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo(runtime + QStringLiteral("/bus")).exists();
}

}  // namespace

void DesktopNotifier::notifyBeforeExit(const QString &summary, const QString &body, int timeoutMs)
{
    if (!sessionBusRuns())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    const QDBusReply<bool> hasOwner = bus.call(askForService(), QDBus::Block, timeoutMs);
    if (!hasOwner.isValid() || !hasOwner.value())
        return;
    const QDBusMessage reply = bus.call(notice(summary, body), QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage)
        qCInfo(lcApp).noquote() << "desktop notification not shown:" << reply.errorMessage();
}

DesktopNotifier::DesktopNotifier(QObject *parent) : QObject(parent) {}

void DesktopNotifier::notify(const QString &summary, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // Asked each time: a notification daemon may come or go while Vantrel runs, and asking the
    // bus for an owner never starts one.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(askForService()), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, summary, body](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<bool> hasOwner = *w;
        w->deleteLater();
        if (hasOwner.isValid() && hasOwner.value())
            send(summary, body);
    });
}

void DesktopNotifier::send(const QString &summary, const QString &body)
{
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(notice(summary, body)), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher *w) {
        if (w->isError())
            qCInfo(lcApp).noquote() << "desktop notification not shown:" << w->error().message();
        w->deleteLater();
    });
}

}  // namespace app
