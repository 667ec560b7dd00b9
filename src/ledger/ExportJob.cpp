#include "ledger/ExportJob.h"

#include "core/ThreadName.h"
#include "ledger/Logging.h"

#include <utility>

namespace ledger {

ExportJob::ExportJob(Ledger &ledger, ExportRequest request)
{
    m_thread = std::thread([this, &ledger, request = std::move(request)] {
        core::nameThisThread("vt-export");
        ExportCallbacks callbacks;
        callbacks.progress = [this](double fraction) { m_progress.store(fraction, std::memory_order_relaxed); };
        callbacks.gap = [this](const ExportGap &gap) {
            qCInfo(lcLedger).noquote() << "export: silence from" << localIsoText(gap.startMs) << "to"
                                       << localIsoText(gap.endMs) << (gap.cause.isEmpty() ? QStringLiteral("(no recording)") : gap.cause);
            std::lock_guard<std::mutex> lock(m_gapMutex);
            m_gaps.push_back(gap);
        };
        callbacks.cancel = &m_cancel;
        m_result = exportSpan(ledger, request, callbacks, &m_notes);
        for (const QString &note : std::as_const(m_notes))
            qCWarning(lcLedger).noquote() << "export: left out" << note;
        if (m_result.ok)
            qCInfo(lcLedger).noquote() << "exported" << localIsoText(request.fromMs) << "to"
                                       << localIsoText(request.toMs) << "into" << request.outPath;
        else if (!m_result.cancelled)
            qCWarning(lcLedger).noquote() << "export to" << request.outPath << "failed:" << m_result.error;
        m_done.store(true, std::memory_order_release);
    });
}

ExportJob::~ExportJob()
{
    cancel();
    m_thread.join();
}

std::vector<ExportGap> ExportJob::takeGaps()
{
    std::lock_guard<std::mutex> lock(m_gapMutex);
    return std::exchange(m_gaps, {});
}

}  // namespace ledger
