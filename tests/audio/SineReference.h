#pragma once
// Continuity of the test server's 440 Hz sine at 48000 Hz, judged against a reference
// recording of the same source that parec makes in the same run. When the machine is busy
// the server's feeder can fall behind and the source plays a moment of silence; every
// capture hears that. A break the reference heard too came from the feed; only a break it
// did not hear is the program's.

#include "support/ParecRecording.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace sine {

constexpr int kRate = 48000;

// First frames of the places where x[n+1] + x[n-1] = 2cos(w)·x[n] fails on a channel;
// 16-bit rounding and dither stay within a few steps. Failures closer than 0.1 s are one.
inline QList<qint64> breaks(const QByteArray &pcm)
{
    const auto *s = reinterpret_cast<const qint16 *>(pcm.constData());
    const qint64 frames = pcm.size() / 4;
    const double c = 2 * std::cos(2 * M_PI * 440.0 / kRate);
    QList<qint64> found;
    for (qint64 n = 1; n + 1 < frames; ++n) {
        for (int ch = 0; ch < 2; ++ch) {
            const double e = s[2 * (n + 1) + ch] + s[2 * (n - 1) + ch] - c * s[2 * n + ch];
            if (std::abs(e) > 8 && (found.isEmpty() || n - found.last() > kRate / 10))
                found.append(n);
        }
    }
    return found;
}

// The default source recorded by parec, started before the capture under test and stopped
// after it.
using Reference = testsupport::ParecRecording;

// A fresh capture on PipeWire begins with one block of up to a quantum of 1024 frames that
// is not yet the signal (zeros, or a block left over from before).
constexpr qint64 kStartBlockFrames = 1024;

// Breaks of `pcm` (first frame heard at firstFrameMs) that the reference did not hear
// within a second of the same moment, past the start block of a fresh capture. Returns
// them as a readable list, empty when none.
inline QString unheardBreaks(const QByteArray &pcm, qint64 firstFrameMs,
                             const QByteArray &reference, qint64 referenceFirstFrameMs)
{
    const QList<qint64> heard = breaks(reference);
    QStringList unheard;
    for (qint64 frame : breaks(pcm)) {
        if (frame < kStartBlockFrames)
            continue;
        const qint64 atMs = firstFrameMs + frame * 1000 / kRate;
        bool alsoHeard = false;
        for (qint64 r : heard)
            alsoHeard |= std::abs(referenceFirstFrameMs + r * 1000 / kRate - atMs) < 1000;
        if (!alsoHeard)
            unheard << QStringLiteral("frame %1").arg(frame);
    }
    if (!heard.isEmpty())
        qInfo("the reference heard %lld break(s) of the feed", qlonglong(heard.size()));
    return unheard.join(QStringLiteral(", "));
}

}  // namespace sine
