#include "schedule/ScheduleEntry.h"

#include "core/DayCount.h"
#include "core/TextLimits.h"

#include <QTime>

namespace schedule {

int timeOfDayMs(const ScheduleEntry &entry)
{
    return core::timeOfDay(entry.time).msecsSinceStartOfDay();
}

qint32 recordingLimitMs(const ScheduleEntry &entry)
{
    return entry.action == ActionRecord && entry.lengthMs > 0 ? entry.lengthMs : 0;
}

QString cellText(const ScheduleEntry &entry, int column, const ActionTexts &actions)
{
    switch (column) {
    case TimeColumn:
        return core::timeOfDay(entry.time).toString(QStringLiteral("HH:mm:ss"));
    case LengthColumn:
        if (entry.action == ActionStop) return QStringLiteral("n/a");
        if (entry.lengthMs <= 0) return QStringLiteral("--:--:--");
        return core::formatHms(entry.lengthMs / 1000);
    case ActionColumn:
        return entry.action == ActionStop ? actions.stop : actions.record;
    default:
        return {};
    }
}

}  // namespace schedule
