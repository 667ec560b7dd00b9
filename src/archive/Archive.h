#pragma once
// The archive of finished recordings as the main window uses it: the records (held by the
// history model, which the list view shows), the index file, deletion to the trash and the
// retention sweep. Main thread only.
//
// The index is read once at start-up and written whole and atomically after every change
// (a new record, a deletion, a sweep that removed records) and at close, so that a crash
// loses no record and a failed write leaves the previous file whole. A failed write is
// reported to the caller, which shows "Cannot save!" (caption "Error!").

#include "archive/ArchiveIndex.h"
#include "archive/ArchiveRecord.h"
#include "archive/HistoryModel.h"
#include "archive/RecordingJournal.h"

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <functional>

namespace archive {

inline constexpr QLatin1String kSaveFailedText("Cannot save!");
inline constexpr QLatin1String kSaveFailedCaption("Error!");

// What a change of the archive did.
struct ArchiveChange {
    int removedRecords = 0;
    QStringList keptFiles;  // files that exist but could not be moved to the trash
    bool saved = true;      // false: the index could not be written; show "Cannot save!"
    QString saveError;      // why, for a log
    QString adoptedFile;    // adoptRecording made a record for this file
};

// Seconds of audio an audio file holds, from its headers; 0 when they do not say.
using DurationProbe = std::function<double(const QString &path)>;

class Archive {
public:
    // indexPath: usually archiveIndexPath(programDir). The locale gives the date and time
    // forms the file is written in and the month names of the list.
    explicit Archive(QString indexPath, const QLocale &locale = regionalDateLocale());
    Archive(const Archive &) = delete;
    Archive &operator=(const Archive &) = delete;

    const QString &indexPath() const { return m_indexPath; }
    HistoryModel &model() { return m_model; }
    const ArchiveList &records() const { return m_model.records(); }

    // Appends the records of the index file. A missing file or folder gives no records and
    // no error. A file that exists but cannot be read gives false (and *error): the index is
    // then never written in this run, so that the records it holds are not overwritten.
    [[nodiscard]] bool LoadArchive(QString *error = nullptr);

    // Writes every record, creating the "Log" folder if needed.
    [[nodiscard]] bool SaveArchive(QString *error = nullptr) const;

    // Appends the record of a finished recording and saves.
    [[nodiscard]] ArchiveChange AddArchiveRecord(const QDateTime &start, qint32 lengthSeconds,
                                                 const QString &path);

    // Removes record `index` and moves its file, if there is one, to the trash, then saves.
    // A file that another record still names stays where it is. The record goes even when
    // the file cannot be moved (the file then stays on disk and is listed in keptFiles; so
    // does a file whose name is not valid UTF-8). An index out of range changes nothing.
    [[nodiscard]] ArchiveChange DeleteArchiveRecord(int index);

    // The retention sweep: every record at least storeTimeDays (clamped to 1...365) calendar
    // days old by `now` is removed and its file moved to the trash, in one pass; records
    // with an unreadable date are spared. Files named by a record that stays are kept.
    // Saves when anything was removed.
    [[nodiscard]] ArchiveChange ArchiveCheckerTimer(const QDateTime &now, int storeTimeDays);

    // The recording a journal names, left by a run that ended without finishing it (killed,
    // power lost): its file, if it exists and is not empty and no record names it yet, is
    // archived with the length the file holds (the probe's; when the headers give none, as
    // in a file cut off mid-write, the time from the start to the file's last change). The
    // journal is removed once nothing is left to adopt and the index is saved.
    [[nodiscard]] ArchiveChange adoptRecording(const RecordingJournal &journal,
                                               const DurationProbe &probeSeconds);

private:
    void recycle(const ArchiveRecord &record, ArchiveChange *change) const;
    void addRecord(double startTime, qint32 lengthSeconds, const QString &path, ArchiveChange *change);
    void saveInto(ArchiveChange *change) const;

    QString m_indexPath;
    QLocale m_locale;
    HistoryModel m_model;
    QString m_unreadableIndex;  // set when an existing index could not be read
};

}  // namespace archive
