#include "archive/SpaceKeeper.h"

#include "core/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <numeric>

namespace archive {

SpaceCandidates spaceCandidates(const ArchiveList &records, const QDateTime &now, const KeepRules &keep,
                                const QString &recordingFile)
{
    // Oldest first, whatever order the index holds them in; an unreadable date (0) is kept anyway.
    std::vector<size_t> order(records.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&records](size_t a, size_t b) { return records[a].start < records[b].start; });
    SpaceCandidates result;
    QSet<QString> keptFiles;
    for (size_t i : order) {
        const ArchiveRecord &record = records[i];
        QString reason = keepReason(record, now, keep);
        if (reason.isEmpty() && record.path == recordingFile) reason = QStringLiteral("being recorded");
        if (!reason.isEmpty()) {
            keptFiles.insert(record.path);
            if (result.kept++ == 0) result.keptReason = reason;
        }
    }
    QSet<QString> listed;
    for (size_t i : order) {
        const ArchiveRecord &record = records[i];
        // A file that a kept record names stays; so does one that Qt cannot name.
        if (!record.pathBytes.isEmpty() || record.path.isEmpty() || keptFiles.contains(record.path)
            || listed.contains(record.path))
            continue;
        listed.insert(record.path);
        result.files.append(record.path);
    }
    return result;
}

QString trashListPath(const QString &indexPath)
{
    return QFileInfo(indexPath).absoluteDir().filePath(QStringLiteral("Trashed.txt"));
}

QStringList readTrashList(const QString &listPath)
{
    QFile file(listPath);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QStringList paths;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (!line.trimmed().isEmpty()) paths.append(QString::fromUtf8(line));
    return paths;
}

bool writeTrashList(const QString &listPath, const QStringList &paths, QString *error)
{
    QByteArray text;
    for (const QString &path : paths) text += path.toUtf8() + '\n';
    return core::writeFileAtomically(listPath, text, error, /*createFolders=*/true);
}

QString trashInfoPath(const QString &trashedPath)
{
    const QFileInfo file(trashedPath);
    QDir trash = file.absoluteDir();
    if (!trash.cdUp()) return {};
    return trash.filePath(QStringLiteral("info/") + file.fileName() + QStringLiteral(".trashinfo"));
}

}  // namespace archive
