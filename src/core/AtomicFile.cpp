#include "core/AtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>

namespace core {

namespace {

bool fail(QString *error, const QString &path, const QString &reason)
{
    if (error) *error = QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(path), reason);
    return false;
}

// Makes the rename itself durable; a folder that cannot be opened or synced is no error,
// the data is already on disk.
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

bool writeFileAtomically(const QString &path, const QByteArray &data, QString *error,
                         bool createFolders)
{
    if (path.isEmpty()) return fail(error, path, QStringLiteral("no file name"));
    const QFileInfo target(path);
    const QString folder = target.absolutePath();

    if (createFolders && !QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        return fail(error, path, QStringLiteral("cannot create the folder %1")
                                     .arg(QDir::toNativeSeparators(folder)));
    if (target.isDir()) return fail(error, path, QStringLiteral("a folder of that name exists"));
    // A rename would replace a file the user made read-only; honour the protection instead.
    if (target.exists() && !target.isWritable())
        return fail(error, path, QStringLiteral("the file is read-only"));

    // QSaveFile writes a temporary file beside the target, keeps the target's permissions,
    // flushes it to disk on commit and renames it over the target; until then the old file
    // is untouched, and a failure removes the temporary file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return fail(error, path, file.errorString());
    // A short file's write error only shows when its buffer is flushed, and commit() in Qt
    // 6.4 does not report it: flush first, or a full disk would commit a truncated file.
    if (file.write(data) != data.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return fail(error, path, reason);
    }
    if (!file.commit()) return fail(error, path, file.errorString());
    syncFolder(folder);
    if (error) error->clear();
    return true;
}

}  // namespace core
