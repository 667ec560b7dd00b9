#include "ledger/CoverageReport.h"

#include "ledger/LocalTime.h"

#include <QDateTime>
#include <algorithm>

namespace ledger {

namespace {

constexpr int kDurationWidth = 8;  // "25:00:00", the longest day
constexpr int kPercentWidth = 7;   // " 100.0%"
const QString kSeparator = QStringLiteral("  ");

// A bound of the range: the start of a day, or a time.
struct Bound {
    QDate day;
    std::optional<qint64> timeMs;
    QString error;
};

Bound boundOf(const QString &text)
{
    if (const std::optional<QDate> day = parseDay(text)) return {*day, std::nullopt, {}};
    if (!text.contains(QLatin1Char(':')))
        return {{}, std::nullopt, QStringLiteral("\"%1\" is neither a day such as 2026-12-09 nor a local time").arg(text)};
    const ParsedTime time = parseLocalTime(text);
    if (!time.ok()) return {{}, std::nullopt, time.error};
    return {QDateTime::fromMSecsSinceEpoch(time.ms).date(), time.ms, {}};
}

QString percentText(qint64 askedMs, double percent)
{
    const QString text = askedMs > 0 ? QString::number(percent, 'f', 1) + QLatin1Char('%') : QStringLiteral("-");
    return text.rightJustified(kPercentWidth);
}

}  // namespace

CoverageRange coverageRange(const QStringList &args, const QDate &today)
{
    CoverageRange range;
    if (args.isEmpty()) {
        range.firstDay = range.lastDay = today;
    } else if (args.size() == 1) {
        const std::optional<QDate> day = parseDay(args[0]);
        if (!day) range.error = QStringLiteral("\"%1\" is not a day such as 2026-12-09").arg(args[0]);
        else range.firstDay = range.lastDay = *day;
    } else if (args.size() > 2) {
        range.error = QStringLiteral("--coverage takes a day, or FROM and TO, not %1 arguments").arg(args.size());
    } else {
        const Bound from = boundOf(args[0]);
        const Bound to = boundOf(args[1]);
        range.error = !from.error.isEmpty() ? from.error : to.error;
        if (!range.error.isEmpty()) return range;
        range.clipped = from.timeMs || to.timeMs;
        range.clip = {from.timeMs.value_or(localDay(from.day).startMs), to.timeMs.value_or(localDay(to.day).endMs)};
        if (range.clip.startMs >= range.clip.endMs)
            range.error = QStringLiteral("FROM (%1) is not before TO (%2)").arg(args[0], args[1]);
        range.firstDay = from.day;
        // TO itself is not part of the range: a time at midnight ends the day before.
        range.lastDay = to.timeMs ? QDateTime::fromMSecsSinceEpoch(*to.timeMs - 1).date() : to.day;
    }
    if (!range.clipped && range.error.isEmpty())
        range.clip = {localDay(range.firstDay).startMs, localDay(range.lastDay).endMs};
    return range;
}

std::vector<DayCoverage> rangeCoverage(const CoverageRange &range, const std::vector<Span> &spans,
                                       const QSet<QString> &damagedFiles)
{
    std::vector<Span> clipped;
    clipped.reserve(spans.size());
    for (Span s : spans) {
        s.startMs = std::max(s.startMs, range.clip.startMs);
        s.endMs = std::min(s.endMs, range.clip.endMs);
        if (s.startMs < s.endMs) clipped.push_back(std::move(s));
    }
    std::vector<DayCoverage> days;
    for (QDate d = range.firstDay; d.isValid() && d <= range.lastDay; d = d.addDays(1))
        days.push_back(dayCoverage(d, clipped, damagedFiles));
    return days;
}

QString coverageHeading(const CoverageRange &range)
{
    QString what = range.firstDay.toString(Qt::ISODate);
    if (range.clipped)
        what = QStringLiteral("%1 to %2 (the days count that time only)")
                   .arg(localTimeText(range.clip.startMs), localTimeText(range.clip.endMs));
    else if (range.lastDay != range.firstDay)
        what += QStringLiteral(" to ") + range.lastDay.toString(Qt::ISODate);
    QString titles = QStringLiteral("day       ") + kSeparator + QStringLiteral("asked").rightJustified(kDurationWidth);
    for (const char *column : {"recorded", "lost", "silent", "damaged"})
        titles += kSeparator + QString::fromLatin1(column).rightJustified(kDurationWidth) + QString(kPercentWidth, QLatin1Char(' '));
    return QStringLiteral("# Coverage of %1, local time\n").arg(what) + titles.trimmed() + QLatin1Char('\n');
}

QString coverageDayText(const DayCoverage &day)
{
    QString text = day.day.toString(Qt::ISODate) + kSeparator + durationText(day.askedMs).rightJustified(kDurationWidth);
    const std::pair<qint64, double> columns[] = {{day.recordedMs, day.recordedPercent},
                                                 {day.lostMs, day.lostPercent},
                                                 {day.silentMs, day.silentPercent},
                                                 {day.damagedMs, day.damagedPercent}};
    for (const auto &[ms, percent] : columns)
        text += kSeparator + durationText(ms).rightJustified(kDurationWidth) + percentText(day.askedMs, percent);
    text += QLatin1Char('\n');
    for (const CoverageGap &gap : day.gaps) {
        text += QStringLiteral("  %1  %2  %3  %4  %5\n")
                    .arg(spanKindName(gap.kind).leftJustified(6), localTimeText(gap.startMs),
                         localTimeText(gap.endMs), durationText(gap.lengthMs()).rightJustified(kDurationWidth),
                         gap.cause.isEmpty() ? QStringLiteral("-") : gap.cause);
    }
    return text;
}

QString durationText(qint64 ms)
{
    const qint64 seconds = (ms + 500) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString localTimeText(qint64 msSinceEpoch)
{
    const QString plain =
        QDateTime::fromMSecsSinceEpoch(msSinceEpoch).toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz"));
    return parseLocalTime(plain).ok() ? plain : localIsoText(msSinceEpoch);
}

}  // namespace ledger
