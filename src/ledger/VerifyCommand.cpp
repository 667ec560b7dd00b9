#include "ledger/LedgerCommands.h"

#include "core/ProgramFiles.h"
#include "ledger/FileVerifier.h"
#include "ledger/Ledger.h"
#include "ledger/LocalTime.h"

#include <QDir>

#include <limits>

extern "C" {
#include <libavutil/log.h>
}

namespace ledger {

namespace {

struct TimeRange {
    qint64 fromMs = std::numeric_limits<qint64>::min();
    qint64 toMs = std::numeric_limits<qint64>::max();
    QString error;
};

// [FROM, TO) from the command line: everything without FROM, on from FROM without TO.
TimeRange rangeOf(const QStringList &args)
{
    TimeRange range;
    if (args.size() > 2) {
        range.error = QStringLiteral("--verify takes at most two times, FROM and TO");
        return range;
    }
    if (!args.isEmpty()) {
        const ParsedTime from = parseLocalTime(args.at(0));
        if (!from.ok()) {
            range.error = from.error;
            return range;
        }
        range.fromMs = from.ms;
    }
    if (args.size() == 2) {
        const ParsedTime to = parseLocalTime(args.at(1));
        if (!to.ok()) {
            range.error = to.error;
            return range;
        }
        range.toMs = to.ms;
    }
    if (range.fromMs >= range.toMs)
        range.error = QStringLiteral("%1 does not come before %2").arg(args.at(0), args.at(1));
    return range;
}

void printLine(std::FILE *to, const QString &text)
{
    std::fprintf(to, "%s\n", text.toLocal8Bit().constData());
}

struct Tally {
    int checked = 0;
    int damaged = 0;
    int missing = 0;
    int open = 0;

    QString summary() const
    {
        QString text = QStringLiteral("vantrel: %1 %2 checked, %3 damaged, %4 missing")
                           .arg(checked)
                           .arg(checked == 1 ? QStringLiteral("file") : QStringLiteral("files"))
                           .arg(damaged)
                           .arg(missing);
        if (open > 0)
            text += QStringLiteral(", %1 still being written (not checked)").arg(open);
        return text;
    }
};

}  // namespace

// Reads the ledger and the files only: the ledger is opened read-only and the results are
// printed, never stored.
int runVerify(const QString &programFolder, const QStringList &args, std::FILE *out, std::FILE *err)
{
    const TimeRange range = rangeOf(args);
    if (!range.error.isEmpty()) {
        printLine(err, QStringLiteral("vantrel: ") + range.error);
        return 1;
    }
    Ledger ledger(QDir(programFolder).filePath(core::files::ledger()), Ledger::Access::ReadOnly);
    if (!ledger.isUsable()) {
        printLine(err, QStringLiteral("vantrel: ") + ledger.error());
        return 1;
    }
    // Each file's fault is said in its line; FFmpeg's notes on every broken frame would bury it.
    av_log_set_level(AV_LOG_QUIET);
    Tally tally;
    for (FileEntry file : ledger.files(range.fromMs, range.toMs)) {
        if (file.endMs == 0) {
            ++tally.open;
            continue;
        }
        file.path = QDir(programFolder).absoluteFilePath(file.path);
        const VerifyResult result = verifyFile(file);
        ++tally.checked;
        if (result.holds())
            continue;
        ++(result.verdict == VerifyResult::Verdict::Missing ? tally.missing : tally.damaged);
        printLine(out, QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file.path), result.reason));
        std::fflush(out);
    }
    printLine(err, tally.summary());
    return tally.damaged + tally.missing > 0 ? 1 : 0;
}

}  // namespace ledger
