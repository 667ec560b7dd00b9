#pragma once
// The archive of finished recordings: the records (held by the history model, which the
// list view shows), the index file, deletion to the trash and the retention sweep. Its
// functions are called on the thread that owns it (the GUI thread); the file work runs on
// a thread of its own.
//
// Writing. Every change (a new record, a deletion, a sweep that removed records) writes
// the index whole and atomically, so that a crash loses no record and a failed write leaves
// the previous file whole. The write runs on the archive's worker thread from a copy of the
// records taken when it starts; changes made while a write runs are written together by
// one more write when it ends. Each change has a generation number (ArchiveChange::
// generation); written(generation) says that every change up to it is on disk, and
// whenWritten() runs an action then, e.g. removing the recording journal of a record:
//
//   const ArchiveChange change = archive.addRecord(start, seconds, file);
//   archive.whenWritten(change.generation, [journal, file] { journal.clearIfNames(file); });
//
// writeFailed(cause) reports a write that failed (show "Cannot save!", caption "Error!");
// the next successful write (written) heals it. flush() at close waits for the last write.
// Failures handed to the caller (load, writeFailed, flush) are for the caller to show and
// log; the archive logs only what it alone sees (a journal it cannot remove).
//
// Loading. load() reads the index on the calling thread; startLoading() reads it on the
// worker and emits loaded() once the model holds the records. Changes made meanwhile take
// effect in the list at once (the loaded records then go before them) and are written once
// loading ends, together with the loaded records: nothing is written while loading, and an
// index that exists but could not be read is never written in this run. adoptRecording()
// and the sweep belong after loaded(): before it they cannot see the loaded records.

#include "archive/ArchiveIndex.h"
#include "archive/ArchiveRecord.h"
#include "archive/HistoryModel.h"
#include "archive/Keep.h"
#include "archive/RecordingJournal.h"
#include "archive/SpaceKeeper.h"

#include <QDateTime>
#include <QLocale>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace archive {

// What a change of the archive did.
struct ArchiveChange {
    int removedRecords = 0;
    QStringList keptFiles;  // files that exist but could not be moved to the trash
    QString adoptedFile;    // adoptRecording made a record for this file
    // The generation whose write puts this change on disk; 0 when nothing changed.
    quint64 generation = 0;
};

// What Archive::freeSpace is to reach: wantedFreeBytes free on the file system of folder,
// as freeBytes() (called on the worker) tells after each removal.
struct SpaceRequest {
    QString folder;
    std::int64_t wantedFreeBytes = 0;
    std::function<std::int64_t()> freeBytes;
};

// Seconds of audio an audio file holds, from its headers; 0 when they do not say.
using DurationProbe = std::function<double(const QString &path)>;

class Archive : public QObject {
    Q_OBJECT
public:
    // How long flush() waits by default for the write in progress.
    static constexpr int kFlushTimeoutMs = 10000;

    // indexPath: usually archiveIndexPath(programDir). The locale gives the date and time
    // forms the file is written in and the month names of the list.
    explicit Archive(QString indexPath, const QLocale &locale = regionalDateLocale(),
                     QObject *parent = nullptr);
    // Flushes (bounded), then stops the worker.
    ~Archive() override;

    const QString &indexPath() const { return m_indexPath; }
    HistoryModel &model() { return m_model; }
    const ArchiveList &records() const { return m_model.records(); }

    // Appends the records of the index file. A missing file or folder gives no records and
    // no error. A file that exists but cannot be read gives false (and *error): the index is
    // then never written in this run, so that the records it holds are not overwritten.
    [[nodiscard]] bool load(QString *error = nullptr);
    // The same on the worker thread; loaded(ok, error) follows. Does nothing after a load.
    void startLoading();
    bool isLoading() const { return m_loading; }

    // Writes every record now (creating the "Log" folder if needed) and waits for it.
    [[nodiscard]] bool save(QString *error = nullptr);
    // Waits, at most timeoutMs, for loading and for the writes of every change; a write
    // that failed is tried once more. True when the index on disk holds every change; else
    // *error says why (the write's cause, or that it is still running).
    [[nodiscard]] bool flush(QString *error = nullptr, int timeoutMs = kFlushTimeoutMs);

