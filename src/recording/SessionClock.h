#pragma once
// The clocks a recording reads: the wall clock names files and dates events, the monotonic
// one times encoder deaths, capture retries and spans without capture. Tests pass their own.
#include <QDateTime>
#include <QtGlobal>

namespace recording {

class SessionClock {
public:
    virtual ~SessionClock() = default;
    virtual QDateTime now() const = 0;     // local time
    virtual qint64 elapsedMs() const = 0;  // monotonic, from any fixed point
    // The two in microseconds, the monotonic one on the clock the sound server's timing
    // reports are given in (CLOCK_MONOTONIC).
    virtual qint64 wallUs() const { return now().toMSecsSinceEpoch() * 1000; }
    virtual qint64 monotonicUs() const { return elapsedMs() * 1000; }
    // Waits that long (a test's clock may just move on).
    virtual void sleepMs(int ms);
};

// The system's clocks.
SessionClock &systemClock();

}  // namespace recording
