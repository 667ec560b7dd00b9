#pragma once
// What the web server answers: the page, the API, a recording's bytes, an export and the
// metrics, as plain values that the HTTP layer (WebServer) sends. Nothing here knows the
// sockets, so the rules are tested without them.
//
// Safety. A file is only ever served by an archive record's id, never by a path from the
// request; nothing a request says changes the archive, the ledger or a file; the token is
// compared in constant time.
//
// Threads. answer() runs on the server's connection threads, any number at once: it reads
// the snapshot board and asks the ledger, both safe from any thread.

#include "web/ByteRange.h"
#include "web/WebSnapshot.h"

#include <QByteArray>
#include <QList>
#include <utility>
#include <vector>
#include <QString>

#include <functional>
#include <memory>

namespace ledger { class Ledger; }

namespace web {

class ExportStream;

struct HttpRequest {
    QByteArray method;
    QString path;  // as the server decoded it
    std::function<QByteArray(const char *)> header;    // null when absent
    std::function<QByteArray(const char *)> argument;  // of the query string; null when absent
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType = "text/plain; charset=utf-8";
    std::vector<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // A part of a file instead of the body.
    QString filePath;
    qint64 fileOffset = 0;
    qint64 fileLength = 0;
    // A stream instead of the body; streamLength -1 when not known ahead.
    std::shared_ptr<ExportStream> stream;
    qint64 streamLength = -1;
};

struct WebContext {
    SnapshotBoard *board = nullptr;
    ledger::Ledger *ledger = nullptr;  // may be null: no coverage, files unverified
    QString token;                     // empty: none needed
};

HttpResponse answer(const WebContext &context, const HttpRequest &request);

// True when `given` is `token`, in a time that does not depend on where they differ.
bool tokenMatches(const QByteArray &given, const QString &token);

// The Content-Type of a recording by its extension.
QByteArray contentTypeOf(const QString &path);

}  // namespace web
