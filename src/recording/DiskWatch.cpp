#include "recording/DiskWatch.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace recording {

void DiskWatch::setThresholdHours(int hours)
{
    m_thresholdSeconds = std::int64_t(std::max(hours, 0)) * 3600;
    if (m_thresholdSeconds == 0) m_level = DiskLevel::Quiet;
}

DiskLevel DiskWatch::levelFor(std::int64_t seconds) const
{
    if (seconds < 1) return DiskLevel::Full;
    if (seconds < kCriticalSeconds) return DiskLevel::Critical;
    if (seconds < m_thresholdSeconds) return DiskLevel::Low;
    return DiskLevel::Quiet;
}

bool DiskWatch::note(std::int64_t freeBytes, double bytesPerSecond)
{
    if (freeBytes < 0 || !(bytesPerSecond > 0)) return false;
    m_secondsLeft = std::int64_t(std::floor(double(freeBytes) / bytesPerSecond));
    if (m_thresholdSeconds == 0) return false;
    const DiskLevel now = levelFor(m_secondsLeft);
    if (now > m_level) {
        m_level = now;
        return true;
    }
    // Up only by the margin: what holds a margin higher is where the level may go back to.
    const DiskLevel withMargin = levelFor(m_secondsLeft - kRiseMarginSeconds);
    if (withMargin < m_level) m_level = withMargin;
    return false;
}

QString DiskWatch::timeLeft() const
{
    const std::int64_t minutes = std::max<std::int64_t>(m_secondsLeft, 0) / 60;
    return QStringLiteral("%1:%2").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

double presetBytesPerSecond(const QString &command, const QString &ext, int sampleRate)
{
    static const QRegularExpression bitrate(
        QStringLiteral(R"((?:^|\s)(?:-b|-b:a|--bitrate|-ab)\s+(\d+)k?(?=\s|$))"));
    const QRegularExpressionMatch m = bitrate.match(command);
    if (m.hasMatch()) return m.captured(1).toDouble() * 1000.0 / 8.0;
    const QString e = ext.toLower();
    if (e == QLatin1String("wav") || e == QLatin1String("flac")) return double(std::max(sampleRate, 0)) * 4.0;
    return 0.0;
}

}  // namespace recording