    // The latest change, and the latest change known to be on disk.
    quint64 generation() const { return m_generation; }
    quint64 writtenGeneration() const { return m_writtenGeneration; }
    // Runs action on this thread once every change up to generation is on disk (at once
    // when it is). Actions still waiting when the archive goes are dropped.
    void whenWritten(quint64 generation, std::function<void()> action);

    // Appends the record of a finished recording.
    ArchiveChange addRecord(const QDateTime &start, qint32 lengthSeconds, const QString &path);

    // Removes record `index` and moves its file, if there is one, to the trash.
    // A file that another record still names stays where it is. The record goes even when
    // the file cannot be moved (the file then stays on disk and is listed in keptFiles; so
    // does a file whose name is not valid UTF-8). An index out of range changes nothing.
    ArchiveChange deleteRecord(int index);

    // The retention sweep: every record at least storeTimeDays (clamped to 1...365) calendar
    // days old by `now` is removed and its file moved to the trash, in one pass; records
    // with an unreadable date are spared, and so are those `keep` keeps (keepReason). Files
    // named by a record that stays are kept.
    ArchiveChange sweepExpired(const QDateTime &now, int storeTimeDays, const KeepRules &keep = {});

    // deleteRecord and sweepExpired with the files moved to the trash on the worker: the
    // records go at once, and the files that could not be moved come to `recycled` on this
    // thread afterwards (it is not called when no file was to be moved). For the program,
    // whose thread must not wait on a slow disk.
    using RecycledFiles = std::function<void(const QStringList &keptFiles)>;
    ArchiveChange deleteRecord(int index, RecycledFiles recycled);
    ArchiveChange sweepExpired(const QDateTime &now, int storeTimeDays, const KeepRules &keep,
                               RecycledFiles recycled);

    // Removes recordings for good until the request's free space is reached, on the worker:
    // first the files the archive put into the trash, then `files` in their order
    // (spaceCandidates), each only when it is on that file system. The records of removed files go, and are written. done
    // runs on this thread afterwards with what was removed and what could not be; it is
    // dropped when the archive goes first. One request at a time is the caller's to keep.
    void freeSpace(SpaceRequest request, QStringList files,
                   std::function<void(const SpaceOutcome &, const ArchiveChange &)> done);

    // The recording a journal names, left by a run that ended without finishing it (killed,
    // power lost): its file, if it exists and is not empty and no record names it yet, is
    // archived with the length the file holds (the probe's; when the headers give none, as
    // in a file cut off mid-write, the time from the start to the file's last change).
    // Belongs after loading, which it needs to see the records; the caller clears the
    // journal once the change is written (whenWritten).
    ArchiveChange adoptRecording(const JournalEntry &entry, const DurationProbe &probeSeconds);

Q_SIGNALS:
    void loaded(bool ok, const QString &error);
    void written(quint64 generation);
    void writeFailed(const QString &error);

private:
    struct Worker;

    void recycle(const ArchiveRecord &record, ArchiveChange *change);
    void recycleOnWorker(const QStringList &files, RecycledFiles recycled);
    ArchiveChange dropRemovedRecords(const SpaceOutcome &outcome);
    void appendRecord(double startTime, qint32 lengthSeconds, const QString &path, ArchiveChange *change);
    void changed(ArchiveChange *change);
    void startWrite();
    void collectResults();
    void reportUnwritable();

    QString m_indexPath;
    QLocale m_locale;
    HistoryModel m_model;
    QString m_unreadableIndex;  // set when an existing index could not be read
    std::unique_ptr<Worker> m_worker;
    // Set while a change collects the files it hands to the worker instead of moving them.
    std::optional<QStringList> m_recycleLater;

    quint64 m_generation = 0;
    quint64 m_writtenGeneration = 0;
    bool m_writePending = false;  // changes not yet handed to a write
    bool m_writing = false;
    bool m_loading = false;
    bool m_loadStarted = false;
    bool m_lastWriteFailed = false;
    QString m_lastWriteError;
    std::vector<std::pair<quint64, std::function<void()>>> m_afterWrite;
};

}  // namespace archive
