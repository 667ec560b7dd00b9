#pragma once
// What the mini player shows: the title of a file, the time display and the seek bar's
// per-mille position, and the time a seek bar position stands for. Pure.

#include <QString>
#include <QtGlobal>

namespace playback {

// The file name without its folder and without its extension (everything from the last "."
// of the name). "a/b.c/d" gives "d"; ".mp3" gives "".
QString playerTitle(const QString &fileName);

// "mm:ss" (minutes are not limited to two digits: 125:00); a time of exactly 0 reads
// "??:??", since the engine reports 0 also while it knows no position.
QString formatPlayTime(quint32 ms);

// "position/length", each as formatPlayTime gives it.
QString playTimeDisplay(qint32 positionMs, qint32 lengthMs);

// Position in per mille of the length, in 64 bits (position × 1000 overflows 32 bits after
// 35 minutes 47 seconds); lengthMs must not be 0. Not clamped: the seek bar clamps.
int playedPerMille(qint32 positionMs, qint32 lengthMs);

// The time a seek bar position (0…999) stands for, truncated to whole milliseconds.
qint32 seekTargetMs(int perMille, qint32 lengthMs);

}  // namespace playback
