#include "ledger/Coverage.h"

#include <QDateTime>
#include <algorithm>
#include <array>

namespace ledger {

Interval localDay(const QDate &day)
{
    // startOfDay() takes the first valid moment when midnight itself is skipped by a change.
    return {day.startOfDay().toMSecsSinceEpoch(), day.addDays(1).startOfDay().toMSecsSinceEpoch()};
}

std::vector<Interval> unionWithin(std::vector<Interval> intervals, const Interval &within)
{
    std::vector<Interval> clipped;
    clipped.reserve(intervals.size());
    for (const Interval &i : intervals) {
        const Interval c{std::max(i.startMs, within.startMs), std::min(i.endMs, within.endMs)};
        if (c.startMs < c.endMs) clipped.push_back(c);
    }
    std::sort(clipped.begin(), clipped.end(),
              [](const Interval &a, const Interval &b) { return a.startMs < b.startMs; });
    std::vector<Interval> merged;
    for (const Interval &c : clipped) {
        if (!merged.empty() && c.startMs <= merged.back().endMs)
            merged.back().endMs = std::max(merged.back().endMs, c.endMs);
        else
            merged.push_back(c);
    }
    return merged;
}

qint64 totalLength(const std::vector<Interval> &disjoint)
{
    qint64 total = 0;
    for (const Interval &i : disjoint) total += i.endMs - i.startMs;
    return total;
}

qint64 overlapLength(const std::vector<Interval> &a, const std::vector<Interval> &b)
{
    qint64 total = 0;
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const qint64 start = std::max(a[i].startMs, b[j].startMs);
        const qint64 end = std::min(a[i].endMs, b[j].endMs);
        if (start < end) total += end - start;
        if (a[i].endMs < b[j].endMs) ++i; else ++j;
    }
    return total;
}

namespace {

double percentOf(qint64 part, qint64 whole) { return whole > 0 ? 100.0 * double(part) / double(whole) : 0.0; }

std::vector<CoverageGap> gapsWithin(const std::vector<Span> &spans, const Interval &day)
{
    std::vector<CoverageGap> gaps;
    for (const Span &s : spans) {
        if (s.kind != SpanKind::Lost && s.kind != SpanKind::Silent) continue;
        const qint64 start = std::max(s.startMs, day.startMs);
        const qint64 end = std::min(s.endMs, day.endMs);
        if (start < end) gaps.push_back({s.kind, start, end, s.cause});
    }
    std::stable_sort(gaps.begin(), gaps.end(),
                     [](const CoverageGap &a, const CoverageGap &b) { return a.startMs < b.startMs; });
    return gaps;
}

}  // namespace

DayCoverage dayCoverage(const QDate &day, const std::vector<Span> &spans, const QSet<QString> &damagedFiles)
{
    const Interval bounds = localDay(day);
    std::array<std::vector<Interval>, kSpanKinds> byKind;
    std::vector<Interval> damaged;
    for (const Span &s : spans) {
        byKind[size_t(s.kind)].push_back({s.startMs, s.endMs});
        if (s.kind == SpanKind::Recorded && !s.file.isEmpty() && damagedFiles.contains(s.file))
            damaged.push_back({s.startMs, s.endMs});
    }
    auto unionOf = [&](SpanKind kind) { return unionWithin(std::move(byKind[size_t(kind)]), bounds); };
    const std::vector<Interval> asked = unionOf(SpanKind::Asked);
    const std::vector<Interval> recorded = unionOf(SpanKind::Recorded);
    const std::vector<Interval> lost = unionOf(SpanKind::Lost);
    const std::vector<Interval> silent = unionOf(SpanKind::Silent);
    const std::vector<Interval> damagedUnion = unionWithin(std::move(damaged), bounds);

    DayCoverage c;
    c.day = day;
    c.dayStartMs = bounds.startMs;
    c.dayEndMs = bounds.endMs;
    c.askedMs = totalLength(asked);
    c.recordedMs = totalLength(recorded);
    c.lostMs = totalLength(lost);
    c.silentMs = totalLength(silent);
    c.droppedMs = totalLength(unionOf(SpanKind::Dropped));
    c.damagedMs = totalLength(damagedUnion);
    c.recordedPercent = percentOf(overlapLength(recorded, asked), c.askedMs);
    c.lostPercent = percentOf(overlapLength(lost, asked), c.askedMs);
    c.silentPercent = percentOf(overlapLength(silent, asked), c.askedMs);
    c.damagedPercent = percentOf(overlapLength(damagedUnion, asked), c.askedMs);
    c.gaps = gapsWithin(spans, bounds);
    return c;
}

}  // namespace ledger
