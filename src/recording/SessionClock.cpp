#include "recording/SessionClock.h"

#include <QElapsedTimer>
#include <QThread>

#include "core/SystemClocks.h"

namespace recording {

void SessionClock::sleepMs(int ms) { QThread::msleep(ulong(ms)); }

namespace {
class SystemClock : public SessionClock {
public:
    SystemClock() { m_monotonic.start(); }
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    qint64 elapsedMs() const override { return m_monotonic.elapsed(); }
    qint64 wallUs() const override { return core::clockUs(CLOCK_REALTIME); }
    qint64 monotonicUs() const override { return core::clockUs(CLOCK_MONOTONIC); }

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
