#pragma once
// The deaths of a recording's encoder within a sliding window: an encoder that dies more than
// maxDeaths times within windowMs is not started again (3 within a minute unless set).
#include <QString>

#include <deque>

namespace recording {

class EncoderDeaths {
public:
    void setLimit(int maxDeaths, qint64 windowMs)
    {
        m_maxDeaths = maxDeaths;
        m_windowMs = windowMs;
    }
    // Counts a death at nowMs (monotonic); false once there were too many within the window.
    bool note(qint64 nowMs)
    {
        while (!m_deaths.empty() && nowMs - m_deaths.front() > m_windowMs) m_deaths.pop_front();
        m_deaths.push_back(nowMs);
        return int(m_deaths.size()) <= m_maxDeaths;
    }
    void clear() { m_deaths.clear(); }
    // "4 deaths within 60 s"
    QString describe() const
    {
        return QStringLiteral("%1 deaths within %2 s").arg(m_deaths.size()).arg(m_windowMs / 1000);
    }

private:
    std::deque<qint64> m_deaths;
    int m_maxDeaths = 3;
    qint64 m_windowMs = 60000;
};

}  // namespace recording
