#pragma once
// When each captured frame was captured, by the system's wall clock.
//
// The sound server reports now and then which frame of the stream its source was capturing
// at which moment (a CaptureInstant). Single reports jitter by a millisecond or so; the time
// base fits a straight line through the reports of the last minutes, frame position against
// the monotonic clock, so that it follows a sound card whose clock runs fast or slow against
// the system's (its drift, in ppm). The wall clock is the monotonic one plus an offset that
// only a clock step changes (NTP setting the time, a hand change): the caller converts with
// the offset of the moment, so the mapping follows a step at once, and no frame changes its
// place in the stream; add() tells the step's size.
//
// Frames count from the capture's first (CaptureTap positions in frames). Pure: the caller
// feeds the reports and reads the clocks.
#include <QtGlobal>

#include <cstdint>
#include <deque>

namespace recording {

struct CaptureInstant {
    double frame = 0;       // a frame position (may be fractional)
    qint64 wallUs = 0;      // when it was captured, µs since the epoch
    qint64 monotonicUs = 0; // the same moment on the monotonic clock
};

class TimeBase {
public:
    // Reports over this span make the fit; older ones are dropped.
    static constexpr qint64 kWindowUs = 10 * 60 * 1000000LL;
    // The drift is only fitted once the reports span this long (reports jitter by a fragment
    // of tens of milliseconds); before, the nominal rate holds.
    static constexpr qint64 kDriftAfterUs = 5 * 60 * 1000000LL;
    // The line is placed by the reports of this last span.
    static constexpr qint64 kPlaceFromUs = 30 * 1000000LL;
    // A change of the wall clock against the monotonic one larger than this is a step.
    static constexpr qint64 kStepUs = 2000;

    explicit TimeBase(int sampleRate = 48000) { reset(sampleRate); }

    // Forgets every report: a new capture.
    void reset(int sampleRate);
    // Adds a report. Returns the wall clock's step since the last report (µs; 0 when none).
    qint64 add(const CaptureInstant &instant);

    bool isKnown() const { return !m_reports.empty(); }
    int sampleRate() const { return m_sampleRate; }
    // The card's clock against the system's: +1000 when it captures 1000 frames too many in
    // a million. 0 until the reports span kDriftAfterUs.
    double driftPpm() const;
    // The span the fit rests on, µs.
    qint64 spanUs() const;

    // The monotonic time at which `frame` was (or will be) captured. Requires isKnown().
    qint64 monotonicUsOf(double frame) const;
    // The frame captured at monotonicUs (fractional; may lie ahead of what was captured).
    double frameAt(qint64 monotonicUs) const;

private:
    struct Report {
        double frame;
        qint64 monotonicUs;
    };
    void fit();

    int m_sampleRate = 48000;
    std::deque<Report> m_reports;
    qint64 m_wallOffsetUs = 0;  // wall clock minus monotonic, as of the last report
    // The fitted line: monotonic µs = m_originUs + (frame - m_originFrame) * m_usPerFrame.
    double m_originFrame = 0;
    double m_originUs = 0;
    double m_usPerFrame = 0;
};

}  // namespace recording
