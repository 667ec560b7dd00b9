#include "ledger/VerificationQueue.h"

#include "core/ThreadName.h"
#include "ledger/Logging.h"

#include <QMetaObject>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ledger {

namespace {

// From linux/ioprio.h, which not every system's headers carry.
constexpr int kIoprioWhoProcess = 1;
constexpr int kIoprioClassIdle = 3;
constexpr int kIoprioClassShift = 13;

}  // namespace

void lowerThisThreadsPriority()
{
    // Each is a wish: a system that refuses one still gets a correct, if less polite, check.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    if (::setpriority(PRIO_PROCESS, tid, 19) != 0)
        qCDebug(lcLedger) << "verification keeps its priority:" << std::strerror(errno);
    sched_param idle{};
    if (::sched_setscheduler(0, SCHED_IDLE, &idle) != 0)
        qCDebug(lcLedger) << "verification is not idle-scheduled:" << std::strerror(errno);
    if (::syscall(SYS_ioprio_set, kIoprioWhoProcess, 0, kIoprioClassIdle << kIoprioClassShift) != 0)
        qCDebug(lcLedger) << "verification keeps its I/O priority:" << std::strerror(errno);
}

VerificationQueue::VerificationQueue(QObject *context, Done done)
    : m_context(context), m_done(std::move(done))
{
    m_thread = std::thread([this] { run(); });
}

VerificationQueue::~VerificationQueue()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        m_queue.clear();
    }
    m_cancel.store(true);
    m_wake.notify_all();
    m_thread.join();
}

void VerificationQueue::enqueue(FileEntry file)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(std::move(file));
    }
    m_wake.notify_one();
}

void VerificationQueue::run()
{
    core::nameThisThread("vt-verify");
    lowerThisThreadsPriority();
    for (;;) {
        FileEntry file;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || !m_queue.empty(); });
            if (m_quit)
                return;
            file = std::move(m_queue.front());
            m_queue.pop_front();
        }
        const VerifyResult result = verifyFile(file, &m_cancel);
        if (result.verdict == VerifyResult::Verdict::Cancelled)
            return;
        QMetaObject::invokeMethod(m_context, [done = m_done, result] { done(result); },
                                  Qt::QueuedConnection);
    }
}

}  // namespace ledger
