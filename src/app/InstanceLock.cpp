#include "app/InstanceLock.h"

#include "app/Logging.h"

#include "core/ProgramFiles.h"

#include <QDir>

namespace app {

std::unique_ptr<InstanceLock> InstanceLock::acquire(const QString &folder, QString *reason,
                                                    const i18n::StringTable &texts)
{
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(core::files::instanceLock());
    std::unique_ptr<InstanceLock> lock(new InstanceLock(path));
    lock->m_file.setStaleLockTime(0);  // stale only when its process is gone
    if (lock->m_file.tryLock(0))
        return lock;
    // A folder nobody may write to (a read-only install) cannot be written over by a second
    // instance either; it runs without the lock and reports its failed saves as usual.
    if (lock->m_file.error() == QLockFile::PermissionError) {
        qCWarning(lcApp).noquote() << "cannot create" << path
                                   << "(permission denied); running without the one-instance lock";
        return lock;
    }

    if (reason) {
        qint64 pid = 0;
        QString host, program;
        switch (lock->m_file.error()) {
        case QLockFile::LockFailedError:
            if (lock->m_file.getLockInfo(&pid, &host, &program))
                *reason = texts.folderInUseBy
                              .arg(QDir::toNativeSeparators(folder))
                              .arg(pid)
                              .arg(host);
            else
                *reason = texts.folderInUse
                              .arg(QDir::toNativeSeparators(folder));
            break;
        default:
            *reason = texts.cannotLock.arg(path);
            break;
        }
    }
    return nullptr;
}

}  // namespace app
