#include "recording/RecordingFailure.h"

namespace recording {

QString failureText(Failure failure)
{
    switch (failure) {
    case Failure::None: return {};
    case Failure::CaptureFailed: return QStringLiteral("capture failed");
    case Failure::EncoderFailed: return QStringLiteral("encoder failed");
    case Failure::EncoderDied: return QStringLiteral("encoder stopped");
    case Failure::CaptureLost: return QStringLiteral("capture lost");
    case Failure::CannotWrite: return QStringLiteral("cannot write");
    case Failure::FileRemoved: return QStringLiteral("file removed");
    }
    return {};
}

QString failureSentence(Failure failure, const QString &words, const QString &cause, const QString &retrying)
{
    if (failure == Failure::None)
        return {};
    QString sentence = words;
    // "cannot write /srv/rec: permission denied" reads as a sentence; the others as a label.
    if (!cause.isEmpty())
        sentence += (failure == Failure::CannotWrite ? QStringLiteral(" ") : QStringLiteral(": ")) + cause;
    if (failure == Failure::CaptureLost)
        sentence += QStringLiteral(" \u2014 ") + retrying;
    return sentence;
}

}  // namespace recording
