#pragma once
// One daily schedule entry and the texts its list row shows.

#include <QString>
#include <QtGlobal>

namespace schedule {

enum ScheduleAction : qint32 {
    ActionRecord = 1,  // start a recording (splits a running one into two files)
    ActionStop = 2,    // stop the recording
};

struct ScheduleEntry {
    double time = 0.0;        // day count; only the time of day counts
    qint32 lengthMs = 0;      // Record: recording length; 0 (or less) = no length
    qint32 action = ActionRecord;

    bool operator==(const ScheduleEntry &o) const
    {
        return time == o.time && lengthMs == o.lengthMs && action == o.action;
    }
    bool operator!=(const ScheduleEntry &o) const { return !(*this == o); }
};

// Milliseconds since midnight of the entry's time of day, 0 <= ms < 86 400 000.
int timeOfDayMs(const ScheduleEntry &entry);

// The length limit the recording started by this entry gets, in ms; 0 = none.
// Stop entries and non-positive lengths give none.
qint32 recordingLimitMs(const ScheduleEntry &entry);

// Texts of the "Action" column; the language code replaces the built-in words.
struct ActionTexts {
    QString record = QStringLiteral("Record");
    QString stop = QStringLiteral("Stop");
};

enum ScheduleColumn { TimeColumn = 0, LengthColumn = 1, ActionColumn = 2, ColumnCount = 3 };

// The text of one cell of the schedule list: "HH:mm:ss"; "h:mm:ss" of the length,
// "--:--:--" without one, "n/a" for a Stop entry; the action word.
QString cellText(const ScheduleEntry &entry, int column, const ActionTexts &actions);

}  // namespace schedule
