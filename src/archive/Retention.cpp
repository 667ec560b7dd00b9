#include "archive/Retention.h"

#include "core/DayCount.h"
#include "core/ProgramFiles.h"

#include <QTimer>
#include <algorithm>

namespace archive {

int clampStoreTime(int storeTimeDays)
{
    return std::clamp(storeTimeDays, core::limits::kStoreTimeMinDays, core::limits::kStoreTimeMaxDays);
}

std::vector<bool> dueRecords(const ArchiveList &records, const QDateTime &now, int storeTimeDays)
{
    const int storeTime = clampStoreTime(storeTimeDays);
    const qint64 today = core::wholeDays(core::toDayCount(now));
    std::vector<bool> due(records.size(), false);
    for (size_t i = 0; i < records.size(); ++i) {
        const double start = records[i].start;
        if (start == 0.0) continue;  // unreadable date: spared
        due[i] = today - core::wholeDays(start) >= storeTime;
    }
    return due;
}

void startSweepTimer(QTimer &timer)
{
    timer.setInterval(kSweepFirstMs);
    timer.start();
}

void advanceSweepTimer(QTimer &timer)
{
    if (timer.interval() == kSweepFirstMs) timer.setInterval(kSweepIntervalMs);
}

}  // namespace archive
