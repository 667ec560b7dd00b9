#pragma once
// The command-line verbs on the coverage ledger of a program folder. They read; they never
// change the archive, its files or the ledger, take no lock and so run beside a running
// instance. Each prints its answer to `out` and a failure as one line "vantrel: <cause>" to
// `err`, and returns the exit status: 0 when all is well, 1 when the answer is bad news
// (a damaged or missing file) or the input was refused.
//
//   --verify [FROM [TO]]       re-checks the files of the span (all without one)
//   --coverage [DAY | FROM TO] asked, recorded, lost, silent, damaged per day (today without one)
//   --export FROM TO OUT       the span cut from the files into one WAV or FLAC file

#include <QString>
#include <QStringList>
#include <cstdio>

namespace ledger {

int runVerify(const QString &programFolder, const QStringList &args, std::FILE *out, std::FILE *err);
int runCoverage(const QString &programFolder, const QStringList &args, std::FILE *out, std::FILE *err);
int runExport(const QString &programFolder, const QStringList &args, std::FILE *out, std::FILE *err);

}  // namespace ledger
