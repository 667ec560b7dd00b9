#pragma once
// The recorder's state in the Prometheus text format (version 0.0.4): every series with the
// station's label, each family with # HELP and # TYPE. A value that is not known (no level
// while idle, no next entry) leaves its series out rather than inventing one.

#include "web/WebSnapshot.h"

#include <QByteArray>
#include <optional>

namespace web {

// What the ledger adds: its counts of files, and today's share of the asked time recorded.
struct LedgerFigures {
    qint64 files = 0;
    qint64 damagedFiles = 0;
    std::optional<double> coverageToday;  // none when nothing was asked today
};

QByteArray renderMetrics(const StatusSnapshot &status, const LedgerFigures &ledger);

}  // namespace web
