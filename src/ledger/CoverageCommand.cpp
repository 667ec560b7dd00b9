#include "ledger/LedgerCommands.h"

#include "core/ProgramFiles.h"
#include "ledger/CoverageReport.h"
#include "ledger/Ledger.h"

#include <QDir>

namespace ledger {

namespace {

int refuse(std::FILE *err, const QString &cause)
{
    std::fprintf(err, "vantrel: %s\n", qPrintable(cause));
    return 1;
}

}  // namespace

int runCoverage(const QString &programFolder, const QStringList &args, std::FILE *out, std::FILE *err)
{
    const CoverageRange range = coverageRange(args, QDate::currentDate());
    if (!range.error.isEmpty()) return refuse(err, range.error);
    Ledger ledger(QDir(programFolder).filePath(core::files::ledger()), Ledger::Access::ReadOnly);
    if (!ledger.isUsable())
        return refuse(err, QStringLiteral("cannot read the ledger %1: %2").arg(ledger.path(), ledger.error()));

    const Interval whole{localDay(range.firstDay).startMs, localDay(range.lastDay).endMs};
    const std::vector<Span> spans = ledger.spans(whole.startMs, whole.endMs);
    QSet<QString> damagedFiles;
    for (const FileEntry &file : ledger.files(whole.startMs, whole.endMs))
        if (file.verification == Verification::Damaged) damagedFiles.insert(file.path);
    if (!ledger.error().isEmpty())
        return refuse(err, QStringLiteral("cannot read the ledger %1: %2").arg(ledger.path(), ledger.error()));

    QString text = coverageHeading(range);
    for (const DayCoverage &day : rangeCoverage(range, spans, damagedFiles)) text += coverageDayText(day);
    std::fputs(text.toLocal8Bit().constData(), out);
    return 0;
}

}  // namespace ledger
