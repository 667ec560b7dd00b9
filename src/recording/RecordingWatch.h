#pragma once
// The watch over a running recording: what the status line should warn of, and the event-log
// lines for what the session itself does not report. It holds no timer and reads no clock:
// the recorder feeds it the session's events and the level once a poll, with the time of
// that poll, and asks for the condition with the time it shows it.
//
//   silence          the level stayed below the threshold for the silence time: a warning
//                    (the recording goes on) until the level comes back, logged once at its start and once at its end
//   dropped audio    a warning with the length the session's AudioDropped events gave (and
//                    so its event log lines), kept until the next recording starts
//   encoder restart  a warning for a while after the last restart
//   capture lost     an alarm until the capture is recovered or the recording ends; without
//                    words of its own, as the session's failure reason says it with its cause
//
// Main thread only, like the recorder.

#include "recording/EventLog.h"
#include "recording/SessionEvent.h"

#include <QDateTime>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

namespace recording {

// dBFS of one channel's peak (full scale 32768); minus infinity for silence.
double peakToDbfs(std::uint32_t peak);

// dBFS of the louder channel of a level word (16-bit halves, full scale 32768); minus
// infinity for a silent word, nothing for kNoLevel.
std::optional<double> levelWordToDbfs(std::uint32_t levelWord);

enum class WatchSeverity { None, Warning, Alarm };

struct WatchCondition {
    WatchSeverity severity = WatchSeverity::None;
    QString text;  // "silence 0:01:05, dropped 2.4 s"; empty with None (and a lost capture)
    // The same in parts, for a front-end that words them in its own language.
    std::optional<qint64> silentSeconds;
    bool encoderRestarted = false;
    std::optional<double> droppedSeconds;
};

class RecordingWatch {
public:
    static constexpr int kRestartWarningSeconds = 30;

    // Silence is a level below thresholdDb for `seconds`; 0 seconds switches it off.
    void setSilenceRule(int thresholdDb, int seconds);

    // Each event of the session, in order. Started begins afresh; the end of a recording
    // ends its silence and its lost capture.
    void noteEvent(const SessionEvent &event);
    // The peak since the last poll while recording (nothing: no level known then).
    void noteLevel(std::optional<double> peakDbfs, const QDateTime &now);
    // No recording runs: a silence span ends here.
    void noteIdle(const QDateTime &now);
    // The sample rate of the running recording, for the dropped length.
    void setSampleRate(int sampleRate) { m_sampleRate = sampleRate; }

    WatchCondition condition(const QDateTime &now) const;
    bool isSilent() const { return m_silent; }
    std::uint64_t droppedBytes() const { return m_droppedBytes; }

    // The lines to log since the last call, oldest first.
    std::vector<EventLine> takeLines();

private:
    void endSilence(const QDateTime &now);

    int m_thresholdDb = -50;
    int m_silenceSeconds = 30;
    QString m_file;
    std::optional<QDateTime> m_belowSince;  // first poll below the threshold of this span
    bool m_silent = false;
    std::uint64_t m_droppedBytes = 0;  // of the AudioDropped events since the start
    int m_sampleRate = 0;
    std::optional<QDateTime> m_lastRestart;
    bool m_captureLost = false;
    std::vector<EventLine> m_lines;
};

}  // namespace recording
