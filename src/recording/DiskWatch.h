#pragma once
// The warning that the save folder's file system is filling up: how much recording time is
// left there at the current rate, and when that crosses the user's threshold. It reads no
// clock and no disk: the recorder hands it the free bytes and the byte rate every few seconds.
//
//   Quiet     more than the threshold left (or no threshold, or nothing known yet)
//   Low       less than the threshold: amber "disk: 5:12 left"
//   Critical  less than an hour: red
//   Full      less than a second of audio: red "disk full"
//
// Each step down is reported once (a notification, an event-log line); a step back up only
// once the time left is a margin above the threshold, so that an estimate that wobbles around
// it does not say the same thing every few seconds. Unknown inputs (no free space, no rate)
// leave the level as it was.
//
// Main thread only, like the recorder.

#include <QString>

#include <cstdint>

namespace recording {

enum class DiskLevel { Quiet, Low, Critical, Full };

class DiskWatch {
public:
    static constexpr std::int64_t kCriticalSeconds = 3600;
    // The rise back to Quiet (or from Critical to Low) needs this much more than the limit.
    static constexpr std::int64_t kRiseMarginSeconds = 300;

    // 0 switches the warning off.
    void setThresholdHours(int hours);

    // The free bytes of the save folder's file system (-1: unknown) and the rate of the running
    // recording or of the preset (bytes a second; 0: unknown). True when a new, lower level was
    // reached: the caller says it once (notification, event log).
    bool note(std::int64_t freeBytes, double bytesPerSecond);

    DiskLevel level() const { return m_level; }
    // The recording time left at the last note that knew it, also with the warning off; -1
    // before the first.
    std::int64_t secondsLeft() const { return m_secondsLeft; }
    bool warns() const { return m_level != DiskLevel::Quiet; }
    bool alarms() const { return m_level == DiskLevel::Critical || m_level == DiskLevel::Full; }
    // The time left as hours and minutes, "5:12" (the status line says "disk: 5:12 left").
    QString timeLeft() const;

private:
    DiskLevel levelFor(std::int64_t seconds) const;

    std::int64_t m_thresholdSeconds = 24 * 3600;
    std::int64_t m_secondsLeft = -1;
    DiskLevel m_level = DiskLevel::Quiet;
};

// The byte rate a preset will record at, for the warning while no recording runs: a bit rate
// its command gives ("-b 128", "--bitrate 96", "-b:a 128k") in kbit/s, else for WAV and FLAC
// the PCM rate of 16-bit stereo at sampleRate (FLAC as an upper bound); 0 when unknown (a
// quality setting: the running file will tell).
double presetBytesPerSecond(const QString &command, const QString &ext, int sampleRate);

}  // namespace recording
