#pragma once
// A local day's coverage as a strip: the day from midnight to midnight (23 or 25 hours on the
// days the clocks change) cut into stretches of one shade each, and those stretches laid on
// pixels. Pure functions, so that the picture's geometry is tested without a window.
//
// Where spans overlap, the moment shows the shade first in StripShade's order: lost time
// over a damaged file over silence over a sound recording over time asked for but not
// recorded. A pixel shows the first shade of the time it spans, so that a lost second
// still gets its pixel on a day 500 pixels wide.

#include "ledger/Coverage.h"
#include "ledger/LedgerEntry.h"

#include <QDate>
#include <QSet>
#include <QString>
#include <limits>
#include <vector>

namespace ledger {

enum class StripShade {
    Lost,        // lost or dropped: no sound reached the file
    Damaged,     // recorded into a file found damaged
    Silent,
    Recorded,
    Unrecorded,  // asked for, and nothing recorded, lost or silent
    NotAsked,    // nothing asked, nothing recorded
};
constexpr int kStripShades = 6;

struct StripSegment {
    StripShade shade = StripShade::NotAsked;
    qint64 startMs = 0;
    qint64 endMs = 0;
};

// The run of pixels [x, x + width) in one shade.
struct StripRun {
    StripShade shade = StripShade::NotAsked;
    int x = 0;
    int width = 0;
};

// The day [startMs, endMs) laid over the pixels [left, left + width).
struct StripScale {
    qint64 startMs = 0;
    qint64 endMs = 0;
    int left = 0;
    int width = 1;

    // The pixel that shows ms (may lie outside the strip).
    int xOf(qint64 ms) const;
    // The time at the left edge of pixel x.
    qint64 msAt(int x) const;
};

StripShade shadeOf(const Span &span, const QSet<QString> &damagedFiles);

// The day cut into stretches of one shade: in order, adjacent, neighbours differing, from
// local midnight to the next (or to untilMs, when that comes first: the rest of today).
std::vector<StripSegment> stripSegments(const std::vector<Span> &spans, const QSet<QString> &damagedFiles,
                                        const QDate &day, qint64 untilMs = std::numeric_limits<qint64>::max());

// The segments on the pixels of `scale`, in order; a pixel no segment reaches (the rest of
// today) has no run.
std::vector<StripRun> stripRuns(const std::vector<StripSegment> &segments, const StripScale &scale);

// The span that pixel x shows: of those overlapping its time, the first in shade order (of
// equal shades, the one that starts first); nullptr when none does.
const Span *spanAt(const std::vector<Span> &spans, const QSet<QString> &damagedFiles, const StripScale &scale, int x);

// The moments of the day's local hours from midnight on: 24, or 23 or 25 on a change day.
std::vector<qint64> hourMarks(const QDate &day);

// A line for a tool tip: "lost 10:58:03–11:10:03 (0:12:00): the sound server went away".
QString spanDescription(const Span &span, bool damagedFile);

}  // namespace ledger
