#include "schedule/EntryLength.h"

#include "core/DayCount.h"

#include <QDateTime>
#include <QRegularExpression>

#include <algorithm>

namespace schedule {

namespace {

constexpr int kMsPerMinute = 60000;
// Largest length the "h:mm" field can show.
constexpr int kMaxFieldMinutes = 99 * 60 + 59;

}  // namespace

std::optional<qint32> parseEntryLength(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d{1,2})\\s*:(\\d{2})$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const int hours = m.captured(1).toInt();
    const int minutes = m.captured(2).toInt();
    if (minutes > 59) return std::nullopt;
    return qint32((hours * 60 + minutes) * kMsPerMinute);
}

QString entryLengthProblem(const QString &text)
{
    if (parseEntryLength(text)) return {};
    static const QRegularExpression minutes(QStringLiteral(":(\\d{2})$"));
    const QRegularExpressionMatch m = minutes.match(text);
    if (m.hasMatch() && m.captured(1).toInt() > 59)
        return QStringLiteral("Minutes go from 00 to 59.");
    return QStringLiteral("Enter the length as hours:minutes.");
}

QString formatEntryLength(qint32 ms)
{
    const int minutes = std::clamp(ms / kMsPerMinute, 0, kMaxFieldMinutes);
    return QStringLiteral("%1:%2")
        .arg(minutes / 60, 2, 10, QLatin1Char('0'))
        .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

const std::vector<int> &lengthPresetMinutes()
{
    static const std::vector<int> minutes{0, 15, 30, 60, 120, 180, 360, 720, 1440};
    return minutes;
}

int lengthPresetIndexFor(qint32 ms)
{
    const auto &presets = lengthPresetMinutes();
    for (size_t i = 0; i < presets.size(); ++i) {
        if (qint64(presets[i]) * kMsPerMinute == ms) return int(i);
    }
    return -1;
}

QString lengthPresetText(int minutes, const QString &minuteWord, const QString &hourWord,
                         const QString &hoursWord)
{
    if (minutes == 0) return QStringLiteral("--:--");
    if (minutes < 60) return QStringLiteral("%1 %2").arg(minutes).arg(minuteWord);
    return QStringLiteral("%1 %2").arg(minutes / 60).arg(minutes == 60 ? hourWord : hoursWord);
}

ScheduleEntry newEntryAfter(const QDateTime &now)
{
    const QTime t = now.time();
    const int nextMinute = (t.hour() * 60 + t.minute() + 1) % (24 * 60);
    ScheduleEntry e;
    e.time = core::timeOfDayFraction(QTime(nextMinute / 60, nextMinute % 60));
    e.lengthMs = 0;
    e.action = ActionRecord;
    return e;
}

}  // namespace schedule
