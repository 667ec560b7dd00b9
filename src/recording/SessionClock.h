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
};

// The system's clocks.
SessionClock &systemClock();

}  // namespace recording
