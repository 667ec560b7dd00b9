#include "archive/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace archive {

namespace {

bool stillThere(const QString &path)
{
    const QFileInfo fi(path);
    return fi.exists() || fi.isSymLink();
}

// ".../Trash/files/x", ".../.Trash-1000/files/x" or ".../.Trash/1000/files/x".
bool isInTrash(const QString &path)
{
    if (!QDir::isAbsolutePath(path)) return false;
    QDir files = QFileInfo(path).absoluteDir();
    if (files.dirName() != QLatin1String("files")) return false;
    QDir trash = files;
    if (!trash.cdUp()) return false;
    const QString name = trash.dirName();
    if (name == QLatin1String("Trash") || name.startsWith(QLatin1String(".Trash-"))) return true;
    return trash.cdUp() && trash.dirName() == QLatin1String(".Trash");
}

}  // namespace

RecycleResult recycleFile(const QString &path, QString *trashedPath)
{
    if (trashedPath) trashedPath->clear();
    const QFileInfo source(path);
    if (!QDir::isAbsolutePath(path) || source.isDir() || !stillThere(path))
        return RecycleResult::NotAFile;

    // Without the user's data folder, Qt cannot set up the home trash and moves the file
    // into "files/" under the current folder instead, reporting success.
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!dataHome.isEmpty()) QDir().mkpath(dataHome);

    QString newPath;
    if (!QFile::moveToTrash(path, &newPath)) return RecycleResult::Failed;

    const QString landed = QFileInfo(newPath).absoluteFilePath();
    if (!newPath.isEmpty() && !stillThere(path) && isInTrash(newPath) && stillThere(landed)) {
        if (trashedPath) *trashedPath = landed;
        return RecycleResult::Trashed;
    }
    // It went somewhere that is no trash: put it back, and drop the stray info file.
    if (!newPath.isEmpty() && !stillThere(path) && stillThere(landed)) {
        if (QFile::rename(landed, path)) {
            QDir strayRoot = QFileInfo(landed).absoluteDir();
            if (strayRoot.cdUp())
                QFile::remove(strayRoot.filePath(QStringLiteral("info/%1.trashinfo")
                                                     .arg(QFileInfo(landed).fileName())));
        }
    }
    return RecycleResult::Failed;
}

}  // namespace archive
