#pragma once
// The firing rule of the schedule. The main window calls tick() on every schedule tick
// with the current local time and applies what it returns, in order.
//
// An entry falls due when its time of day lies in the wall-clock span from the previous
// tick (excluded) to this one (included); the span may cross midnight. Ticks come about,
// not exactly, a second apart, so no spacing is assumed: a span of any length misses
// nothing and fires nothing twice. Beyond that:
// - The first span starts at the program's start (start()), so an entry due between the
//   start and the first tick fires; entries that passed while the program was not running
//   do not. Without start() the first tick only notes the time.
// - Each entry fires at most once per calendar day. Entries are remembered by the list's
//   id, so rows moving after an edit never cause a second firing.
// - Clocks going forward without real time passing (daylight saving, 02:00 -> 03:00) are
//   a span like any other: the skipped hour's entries fire at the jump, in order.
// - When summer time ends (03:00 -> 02:00), entries due between the previous tick and
//   the change still fire; in the repeated hour nothing fires a second time (once per
//   calendar day). A clock set back by hand fires nothing until it passes new times.
// - When more real time than kCatchUpAfterMs has passed since the previous tick (the
//   computer slept, or the clock was set forward), firing every entry in between would
//   start and stop a burst of recordings. Instead the recorder is left in the state the
//   schedule asks for now: only the latest entry of the span takes effect, and a Record
//   entry's length counts from its scheduled time, so one whose length is already over is
//   a Stop. The other entries of the span count as fired for their day. When the span
//   holds no entry but the length of a Record entry that fired before it ran out within
//   it (the computer slept through the end of a scheduled recording), that is a Stop too.
// Entries due on the same tick come in time order (date included across midnight), then
// list order.
//
// Main thread only. Cheap per tick: one pass over the list; memory is touched only for
// entries that fall due.

#include "schedule/ScheduleList.h"

#include <QDateTime>
#include <unordered_map>
#include <vector>

namespace schedule {

struct DueEntry {
    int row = -1;            // row of the entry in the list at this tick
    ScheduleEntry entry;
    qint32 action = ActionRecord;  // what to do: entry.action, or Stop for a Record entry
                                   // whose length ran out while the clock jumped
    qint32 limitMs = 0;      // Record: length limit for the recording it starts; 0 = none
    qint64 lateMs = 0;       // how long after its time it fires (only after a catch-up)
    // Stop for a Record entry that fired before the jump: it ends the recording that entry
    // started, so it applies only while the running recording has a length limit (one
    // started by hand since has none and goes on).
    bool endsLimitedRecordingOnly = false;
    QDateTime at;            // the moment it is due: its second, or the tick's time when it
                             // fires late (a catch-up, a time the clock skipped)
};

class SchedulePlanner {
public:
    static constexpr qint64 kCatchUpAfterMs = 5 * 60 * 1000;

    // now: the current time; any time spec, taken as local wall-clock time.
    std::vector<DueEntry> tick(const QDateTime &now, const ScheduleList &list);

    // The moments within (now, now + aheadMs] at which an entry (a Record entry with
    // recordOnly) is due that has not fired on its day, in time order: what the recorder
    // makes ready for ahead of the tick that fires it.
    std::vector<QDateTime> upcoming(const QDateTime &now, qint64 aheadMs, const ScheduleList &list,
                                    bool recordOnly = false) const;

    // The program's start: the first tick's span begins here.
    void start(const QDateTime &startedAt);

    // Forgets the previous tick (the next tick only notes the time) and what fired.
    void reset();

private:
    void prune(qint64 today);

    bool m_hasPrevious = false;
    qint64 m_previousWallMs = 0;  // local wall-clock ms since the Julian day epoch
    qint64 m_previousUtcMs = 0;
    qint64 m_prunedOnDay = 0;
    std::unordered_map<quint64, qint64> m_firedOnDay;  // entry id -> Julian day it fired
};

}  // namespace schedule
