#pragma once
#include <QMap>
#include <QString>
#include <QStringList>

namespace app {

// The folder every file of the program is addressed from, always ending in '/': the
// executable's folder, or the folder given with --home. Set once, before any window exists.
void setProgramFolder(const QString &folder);
QString programFolder();
QString programPath(const QString &relative);  // programFolder() + relative

// An installed copy and its own data. A build tree or a portable copy keeps its program
// folder beside the executable; an installed one is <prefix>/bin/vantrel with the shipped
// data in <prefix>/share/vantrel/ and the WAV writer in <prefix>/lib/vantrel/, and runs on
// a folder of each user's own.
struct Installation {
    QString dataFolder;  // <prefix>/share/vantrel/, empty when not installed
    QString wavWriter;   // <prefix>/lib/vantrel/vtwav
};

// Installed when the executable's folder lacks the program folder's system.ini and
// <prefix>/share/vantrel/ holds one.
Installation findInstallation(const QString &executableFolder);

// $XDG_DATA_HOME/vantrel/, or <home>/.local/share/vantrel/ when XDG_DATA_HOME is unset or not
// an absolute path (as the base directory rules ask).
QString userProgramFolder(const QString &xdgDataHome, const QString &homeFolder);

// The encoders the shipped presets name, as their file names under Plugins/.
QStringList encoderNames();

// Makes `folder` a working program folder from an installation's data: every shipped file
// it lacks is copied (a file already there is the user's and is never replaced), Log/ and
// Plugins/ are made, and Plugins/ gets a link for each entry of `encoders` (name under
// Plugins/ -> absolute path) that it lacks. Returns false with the cause when the folder or
// a file cannot be made.
bool fillProgramFolder(const QString &dataFolder, const QString &folder, const QMap<QString, QString> &encoders,
                       QString *failure);

// Picks the program folder of this run and sets it: `homeOption` when given, else the
// executable's folder, or for an installed copy the user's own folder. With `runsOnFolder`
// (not for a run that only lists devices or sends a command) an installed copy fills the
// folder with what it lacks, linking the encoders found on PATH. Returns false with the
// cause when that fails.
bool chooseProgramFolder(const QString &homeOption, const QString &executableFolder, bool runsOnFolder,
                         QString *failure);

}  // namespace app
