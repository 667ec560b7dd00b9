#include "playback/PlayerDisplay.h"

namespace playback {

QString playerTitle(const QString &fileName)
{
    const QString name = fileName.mid(fileName.lastIndexOf(QLatin1Char('/')) + 1);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? name : name.left(dot);
}

QString formatPlayTime(quint32 ms)
{
    if (ms == 0)
        return QStringLiteral("??:??");
    return QString::asprintf("%.2u:%.2u", ms / 60000, ms / 1000 % 60);
}

QString playTimeDisplay(qint32 positionMs, qint32 lengthMs)
{
    return formatPlayTime(quint32(positionMs)) + QLatin1Char('/') + formatPlayTime(quint32(lengthMs));
}

int playedPerMille(qint32 positionMs, qint32 lengthMs)
{
    return int(qint64(positionMs) * 1000 / lengthMs);
}

qint32 seekTargetMs(int perMille, qint32 lengthMs)
{
    return qint32(qint64(perMille) * lengthMs / 1000);
}

}  // namespace playback
