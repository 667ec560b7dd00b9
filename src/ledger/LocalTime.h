#pragma once
// The times the command line takes: ISO 8601 local times ("2026-12-09T10:58:00", seconds and
// milliseconds optional: "2026-12-09T10:58", "2026-12-09T10:58:00.250") and local days
// ("2026-12-09"). A time may carry its offset ("…+01:00", "…Z"); then it names one moment
// even in the hour that the change from summer time repeats.
//
// A local time that the clocks skip (spring forward) or that they show twice (fall back),
// given without an offset, is refused with a sentence that says so.

#include <QDate>
#include <QString>
#include <QtGlobal>
#include <optional>

namespace ledger {

struct ParsedTime {
    qint64 ms = 0;  // since the epoch
    QString error;  // empty when ms holds the time
    bool ok() const { return error.isEmpty(); }
};

ParsedTime parseLocalTime(const QString &text);
// A day "2026-12-09"; nullopt when text is not one.
std::optional<QDate> parseDay(const QString &text);

}  // namespace ledger
