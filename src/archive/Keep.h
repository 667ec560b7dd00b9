#pragma once
// What must be kept whatever the retention says: recordings younger than the legal minimum
// of days, and recordings that overlap a span on hold (a complaint, an inquiry) until it is
// released. The sweep of the store time, the removal for free space and Delete all ask here
// first.

#include "archive/ArchiveRecord.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <vector>

namespace archive {

// A span of time held against removal; times are ms since the epoch, [fromMs, toMs).
struct Hold {
    qint64 id = 0;
    qint64 fromMs = 0;
    qint64 toMs = 0;
    QString reason;
    qint64 madeMs = 0;  // when it was put on hold
};

struct KeepRules {
    int minStoreDays = 0;  // 0: no minimum
    std::vector<Hold> holds;
};

// Why `record` must stay ("younger than the minimum of 42 days", "on hold 3: complaint of
// 2026-12-01"); empty when it may go. A record whose date could not be read always stays.
QString keepReason(const ArchiveRecord &record, const QDateTime &now, const KeepRules &rules);

// The first of `holds` that the record's time overlaps; null when none does.
const Hold *holdOver(const ArchiveRecord &record, const std::vector<Hold> &holds);
// "on hold 3: complaint of 2026-12-01" ("on hold 3" without a reason).
QString holdText(const Hold &hold);

}  // namespace archive
