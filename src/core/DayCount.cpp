#include "core/DayCount.h"

#include <cmath>
#include <optional>

// Before the epoch the classic convention holds: the whole part counts days back and the
// fraction is still the time of day, added away from zero. 1899-12-29 06:00 is -1.25,
// not -0.75. So the calendar day of a count is its whole part truncated towards zero, and
// the time of day is the magnitude of the fraction; -0.25 and 0.25 name the same time.

namespace core {

namespace {

constexpr qint64 kMsecsPerDay = 86400000;

struct DayAndTime {
    qint64 day;
    qint64 msecs;  // 0 <= msecs < kMsecsPerDay
};

// Splits a count into calendar day and millisecond of the day; a time that rounds up to
// midnight belongs to the next calendar day.
std::optional<DayAndTime> split(double days)
{
    // Far beyond any date QDate keeps; also rejects NaN and infinities.
    if (!(std::fabs(days) < 1e9)) return std::nullopt;
    const double whole = std::trunc(days);
    DayAndTime r{qint64(whole), std::llround(std::fabs(days - whole) * double(kMsecsPerDay))};
    if (r.msecs >= kMsecsPerDay) {
        r.msecs -= kMsecsPerDay;
        r.day += 1;
    }
    return r;
}

}  // namespace

QDate dayCountEpoch() { return QDate(1899, 12, 30); }

double toDayCount(const QDateTime &localDateTime)
{
    if (!localDateTime.isValid()) return 0.0;
    const QDateTime local = localDateTime.timeSpec() == Qt::LocalTime
                                ? localDateTime
                                : localDateTime.toLocalTime();
    return toDayCount(local.date(), local.time());
}

double toDayCount(const QDate &date, const QTime &time)
{
    const qint64 day = dayCountEpoch().daysTo(date);
    const double fraction = timeOfDayFraction(time);
    return day >= 0 ? double(day) + fraction : double(day) - fraction;
}

QDateTime fromDayCount(double days)
{
    const std::optional<DayAndTime> dt = split(days);
    if (!dt) return {};
    const QDate date = dayCountEpoch().addDays(dt->day);
    const QTime time = QTime::fromMSecsSinceStartOfDay(int(dt->msecs));
    const QDateTime local(date, time, Qt::LocalTime);
    if (local.isValid()) return local;

    // A wall time skipped by a clock change (02:30 when clocks jump from 02:00 to 03:00)
    // is read with the offset in force before the change, so it lands after the gap by the
    // gap's length (03:30) instead of giving an invalid date-time.
    const QDateTime dayBefore(date.addDays(-1), time, Qt::LocalTime);
    if (!dayBefore.isValid()) return local;
    const QDateTime asUtc(date, time, Qt::UTC);
    return asUtc.addSecs(-dayBefore.offsetFromUtc()).toLocalTime();
}

double timeOfDayFraction(const QTime &time)
{
    if (!time.isValid()) return 0.0;
    return double(time.msecsSinceStartOfDay()) / double(kMsecsPerDay);
}

QTime timeOfDay(double days)
{
    const std::optional<DayAndTime> dt = split(days);
    return QTime::fromMSecsSinceStartOfDay(dt ? int(dt->msecs) : 0);
}

int wholeDays(double days)
{
    const std::optional<DayAndTime> dt = split(days);
    return dt ? int(dt->day) : 0;
}

}  // namespace core
