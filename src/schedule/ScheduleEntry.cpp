#include "schedule/ScheduleEntry.h"

#include "core/DayCount.h"
#include "core/TextLimits.h"

#include <QTime>

namespace schedule {

int timeOfDayMs(const ScheduleEntry &entry)
{
    return core::timeOfDay(entry.Time).msecsSinceStartOfDay();
}

qint32 recordingLimitMs(const ScheduleEntry &entry)
{
    return entry.Action == ActionRecord && entry.Length > 0 ? entry.Length : 0;
}

QString cellText(const ScheduleEntry &entry, int column, const ActionTexts &actions)
{
    switch (column) {
    case TimeColumn:
        return core::timeOfDay(entry.Time).toString(QStringLiteral("HH:mm:ss"));
    case LengthColumn:
        if (entry.Action == ActionStop) return QStringLiteral("n/a");
        if (entry.Length <= 0) return QStringLiteral("--:--:--");
        return core::formatHms(entry.Length / 1000);
    case ActionColumn:
        return entry.Action == ActionStop ? actions.stop : actions.record;
    default:
        return {};
    }
}

}  // namespace schedule
