#pragma once
// Checks finished recordings one after another (verifyFile) on a thread of its own,
// "vt-verify", so that the recording never waits for a check. That thread, and the decoder
// thread it starts, run at the lowest priority the system gives without privileges (nice 19,
// SCHED_IDLE, idle I/O), so a check takes only the time the recording leaves.
//
// enqueue() and the destructor are called from the owner's thread; each result is handed to
// `done` on the thread of `context`, posted there, never called on "vt-verify". The destructor
// drops what is still queued, cancels the check under way (the decoder stops within
// milliseconds) and joins; a result already posted is still delivered to context. context
// must outlive the queue (as the object that owns the queue does), since results are posted
// to it; Qt drops those still pending when it is deleted.

#include "ledger/FileVerifier.h"

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace ledger {

class VerificationQueue {
public:
    using Done = std::function<void(const VerifyResult &)>;

    // context: the object (the recorder) on whose thread `done` runs.
    VerificationQueue(QObject *context, Done done);
    ~VerificationQueue();
    VerificationQueue(const VerificationQueue &) = delete;
    VerificationQueue &operator=(const VerificationQueue &) = delete;

    // Checks `file` after those queued before it.
    void enqueue(FileEntry file);

private:
    void run();

    QObject *m_context;
    Done m_done;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<FileEntry> m_queue;  // under m_mutex
    bool m_quit = false;            // under m_mutex
    std::atomic<bool> m_cancel{false};
    std::thread m_thread;
};

// Lowers the calling thread to the idle priorities above; threads it starts inherit them.
void lowerThisThreadsPriority();

}  // namespace ledger
