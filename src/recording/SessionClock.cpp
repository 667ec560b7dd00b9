#include "recording/SessionClock.h"

#include <QElapsedTimer>

namespace recording {

namespace {
class SystemClock : public SessionClock {
public:
    SystemClock() { m_monotonic.start(); }
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    qint64 elapsedMs() const override { return m_monotonic.elapsed(); }

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
