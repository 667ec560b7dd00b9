#pragma once
#include <QByteArray>
#include <QString>

namespace core {

// Writes data to a temporary file in the same folder, flushes it to disk and renames it
// over path, so a crash never leaves a truncated file. On failure the old file is whole and
// *error (if given) says why. Does not create missing folders unless createFolders is set.
[[nodiscard]] bool writeFileAtomically(const QString &path, const QByteArray &data,
                                       QString *error = nullptr, bool createFolders = false);

}  // namespace core
