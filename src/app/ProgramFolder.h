#pragma once
#include <QString>

namespace app {

// The folder every file of the program is addressed from, always ending in '/': the
// executable's folder, or the folder given with --home. Set once, before any window exists.
void setProgramFolder(const QString &folder);
QString programFolder();
QString programPath(const QString &relative);  // programFolder() + relative

}  // namespace app
