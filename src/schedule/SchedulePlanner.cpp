#include "schedule/SchedulePlanner.h"

#include <algorithm>
#include <optional>
#include <tuple>
#include <unordered_map>

namespace schedule {

namespace {

constexpr qint64 kMsPerDay = 86400000;

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0 && (a < 0) != (b < 0)) ? 1 : 0);
}

// The first moment in (fromUtcMs, toUtcMs] with the local offset of toUtcMs, when it
// differs from that of fromUtcMs. Called only when the wall clock went back.
std::optional<qint64> offsetChangeUtcMs(qint64 fromUtcMs, qint64 toUtcMs)
{
    auto offsetAt = [](qint64 ms) {
        return QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime).offsetFromUtc();
    };
    const int before = offsetAt(fromUtcMs);
    if (offsetAt(toUtcMs) == before) return std::nullopt;
    qint64 lo = fromUtcMs;  // offset still `before`
    qint64 hi = toUtcMs;    // offset already changed
    while (hi - lo > 1) {
        const qint64 mid = lo + (hi - lo) / 2;
        (offsetAt(mid) == before ? lo : hi) = mid;
    }
    return hi;
}

struct Instant {
    qint64 wallMs;  // local wall-clock ms since the Julian day epoch
    qint64 utcMs;
};

Instant instantOf(const QDateTime &time)
{
    const QDateTime local = time.timeSpec() == Qt::LocalTime ? time : time.toLocalTime();
    return {local.date().toJulianDay() * kMsPerDay + local.time().msecsSinceStartOfDay(),
            local.toMSecsSinceEpoch()};
}

// The local time of a wall-clock instant; invalid in a span the clock skipped.
QDateTime localTimeOf(qint64 wallMs)
{
    const qint64 day = floorDiv(wallMs, kMsPerDay);
    const QDateTime at(QDate::fromJulianDay(day), QTime::fromMSecsSinceStartOfDay(int(wallMs - day * kMsPerDay)),
                       Qt::LocalTime);
    return at.isValid() && instantOf(at).wallMs == wallMs ? at : QDateTime();
}

struct Candidate {
    qint64 wallMs;  // the wall-clock instant of the entry's time in the span
    int row;
    bool alreadyFired;
};

// The wall-clock span a tick covers: (fromWallMs, toWallMs].
struct Span {
    qint64 fromWallMs;
    qint64 toWallMs;
    bool catchUp;  // more real time than kCatchUpAfterMs passed: only the latest entry counts
};

struct SpanCandidates {
    std::vector<Candidate> due;             // in the span, in time order, then list order
    std::optional<Candidate> latestBefore;  // a catch-up only: the latest entry before the span
};

using FiredOnDay = std::unordered_map<quint64, qint64>;  // entry id -> Julian day it fired

bool firedOn(const FiredOnDay &firedOnDay, quint64 id, qint64 day)
{
    const auto it = firedOnDay.find(id);
    return it != firedOnDay.end() && it->second == day;
}

// The span of a tick at `to` after the one at `from`; none when it covers no time.
std::optional<Span> spanBetween(const Instant &from, const Instant &to)
{
    const qint64 realElapsedMs = to.utcMs - from.utcMs;
    if (to.wallMs > from.wallMs)
        return Span{from.wallMs, to.wallMs, realElapsedMs > SchedulePlanner::kCatchUpAfterMs};
    // The wall clock went back. When it was the local offset that changed (the end of
    // summer time), the moments between the previous tick and the change still count;
    // after it, the once-a-day memory keeps the repeated hour quiet. A clock set back
    // by hand adds nothing.
    if (realElapsedMs <= 0 || realElapsedMs > SchedulePlanner::kCatchUpAfterMs) return std::nullopt;
    const std::optional<qint64> changeUtcMs = offsetChangeUtcMs(from.utcMs, to.utcMs);
    if (!changeUtcMs) return std::nullopt;
    const qint64 toWallMs = from.wallMs + (*changeUtcMs - from.utcMs) - 1;  // up to the change, excluded
    if (toWallMs <= from.wallMs) return std::nullopt;
    return Span{from.wallMs, toWallMs, false};
}

// The entries whose time falls in the span, each at the latest moment at or before the
// span's end with its time of day; they count as fired on that day from now on.
SpanCandidates candidatesIn(const Span &span, const ScheduleList &list, FiredOnDay &firedOnDay)
{
    const qint64 toDay = floorDiv(span.toWallMs, kMsPerDay);
    const qint64 toTimeOfDay = span.toWallMs - toDay * kMsPerDay;
    SpanCandidates found;
    for (int row = 0; row < list.count(); ++row) {
        const qint64 timeOfDay = list.timeOfDayMsAt(row);
        const qint64 day = timeOfDay <= toTimeOfDay ? toDay : toDay - 1;
        const qint64 at = day * kMsPerDay + timeOfDay;
        const quint64 id = list.idAt(row);
        if (at <= span.fromWallMs) {
            // Only a catch-up looks back before the span.
            if (span.catchUp && (!found.latestBefore || at >= found.latestBefore->wallMs))
                found.latestBefore = Candidate{at, row, firedOn(firedOnDay, id, day)};
            continue;
        }
        found.due.push_back({at, row, firedOn(firedOnDay, id, day)});
        firedOnDay[id] = day;
    }
    std::sort(found.due.begin(), found.due.end(), [](const Candidate &a, const Candidate &b) {
        return std::tie(a.wallMs, a.row) < std::tie(b.wallMs, b.row);
    });
    return found;
}

