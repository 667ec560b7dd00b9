// vantrel --hold FROM TO [--reason TEXT], --holds, --release ID: the spans of time kept from
// every removal, in the ledger. --hold and --release write beside a running instance, which
// reads the holds again before each removal; --holds only reads.
#include "core/ProgramFiles.h"
#include "ledger/Ledger.h"
#include "ledger/LedgerCommands.h"
#include "ledger/LedgerEntry.h"
#include "ledger/LocalTime.h"

#include <QDateTime>
#include <QDir>
#include <algorithm>

namespace ledger {

namespace {

int refuse(std::FILE *err, const QString &cause)
{
    std::fprintf(err, "vantrel: %s\n", qPrintable(cause));
    return 1;
}

QString ledgerPath(const QString &programFolder) { return QDir(programFolder).filePath(core::files::ledger()); }

QString cannotOpen(const Ledger &ledger)
{
    return QStringLiteral("cannot open the ledger %1: %2").arg(ledger.path(), ledger.error());
}

}  // namespace

QString holdLine(const archive::Hold &hold)
{
    const qint64 madeToTheSecond = hold.madeMs / 1000 * 1000;
    QString line = QStringLiteral("hold %1: %2 to %3, made %4")
                       .arg(hold.id)
                       .arg(localIsoSeconds(hold.fromMs), localIsoSeconds(hold.toMs), localIsoSeconds(madeToTheSecond));
    if (!hold.reason.isEmpty()) line += QStringLiteral(": ") + hold.reason;
    return line;
}

int runHold(const QString &programFolder, const QStringList &args, const std::optional<QString> &reason,
            std::FILE *out, std::FILE *err)
{
    if (args.size() != 2)
        return refuse(err, QStringLiteral("--hold takes FROM TO: two local times such as 2026-12-09T10:58:00"));
    if (reason && reason->trimmed().isEmpty())
        return refuse(err, QStringLiteral("--reason needs a text, such as --reason \"complaint of 2026-12-01\""));
    const ParsedTime from = parseLocalTime(args[0]);
    if (!from.ok()) return refuse(err, from.error);
    const ParsedTime to = parseLocalTime(args[1]);
    if (!to.ok()) return refuse(err, to.error);
    if (to.ms <= from.ms) return refuse(err, QStringLiteral("FROM (%1) is not before TO (%2)").arg(args[0], args[1]));

    Ledger ledger(ledgerPath(programFolder), Ledger::Access::Command);
    if (!ledger.isUsable()) return refuse(err, cannotOpen(ledger));
    archive::Hold hold{0, from.ms, to.ms, reason ? reason->simplified() : QString(),
                       QDateTime::currentMSecsSinceEpoch()};
    hold.id = ledger.addHold(hold.fromMs, hold.toMs, hold.reason, hold.madeMs);
    if (hold.id <= 0)
        return refuse(err, QStringLiteral("cannot write the ledger %1: %2").arg(ledger.path(), ledger.error()));
    std::fprintf(out, "%s\n", qPrintable(holdLine(hold)));
    return 0;
}

int runHolds(const QString &programFolder, const QStringList &args, std::FILE *out, std::FILE *err)
{
    if (!args.isEmpty()) return refuse(err, QStringLiteral("--holds takes nothing more"));
    Ledger ledger(ledgerPath(programFolder), Ledger::Access::ReadOnly);
    if (!ledger.isUsable()) return refuse(err, cannotOpen(ledger));
    const std::optional<std::vector<archive::Hold>> holds = ledger.holds();
    if (!holds) return refuse(err, QStringLiteral("cannot read the ledger %1: %2").arg(ledger.path(), ledger.error()));
    if (holds->empty()) std::fprintf(out, "nothing is on hold\n");
    for (const archive::Hold &hold : *holds) std::fprintf(out, "%s\n", qPrintable(holdLine(hold)));
    return 0;
}

int runRelease(const QString &programFolder, const QStringList &args, std::FILE *out, std::FILE *err)
{
    bool isNumber = false;
    const qint64 id = args.size() == 1 ? args[0].toLongLong(&isNumber) : 0;
    if (!isNumber || id <= 0)
        return refuse(err, QStringLiteral("--release takes the ID of a hold (--holds lists them)"));
    Ledger ledger(ledgerPath(programFolder), Ledger::Access::Command);
    if (!ledger.isUsable()) return refuse(err, cannotOpen(ledger));
    const std::optional<std::vector<archive::Hold>> holds = ledger.holds();
    if (!holds) return refuse(err, QStringLiteral("cannot read the ledger %1: %2").arg(ledger.path(), ledger.error()));
    const auto held = std::find_if(holds->begin(), holds->end(), [id](const archive::Hold &h) { return h.id == id; });
    // Another release may come between the look and the removal: then it is gone all the same.
    if (held == holds->end() || !ledger.releaseHold(id)) {
        if (!ledger.error().isEmpty())
            return refuse(err, QStringLiteral("cannot write the ledger %1: %2").arg(ledger.path(), ledger.error()));
        return refuse(err, QStringLiteral("there is no hold %1 (--holds lists them)").arg(id));
    }
    std::fprintf(out, "released %s\n", qPrintable(holdLine(*held)));
    return 0;
}

}  // namespace ledger
