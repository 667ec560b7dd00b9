#pragma once
// The command-line verbs on the coverage ledger of a program folder. They never change the
// archive or its files, take no lock and so run beside a running instance; only --hold and
// --release write, to the ledger's holds. Each prints its answer to `out` and a failure as one line "vantrel: <cause>" to
// `err`, and returns the exit status: 0 when all is well, 1 when the answer is bad news
// (a damaged or missing file) or the input was refused.
//
//   --verify [FROM [TO]]       re-checks the files of the span (all without one)
//   --coverage [DAY | FROM TO] asked, recorded, lost, silent, damaged per day (today without one)
//   --export FROM TO OUT       the span cut from the files into one WAV or FLAC file
//   --hold FROM TO [--reason TEXT]  puts the span on hold: no recording overlapping it is removed
//   --holds                    lists the holds
//   --release ID               ends hold ID

#include "archive/Keep.h"

#include <QString>
#include <QStringList>
#include <cstdio>
#include <optional>

namespace ledger {

int runVerify(const QString &programFolder, const QStringList &args, std::FILE *out, std::FILE *err);
int runCoverage(const QString &programFolder, const QStringList &args, std::FILE *out, std::FILE *err);
int runExport(const QString &programFolder, const QStringList &args, std::FILE *out, std::FILE *err);
// reason: the value of --reason when it was given.
int runHold(const QString &programFolder, const QStringList &args, const std::optional<QString> &reason,
            std::FILE *out, std::FILE *err);
int runHolds(const QString &programFolder, const QStringList &args, std::FILE *out, std::FILE *err);
int runRelease(const QString &programFolder, const QStringList &args, std::FILE *out, std::FILE *err);
// "hold 3: 2026-12-01T10:00:00+01:00 to 2026-12-01T12:00:00+01:00, made …: complaint"
QString holdLine(const archive::Hold &hold);

}  // namespace ledger
