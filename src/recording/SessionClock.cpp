#include "recording/SessionClock.h"

#include <QElapsedTimer>
#include <QThread>

#include <time.h>

namespace recording {

void SessionClock::sleepMs(int ms) { QThread::msleep(ulong(ms)); }

namespace {
qint64 clockUs(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

class SystemClock : public SessionClock {
public:
    SystemClock() { m_monotonic.start(); }
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    qint64 elapsedMs() const override { return m_monotonic.elapsed(); }
    qint64 wallUs() const override { return clockUs(CLOCK_REALTIME); }
    qint64 monotonicUs() const override { return clockUs(CLOCK_MONOTONIC); }

private:
    QElapsedTimer m_monotonic;
};
}  // namespace

SessionClock &systemClock()
{
    static SystemClock clock;
    return clock;
}

}  // namespace recording
