#pragma once
// Date-time values as day counts: days since 30 December 1899 00:00 local time, the
// fraction being the time of day. This is the stored form of schedule and archive times.
// Before the epoch the fraction still counts forward from midnight, away from zero:
// 1899-12-29 06:00 is -1.25. Exact to the millisecond for any date of the years 1900-2200.

#include <QDate>
#include <QDateTime>
#include <QTime>

namespace core {

constexpr double kSecondsPerDay = 86400.0;

QDate dayCountEpoch();                              // 1899-12-30
// The count is the local wall-clock reading, not an instant: a date-time given in another
// zone is first converted to local time. An invalid date-time gives 0.
double toDayCount(const QDateTime &localDateTime);
// A wall-clock date and time of day, read as they stand: a time skipped by a clock change
// (as read from a file) keeps its value instead of making the date-time invalid.
double toDayCount(const QDate &date, const QTime &time);
// Local; rounded to the millisecond. A wall time skipped by a clock change moves forward
// by the length of the gap (02:30 -> 03:30); NaN or a count beyond any date is invalid.
QDateTime fromDayCount(double days);
double timeOfDayFraction(const QTime &time);        // 0 <= f < 1
QTime timeOfDay(double days);                       // time part, rounded to the millisecond
// The calendar day number: floor for counts from the epoch on, the whole part before it
// (-1.25 is day -1 at 06:00). A time rounding up to midnight counts as the next day, as in
// fromDayCount.
int wholeDays(double days);
}  // namespace core
