#include "archive/Keep.h"

#include "core/DayCount.h"

#include <algorithm>

namespace archive {

QString keepReason(const ArchiveRecord &record, const QDateTime &now, const KeepRules &rules)
{
    if (record.start == 0.0) return QStringLiteral("its date cannot be read");
    const qint64 age = core::wholeDays(core::toDayCount(now)) - core::wholeDays(record.start);
    if (rules.minStoreDays > 0 && age < rules.minStoreDays)
        return QStringLiteral("younger than the minimum of %1 days").arg(rules.minStoreDays);
    if (const Hold *hold = holdOver(record, rules.holds)) return holdText(*hold);
    return {};
}

const Hold *holdOver(const ArchiveRecord &record, const std::vector<Hold> &holds)
{
    if (record.start == 0.0) return nullptr;
    const qint64 startMs = core::fromDayCount(record.start).toMSecsSinceEpoch();
    const qint64 endMs = startMs + qint64(std::max(record.lengthSeconds, 0)) * 1000;
    for (const Hold &hold : holds)
        if (startMs < hold.toMs && endMs > hold.fromMs) return &hold;
    return nullptr;
}

QString holdText(const Hold &hold)
{
    return hold.reason.isEmpty() ? QStringLiteral("on hold %1").arg(hold.id)
                                 : QStringLiteral("on hold %1: %2").arg(hold.id).arg(hold.reason);
}

}  // namespace archive
