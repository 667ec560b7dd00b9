#pragma once
// Where a recording's files begin, as the program says it and as the counting signal shows
// it: the files and their begin times from the event log (Log/events.log: "started" and
// "file-changed" lines say "begins <time>", "file-changed" and "stopped" lines give the
// frames of the file before), and the number of the first frame a WAV file holds.
#include "support/FrameCheck.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QString>

#include <vector>

namespace testsupport {

struct FileCut {
    QString file;
    QDateTime begins;   // the program's own time of its first frame (invalid when not said)
    qint64 frames = -1; // as the next change or the stop says, -1 when unsaid
};

// The files of the log in the order they began. A file names its frames with the line that
// ends it ("file-changed" names them for the file before, "stopped" for its own).
inline std::vector<FileCut> readFileCuts(const QString &eventLogPath, QString *error)
{
    std::vector<FileCut> cuts;
    QFile log(eventLogPath);
    if (!log.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = eventLogPath + QStringLiteral(": ") + log.errorString();
        return cuts;
    }
    static const QRegularExpression begins(QStringLiteral("begins (\\S+)"));
    static const QRegularExpression framesBefore(QStringLiteral("\\((\\d+) frames\\)"));
    static const QRegularExpression framesFrom(QStringLiteral("^(\\d+) frames from "));
    while (!log.atEnd()) {
        const QStringList fields = QString::fromUtf8(log.readLine()).chopped(1).split(u'\t');
        if (fields.size() != 4)
            continue;
        const QString &event = fields[1], &details = fields[3];
        if (event == QLatin1String("file-changed") && !cuts.empty()) {
            const auto m = framesBefore.match(details);
            cuts.back().frames = m.hasMatch() ? m.captured(1).toLongLong() : -1;
        } else if (event == QLatin1String("stopped") && !cuts.empty()) {
            const auto m = framesFrom.match(details);
            cuts.back().frames = m.hasMatch() ? m.captured(1).toLongLong() : -1;
        }
        if (event == QLatin1String("started") || event == QLatin1String("file-changed")) {
            const auto m = begins.match(details);
            cuts.push_back({fields[2], m.hasMatch() ? QDateTime::fromString(m.captured(1), Qt::ISODateWithMs)
                                                    : QDateTime()});
        }
    }
    return cuts;
}

// The counted number of the first frame of a 16-bit stereo WAV file and its frames. The
// number is read where 480 frames in a row count by one and taken back to the file's first
// frame, so that a start block that is not the signal still dates the file's beginning.
inline bool readFirstFrameNumber(const QString &wavPath, quint32 *firstNumber, qint64 *frames, QString *error)
{
    QFile file(wavPath);
    qint64 offset = 0, bytes = 0;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    if (!findWavData(file, &offset, &bytes, error))
        return false;
    *frames = bytes / 4;
    const QByteArray head = file.read(qMin<qint64>(bytes, 4 * 48000));
    qint64 run = 0;
    for (qint64 i = 0; i + 4 <= head.size(); i += 4) {
        const bool follows = i > 0 && countedFrameNumber(head.constData() + i) == countedFrameNumber(head.constData() + i - 4) + 1;
        run = follows ? run + 1 : 1;
        if (run == 480) {
            *firstNumber = countedFrameNumber(head.constData() + i) - quint32(i / 4);
            return true;
        }
    }
    *error = QStringLiteral("no counted frames in its first second");
    return false;
}

}  // namespace testsupport
