#pragma once
// The length of a schedule entry as the entry dialog shows and takes it: an "h:mm" text
// field (whole minutes, at most 99:59) and a list of preset lengths. Fields the user
// leaves alone keep their exact stored values, so a length the field cannot show (59 999 ms,
// 120 hours) survives an edit of the time or the action; that is the dialog's business.

#include "schedule/ScheduleEntry.h"

#include <QString>
#include <optional>
#include <vector>

class QDateTime;

namespace schedule {

// "h:mm" or "hh:mm" -> milliseconds; nothing for incomplete text or minutes above 59.
std::optional<qint32> parseEntryLength(const QString &text);

// Why parseEntryLength refuses text, in words for the user; empty when it does not.
QString entryLengthProblem(const QString &text);

// Milliseconds -> the field's text in whole minutes ("24:00"), clamped to 00:00...99:59.
QString formatEntryLength(qint32 ms);

// Minutes of the preset lengths, 0 first (no length).
const std::vector<int> &lengthPresetMinutes();

// The preset that is exactly ms, or -1.
int lengthPresetIndexFor(qint32 ms);

// The preset's text: "--:--" for none, "15 min", "1 hour", "2 hours" with the string
// table's unit words.
QString lengthPresetText(int minutes, const QString &minuteWord, const QString &hourWord,
                         const QString &hoursWord);

// A new entry: the next full minute after now, Record, no length.
ScheduleEntry newEntryAfter(const QDateTime &now);

}  // namespace schedule
