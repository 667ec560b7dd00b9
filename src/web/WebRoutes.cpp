#include "web/WebRoutes.h"

#include "core/TextLimits.h"
#include "ledger/Coverage.h"
#include "ledger/CoverageStrip.h"
#include "ledger/Ledger.h"
#include "ledger/LocalTime.h"
#include "recording/EventLog.h"
#include "web/ExportStream.h"
#include "web/Metrics.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

// The page's files are a resource of this static library: nothing refers to it by name, so
// it is registered by hand, once.
static bool registerPageResource()
{
    Q_INIT_RESOURCE(page);
    return true;
}

namespace web {

namespace {

HttpResponse text(int status, const QString &words)
{
    HttpResponse r;
    r.status = status;
    r.body = words.toUtf8() + '\n';
    return r;
}

HttpResponse json(const QJsonObject &object)
{
    HttpResponse r;
    r.contentType = "application/json; charset=utf-8";
    r.body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    r.headers.push_back({"Cache-Control", "no-store"});
    return r;
}

HttpResponse resource(const QString &name, const QByteArray &type)
{
    static const bool registered = registerPageResource();
    Q_UNUSED(registered);
    QFile file(QStringLiteral(":/web/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return text(404, QStringLiteral("not found"));
    HttpResponse r;
    r.contentType = type;
    r.body = file.readAll();
    return r;
}

QJsonValue orNull(const std::optional<qint64> &v) { return v ? QJsonValue(double(*v)) : QJsonValue(); }

HttpResponse status(const WebContext &context)
{
    const StatusSnapshot s = context.board->status();
    QJsonArray levels;
    if (s.levelDbfs)
        for (double db : *s.levelDbfs)
            levels.append(std::isfinite(db) ? QJsonValue(db) : QJsonValue());
    return json({
        {QStringLiteral("station"), s.station},
        {QStringLiteral("recording"), s.recording},
        {QStringLiteral("status"), s.status},
        {QStringLiteral("statusKind"), s.statusKind},
        {QStringLiteral("file"), QFileInfo(s.file).fileName()},
        {QStringLiteral("elapsedSeconds"), double(s.elapsedSeconds)},
        {QStringLiteral("elapsed"), core::formatHms(s.elapsedSeconds)},
        {QStringLiteral("levelDbfs"), s.levelDbfs ? QJsonValue(levels) : QJsonValue()},
        {QStringLiteral("diskFreeSeconds"), orNull(s.diskFreeSeconds)},
        {QStringLiteral("diskLeft"), s.diskLeft},
        {QStringLiteral("nextEntry"), s.nextEntry ? QJsonValue(recording::isoTimeWithOffset(*s.nextEntry)) : QJsonValue()},
        {QStringLiteral("nextEntryAction"), s.nextEntry ? QStringLiteral("Record") : QString()},
        {QStringLiteral("failure"), s.failure},
    });
}

// The ledger's verdicts by path.
QHash<QString, ledger::FileEntry> verdicts(ledger::Ledger *ledger)
{
    QHash<QString, ledger::FileEntry> byPath;
    if (!ledger)
        return byPath;
    for (ledger::FileEntry &f : ledger->files(std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()))
        byPath.insert(f.path, std::move(f));
    return byPath;
}

HttpResponse archiveList(const WebContext &context)
{
    const auto items = context.board->archive();
    const QHash<QString, ledger::FileEntry> known = verdicts(context.ledger);
    QJsonArray list;
    for (const ArchiveItem &item : *items) {
        const QFileInfo info(item.path);
        QString verified = QStringLiteral("unverified");
        QString reason;
        if (!info.isFile()) {
            verified = QStringLiteral("missing");
        } else if (const auto it = known.constFind(item.path); it != known.constEnd()) {
            if (it->verification == ledger::Verification::Ok) verified = QStringLiteral("ok");
            if (it->verification == ledger::Verification::Damaged) verified = QStringLiteral("damaged");
            reason = it->reason;
        }
        list.append(QJsonObject{
            {QStringLiteral("id"), item.id},
            {QStringLiteral("start"), item.start.isValid() ? QJsonValue(recording::isoTimeWithOffset(item.start)) : QJsonValue()},
            {QStringLiteral("length"), item.lengthSeconds},
            {QStringLiteral("file"), info.fileName()},
            {QStringLiteral("size"), double(info.isFile() ? info.size() : 0)},
            {QStringLiteral("verified"), verified},
            {QStringLiteral("reason"), reason},
            {QStringLiteral("url"), QStringLiteral("/recordings/") + item.id},
        });
    }
    return json({{QStringLiteral("recordings"), list}});
}

const char *shadeWord(ledger::StripShade shade)
{
    using ledger::StripShade;
    switch (shade) {
    case StripShade::Lost: return "lost";
    case StripShade::Damaged: return "damaged";
    case StripShade::Silent: return "silent";
    case StripShade::Recorded: return "recorded";
    case StripShade::Unrecorded: return "unrecorded";
    case StripShade::NotAsked: break;
    }
    return "notAsked";
}

// The strips of two months at the most: enough for a page, and cheap to answer.
constexpr int kMostCoverageDays = 62;

// The words for a segment: the span that gives it its shade, or the shade and its times.
QString segmentText(const ledger::StripSegment &segment, const std::vector<ledger::Span> &spans,
                    const QSet<QString> &damaged)
{
    for (const ledger::Span &span : spans) {
        if (span.startMs >= segment.endMs || span.endMs <= segment.startMs || ledger::shadeOf(span, damaged) != segment.shade)
            continue;
        // The file by its name: the page shows no paths of the station's disks.
        QString text = ledger::spanDescription(span, damaged.contains(span.file));
        if (!span.file.isEmpty())
            text.replace(span.file, QFileInfo(span.file).fileName());
        return text;
    }
    const auto hm = [](qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss")); };
    return QStringLiteral("%1 %2–%3").arg(QLatin1String(segment.shade == ledger::StripShade::NotAsked ? "not asked" : shadeWord(segment.shade)),
                                          hm(segment.startMs), hm(segment.endMs));
}

HttpResponse coverage(const WebContext &context, const HttpRequest &request)
{
    const int days = qBound(1, request.argument("days").isNull() ? 30 : request.argument("days").toInt(), kMostCoverageDays);
    const QDate today = QDate::currentDate();
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    const qint64 fromMs = today.addDays(1 - days).startOfDay().toMSecsSinceEpoch();
    QSet<QString> damaged;
    const std::vector<ledger::Span> spans =
        context.ledger ? context.ledger->spans(fromMs, nowMs, &damaged) : std::vector<ledger::Span>{};
    QJsonArray list;
    for (int i = 0; i < days; ++i) {
        const QDate day = today.addDays(-i);
        QJsonArray segments;
        for (const ledger::StripSegment &seg : ledger::stripSegments(spans, damaged, day, nowMs))
            segments.append(QJsonObject{{QStringLiteral("shade"), QLatin1String(shadeWord(seg.shade))},
                                        {QStringLiteral("startMs"), double(seg.startMs)},
                                        {QStringLiteral("endMs"), double(seg.endMs)},
                                        {QStringLiteral("text"), segmentText(seg, spans, damaged)}});
        list.append(QJsonObject{{QStringLiteral("day"), day.toString(Qt::ISODate)},
                                {QStringLiteral("startMs"), double(day.startOfDay().toMSecsSinceEpoch())},
                                {QStringLiteral("endMs"), double(day.addDays(1).startOfDay().toMSecsSinceEpoch())},
                                {QStringLiteral("segments"), segments}});
    }
    return json({{QStringLiteral("days"), list}});
}

HttpResponse strings(const WebContext &context)
{
    QJsonObject object;
    const QMap<QString, QString> table = context.board->strings();
    for (auto it = table.begin(); it != table.end(); ++it)
        object.insert(it.key(), it.value());
    return json(object);
}

HttpResponse metrics(const WebContext &context)
{
    LedgerFigures figures;
    if (context.ledger) {
        const ledger::FileCounts counts = context.ledger->fileCounts();
        figures.files = counts.total;
        figures.damagedFiles = counts.damaged;
        const QDate today = QDate::currentDate();
        const std::vector<ledger::DayCoverage> days = context.ledger->coverage(today, today);
        if (!days.empty() && days.front().askedMs > 0)
            figures.coverageToday = qMin(1.0, double(days.front().recordedMs) / double(days.front().askedMs));
    }
    HttpResponse r;
    r.contentType = "text/plain; version=0.0.4; charset=utf-8";
    r.body = renderMetrics(context.board->status(), figures);
    return r;
}

HttpResponse recordingFile(const WebContext &context, const HttpRequest &request, const QString &id)
{
    static const QRegularExpression idPattern(QStringLiteral("^[0-9a-f]{16}$"));
    const std::optional<ArchiveItem> item = idPattern.match(id).hasMatch() ? context.board->item(id) : std::nullopt;
    if (!item)
        return text(404, QStringLiteral("no recording has this id"));
    const QFileInfo info(item->path);
    if (!info.isFile() || !info.isReadable())
        return text(410, QStringLiteral("the recording's file is gone"));
    const qint64 size = info.size();
    const ByteRange range = parseByteRange(request.header("Range"), size);
    HttpResponse r;
    r.contentType = contentTypeOf(item->path);
    r.headers.push_back({"Accept-Ranges", "bytes"});
    if (!request.argument("download").isNull())
        r.headers.push_back({"Content-Disposition", "attachment; filename=\"" + info.fileName().toUtf8().replace('"', '_') + '"'});
    switch (range.kind) {
    case ByteRange::Kind::Malformed:
        return text(400, QStringLiteral("the Range header is not one byte range"));
    case ByteRange::Kind::Unsatisfiable: {
        HttpResponse refused = text(416, QStringLiteral("the range is not within the file"));
        refused.headers.push_back({"Content-Range", "bytes */" + QByteArray::number(size)});
        return refused;
    }
    case ByteRange::Kind::Part:
        r.status = 206;
        r.headers.push_back({"Content-Range", "bytes " + QByteArray::number(range.first) + '-' + QByteArray::number(range.last)
                                               + '/' + QByteArray::number(size)});
        break;
    case ByteRange::Kind::Whole:
        break;
    }
    r.filePath = item->path;
    r.fileOffset = range.first;
    r.fileLength = range.kind == ByteRange::Kind::Whole ? size : range.length();
    return r;
}

HttpResponse exportSpan(const WebContext &context, const HttpRequest &request)
{
    if (!context.ledger)
        return text(503, QStringLiteral("the coverage ledger cannot be used, so no span can be found"));
    const ledger::ParsedTime from = ledger::parseLocalTime(QString::fromUtf8(request.argument("from")));
    const ledger::ParsedTime to = ledger::parseLocalTime(QString::fromUtf8(request.argument("to")));
    if (!from.ok())
        return text(400, QStringLiteral("from: ") + from.error);
    if (!to.ok())
        return text(400, QStringLiteral("to: ") + to.error);
    const QByteArray format = request.argument("format").isNull() ? QByteArray("wav") : request.argument("format");
    if (format != "wav" && format != "flac")
        return text(400, QStringLiteral("format must be wav or flac"));
    QString error;
    std::shared_ptr<ExportStream> stream =
        ExportStream::start(*context.ledger, from.ms, to.ms, QString::fromLatin1(format), &error);
    if (!stream)
        return text(400, error);
    HttpResponse r;
    r.contentType = format == "wav" ? "audio/wav" : "audio/flac";
    const QString name = QStringLiteral("vantrel-%1-%2.%3")
                             .arg(QDateTime::fromMSecsSinceEpoch(from.ms).toString(QStringLiteral("yyyyMMdd-HHmmss")),
                                  QDateTime::fromMSecsSinceEpoch(to.ms).toString(QStringLiteral("yyyyMMdd-HHmmss")),
                                  QString::fromLatin1(format));
    r.headers.push_back({"Content-Disposition", "attachment; filename=\"" + name.toUtf8() + '"'});
    r.streamLength = stream->length();
    r.stream = std::move(stream);
    return r;
}

}  // namespace

bool tokenMatches(const QByteArray &given, const QString &token)
{
    // Digests of equal length, compared byte by byte to the end.
    const QByteArray a = QCryptographicHash::hash(given, QCryptographicHash::Sha256);
    const QByteArray b = QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256);
    unsigned char difference = 0;
    for (int i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

QByteArray contentTypeOf(const QString &path)
{
    static const QHash<QString, QByteArray> types{
        {QStringLiteral("mp3"), "audio/mpeg"}, {QStringLiteral("ogg"), "audio/ogg"},
        {QStringLiteral("oga"), "audio/ogg"},  {QStringLiteral("opus"), "audio/ogg; codecs=opus"},
        {QStringLiteral("flac"), "audio/flac"}, {QStringLiteral("wav"), "audio/wav"},
        {QStringLiteral("m4a"), "audio/mp4"},  {QStringLiteral("mp4"), "audio/mp4"},
        {QStringLiteral("aac"), "audio/aac"},
    };
    return types.value(QFileInfo(path).suffix().toLower(), "application/octet-stream");
}

HttpResponse answer(const WebContext &context, const HttpRequest &request)
{
    if (request.method != "GET" && request.method != "HEAD") {
        HttpResponse r = text(405, QStringLiteral("only GET and HEAD are answered"));
        r.headers.push_back({"Allow", "GET, HEAD"});
        return r;
    }
    if (!context.token.isEmpty()) {
        const QByteArray authorization = request.header("Authorization");
        const QByteArray given = authorization.startsWith("Bearer ") ? authorization.mid(7).trimmed() : request.argument("token");
        if (given.isNull() || !tokenMatches(given, context.token)) {
            HttpResponse r = text(401, QStringLiteral("a token is needed: Authorization: Bearer <token>, or ?token=<token>"));
            r.headers.push_back({"WWW-Authenticate", "Bearer realm=\"vantrel\""});
            return r;
        }
    }
    const QString &path = request.path;
    if (path == QLatin1String("/") || path == QLatin1String("/index.html"))
        return resource(QStringLiteral("index.html"), "text/html; charset=utf-8");
    if (path == QLatin1String("/page.css"))
        return resource(QStringLiteral("page.css"), "text/css; charset=utf-8");
    if (path == QLatin1String("/page.js"))
        return resource(QStringLiteral("page.js"), "text/javascript; charset=utf-8");
    if (path == QLatin1String("/api/status"))
        return status(context);
    if (path == QLatin1String("/api/archive"))
        return archiveList(context);
    if (path == QLatin1String("/api/coverage"))
        return coverage(context, request);
    if (path == QLatin1String("/api/strings"))
        return strings(context);
    if (path == QLatin1String("/api/export"))
        return exportSpan(context, request);
    if (path == QLatin1String("/metrics"))
        return metrics(context);
    if (path.startsWith(QLatin1String("/recordings/")))
        return recordingFile(context, request, path.mid(12));
    return text(404, QStringLiteral("not found"));
}

}  // namespace web
