#include "app/ProgramFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace app {
namespace {
QString g_folder;

QString withSlash(QString folder)
{
    if (!folder.endsWith(u'/'))
        folder += u'/';
    return folder;
}

// A dangling link is an entry too: whatever the user left under a name stays.
bool entryExists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}
}  // namespace

void setProgramFolder(const QString &folder)
{
    g_folder = withSlash(QDir(folder).absolutePath());
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

Installation findInstallation(const QString &executableFolder)
{
    const QDir bin(executableFolder);
    if (bin.exists(QStringLiteral("system.ini")))
        return {};
    const QString prefix = QDir::cleanPath(bin.absoluteFilePath(QStringLiteral("..")));
    const QString data = prefix + QStringLiteral("/share/vantrel/");
    if (!QFileInfo::exists(data + QStringLiteral("system.ini")))
        return {};
    return {data, prefix + QStringLiteral("/lib/vantrel/vtwav")};
}

QString userProgramFolder(const QString &xdgDataHome, const QString &homeFolder)
{
    const QString base = QDir::isAbsolutePath(xdgDataHome) ? xdgDataHome : homeFolder + QStringLiteral("/.local/share");
    return withSlash(QDir::cleanPath(base + QStringLiteral("/vantrel")));
}

QStringList encoderNames()
{
    return {QStringLiteral("lame"), QStringLiteral("flac"), QStringLiteral("oggenc"), QStringLiteral("opusenc"),
            QStringLiteral("ffmpeg")};
}

bool fillProgramFolder(const QString &dataFolder, const QString &folder, const QMap<QString, QString> &encoders,
                       QString *failure)
{
    const QDir source(dataFolder);
    const QDir target(folder);
    for (const QString &dir : {QStringLiteral("Log"), QStringLiteral("Plugins")}) {
        if (!target.mkpath(dir)) {
            *failure = QStringLiteral("cannot create the folder %1").arg(target.absoluteFilePath(dir));
            return false;
        }
    }

    QDirIterator it(dataFolder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString from = it.next();
        const QString to = target.absoluteFilePath(source.relativeFilePath(from));
        if (entryExists(to))
            continue;
        if (!QDir().mkpath(QFileInfo(to).absolutePath()) || !QFile::copy(from, to)) {
            *failure = QStringLiteral("cannot copy %1 to %2").arg(from, to);
            return false;
        }
        // The copy keeps the installed file's mode, which may be read-only; the program
        // writes its settings, presets and schedule in place.
        QFile::setPermissions(to, QFile::permissions(to) | QFile::WriteOwner);
    }

    for (auto e = encoders.cbegin(); e != encoders.cend(); ++e) {
        const QString link = target.absoluteFilePath(QStringLiteral("Plugins/") + e.key());
        if (entryExists(link))
            continue;
        if (!QFile::link(e.value(), link)) {
            *failure = QStringLiteral("cannot link %1 to %2").arg(link, e.value());
            return false;
        }
    }
    return true;
}

bool chooseProgramFolder(const QString &homeOption, const QString &executableFolder, bool runsOnFolder,
                         QString *failure)
{
    const Installation installation = findInstallation(executableFolder);
    if (!homeOption.isEmpty())
        setProgramFolder(homeOption);
    else if (!installation.dataFolder.isEmpty())
        setProgramFolder(userProgramFolder(qEnvironmentVariable("XDG_DATA_HOME"), QDir::homePath()));
    else
        setProgramFolder(executableFolder);
    if (installation.dataFolder.isEmpty() || !runsOnFolder)
        return true;

    // Encoders installed after the first start are linked at the next one.
    QMap<QString, QString> encoders;
    for (const QString &name : encoderNames()) {
        const QString path = QStandardPaths::findExecutable(name);
        if (!path.isEmpty())
            encoders.insert(name, path);
    }
    if (QFileInfo(installation.wavWriter).isExecutable())
        encoders.insert(QStringLiteral("vtwav"), installation.wavWriter);
    QString cause;
    if (!fillProgramFolder(installation.dataFolder, programFolder(), encoders, &cause)) {
        *failure = QStringLiteral("cannot set up the program folder %1: %2").arg(programFolder(), cause);
        return false;
    }
    return true;
}

}  // namespace app
