#include "archive/Archive.h"

#include "archive/ArchiveIndex.h"
#include "archive/Retention.h"
#include "archive/Trash.h"
#include "core/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sys/stat.h>

namespace archive {

namespace {

bool sameFile(const ArchiveRecord &a, const ArchiveRecord &b)
{
    return a.Filename == b.Filename && a.FilenameBytes == b.FilenameBytes;
}

}  // namespace

Archive::Archive(QString indexPath, const QLocale &locale)
    : m_indexPath(std::move(indexPath)), m_locale(locale), m_model(locale)
{
}

bool Archive::LoadArchive(QString *error)
{
    QFile file(m_indexPath);
    if (!QFileInfo(m_indexPath).exists()) return true;
    QByteArray text;
    if (file.open(QIODevice::ReadOnly)) {
        text = file.readAll();
        if (file.error() == QFileDevice::NoError) {
            m_model.appendRecords(parseArchiveIndex(text, m_locale));
            return true;
        }
    }
    m_unreadableIndex = QStringLiteral("Cannot read %1: %2")
                            .arg(QDir::toNativeSeparators(m_indexPath), file.errorString());
    if (error) *error = m_unreadableIndex;
    return false;
}

bool Archive::SaveArchive(QString *error) const
{
    if (!m_unreadableIndex.isEmpty()) {
        if (error) *error = m_unreadableIndex;
        return false;
    }
    // An atomic whole-file write: either the new index is complete on disk or the old one
    // is still there untouched, so no half-written file can be left behind.
    return core::writeFileAtomically(m_indexPath, writeArchiveIndex(records(), m_locale), error,
                                     /*createFolders=*/true);
}

void Archive::saveInto(ArchiveChange *change) const
{
    change->saved = SaveArchive(&change->saveError);
}

void Archive::addRecord(double startTime, qint32 lengthSeconds, const QString &path,
                        ArchiveChange *change)
{
    m_model.appendRecord(makeArchiveRecord(startTime, lengthSeconds, path));
    saveInto(change);
}

ArchiveChange Archive::AddArchiveRecord(const QDateTime &start, qint32 lengthSeconds,
                                        const QString &path)
{
    ArchiveChange change;
    addRecord(core::toDayCount(start), lengthSeconds, path, &change);
    return change;
}

void Archive::recycle(const ArchiveRecord &record, ArchiveChange *change) const
{
    if (!record.FilenameBytes.isEmpty()) {
        // Qt names files by text and cannot reach this one: it stays, and is reported.
        struct stat info {};
        if (::lstat(record.FilenameBytes.constData(), &info) == 0 && !S_ISDIR(info.st_mode))
            change->keptFiles.append(record.Filename);
        return;
    }
    // A record whose file is already gone leaves the disk alone.
    if (RecycleFile(record.Filename) == RecycleResult::Failed)
        change->keptFiles.append(record.Filename);
}

ArchiveChange Archive::DeleteArchiveRecord(int index)
{
    ArchiveChange change;
    if (index < 0 || size_t(index) >= records().size()) return change;
    const ArchiveRecord &leaving = records()[size_t(index)];
    bool namedElsewhere = false;
    for (size_t i = 0; i < records().size() && !namedElsewhere; ++i)
        namedElsewhere = i != size_t(index) && sameFile(records()[i], leaving);
    if (!namedElsewhere) recycle(leaving, &change);
    m_model.removeRecord(index);
    change.removedRecords = 1;
    saveInto(&change);
    return change;
}

ArchiveChange Archive::ArchiveCheckerTimer(const QDateTime &now, int storeTimeDays)
{
    ArchiveChange change;
    const std::vector<bool> due = dueRecords(records(), now, storeTimeDays);
    // The files of due records that a record staying behind still names.
    QSet<QString> dueNames;
    for (size_t i = 0; i < due.size(); ++i)
        if (due[i]) dueNames.insert(records()[i].Filename);
    if (dueNames.isEmpty()) return change;
    QSet<QByteArray> stillNamed;
    for (size_t i = 0; i < due.size(); ++i) {
        if (!due[i] && dueNames.contains(records()[i].Filename))
            stillNamed.insert(filenameBytes(records()[i]));
    }
    for (size_t i = 0; i < due.size(); ++i) {
        if (!due[i]) continue;
        if (!stillNamed.contains(filenameBytes(records()[i]))) recycle(records()[i], &change);
        ++change.removedRecords;
    }
    if (change.removedRecords == 0) return change;
    m_model.removeRecords(due);
    saveInto(&change);
    return change;
}

ArchiveChange Archive::adoptRecording(const RecordingJournal &journal,
                                     const DurationProbe &probeSeconds)
{
    ArchiveChange change;
    const std::optional<JournalEntry> entry = journal.read();
    if (!entry) {
        journal.clear();  // no journal, or one that names nothing to adopt
        return change;
    }
    const QFileInfo file(entry->file);
    bool named = false;
    for (const ArchiveRecord &r : records())
        named = named || (r.FilenameBytes.isEmpty() && r.Filename == entry->file);
    if (named || !file.isFile() || file.size() == 0) {
        journal.clear();
        return change;
    }

    double seconds = probeSeconds ? probeSeconds(entry->file) : 0.0;
    if (!(seconds > 0.0)) {
        // The encoder writes as the audio comes, so its last write is about when it stopped.
        const double lastChange = core::toDayCount(file.lastModified());
        seconds = std::max(0.0, (lastChange - entry->startTime) * core::kSecondsPerDay);
    }
    // Whole seconds, truncated, as a captured length is.
    const qint32 length = qint32(std::min(std::floor(seconds), double(std::numeric_limits<qint32>::max())));
    addRecord(entry->startTime, length, entry->file, &change);
    change.adoptedFile = entry->file;
    // Until the index holds the record, the journal stays for the next start to try again.
    if (change.saved) journal.clear();
    return change;
}

}  // namespace archive
