#include "schedule/SchedulePlanner.h"

#include <algorithm>
#include <optional>
#include <tuple>

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

struct Candidate {
    qint64 wallMs;  // the wall-clock instant of the entry's time in the span
    int row;
    bool alreadyFired;
};

}  // namespace

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

bool SchedulePlanner::firedOn(quint64 id, qint64 day) const
{
    const auto it = m_firedOnDay.find(id);
    return it != m_firedOnDay.end() && it->second == day;
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
    const auto [wallMs, utcMs] = instantOf(now);

    if (!m_hasPrevious) {
        m_hasPrevious = true;
        m_previousWallMs = wallMs;
        m_previousUtcMs = utcMs;
        return {};
    }
    const qint64 fromWallMs = m_previousWallMs;
    const qint64 fromUtcMs = m_previousUtcMs;
    const qint64 realElapsedMs = utcMs - fromUtcMs;
    m_previousWallMs = wallMs;
    m_previousUtcMs = utcMs;

    qint64 toWallMs = wallMs;
    bool catchUp = false;
    if (wallMs <= fromWallMs) {
        // The wall clock went back. When it was the local offset that changed (the end of
        // summer time), the moments between the previous tick and the change still count;
        // after it, the once-a-day memory keeps the repeated hour quiet. A clock set back
        // by hand adds nothing.
        if (realElapsedMs <= 0 || realElapsedMs > kCatchUpAfterMs) return {};
        const std::optional<qint64> changeUtcMs = offsetChangeUtcMs(fromUtcMs, utcMs);
        if (!changeUtcMs) return {};
        toWallMs = fromWallMs + (*changeUtcMs - fromUtcMs) - 1;  // up to the change, excluded
        if (toWallMs <= fromWallMs) return {};
    } else {
        catchUp = realElapsedMs > kCatchUpAfterMs;
    }

    const qint64 toDay = floorDiv(toWallMs, kMsPerDay);
    const qint64 toTimeOfDay = toWallMs - toDay * kMsPerDay;
    prune(floorDiv(wallMs, kMsPerDay));

    std::vector<Candidate> due;
    std::optional<Candidate> latestBefore;  // the latest entry before the span
    for (int row = 0; row < list.count(); ++row) {
        // The latest moment at or before the end of the span with the entry's time of day.
        const qint64 timeOfDay = list.timeOfDayMsAt(row);
        const qint64 day = timeOfDay <= toTimeOfDay ? toDay : toDay - 1;
        const qint64 at = day * kMsPerDay + timeOfDay;
        const quint64 id = list.idAt(row);
        if (at <= fromWallMs) {
            // Only a catch-up looks back before the span.
            if (catchUp && (!latestBefore || at >= latestBefore->wallMs))
                latestBefore = Candidate{at, row, firedOn(id, day)};
            continue;
        }
        due.push_back({at, row, firedOn(id, day)});
        m_firedOnDay[id] = day;
    }

    std::sort(due.begin(), due.end(), [](const Candidate &a, const Candidate &b) {
        return std::tie(a.wallMs, a.row) < std::tie(b.wallMs, b.row);
    });

    std::vector<DueEntry> out;
    if (catchUp) {
        if (due.empty()) {
            if (!latestBefore || !latestBefore->alreadyFired) return out;
            const ScheduleEntry &entry = list.at(latestBefore->row);
            const qint32 limitMs = recordingLimitMs(entry);
            const qint64 endWallMs = latestBefore->wallMs + limitMs;
            if (limitMs > 0 && endWallMs > fromWallMs && endWallMs <= toWallMs)
                out.push_back({latestBefore->row, entry, ActionStop, 0, toWallMs - endWallMs, true});
            return out;
        }
        const Candidate &last = due.back();
        if (last.alreadyFired) return out;
        const ScheduleEntry &entry = list.at(last.row);
        DueEntry d{last.row, entry, entry.action, recordingLimitMs(entry), toWallMs - last.wallMs};
        if (d.limitMs > 0) {
            const qint64 remaining = qint64(d.limitMs) - d.lateMs;
            if (remaining > 0) {
                d.limitMs = qint32(remaining);
            } else {
                d.action = ActionStop;
                d.limitMs = 0;
            }
        }
        out.push_back(d);
        return out;
    }
    for (const Candidate &c : due) {
        if (c.alreadyFired) continue;
        const ScheduleEntry &entry = list.at(c.row);
        out.push_back({c.row, entry, entry.action, recordingLimitMs(entry), 0});
    }
    return out;
}

}  // namespace schedule
