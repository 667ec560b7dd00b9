#pragma once
// What a recording lost on the way, in one value: audio its encoder feeds dropped (the
// encoder fell behind), the times the server dropped audio (the capture was held up), audio
// lost for a cause of its own (given to an encoder that died, gone from the history), and the
// spans without capture. A new recording or a new file starts a fresh account.
//
// The running feed's and capture's own counters are passed in: the account keeps what the
// earlier ones of the recording lost, and how much of it was reported in events so far.

#include "recording/SessionEvent.h"

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

namespace recording {

class LossAccount {
public:
    // Adds an AudioDropped event to `events` for each new loss of the running feed or
    // capture: the feed's with its length, the server's without one (it does not say how
    // much). The first time the recording is found to lose audio, returns why ("the encoder
    // fell behind"); else nothing.
    QString update(std::uint64_t feedDropped, std::uint64_t captureOverflows, const QString &file,
                   const QDateTime &now, std::vector<SessionEvent> &events);
    // Audio given to an encoder that died and no longer held to give the next one: counted
    // with the drops and logged; returns its event.
    SessionEvent loseWithEncoder(std::uint64_t bytes, int sampleRate, const QString &file, const QDateTime &now);

    // The running feed ends; what it dropped stays counted.
    void feedClosed(std::uint64_t feedDropped) { m_droppedBefore += feedDropped; }
    // A capture starts whose overflow count stands at `overflows`, or one ends at it.
    void captureStarted(std::uint64_t overflows) { m_overflowBase = overflows; }
    void captureEnded(std::uint64_t overflows);

    std::uint64_t droppedBytes(std::uint64_t feedDropped) const { return m_droppedBefore + feedDropped; }
    std::uint64_t overflows(std::uint64_t captureOverflows) const
    {
        return m_overflowsBefore + captureOverflows - m_overflowBase;
    }
    bool audioDropped() const { return m_audioDropped; }

    // Spans without capture, on a monotonic clock in ms.
    void captureLost(qint64 nowMs) { m_lostAtMs = nowMs; }
    // The capture runs again: returns how long it did not.
    qint64 captureBack(qint64 nowMs);
    // The time without capture so far, the span still running included while `lostNow`.
    qint64 lostMs(qint64 nowMs, bool lostNow) const { return m_lostMsBefore + (lostNow ? nowMs - m_lostAtMs : 0); }

private:
    std::uint64_t m_droppedBefore = 0;      // by the feeds of earlier files, and lost otherwise
    std::uint64_t m_droppedReported = 0;    // in AudioDropped events so far
    std::uint64_t m_overflowsBefore = 0;    // of the recording's earlier captures
    std::uint64_t m_overflowBase = 0;       // the running capture's count when it joined
    std::uint64_t m_overflowsReported = 0;  // in AudioDropped events so far
    bool m_audioDropped = false;
    qint64 m_lostAtMs = 0;
    qint64 m_lostMsBefore = 0;              // the spans without capture that ended
};

}  // namespace recording
