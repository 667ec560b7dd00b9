#pragma once
// One finished recording as the archive keeps it, and the ordered list of them.

#include "core/DayCount.h"
#include "core/TextLimits.h"

#include <QDateTime>
#include <QString>
#include <vector>

namespace archive {

// A stored path holds at most this many bytes of UTF-8; longer paths are cut.
constexpr int kFilenameMaxBytes = 262;

struct TArchiveRecord {
    double DateTime = 0.0;  // start, as a local day count (core/DayCount.h); 0 = unknown
    qint32 Length = 0;      // seconds; negative when the conversion failed
    QString Filename;       // full path of the recording
};

// Oldest first as a rule: the file's order, then every new record appended.
using ArchiveList = std::vector<TArchiveRecord>;

inline TArchiveRecord makeArchiveRecord(double startDayCount, qint32 lengthSeconds,
                                        const QString &path)
{
    return TArchiveRecord{startDayCount, lengthSeconds, core::cutToBytes(path, kFilenameMaxBytes)};
}

}  // namespace archive
