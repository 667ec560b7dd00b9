#pragma once
// A span export on a thread of its own, for a window that must not wait for it: the ledger's
// query, the decoding and the writing all run there. The window reads the state with a
// timer; nothing here calls into it.
//
// Threads. The constructor starts the export thread; every other member is for the thread
// that made the job. The export thread only stores the progress, appends gaps under the
// mutex and stores the result before it sets done. The destructor cancels and waits.

#include "ledger/SpanExport.h"

#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace ledger {

class ExportJob {
public:
    // `ledger` must outlive the job.
    ExportJob(Ledger &ledger, ExportRequest request);
    ~ExportJob();
    ExportJob(const ExportJob &) = delete;
    ExportJob &operator=(const ExportJob &) = delete;

    // Asks the export to stop; it leaves no file behind.
    void cancel() { m_cancel.store(true); }
    double progress() const { return m_progress.load(std::memory_order_relaxed); }
    // The gaps met since the last call, in order.
    std::vector<ExportGap> takeGaps();
    bool isDone() const { return m_done.load(std::memory_order_acquire); }
    // Once isDone(): how it ended, and the files left out as unreadable.
    const ExportResult &result() const { return m_result; }
    const QStringList &notes() const { return m_notes; }

private:
    std::atomic<bool> m_cancel{false};
    std::atomic<double> m_progress{0.0};
    std::atomic<bool> m_done{false};
    std::mutex m_gapMutex;
    std::vector<ExportGap> m_gaps;
    ExportResult m_result;
    QStringList m_notes;
    std::thread m_thread;
};

}  // namespace ledger
