#pragma once
// The schedule tick thread. It sleeps for the interval, then hands a tick to the main
// thread and waits until it has been handled: tick()
// is emitted on the main thread, so ScheduleTick never overlaps a command, a timer or
// itself, and ticks keep coming while a modal dialog runs its own event loop. Ticks drift
// later by the time each one takes to handle; the firing rule must not assume exact spacing.
//
// Stopping: stop() (or the destructor) asks the thread to end and joins it. The thread may
// at that moment be blocked waiting for the main thread to take a tick, which the main
// thread, being inside stop(), would never do. So stop() keeps delivering the pending tick
// call while it waits; a tick delivered after the stop request is dropped, not emitted.
// The sleep ends at the stop request, so the thread ends at once.
//
// Create, start and stop it on the main thread; it runs once (no start after a stop). Do not call stop() or delete it from a
// handler of tick(): the thread is waiting for that very handler to return.

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace schedule {

class ScheduleTickThread : public QThread {
    Q_OBJECT
public:
    explicit ScheduleTickThread(QObject *parent = nullptr);
    ~ScheduleTickThread() override;  // stop()

    // Tick period in milliseconds; the main window sets 1000. May change while running.
    void setInterval(quint32 ms) { m_intervalMs.store(ms); }
    // With an interval of a second, each tick comes afterMs past a whole second of the wall
    // clock (-1: an interval after the last tick, the default).
    void alignToWholeSeconds(int afterMs) { m_afterSecondMs.store(afterMs); }

    // Asks the thread to end and waits until it has. Returns false only when called from
    // inside a tick handler, where it cannot wait; the thread ends right after the handler.
    bool stop();

Q_SIGNALS:
    void tick();  // on the main thread, while the tick thread waits

protected:
    void run() override;

private:
    void deliverTick();  // main thread
    qint64 sleepMs() const;

    std::atomic<quint32> m_intervalMs{1000};
    std::atomic<int> m_afterSecondMs{-1};
    std::atomic<bool> m_stopRequested{false};
    bool m_delivering = false;  // main thread only
    std::mutex m_sleepMutex;
    std::condition_variable m_wake;
};

}  // namespace schedule
