#pragma once
// The check of a recorded file: is it there, does the player's decoder read all of it, is it
// as long as what its encoder was given, and, when the ledger holds its SHA-256 from an
// earlier check, is it still the same file.
//
// The length is compared as a duration, since a file may decode at another rate than it was
// fed (Opus always decodes at 48 kHz). What an intact file decodes to, against the frames fed,
// with the encoders of the shipped presets: lame (its LAME tag carries the encoder delay and
// padding), oggenc, opusenc, flac and the WAV writer give exactly the frames fed; ffmpeg's
// AAC in fragmented MP4, which carries no edit list, gives its 1024 frames of priming and the
// padding of the last frame on top (1280 to 2001 more); oggenc pads a very short file to its
// first block. So a file is damaged when its length is off by more than the slack of its
// format (slackFrames), which stays far below any loss worth telling.
//
// Blocking; runs on the caller's thread, the decoding on the decoder's own.

#include "ledger/LedgerEntry.h"

#include <QString>
#include <QtGlobal>
#include <atomic>

namespace ledger {

struct VerifyResult {
    enum class Verdict { Ok, Damaged, Missing, Cancelled };

    QString path;
    Verdict verdict = Verdict::Cancelled;
    QString reason;        // why it is damaged or missing, in a few words; empty when ok
    QString sha256;        // hex, of the file as it is now; empty when missing or cancelled
    qint64 decodedFrames = 0;
    int decodedRate = 0;   // the rate the file decodes at; 0 when it cannot be decoded

    bool holds() const { return verdict == Verdict::Ok; }
    // What the ledger stores (Ledger::setVerification): missing counts as damaged, a
    // cancelled check leaves the file unverified.
    Verification verification() const;
};

// Checks `file` (see above). `cancel`, when given, ends the check early (Cancelled) once set.
[[nodiscard]] VerifyResult verifyFile(const FileEntry &file, const std::atomic<bool> *cancel = nullptr);

// How far the decoded length of an intact file may stray from the frames fed, in frames at
// the rate it decodes at: one frame of the encoder, picked by the file's extension.
qint64 slackFrames(const QString &path, int decodedRate);

// "01:00:00.0": a length in hours, minutes, seconds and tenths.
QString lengthText(double seconds);

}  // namespace ledger
