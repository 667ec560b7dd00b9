#pragma once
// Moving a recording to the desktop trash (freedesktop.org trash: the home trash under the
// user's data folder, or a ".Trash" folder at the top of another file system).

#include <QString>

namespace archive {

enum class RecycleResult {
    Trashed,      // the file is in the trash and gone from its place
    NotAFile,     // nothing to move: no such file, a folder, or a relative path
    Failed,       // the file exists but stays where it was
};

// Hands one file to the trash. Only an existing file named by an absolute path is moved;
// folders are never touched. Success is checked, not assumed: the file must have left its
// place and arrived in a trash "files" folder. trashedPath, if given, receives its new path.
// Any thread; blocks for the rename (or, across file systems, the copy): the program calls it
// on the archive's worker.
RecycleResult recycleFile(const QString &path, QString *trashedPath = nullptr);

}  // namespace archive
