#include "ledger/CoverageStrip.h"

#include "ledger/CoverageReport.h"

#include <QDateTime>
#include <algorithm>
#include <array>

namespace ledger {

namespace {

constexpr qint64 kHourMs = 3600 * 1000;

// The shade of a moment that the spans of `open` (a count per shade) cover.
StripShade shown(const std::array<int, kStripShades> &open)
{
    for (int i = 0; i < kStripShades; ++i)
        if (open[size_t(i)] > 0) return StripShade(i);
    return StripShade::NotAsked;
}

QString clockText(const QDateTime &t, bool withDate)
{
    return t.toString(withDate ? QStringLiteral("yyyy-MM-dd HH:mm:ss") : QStringLiteral("HH:mm:ss"));
}

}  // namespace

int StripScale::xOf(qint64 ms) const
{
    const qint64 length = std::max<qint64>(1, endMs - startMs);
    const qint64 offset = (ms - startMs) * width;
    return left + int(offset >= 0 ? offset / length : -((-offset + length - 1) / length));
}

qint64 StripScale::msAt(int x) const
{
    const qint64 length = endMs - startMs;
    const qint64 offset = qint64(x - left) * length;
    return startMs + (offset >= 0 ? (offset + width - 1) / width : -(-offset / width));
}

StripShade shadeOf(const Span &span, const QSet<QString> &damagedFiles)
{
    switch (span.kind) {
    case SpanKind::Lost:
    case SpanKind::Dropped: return StripShade::Lost;
    case SpanKind::Silent: return StripShade::Silent;
    case SpanKind::Asked: return StripShade::Unrecorded;
    case SpanKind::Recorded: break;
    }
    return !span.file.isEmpty() && damagedFiles.contains(span.file) ? StripShade::Damaged : StripShade::Recorded;
}

// A sweep over the spans' edges, counting the open spans of each shade.
std::vector<StripSegment> stripSegments(const std::vector<Span> &spans, const QSet<QString> &damagedFiles,
                                        const QDate &day, qint64 untilMs)
{
    const Interval bounds = localDay(day);
    const qint64 endMs = std::min(bounds.endMs, untilMs);
    struct Edge {
        qint64 ms;
        size_t shade;
        int step;
    };
    std::vector<Edge> edges;
    for (const Span &s : spans) {
        const qint64 start = std::max(s.startMs, bounds.startMs);
        const qint64 end = std::min(s.endMs, endMs);
        if (start >= end) continue;
        const size_t shade = size_t(shadeOf(s, damagedFiles));
        edges.push_back({start, shade, +1});
        edges.push_back({end, shade, -1});
    }
    std::sort(edges.begin(), edges.end(), [](const Edge &a, const Edge &b) { return a.ms < b.ms; });

    std::vector<StripSegment> segments;
    std::array<int, kStripShades> open{};
    qint64 at = bounds.startMs;
    const auto closeUntil = [&](qint64 until) {
        if (until <= at) return;
        const StripShade shade = shown(open);
        if (!segments.empty() && segments.back().shade == shade) segments.back().endMs = until;
        else segments.push_back({shade, at, until});
        at = until;
    };
    for (const Edge &e : edges) {
        closeUntil(e.ms);
        open[e.shade] += e.step;
    }
    closeUntil(endMs);
    return segments;
}

std::vector<StripRun> stripRuns(const std::vector<StripSegment> &segments, const StripScale &scale)
{
    constexpr int kNone = kStripShades;
    std::vector<int> pixels(size_t(std::max(0, scale.width)), kNone);
    for (const StripSegment &s : segments) {
        if (s.endMs <= s.startMs) continue;
        const int first = std::max(0, scale.xOf(s.startMs) - scale.left);
        const int last = std::min(scale.width - 1, scale.xOf(s.endMs - 1) - scale.left);
        for (int x = first; x <= last; ++x) pixels[size_t(x)] = std::min(pixels[size_t(x)], int(s.shade));
    }
    std::vector<StripRun> runs;
    for (int x = 0; x < scale.width; ++x) {
        const int shade = pixels[size_t(x)];
        if (shade == kNone) continue;
        if (!runs.empty() && int(runs.back().shade) == shade && runs.back().x + runs.back().width == scale.left + x)
            ++runs.back().width;
        else
            runs.push_back({StripShade(shade), scale.left + x, 1});
    }
    return runs;
}

const Span *spanAt(const std::vector<Span> &spans, const QSet<QString> &damagedFiles, const StripScale &scale, int x)
{
    if (x < scale.left || x >= scale.left + scale.width) return nullptr;
    const qint64 from = scale.msAt(x);
    const qint64 to = scale.msAt(x + 1);
    const Span *best = nullptr;
    for (const Span &s : spans) {
        if (s.startMs >= to || s.endMs <= from) continue;
        const StripShade shade = shadeOf(s, damagedFiles);
        const StripShade bestShade = best ? shadeOf(*best, damagedFiles) : StripShade::NotAsked;
        if (!best || shade < bestShade || (shade == bestShade && s.startMs < best->startMs)) best = &s;
    }
    return best;
}

std::vector<qint64> hourMarks(const QDate &day)
{
    const Interval bounds = localDay(day);
    std::vector<qint64> marks;
    for (qint64 t = bounds.startMs; t < bounds.endMs; t += kHourMs) marks.push_back(t);
    return marks;
}

QString spanDescription(const Span &span, bool damagedFile)
{
    QString what = spanKindName(span.kind);
    if (span.kind == SpanKind::Asked) what = QStringLiteral("asked, not recorded");
    if (damagedFile) what += QStringLiteral(", damaged file");
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(span.startMs);
    const QDateTime end = QDateTime::fromMSecsSinceEpoch(span.endMs);
    QString text = QStringLiteral("%1: %2 %3 %4 (%5)")
                       .arg(what, clockText(start, true), QChar(0x2013), clockText(end, end.date() != start.date()),
                            durationText(span.endMs - span.startMs));
    if (!span.cause.isEmpty()) text += QLatin1Char('\n') + span.cause;
    if (!span.file.isEmpty()) text += QLatin1Char('\n') + span.file;
    return text;
}

}  // namespace ledger
