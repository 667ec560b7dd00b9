#pragma once
// One finished recording as the archive keeps it, and the ordered list of them.

#include "core/DayCount.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <vector>

namespace archive {

struct ArchiveRecord {
    double start = 0.0;         // as a local day count (core/DayCount.h); 0 = unknown
    qint32 lengthSeconds = 0;   // negative when the conversion failed
    QString path;               // full path of the recording, whole (no length limit)
    // The DateTime text as the index held it when it could not be read; written back as it
    // was, so that an unreadable date is never replaced by a made-up one. Empty otherwise.
    QString dateText;
    // The exact bytes of a path that is not valid UTF-8 (path then shows it with
    // replacement characters and cannot name the file); empty for every other path.
    QByteArray pathBytes;
};

// Oldest first as a rule: the file's order, then every new record appended.
using ArchiveList = std::vector<ArchiveRecord>;

inline ArchiveRecord makeArchiveRecord(double startDayCount, qint32 lengthSeconds,
                                        const QString &path)
{
    return ArchiveRecord{startDayCount, lengthSeconds, path, {}, {}};
}

// The path as bytes on disk: the raw bytes read, or the UTF-8 of path.
inline QByteArray filenameBytes(const ArchiveRecord &record)
{
    return record.pathBytes.isEmpty() ? record.path.toUtf8() : record.pathBytes;
}

}  // namespace archive
