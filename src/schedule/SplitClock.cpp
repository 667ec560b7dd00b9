#include "schedule/SplitClock.h"

#include <algorithm>

namespace schedule {

std::vector<QDateTime> splitMomentsIn(const QDateTime &from, const QDateTime &to, int minutes)
{
    constexpr qint64 kMinuteMs = 60 * 1000;
    std::vector<QDateTime> moments;
    if (minutes <= 0 || !from.isValid() || !to.isValid()) return moments;
    const qint64 toMs = to.toMSecsSinceEpoch();
    const qint64 fromMs = std::max(from.toMSecsSinceEpoch(), toMs - 24 * 60 * kMinuteMs);
    // Every whole minute of UTC is one of local time too (offsets are whole minutes).
    for (qint64 ms = (fromMs / kMinuteMs + 1) * kMinuteMs; ms <= toMs; ms += kMinuteMs) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
        const QTime time = local.time();
        if (time.second() == 0 && (time.hour() * 60 + time.minute()) % minutes == 0) moments.push_back(local);
    }
    return moments;
}

}  // namespace schedule
