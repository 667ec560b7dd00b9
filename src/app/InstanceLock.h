#pragma once
// One running Vantrel per program folder. Two instances on one folder would each write the
// settings, the schedule and the archive index over the other's, and lose records.
//
// The lock is the file "vantrel.lock" in the program folder, holding the owner's process id
// (QLockFile). A lock whose process no longer runs (killed, power cut) is taken over; the
// age of a lock never makes it stale, since a logger holds its folder for months. A folder
// the user may not write to is run without a lock.

#include "i18n/StringTable.h"

#include <QLockFile>
#include <QString>

#include <memory>

namespace app {

class InstanceLock {
public:
    // Tries to take the lock of `folder` at once. On failure *reason says why in one
    // sentence, in the words of `texts`, naming the process that holds the folder when there
    // is one.
    static std::unique_ptr<InstanceLock> acquire(const QString &folder, QString *reason,
                                                 const i18n::StringTable &texts = {});

    // Releases the lock (the file is removed).
    ~InstanceLock() = default;

private:
    explicit InstanceLock(const QString &path) : m_file(path) {}
    QLockFile m_file;
};

}  // namespace app
