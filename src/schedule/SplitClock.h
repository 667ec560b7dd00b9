#pragma once
// Where a recording split every N minutes goes on into a new file: at every whole N minutes
// of local time counted from midnight (N = 60: on the hour). The local clock decides, so a
// daylight-saving change moves the splits with it: an hour the clock repeats is split
// again (the files' names then get their suffix), an hour it skips has none.
#include <QDateTime>

#include <vector>

namespace schedule {

// The split moments in (from, to], oldest first; none for minutes <= 0. A span longer than
// a day is cut to its last day.
std::vector<QDateTime> splitMomentsIn(const QDateTime &from, const QDateTime &to, int minutes);

}  // namespace schedule
