#pragma once
// Free space on the save folder's file system, kept by removing recordings for good: first
// the files this program moved to the trash (they still take room there), then the files of
// the oldest records, until enough is free. Nothing that keepReason() keeps is chosen, nor
// the file being recorded. The choice is made here from the records (pure); the removal runs
// on the archive's worker (Archive::freeSpace), which measures the free space after each file.
//
// The trash list, Log/Trashed.txt beside the archive index, names every file the archive put
// into the trash, one absolute path a line, oldest first: only these are ever removed from
// the trash, never a file the user put there.

#include "archive/ArchiveRecord.h"
#include "archive/Keep.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace archive {

// The files of the records that may go to make room, oldest first, each once; kept records
// (and the recording's file) are left out and counted, with the first reason given.
struct SpaceCandidates {
    QStringList files;
    int kept = 0;
    QString keptReason;  // "younger than the minimum of 90 days"
};
SpaceCandidates spaceCandidates(const ArchiveList &records, const QDateTime &now, const KeepRules &keep,
                                const QString &recordingFile);

// One file removed for good (or not, with error set).
struct SpaceRemoval {
    QString path;           // the recording's file; for a trashed one, its path in the trash
    bool fromTrash = false;
    std::int64_t freedBytes = 0;
    QString error;          // why it stays; empty when it went
};

struct SpaceOutcome {
    std::vector<SpaceRemoval> removals;
    bool enough = false;  // the free space reached what was asked for
};

// The trash list beside an archive index, and what it holds / appending to it.
QString trashListPath(const QString &indexPath);
QStringList readTrashList(const QString &listPath);
// False (with *error) when the list could not be written.
[[nodiscard]] bool writeTrashList(const QString &listPath, const QStringList &paths, QString *error);

// The trash's description of a trashed file: ".../files/x" → ".../info/x.trashinfo".
QString trashInfoPath(const QString &trashedPath);

}  // namespace archive
