#pragma once
// Coverage of a local day: how much of the time a recording was asked for was recorded,
// lost, silent or recorded into a file found damaged. A pure function of the spans; the
// ledger feeds it the spans that overlap the day.
//
// A local day runs from local midnight to the next local midnight, so a day on which the
// clocks change lasts 23 or 25 hours. Spans are clipped to the day. Spans of one kind may
// overlap (two schedule entries, a file and the next one sharing a second); each kind is
// counted as the union of its spans, so no moment counts twice. "Damaged" is the union of
// the recorded spans whose file is marked damaged.
//
// Durations are of the whole day; the percentages are of the asked time: the share of the
// asked time that each kind covers (a recording by hand outside the asked time adds to
// recordedMs, not to recordedPercent). With no asked time every percentage is 0.

#include "ledger/LedgerEntry.h"

#include <QDate>
#include <QSet>
#include <QString>
#include <vector>

namespace ledger {

struct Interval {
    qint64 startMs = 0;
    qint64 endMs = 0;
};

// A lost or silent stretch of the day, clipped to it.
struct CoverageGap {
    SpanKind kind = SpanKind::Lost;
    qint64 startMs = 0;
    qint64 endMs = 0;
    QString cause;
    qint64 lengthMs() const { return endMs - startMs; }
};

struct DayCoverage {
    QDate day;
    qint64 dayStartMs = 0;  // local midnight
    qint64 dayEndMs = 0;    // the next local midnight
    qint64 askedMs = 0;
    qint64 recordedMs = 0;
    qint64 lostMs = 0;
    qint64 silentMs = 0;
    qint64 droppedMs = 0;
    qint64 damagedMs = 0;
    double recordedPercent = 0;
    double lostPercent = 0;
    double silentPercent = 0;
    double damagedPercent = 0;
    std::vector<CoverageGap> gaps;  // lost and silent spans, by start
};

// Local midnight of day and of the day after, in ms since the epoch.
Interval localDay(const QDate &day);

// The union of intervals clipped to `within`: sorted, disjoint, none empty.
std::vector<Interval> unionWithin(std::vector<Interval> intervals, const Interval &within);
qint64 totalLength(const std::vector<Interval> &disjoint);
// Length of the intersection of two sorted disjoint lists.
qint64 overlapLength(const std::vector<Interval> &a, const std::vector<Interval> &b);

// damagedFiles: the paths of the files whose verification found them damaged.
DayCoverage dayCoverage(const QDate &day, const std::vector<Span> &spans, const QSet<QString> &damagedFiles);

}  // namespace ledger
