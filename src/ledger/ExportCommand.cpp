// vantrel --export FROM TO OUT: the span cut from the recordings into OUT. The progress,
// each gap and each file left out go to standard error as they come; the summary to
// standard output.
#include "core/ProgramFiles.h"
#include "ledger/Ledger.h"
#include "ledger/LedgerCommands.h"
#include "ledger/LocalTime.h"
#include "ledger/SpanExport.h"

#include <unistd.h>

namespace ledger {

namespace {

int refuse(std::FILE *err, const QString &cause)
{
    std::fprintf(err, "vantrel: %s\n", qPrintable(cause));
    return 1;
}

// The percentage on one updating line on a terminal, else a line at every tenth.
class ProgressLine {
public:
    explicit ProgressLine(std::FILE *err) : m_err(err), m_terminal(::isatty(::fileno(err)) == 1) {}

    void show(double fraction)
    {
        const int percent = int(fraction * 100);
        if (m_terminal && percent != m_shown) {
            std::fprintf(m_err, "\rexporting: %3d %%", percent);
            std::fflush(m_err);
            m_open = true;
        } else if (!m_terminal && percent / 10 > m_shown / 10) {
            std::fprintf(m_err, "exporting: %d %%\n", percent / 10 * 10);
        }
        m_shown = percent;
    }

    // Ends the updating line, so that the next line stands on its own.
    void endLine()
    {
        if (m_open)
            std::fputc('\n', m_err);
        m_open = false;
    }

private:
    std::FILE *m_err;
    bool m_terminal;
    bool m_open = false;
    int m_shown = -1;
};

}  // namespace

int runExport(const QString &programFolder, const QStringList &args, std::FILE *out, std::FILE *err)
{
    if (args.size() != 3)
        return refuse(err, QStringLiteral("--export takes FROM TO OUT: two local times such as "
                                          "2026-12-09T10:58:00 and the file to write"));
    const ParsedTime from = parseLocalTime(args[0]);
    if (!from.ok())
        return refuse(err, from.error);
    const ParsedTime to = parseLocalTime(args[1]);
    if (!to.ok())
        return refuse(err, to.error);
    if (to.ms <= from.ms)
        return refuse(err, QStringLiteral("FROM (%1) is not before TO (%2)").arg(args[0], args[1]));

    Ledger ledger(programFolder + core::files::ledger(), Ledger::Access::ReadOnly);
    ProgressLine progress(err);
    ExportCallbacks callbacks;
    callbacks.progress = [&](double fraction) { progress.show(fraction); };
    callbacks.gap = [&](const ExportGap &gap) {
        progress.endLine();
        std::fprintf(err, "gap: %s to %s (%.3f s) filled with silence%s\n", qPrintable(localIsoText(gap.startMs)),
                     qPrintable(localIsoText(gap.endMs)), (gap.endMs - gap.startMs) / 1000.0,
                     gap.cause.isEmpty() ? ": no recording" : qPrintable(QStringLiteral(": ") + gap.cause));
    };
    QStringList leftOut;
    const ExportResult result = exportSpan(ledger, {programFolder, from.ms, to.ms, args[2]}, callbacks, &leftOut);
    progress.endLine();
    for (const QString &note : leftOut)
        std::fprintf(err, "left out %s\n", qPrintable(note));
    if (!result.ok)
        return refuse(err, result.error);
    const double seconds = double(result.frames) / result.sampleRate;
    std::fprintf(out, "%s: %lld frames at %d Hz, %.3f s", qPrintable(args[2]), static_cast<long long>(result.frames),
                 result.sampleRate, seconds);
    if (result.silentFrames > 0)
        std::fprintf(out, ", %.3f s of it silence\n", double(result.silentFrames) / result.sampleRate);
    else
        std::fputc('\n', out);
    return 0;
}

}  // namespace ledger
