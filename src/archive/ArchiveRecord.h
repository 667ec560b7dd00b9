#pragma once
// One finished recording as the archive keeps it, and the ordered list of them.

#include "core/DayCount.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <vector>

namespace archive {

struct ArchiveRecord {
    double DateTime = 0.0;  // start, as a local day count (core/DayCount.h); 0 = unknown
    qint32 Length = 0;      // seconds; negative when the conversion failed
    QString Filename;       // full path of the recording, whole (no length limit)
    // The DateTime text as the index held it when it could not be read; written back as it
    // was, so that an unreadable date is never replaced by a made-up one. Empty otherwise.
    QString DateText;
    // The exact bytes of a path that is not valid UTF-8 (Filename then shows it with
    // replacement characters and cannot name the file); empty for every other path.
    QByteArray FilenameBytes;
};

// Oldest first as a rule: the file's order, then every new record appended.
using ArchiveList = std::vector<ArchiveRecord>;

inline ArchiveRecord makeArchiveRecord(double startDayCount, qint32 lengthSeconds,
                                        const QString &path)
{
    return ArchiveRecord{startDayCount, lengthSeconds, path, {}, {}};
}

// The path as bytes on disk: the raw bytes read, or the UTF-8 of Filename.
inline QByteArray filenameBytes(const ArchiveRecord &record)
{
    return record.FilenameBytes.isEmpty() ? record.Filename.toUtf8() : record.FilenameBytes;
}

}  // namespace archive
