#pragma once
// How much longer recording can go on before the disk is full: the free space of the save
// folder's file system divided by the byte rate of the file being written.

#include <QString>

#include <cstdint>

namespace audio {
struct FileProbe;
}

namespace recording {

// The text shown while the estimate cannot be made.
QString unknownRemainingText();  // "? d ?:??:??"

// Bit rate in kbit/s (1 kbit = 1000 bits) of a probed file: size / (duration × 125) + 0.5,
// truncated, then made even by taking 1 off an odd rate. The duration is taken in single
// precision. 0 (unknown) for an unreadable probe or a duration of 0.
int estimateBitrate(const audio::FileProbe &probe);

// The same from the file's size and a duration known some other way (the captured duration
// of the running recording, for files whose headers give none while they grow).
int estimateBitrate(std::int64_t fileBytes, double durationSeconds);

// Bit rate of the file a running recording writes, from a probe of it and the captured
// duration so far. The probe's duration is used while it keeps up with the captured one;
// an encoder that holds back seconds of audio (opusenc, Ogg pages) makes the probed duration
// lag, and a fixed lag over a short file gives a figure far too high that then sinks for
// minutes, so the captured duration is taken then, as it is for files whose headers give no
// duration while they grow (FLAC, fragmented MP4). 0 for a file not readable yet.
int runningBitrate(const audio::FileProbe &probe, double capturedSeconds);

// "%d days %d:%.2d:%.2d" of freeBytes at bitrateKbps / 8 × 1024 bytes a second (a single-
// precision byte rate), seconds truncated; days are not limited and "days" stays plural.
// The unknown text when the rate is 0 or freeBytes is negative (free space unknown).
QString remainingText(std::int64_t freeBytes, int bitrateKbps);

// Bytes available to this user on the file system holding path, or on that of its nearest
// existing parent folder when path does not exist yet; -1 when unknown.
std::int64_t freeSpaceBytes(const QString &path);

}  // namespace recording
