#include "ledger/CoverageFeed.h"

#include "core/DayCount.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>
#include <algorithm>

namespace ledger {

namespace {

qint64 msOf(const QDateTime &at) { return at.toMSecsSinceEpoch(); }

bool isWord(const recording::EventLine &line, const char *word) { return line.event == QLatin1String(word); }

}  // namespace

CoverageFeed::CoverageFeed(Ledger &ledger, Mode mode) : m_ledger(ledger), m_mode(mode) {}

void CoverageFeed::begin(SpanKind kind, qint64 startMs, const QString &file, const QString &cause)
{
    m_ledger.addSpan({kind, startMs, startMs, cause, file});
    m_running.push_back({kind, startMs, file, startMs});
}

void CoverageFeed::end(SpanKind kind, qint64 endMs, const QString &file)
{
    const auto ends = [&](const Running &r) { return r.kind == kind && (file.isEmpty() || r.file == file); };
    for (const Running &r : m_running)
        if (ends(r)) m_ledger.setSpanEnd(r.kind, r.startMs, r.file, std::max(endMs, r.startMs));
    m_running.erase(std::remove_if(m_running.begin(), m_running.end(), ends), m_running.end());
}

void CoverageFeed::endAllAt(qint64 endMs)
{
    for (const Running &r : m_running) m_ledger.setSpanEnd(r.kind, r.startMs, r.file, std::max(endMs, r.startMs));
    m_running.clear();
}

void CoverageFeed::asked(const QDateTime &at, qint64 limitMs)
{
    end(SpanKind::Asked, msOf(at));
    if (limitMs > 0)
        m_ledger.addSpan({SpanKind::Asked, msOf(at), msOf(at) + limitMs, {}, {}});
    else
        begin(SpanKind::Asked, msOf(at));
}

void CoverageFeed::askEnded(const QDateTime &at) { end(SpanKind::Asked, msOf(at)); }

void CoverageFeed::noteLine(const recording::EventLine &line)
{
    const qint64 at = msOf(line.at);
    const bool live = m_mode == Mode::Live;
    if (isWord(line, "capture-recovered")) end(SpanKind::Lost, at);
    if (isWord(line, "started") || isWord(line, "file-changed") || isWord(line, "encoder-restarted")
        || isWord(line, "capture-recovered")) {
        if (live)
            fileBegins(line);
        else if (isWord(line, "started") && std::none_of(m_running.begin(), m_running.end(),
                                                         [](const Running &r) { return r.kind == SpanKind::Asked; }))
            begin(SpanKind::Asked, at);
    } else if (isWord(line, "stopped") || isWord(line, "encoder-gave-up") || isWord(line, "failed")) {
        // A file normally ends by fileFinished(), at its exact end, before this line.
        for (SpanKind kind : {SpanKind::Lost, SpanKind::Silent, SpanKind::Recorded, SpanKind::Asked})
            if (kind != SpanKind::Asked || !live || !isWord(line, "stopped")) end(kind, at);
    } else if (isWord(line, "capture-lost")) {
        begin(SpanKind::Lost, at, {}, line.details);
    } else if (isWord(line, "dropped")) {
        addDropped(line);
    } else if (isWord(line, "silence")) {
        silenceBegins(line);
    } else if (isWord(line, "silence-end")) {
        end(SpanKind::Silent, at);
    }
}

// "begins 2026-12-09T10:00:00.000+01:00" gives the first frame's moment.
void CoverageFeed::fileBegins(const recording::EventLine &line)
{
    static const QRegularExpression begins(QStringLiteral("begins (\\S+)"));
    const QRegularExpressionMatch m = begins.match(line.details);
    const QDateTime start = m.hasMatch() ? QDateTime::fromString(m.captured(1), Qt::ISODateWithMs) : QDateTime();
    const qint64 startMs = start.isValid() ? msOf(start) : msOf(line.at);
    end(SpanKind::Recorded, startMs, line.file);
    FileEntry file;
    file.path = line.file;
    file.startMs = startMs;
    m_ledger.addFile(file);
    m_files.insert(line.file);
    begin(SpanKind::Recorded, startMs, line.file);
}

// "1.5 s more dropped: the encoder fell behind"; an amount given in bytes has no length.
void CoverageFeed::addDropped(const recording::EventLine &line)
{
    static const QRegularExpression dropped(QStringLiteral("^([0-9.]+) s more dropped: (.*)$"));
    const QRegularExpressionMatch m = dropped.match(line.details);
    if (!m.hasMatch()) return;
    const qint64 at = msOf(line.at);
    const qint64 lengthMs = qRound64(m.captured(1).toDouble() * 1000);
    if (lengthMs > 0) m_ledger.addSpan({SpanKind::Dropped, at - lengthMs, at, m.captured(2), line.file});
}

// "below -50 dBFS since 10:58:03": the silence began then, on the line's day or the one before.
void CoverageFeed::silenceBegins(const recording::EventLine &line)
{
    static const QRegularExpression since(QStringLiteral("^(below .* dBFS) since (\\d\\d:\\d\\d:\\d\\d)"));
    const QRegularExpressionMatch m = since.match(line.details);
    QDateTime start = line.at;
    if (m.hasMatch()) {
        start = QDateTime(line.at.date(), QTime::fromString(m.captured(2), QStringLiteral("HH:mm:ss")));
        if (start > line.at) start = start.addDays(-1);
    }
    end(SpanKind::Silent, msOf(start));
    begin(SpanKind::Silent, msOf(start), {}, m.hasMatch() ? m.captured(1) : line.details);
}

FileEntry CoverageFeed::fileFinished(const recording::FinishedRecording &finished)
{
    FileEntry file;
    file.path = finished.path;
    file.startMs = finished.startedAt.isValid() ? msOf(finished.startedAt) : msOf(core::fromDayCount(finished.startTime));
    file.frames = finished.frames;
    file.sampleRate = finished.sampleRate;
    file.endMs = file.startMs
        + (finished.sampleRate > 0 ? finished.frames * 1000 / finished.sampleRate : qint64(finished.lengthSeconds) * 1000);
    file.sizeBytes = QFileInfo(finished.path).size();
    m_ledger.addFile(file);
    m_files.insert(finished.path);
    const auto running = std::find_if(m_running.begin(), m_running.end(), [&](const Running &r) {
        return r.kind == SpanKind::Recorded && r.file == finished.path;
    });
    if (running != m_running.end())
        end(SpanKind::Recorded, file.endMs, finished.path);
    else
        m_ledger.addSpan({SpanKind::Recorded, file.startMs, file.endMs, {}, finished.path});
    return file;
}

void CoverageFeed::moveOn(const QDateTime &now)
{
    const qint64 nowMs = msOf(now);
    if (nowMs - m_lastMoveMs < kMoveEveryMs) return;
    m_lastMoveMs = nowMs;
    for (Running &r : m_running) {
        r.endMs = std::max(nowMs, r.startMs);
        m_ledger.setSpanEnd(r.kind, r.startMs, r.file, r.endMs);
    }
}

void CoverageFeed::endAll(const QDateTime &at) { endAllAt(msOf(at)); }

std::optional<recording::EventLine> parseEventLine(const QString &text)
{
    const QStringList fields = text.split(QLatin1Char('\t'));
    if (fields.size() != 4) return std::nullopt;
    const QDateTime at = QDateTime::fromString(fields[0], Qt::ISODateWithMs);
    if (!at.isValid()) return std::nullopt;
    return recording::EventLine{at.toLocalTime(), fields[1], fields[2], fields[3]};
}

void rebuild(Ledger &ledger, const RebuildSource &source, const std::function<bool(const QString &)> &skip)
{
    CoverageFeed feed(ledger, CoverageFeed::Mode::Replay);
    for (const recording::FinishedRecording &record : source.records)
        if (!skip(record.path)) (void)feed.fileFinished(record);
    QDateTime last;
    for (const QString &log : source.eventLogs) {
        QFile file(log);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) continue;
        QTextStream in(&file);
        while (!in.atEnd()) {
            if (const std::optional<recording::EventLine> line = parseEventLine(in.readLine())) {
                feed.noteLine(*line);
                last = line->at;
            }
        }
    }
    // What a killed run left running ends with the last line known.
    if (last.isValid()) feed.endAll(last);
}

}  // namespace ledger
