#pragma once
// How a recording failed, and the words the status line says it in.
#include <QString>

namespace recording {

enum class Failure {
    None,
    CaptureFailed,  // capture could not start: nothing recorded
    EncoderFailed,  // the encoder could not start, or ended without writing a file
    EncoderDied,    // the encoder ended early; what it wrote is archived
    CaptureLost,    // the server ended the capture; the file is archived and the capture retried
    CannotWrite,    // the save folder could not be made: nothing recorded
    FileRemoved,    // the file (or its folder) vanished while being written: no record
};

// Short English texts for the status line: "capture failed", "encoder failed",
// "encoder stopped", "capture lost", "cannot write", "file removed"; empty for None.
QString failureText(Failure failure);
// A failure with its cause as the status line says it: "capture failed: recording device 3
// not found", "cannot write /srv/rec: permission denied", "capture lost: the sound server
// went away — retrying". `words` is the failure's text and `retrying` the word for a lost
// capture, in the language shown (failureText() and "retrying" in English).
QString failureSentence(Failure failure, const QString &words, const QString &cause, const QString &retrying);

// Shown with the status while a recording lost audio, until the next start.
inline QString audioDroppedText() { return QStringLiteral("audio dropped"); }

}  // namespace recording
