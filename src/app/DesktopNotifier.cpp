#include "app/DesktopNotifier.h"

#include "app/Logging.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace app {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

}  // namespace

DesktopNotifier::DesktopNotifier(QObject *parent) : QObject(parent) {}

void DesktopNotifier::notify(const QString &summary, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // Asked each time: a notification daemon may come or go while Vantrel runs, and asking the
    // bus for an owner never starts one.
    QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                      QStringLiteral("/org/freedesktop/DBus"),
                                                      QStringLiteral("org.freedesktop.DBus"),
                                                      QStringLiteral("NameHasOwner"));
    ask << kService;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, summary, body](QDBusPendingCallWatcher *w) {
        const QDBusPendingReply<bool> hasOwner = *w;
        w->deleteLater();
        if (hasOwner.isValid() && hasOwner.value())
            send(summary, body);
    });
}

void DesktopNotifier::send(const QString &summary, const QString &body)
{
    QDBusMessage notice = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    notice << QStringLiteral("Vantrel") << quint32(0) << QStringLiteral("audio-input-microphone") << summary << body
           << QStringList() << QVariantMap() << qint32(-1);
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(notice), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher *w) {
        if (w->isError())
            qCInfo(lcApp).noquote() << "desktop notification not shown:" << w->error().message();
        w->deleteLater();
    });
}

}  // namespace app
