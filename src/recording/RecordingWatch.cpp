#include "recording/RecordingWatch.h"

#include "audio/Capture.h"
#include "core/TextLimits.h"
#include "recording/RecordedLength.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace recording {

double peakToDbfs(std::uint32_t peak)
{
    if (peak == 0)
        return -std::numeric_limits<double>::infinity();
    return 20.0 * std::log10(double(peak) / 32768.0);
}

std::optional<double> levelWordToDbfs(std::uint32_t levelWord)
{
    if (levelWord == audio::kNoLevel)
        return std::nullopt;
    return peakToDbfs(std::max(levelWord & 0xFFFFu, levelWord >> 16));
}

void RecordingWatch::setSilenceRule(int thresholdDb, int seconds)
{
    m_thresholdDb = thresholdDb;
    m_silenceSeconds = std::max(0, seconds);
}

void RecordingWatch::noteEvent(const SessionEvent &event)
{
    if (!event.file.isEmpty())
        m_file = event.file;
    switch (event.kind) {
    case SessionEventKind::Started:
        m_belowSince.reset();
        m_silent = false;
        m_droppedBytes = 0;
        m_lastRestart.reset();
        m_captureLost = false;
        break;
    case SessionEventKind::Stopped:
    case SessionEventKind::EncoderGaveUp:
    case SessionEventKind::Failed:
        endSilence(event.at);
        m_captureLost = false;
        m_lastRestart.reset();
        break;
    case SessionEventKind::EncoderRestarted:
        m_lastRestart = event.at;
        break;
    case SessionEventKind::CaptureLost:
        // Its alarm takes over from a silence; the silence watch starts afresh on recovery.
        endSilence(event.at);
        m_captureLost = true;
        break;
    case SessionEventKind::CaptureRecovered:
        m_captureLost = false;
        break;
    case SessionEventKind::AudioDropped:
        m_droppedBytes += event.droppedBytes;
        break;
    case SessionEventKind::FileChanged:
        break;
    }
}

void RecordingWatch::noteLevel(std::optional<double> peakDbfs, const QDateTime &now)
{
    if (m_silenceSeconds == 0) {
        endSilence(now);
        return;
    }
    if (!peakDbfs)
        return;
    if (*peakDbfs >= m_thresholdDb) {
        endSilence(now);
        return;
    }
    if (!m_belowSince)
        m_belowSince = now;
    if (!m_silent && m_belowSince->msecsTo(now) >= qint64(m_silenceSeconds) * 1000) {
        m_silent = true;
        m_lines.push_back({now, QStringLiteral("silence"), m_file,
                           QStringLiteral("below %1 dBFS since %2")
                               .arg(m_thresholdDb)
                               .arg(m_belowSince->toString(QStringLiteral("HH:mm:ss")))});
    }
}

void RecordingWatch::noteIdle(const QDateTime &now)
{
    endSilence(now);
    m_captureLost = false;
}

void RecordingWatch::endSilence(const QDateTime &now)
{
    if (m_silent)
        m_lines.push_back({now, QStringLiteral("silence-end"), m_file,
                           QStringLiteral("silent for %1").arg(core::formatHms(m_belowSince->secsTo(now)))});
    m_silent = false;
    m_belowSince.reset();
}

WatchCondition RecordingWatch::condition(const QDateTime &now) const
{
    WatchCondition c;
    QStringList texts;
    const auto add = [&](WatchSeverity severity, const QString &text) {
        c.severity = std::max(c.severity, severity);
        texts << text;
    };
    if (m_captureLost)  // no words: the session's failure reason says it, with its cause
        c.severity = WatchSeverity::Alarm;
    if (m_silent) {
        c.silentSeconds = m_belowSince->secsTo(now);
        add(WatchSeverity::Warning, QStringLiteral("silence %1").arg(core::formatHms(*c.silentSeconds)));
    }
    if (m_lastRestart && m_lastRestart->secsTo(now) < kRestartWarningSeconds) {
        c.encoderRestarted = true;
        add(WatchSeverity::Warning, QStringLiteral("encoder restarted"));
    }
    if (droppedBytes() > 0) {
        c.droppedSeconds = capturedSeconds(droppedBytes(), m_sampleRate);
        add(WatchSeverity::Warning, QStringLiteral("dropped %1 s").arg(*c.droppedSeconds, 0, 'f', 1));
    }
    c.text = texts.join(QStringLiteral(", "));
    return c;
}

std::vector<EventLine> RecordingWatch::takeLines()
{
    return std::exchange(m_lines, {});
}

}  // namespace recording
