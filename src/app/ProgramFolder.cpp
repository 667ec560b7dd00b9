#include "app/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>

namespace app {
namespace {
QString g_folder;
}

void setProgramFolder(const QString &folder)
{
    QString f = QDir(folder).absolutePath();
    if (!f.endsWith(u'/'))
        f += u'/';
    g_folder = f;
}

QString programFolder()
{
    if (g_folder.isEmpty())
        setProgramFolder(QCoreApplication::applicationDirPath());
    return g_folder;
}

QString programPath(const QString &relative)
{
    return programFolder() + relative;
}

}  // namespace app
