#include "recording/Estimate.h"

#include "audio/FileProbe.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <cmath>

namespace recording {

QString unknownRemainingText() { return QStringLiteral("? d ?:??:??"); }

int estimateBitrate(std::int64_t fileBytes, double durationSeconds)
{
    const float duration = float(durationSeconds);
    if (duration <= 0 || fileBytes <= 0) return 0;
    const double rate = double(fileBytes) / (double(duration) * 125.0) + 0.5;
    if (!(rate < 2147483647.0)) return 0;
    int kbps = int(rate);
    if (kbps % 2 != 0) --kbps;
    return kbps;
}

int estimateBitrate(const audio::FileProbe &probe)
{
    if (!probe.ok) return 0;
    return estimateBitrate(probe.fileBytes, probe.durationSeconds);
}

int runningBitrate(const audio::FileProbe &probe, double capturedSeconds)
{
    // A few hundred milliseconds of buffering are normal for every encoder.
    constexpr double kAllowedLagSeconds = 1.0;
    if (!probe.ok) return 0;
    if (probe.durationSeconds > 0 && probe.durationSeconds >= capturedSeconds - kAllowedLagSeconds)
        return estimateBitrate(probe);
    return estimateBitrate(probe.fileBytes, capturedSeconds);
}

QString remainingText(std::int64_t freeBytes, int bitrateKbps)
{
    const float byteRate = float(bitrateKbps) / 8.0f * 1024.0f;
    if (byteRate <= 0 || freeBytes < 0) return unknownRemainingText();
    const std::int64_t r = std::int64_t(std::trunc(double(freeBytes) / double(byteRate)));
    return QStringLiteral("%1 days %2:%3:%4")
        .arg(r / 86400)
        .arg(r / 3600 % 24)
        .arg(r / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(r % 60, 2, 10, QLatin1Char('0'));
}

std::int64_t freeSpaceBytes(const QString &path)
{
    QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    while (!info.exists()) {
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath()) return -1;  // reached the root
        info = QFileInfo(parent);
    }
    const QStorageInfo storage(info.isDir() ? info.absoluteFilePath() : info.absolutePath());
    if (!storage.isValid() || !storage.isReady()) return -1;
    return storage.bytesAvailable();
}

}  // namespace recording
