#include "recording/OutputFiles.h"

#include "audio/Capture.h"
#include "audio/FileProbe.h"
#include "core/DayCount.h"
#include "recording/Logging.h"
#include "recording/OutputFileName.h"
#include "recording/RecordedLength.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace recording {

OutputFiles::Next OutputFiles::prepare(const RecordingConfig &config, const QDateTime &now)
{
    Next next;
    next.path = firstFreeFileName(
        makeOutputFileName(config.saveFolder, config.saveFilename, config.codec.ext, now), config.codec.ext,
        [this](const QString &path) { return isPathTaken(path); });
    const QString folder = QFileInfo(next.path).absolutePath();
    if (const QString why = m_starter.makeFolders(folder); !why.isEmpty()) {
        next.failure = Failure::CannotWrite;
        next.why = folder + QStringLiteral(": ") + why;
    }
    return next;
}

void OutputFiles::startEncoder(const RecordingConfig &config, Next &next, const QStringList &environment)
{
    StartedEncoder started = m_starter.startEncoder(config, next.path, environment);
    next.feed = std::move(started.feed);
    next.encoderName = started.name;
    next.why = started.why;
    if (!next.feed) next.failure = Failure::EncoderFailed;
}

OutputFiles::Next OutputFiles::open(const RecordingConfig &config, const QDateTime &now,
                                    const QStringList &environment)
{
    Next next = prepare(config, now);
    if (next.failure == Failure::None) startEncoder(config, next, environment);
    return next;
}

void OutputFiles::adopt(Next &&next, std::uint64_t firstByte, const QDateTime &startTime, qint64 nowMs)
{
    m_encoder = std::move(next.feed);
    m_encoderName = next.encoderName;
    m_path = next.path;
    m_firstByte = firstByte;
    m_startedAt = startTime;
    m_startTime = core::toDayCount(startTime);
    m_encoderStartedMs = nowMs;
    m_seen = false;
}

QString OutputFiles::encoderEnd() const
{
    const QString end = m_encoderName + QLatin1Char(' ') + m_encoder->endDescription();
    const QString said = m_encoder->errorTail().trimmed();
    if (said.isEmpty())
        return end;
    qCWarning(lcRecording).noquote() << QStringLiteral("recording %1: %2; it said:\n%3").arg(m_path, end, said);
    // Progress lines end in a carriage return.
    static const QRegularExpression lineBreak(QStringLiteral("[\r\n]+"));
    QString last = said.split(lineBreak, Qt::SkipEmptyParts).constLast().trimmed();
    // Most encoders begin with the path they were started by: the program's name says it.
    const QString started = QLatin1Char('/') + m_encoderName + QLatin1Char(':');
    if (const qsizetype at = last.indexOf(started); at > 0 && !last.left(at).contains(QLatin1Char(' ')))
        last.remove(0, at + 1);
    return last;
}

bool OutputFiles::written() const
{
    const QFileInfo file(m_path);
    return file.exists() && file.size() > 0;
}

// The encoder writes in steps and some start only seconds in (opusenc), so a file not there
// yet is no sign; one that was there and is gone, or a save folder that is gone, is.
bool OutputFiles::removed()
{
    const QFileInfo file(m_path);
    if (file.exists()) {
        m_seen = true;
        return false;
    }
    return m_seen || !QFileInfo(file.absolutePath()).isDir();
}

void OutputFiles::abandon()
{
    if (!m_encoder) return;
    m_encoder->stop();
    m_finishing.push_back({QDir::cleanPath(m_path), std::move(m_encoder)});
}

std::uint64_t OutputFiles::takenUpTo(int sampleRate, std::uint64_t *fileShows) const
{
    std::uint64_t taken = m_firstByte + m_encoder->deliveredBytes() + m_encoder->droppedBytes();
    *fileShows = UINT64_MAX;
    if (const audio::FileProbe probe = audio::probeFile(m_path); probe.ok && probe.durationSeconds > 0) {
        *fileShows = std::uint64_t(std::llround(probe.durationSeconds * sampleRate)) * audio::kBytesPerFrame;
        taken = std::min(taken, m_firstByte + *fileShows);
    }
    return taken - taken % audio::kBytesPerFrame;
}

std::optional<FinishedRecording> OutputFiles::close(std::uint64_t endPosition, int sampleRate, bool encoderDied,
                                                    std::uint64_t fileHoldsAtMost)
{
    if (!m_encoder) return std::nullopt;
    const std::uint64_t dropped = m_encoder->droppedBytes();
    const std::uint64_t given = endPosition - std::min(endPosition, m_firstByte);
    const std::uint64_t kept = given - std::min(dropped, given);
    // A dead encoder took what went into its pipe at the most, and wrote what its file shows.
    const std::uint64_t fedBytes =
        encoderDied ? std::min({kept, m_encoder->deliveredBytes(), fileHoldsAtMost}) : kept;
    abandon();
    // A dead encoder has exited, so its file is as complete as it will ever be.
    if (encoderDied && !written()) return std::nullopt;
    return FinishedRecording{m_startTime, wholeSeconds(fedBytes, sampleRate), m_path, m_startedAt,
                             qint64(fedBytes / audio::kBytesPerFrame), sampleRate};
}

bool OutputFiles::isFinishing(const QString &path) const
{
    const QString clean = QDir::cleanPath(path);
    return std::any_of(m_finishing.begin(), m_finishing.end(),
                       [&](const Finishing &f) { return f.path == clean && f.feed->isAlive(); });
}

// An encoder may create its file seconds after it starts (opusenc does), so a name is
// also taken while a stopped encoder of this recording is still finishing it.
bool OutputFiles::isPathTaken(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    if (m_encoder && QDir::cleanPath(m_path) == clean) return true;
    m_finishing.erase(std::remove_if(m_finishing.begin(), m_finishing.end(),
                                     [](const Finishing &f) { return !f.feed->isAlive(); }),
                      m_finishing.end());
    for (const Finishing &f : m_finishing)
        if (f.path == clean) return true;
    const QFileInfo file(clean);
    return file.exists() || file.isSymLink();  // a dangling link would be written through
}

}  // namespace recording
