#include "web/WebSettings.h"

#include <QHostAddress>

namespace web {

std::optional<ListenAddress> parseListen(const QString &text, QString *error)
{
    const QString value = text.trimmed();
    const int colon = value.lastIndexOf(QLatin1Char(':'));
    QString host = colon < 0 ? QString() : value.left(colon);
    bool portOk = false;
    const uint port = colon < 0 ? 0 : value.mid(colon + 1).toUInt(&portOk);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        host = QStringLiteral("?");  // IPv6 without brackets: the port cannot be told apart
    if (host.isEmpty())
        host = QStringLiteral("0.0.0.0");
    else if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        host = QStringLiteral("127.0.0.1");
    const QHostAddress address(host);
    if (!portOk || port == 0 || port > 65535 || address.isNull()) {
        *error = QStringLiteral("[Web] Listen=%1 is no address to listen on: host:port is needed, "
                                "such as 127.0.0.1:8080 or [::1]:8080")
                     .arg(text);
        return std::nullopt;
    }
    return ListenAddress{address.toString(), quint16(port)};
}

bool isLoopback(const QString &host)
{
    return QHostAddress(host).isLoopback();
}

QString hostAndPort(const ListenAddress &address, quint16 port)
{
    const QString host = address.isIpv6() ? QLatin1Char('[') + address.host + QLatin1Char(']') : address.host;
    return host + QLatin1Char(':') + QString::number(port);
}

QString listenRefusal(const ListenAddress &listen, const QString &token)
{
    if (!isLoopback(listen.host) && token.isEmpty())
        return QStringLiteral("[Web] Listen=%1 lets other machines in and needs a [Web] Token; "
                              "the web server does not start")
            .arg(hostAndPort(listen, listen.port));
    return {};
}

}  // namespace web
