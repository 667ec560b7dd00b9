#include "recording/LossAccount.h"

#include "recording/Logging.h"
#include "recording/RecordedLength.h"

namespace recording {

QString LossAccount::update(std::uint64_t feedDropped, std::uint64_t captureOverflows, const QString &file,
                            const QDateTime &now, std::vector<SessionEvent> &events)
{
    const std::uint64_t dropped = droppedBytes(feedDropped);
    const std::uint64_t overflowCount = overflows(captureOverflows);
    if (dropped > m_droppedReported) {
        SessionEvent event{SessionEventKind::AudioDropped, now, file, {}};
        event.droppedBytes = dropped - m_droppedReported;
        events.push_back(std::move(event));
        m_droppedReported = dropped;
    }
    if (overflowCount > m_overflowsReported) {
        events.push_back({SessionEventKind::AudioDropped, now, file,
                          QStringLiteral("the server dropped audio (capture held up)")});
        m_overflowsReported = overflowCount;
    }
    if (m_audioDropped || (dropped == 0 && overflowCount == 0)) return {};
    m_audioDropped = true;
    return dropped > 0 ? QStringLiteral("the encoder fell behind")
                       : QStringLiteral("the capture was held up and the server dropped audio");
}

SessionEvent LossAccount::loseWithEncoder(std::uint64_t bytes, int sampleRate, const QString &file,
                                          const QDateTime &now)
{
    m_droppedBefore += bytes;
    m_droppedReported += bytes;
    m_audioDropped = true;
    const QString cause = QStringLiteral("lost with the encoder that stopped");
    qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2 s of audio dropped: %3")
                                            .arg(file)
                                            .arg(capturedSeconds(bytes, sampleRate), 0, 'f', 2)
                                            .arg(cause);
    SessionEvent event{SessionEventKind::AudioDropped, now, file, cause};
    event.droppedBytes = bytes;
    return event;
}

void LossAccount::captureEnded(std::uint64_t overflows)
{
    m_overflowsBefore += overflows - m_overflowBase;
    m_overflowBase = 0;
}

qint64 LossAccount::captureBack(qint64 nowMs)
{
    const qint64 lost = nowMs - m_lostAtMs;
    m_lostMsBefore += lost;
    return lost;
}

}  // namespace recording
