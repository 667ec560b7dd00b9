#pragma once
// The "DateTime" text of the archive index: the locale's short date with a four-digit year,
// then, unless the time of day is 00:00:00, a blank and the locale's time with seconds (and
// its AM/PM marker where it has one), without any time-zone name and without fractions of a
// second. Read back are that form and ISO 8601 ("2026-12-07 20:44:37", "2026-12-07T20:44:37",
// "2026-12-07"); any other text reads as 0.
//
// A handful of locales produce text that Qt cannot read back with the same format (digits
// outside the Basic Multilingual Plane, or an AM/PM marker ahead of the hour at noon). For
// those the writer uses the ISO form, so that every date written can be read again.

#include "archive/FastTimeParser.h"

#include <QDate>
#include <QHash>
#include <QLocale>
#include <QString>
#include <QTime>

namespace archive {

// The locale's short date format with a lone two-digit year widened to four digits.
QString shortDateFormatFullYear(const QLocale &locale);
// The locale's long time format without its time-zone name (and the separators around it);
// seconds are added after the minutes should the format lack them.
QString timeFormatWithSeconds(const QLocale &locale);

class RegionalDateTime {
public:
    explicit RegionalDateTime(const QLocale &locale = QLocale::system());

    // Empty for a count that names no date (NaN, out of range).
    QString format(double dayCount) const;
    // 0 for an empty or unreadable text. Not const: date and time texts already seen are
    // remembered, since a large archive repeats each day's date many times, and a logger
    // that records on the hour repeats the same few start times every day.
    double parse(const QString &text);

private:
    bool roundTrips() const;
    QDate regionalDate(const QString &text);
    QTime regionalTime(const QString &text);
    bool parseRegional(const QString &text, double *dayCount);

    QLocale m_locale;
    QString m_dateFormat;
    QString m_timeFormat;
    FastTimeParser m_fastTime;
    bool m_regional = true;
    QHash<QString, QDate> m_dates;  // date text -> date (invalid when unreadable)
    QHash<QString, QTime> m_times;  // time text -> time (invalid when unreadable)
};

}  // namespace archive
