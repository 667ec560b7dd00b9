#include "archive/Archive.h"

#include "archive/ArchiveIndex.h"
#include "archive/Retention.h"
#include "archive/Trash.h"
#include "core/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace archive {

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

ArchiveChange Archive::AddArchiveRecord(const QDateTime &start, qint32 lengthSeconds,
                                        const QString &path)
{
    m_model.appendRecord(makeArchiveRecord(core::toDayCount(start), lengthSeconds, path));
    ArchiveChange change;
    saveInto(&change);
    return change;
}

void Archive::recycle(const TArchiveRecord &record, ArchiveChange *change) const
{
    // A record whose file is already gone leaves the disk alone.
    if (RecycleFile(record.Filename) == RecycleResult::Failed)
        change->keptFiles.append(record.Filename);
}

ArchiveChange Archive::DeleteArchiveRecord(int index)
{
    ArchiveChange change;
    if (index < 0 || size_t(index) >= records().size()) return change;
    recycle(records()[size_t(index)], &change);
    m_model.removeRecord(index);
    change.removedRecords = 1;
    saveInto(&change);
    return change;
}

ArchiveChange Archive::ArchiveCheckerTimer(const QDateTime &now, int storeTimeDays)
{
    ArchiveChange change;
    const std::vector<bool> due = dueRecords(records(), now, storeTimeDays);
    for (size_t i = 0; i < due.size(); ++i) {
        if (!due[i]) continue;
        recycle(records()[i], &change);
        ++change.removedRecords;
    }
    if (change.removedRecords == 0) return change;
    m_model.removeRecords(due);
    saveInto(&change);
    return change;
}

}  // namespace archive
