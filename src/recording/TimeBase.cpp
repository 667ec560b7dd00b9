#include "recording/TimeBase.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace recording {

void TimeBase::reset(int sampleRate)
{
    m_sampleRate = sampleRate > 0 ? sampleRate : 48000;
    m_reports.clear();
    m_wallOffsetUs = 0;
    m_usPerFrame = 1e6 / m_sampleRate;
}

qint64 TimeBase::add(const CaptureInstant &instant)
{
    const qint64 offset = instant.wallUs - instant.monotonicUs;
    qint64 step = 0;
    if (!m_reports.empty()) {
        if (instant.monotonicUs <= m_reports.back().monotonicUs && instant.frame <= m_reports.back().frame)
            return 0;  // the same report again
        if (std::llabs(offset - m_wallOffsetUs) > kStepUs) step = offset - m_wallOffsetUs;
    }
    m_wallOffsetUs = offset;
    m_reports.push_back({instant.frame, instant.monotonicUs});
    while (m_reports.size() > 2 && instant.monotonicUs - m_reports.front().monotonicUs > kWindowUs)
        m_reports.pop_front();
    fit();
    return step;
}

// The drift from a least-squares line through the reports, centred on their means so that
// doubles keep sub-microsecond precision after months of frames. The line's place from the
// recent reports' earliest: a report's frame reached the server's buffer at or before its
// time (the server passes on whole fragments), so the report that lags least is the truest.
void TimeBase::fit()
{
    const double n = double(m_reports.size());
    const double baseUs = double(m_reports.front().monotonicUs);
    m_usPerFrame = 1e6 / m_sampleRate;
    if (spanUs() >= kDriftAfterUs) {
        double meanFrame = 0;
        double meanUs = 0;
        for (const Report &r : m_reports) {
            meanFrame += r.frame / n;
            meanUs += (double(r.monotonicUs) - baseUs) / n;
        }
        double sxy = 0;
        double sxx = 0;
        for (const Report &r : m_reports) {
            const double dx = r.frame - meanFrame;
            sxy += dx * (double(r.monotonicUs) - baseUs - meanUs);
            sxx += dx * dx;
        }
        if (sxx > 0 && sxy > 0) m_usPerFrame = sxy / sxx;
    }
    const Report &last = m_reports.back();
    m_originFrame = last.frame;
    m_originUs = double(last.monotonicUs);
    for (auto r = m_reports.rbegin(); r != m_reports.rend() && last.monotonicUs - r->monotonicUs <= kPlaceFromUs; ++r)
        m_originUs = std::min(m_originUs, double(r->monotonicUs) + (last.frame - r->frame) * m_usPerFrame);
}

qint64 TimeBase::spanUs() const
{
    return m_reports.empty() ? 0 : m_reports.back().monotonicUs - m_reports.front().monotonicUs;
}

double TimeBase::driftPpm() const
{
    return (1e6 / m_sampleRate / m_usPerFrame - 1.0) * 1e6;
}

qint64 TimeBase::monotonicUsOf(double frame) const
{
    return qint64(std::llround(m_originUs + (frame - m_originFrame) * m_usPerFrame));
}

double TimeBase::frameAt(qint64 monotonicUs) const
{
    return m_originFrame + (double(monotonicUs) - m_originUs) / m_usPerFrame;
}

}  // namespace recording
