#pragma once
// The retention rule of the archive: a record goes once its age in calendar days reaches
// the retention period. The age is the local day number of "now" minus that of the
// record's start; the time of day plays no part, and records dated in the future (after a
// clock change) have a negative age and stay. A record whose date could not be read
// (start 0) is never due: an unreadable date alone must not cost a recording.

#include "archive/ArchiveRecord.h"

#include <QDateTime>
#include <vector>

class QTimer;

namespace archive {

// The sweep timer fires first this soon after the main window is made,
// then at the long interval for as long as the program runs.
constexpr int kSweepFirstMs = 2000;
constexpr int kSweepIntervalMs = 18'000'000;  // 5 hours

int clampStoreTime(int storeTimeDays);

// One flag per record, set where the record is due; storeTimeDays is clamped to 1...365.
std::vector<bool> dueRecords(const ArchiveList &records, const QDateTime &now, int storeTimeDays);

// Starts the sweep timer at its first, short interval.
void startSweepTimer(QTimer &timer);
// To be called at every firing: switches a timer still at the first interval to the long one.
void advanceSweepTimer(QTimer &timer);

}  // namespace archive
