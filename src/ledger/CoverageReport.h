#pragma once
// The text that `vantrel --coverage` prints: what range it covers, one line per local day and
// one per lost or silent span of that day. Pure functions of their inputs, so that the layout
// is tested without a ledger.
//
//   # Coverage of 2026-12-09, local time
//   day            asked  recorded             lost           silent          damaged
//   2026-12-09  24:00:00  23:10:00  96.5%   0:12:00   0.8%   0:38:00   2.6%   1:00:00   4.2%
//     lost    2026-12-09T10:58:03.120  2026-12-09T11:10:03.120   0:12:00  the sound server went away
//
// Durations are H:MM:SS, rounded to the second; percentages are of the asked time ("-" when
// nothing was asked). Times are local ISO 8601 without an offset, except in the hour that the
// clocks show twice, where the offset tells the two apart; either form is what --export and
// --coverage take back.

#include "ledger/Coverage.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <vector>

namespace ledger {

// What the arguments of --coverage ask for: the local days from firstDay to lastDay, and,
// when times were given, only [clip.startMs, clip.endMs) of them.
struct CoverageRange {
    QDate firstDay;
    QDate lastDay;
    bool clipped = false;
    Interval clip;
    QString error;  // why the arguments were refused; empty when they were taken
};

// No argument: today. One: a day. Two: FROM TO, each a day or a local time; a day as TO
// includes that day.
CoverageRange coverageRange(const QStringList &args, const QDate &today);

// The coverage of each day of the range. spans: those that overlap the range (more do no
// harm); damagedFiles: the paths of the files found damaged.
std::vector<DayCoverage> rangeCoverage(const CoverageRange &range, const std::vector<Span> &spans,
                                       const QSet<QString> &damagedFiles);

// "# Coverage of …" and the column titles, each ending in a newline.
QString coverageHeading(const CoverageRange &range);
// The day's line and a line for each of its lost and silent spans, each ending in a newline.
QString coverageDayText(const DayCoverage &day);

// "1:02:03"; hours run on past 24.
QString durationText(qint64 ms);
// "2026-12-09T10:58:03.120", with the offset only where the local time is shown twice.
QString localTimeText(qint64 msSinceEpoch);

}  // namespace ledger