// A catch-up without an entry in the span: the Record entry that fired last before it
// ends its recording when its length ran out within the span.
std::vector<DueEntry> lengthEndedDuringCatchUp(const std::optional<Candidate> &latestBefore, const Span &span,
                                               const ScheduleList &list)
{
    if (!latestBefore || !latestBefore->alreadyFired) return {};
    const ScheduleEntry &entry = list.at(latestBefore->row);
    const qint32 limitMs = recordingLimitMs(entry);
    const qint64 endWallMs = latestBefore->wallMs + limitMs;
    if (limitMs <= 0 || endWallMs <= span.fromWallMs || endWallMs > span.toWallMs) return {};
    return {{latestBefore->row, entry, ActionStop, 0, span.toWallMs - endWallMs, true, localTimeOf(span.toWallMs)}};
}

// A catch-up: only the latest entry of the span takes effect, a Record entry with what is
// left of its length, or as a Stop when none is left.
std::vector<DueEntry> catchUpEntries(const SpanCandidates &found, const Span &span, const ScheduleList &list)
{
    if (found.due.empty()) return lengthEndedDuringCatchUp(found.latestBefore, span, list);
    const Candidate &last = found.due.back();
    if (last.alreadyFired) return {};
    const ScheduleEntry &entry = list.at(last.row);
    const qint64 lateMs = span.toWallMs - last.wallMs;
    DueEntry d{last.row, entry, entry.action, recordingLimitMs(entry), lateMs, false,
               localTimeOf(lateMs == 0 ? last.wallMs : span.toWallMs)};
    if (d.limitMs > 0) {
        const qint64 remaining = qint64(d.limitMs) - d.lateMs;
        if (remaining > 0) {
            d.limitMs = qint32(remaining);
        } else {
            d.action = ActionStop;
            d.limitMs = 0;
        }
    }
    return {d};
}

// An ordinary tick: every entry of the span that has not fired on its day yet, in order.
std::vector<DueEntry> dueEntries(const SpanCandidates &found, const ScheduleList &list)
{
    std::vector<DueEntry> out;
    for (const Candidate &c : found.due) {
        if (c.alreadyFired) continue;
        const ScheduleEntry &entry = list.at(c.row);
        out.push_back({c.row, entry, entry.action, recordingLimitMs(entry), 0, false, localTimeOf(c.wallMs)});
    }
    return out;
}

}  // namespace

std::vector<QDateTime> SchedulePlanner::upcoming(const QDateTime &now, qint64 aheadMs, const ScheduleList &list,
                                                 bool recordOnly) const
{
    std::vector<QDateTime> found;
    if (!now.isValid()) return found;
    const Instant from = instantOf(now);
    const qint64 fromDay = floorDiv(from.wallMs, kMsPerDay);
    for (int row = 0; row < list.count(); ++row) {
        if (recordOnly && list.at(row).action != ActionRecord) continue;
        const qint64 timeOfDay = list.timeOfDayMsAt(row);
        for (qint64 day = fromDay; day <= fromDay + 1; ++day) {
            const qint64 at = day * kMsPerDay + timeOfDay;
            if (at <= from.wallMs || at > from.wallMs + aheadMs || firedOn(m_firedOnDay, list.idAt(row), day)) continue;
            if (const QDateTime local = localTimeOf(at); local.isValid()) found.push_back(local);
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

void SchedulePlanner::start(const QDateTime &startedAt)
{
    reset();
    if (!startedAt.isValid()) return;
    const Instant at = instantOf(startedAt);
    m_hasPrevious = true;
    m_previousWallMs = at.wallMs;
    m_previousUtcMs = at.utcMs;
}

void SchedulePlanner::reset()
{
    m_hasPrevious = false;
    m_firedOnDay.clear();
}

void SchedulePlanner::prune(qint64 today)
{
    if (today == m_prunedOnDay) return;
    m_prunedOnDay = today;
    // Only today's and yesterday's firings can still matter (a span reaches back at most
    // into yesterday unless it is a catch-up, which marks again what it passes).
    for (auto it = m_firedOnDay.begin(); it != m_firedOnDay.end();) {
        if (it->second < today - 1)
            it = m_firedOnDay.erase(it);
        else
            ++it;
    }
}

std::vector<DueEntry> SchedulePlanner::tick(const QDateTime &now, const ScheduleList &list)
{
    if (!now.isValid()) return {};
    const Instant at = instantOf(now);
    const bool firstTick = !m_hasPrevious;
    const Instant previous{m_previousWallMs, m_previousUtcMs};
    m_hasPrevious = true;
    m_previousWallMs = at.wallMs;
    m_previousUtcMs = at.utcMs;
    if (firstTick) return {};

    const std::optional<Span> span = spanBetween(previous, at);
    if (!span) return {};
    prune(floorDiv(at.wallMs, kMsPerDay));
    const SpanCandidates found = candidatesIn(*span, list, m_firedOnDay);
    return span->catchUp ? catchUpEntries(found, *span, list) : dueEntries(found, list);
}

}  // namespace schedule
