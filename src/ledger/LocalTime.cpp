#include "ledger/LocalTime.h"

#include "ledger/LedgerEntry.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>
#include <algorithm>
#include <vector>

namespace ledger {

namespace {

constexpr qint64 kHourMs = 3600 * 1000;

// The moments whose local time is `local` (read as if it were UTC): none when the clocks
// skip it, two when they show it twice.
std::vector<qint64> momentsShowing(qint64 localAsUtcMs)
{
    std::vector<qint64> moments;
    // The offsets in force within half a day either side cover any change of that day.
    for (qint64 probe : {localAsUtcMs - 14 * kHourMs, localAsUtcMs, localAsUtcMs + 14 * kHourMs}) {
        const int offset = QDateTime::fromMSecsSinceEpoch(probe).offsetFromUtc();
        const qint64 moment = localAsUtcMs - qint64(offset) * 1000;
        if (QDateTime::fromMSecsSinceEpoch(moment).offsetFromUtc() == offset
            && std::find(moments.begin(), moments.end(), moment) == moments.end())
            moments.push_back(moment);
    }
    std::sort(moments.begin(), moments.end());
    return moments;
}

}  // namespace

ParsedTime parseLocalTime(const QString &text)
{
    static const QRegularExpression form(QStringLiteral(
        R"(^(\d{4}-\d{2}-\d{2})[T ](\d{2}:\d{2})(:\d{2}(\.\d{1,3})?)?(Z|[+-]\d{2}:?\d{2})?$)"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    const QString wanted = QStringLiteral("a local time such as 2026-12-09T10:58:00");
    if (!m.hasMatch()) return {0, QStringLiteral("\"%1\" is not %2").arg(text, wanted)};
    const QDate date = QDate::fromString(m.captured(1), Qt::ISODate);
    QString clock = m.captured(2) + (m.captured(3).isEmpty() ? QStringLiteral(":00") : m.captured(3));
    if (m.captured(4).isEmpty()) clock += QStringLiteral(".000");
    const QTime time = QTime::fromString(clock.leftJustified(12, QLatin1Char('0')), QStringLiteral("HH:mm:ss.zzz"));
    if (!date.isValid() || !time.isValid()) return {0, QStringLiteral("\"%1\" is not %2").arg(text, wanted)};
    const qint64 asUtc = QDateTime(date, time, QTimeZone::utc()).toMSecsSinceEpoch();

    const QString zone = m.captured(5);
    if (!zone.isEmpty()) {
        if (zone == QLatin1String("Z")) return {asUtc, {}};
        QString digits = zone.mid(1);
        digits.remove(QLatin1Char(':'));
        const int minutes = digits.left(2).toInt() * 60 + digits.mid(2).toInt();
        return {asUtc - qint64(zone.startsWith(QLatin1Char('-')) ? -minutes : minutes) * 60000, {}};
    }
    const std::vector<qint64> moments = momentsShowing(asUtc);
    if (moments.empty())
        return {0, QStringLiteral("%1 does not exist here: the clocks skip it when summer time begins").arg(text)};
    if (moments.size() > 1)
        return {0, QStringLiteral("%1 happens twice here (the clocks go back): add its offset, %2 or %3")
                       .arg(text, localIsoSeconds(moments[0]), localIsoSeconds(moments[1]))};
    return {moments.front(), {}};
}

std::optional<QDate> parseDay(const QString &text)
{
    static const QRegularExpression form(QStringLiteral(R"(^\d{4}-\d{2}-\d{2}$)"));
    if (!form.match(text.trimmed()).hasMatch()) return std::nullopt;
    const QDate day = QDate::fromString(text.trimmed(), Qt::ISODate);
    if (!day.isValid()) return std::nullopt;
    return day;
}

}  // namespace ledger
