#pragma once
// Where the web server listens, and whether it may: "[Web] Listen" is host:port, the host a
// numeric IPv4 or IPv6 address (IPv6 in brackets), "localhost", or empty for every address
// ("0.0.0.0:8080" and ":8080" alike). An address other than a loopback one lets other
// machines in, and then a token is required.

#include <QString>
#include <QtGlobal>
#include <optional>

namespace web {

struct ListenAddress {
    QString host;  // numeric; "0.0.0.0" for every IPv4 address
    quint16 port = 0;
    bool isIpv6() const { return host.contains(QLatin1Char(':')); }
};

// The address of `text`; nullopt with *error (a sentence naming the value) when it is none.
std::optional<ListenAddress> parseListen(const QString &text, QString *error);

bool isLoopback(const QString &host);

// "127.0.0.1:8080", "[::1]:8080".
QString hostAndPort(const ListenAddress &address, quint16 port);

// Why a server on `listen` with `token` must not start; empty when it may.
QString listenRefusal(const ListenAddress &listen, const QString &token);

}  // namespace web
