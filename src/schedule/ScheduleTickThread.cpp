#include "schedule/ScheduleTickThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QMetaObject>

#include <chrono>

namespace schedule {

ScheduleTickThread::ScheduleTickThread(QObject *parent) : QThread(parent)
{
    setObjectName(QStringLiteral("ScheduleTick"));
}

ScheduleTickThread::~ScheduleTickThread()
{
    stop();
}

void ScheduleTickThread::run()
{
    while (!m_stopRequested.load()) {
        {
            // One sleep per interval: stop() wakes it at once, so nothing wakes the thread
            // in between for a logger that records for months.
            std::unique_lock<std::mutex> lock(m_sleepMutex);
            if (m_wake.wait_for(lock, std::chrono::milliseconds(sleepMs()),
                                [this] { return m_stopRequested.load(); }))
                break;
        }
        // This object lives on the main thread: the call runs there and we wait for it.
        QMetaObject::invokeMethod(this, &ScheduleTickThread::deliverTick, Qt::BlockingQueuedConnection);
    }
}

// To the next whole second plus the offset, at least half a second ahead so that a tick
// handled late never comes twice in one second.
qint64 ScheduleTickThread::sleepMs() const
{
    const int after = m_afterSecondMs.load();
    if (after < 0 || m_intervalMs.load() != 1000) return m_intervalMs.load();
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    qint64 sleep = 1000 - (nowMs - after) % 1000;
    if (sleep < 500) sleep += 1000;
    return sleep;
}

void ScheduleTickThread::deliverTick()
{
    if (m_stopRequested.load()) return;
    m_delivering = true;
    Q_EMIT tick();
    m_delivering = false;
}

bool ScheduleTickThread::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_sleepMutex);
        m_stopRequested.store(true);
    }
    m_wake.notify_all();
    if (m_delivering) return false;
    // A tick call the thread is blocked on is run here (it returns at once, the stop being
    // requested), which lets the thread see the request and end.
    while (!wait(10)) QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    return true;
}

}  // namespace schedule
