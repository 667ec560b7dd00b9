#pragma once
// The languages the program folder offers: every folder of Lang/ that holds a vtlang.ini,
// by folder name, captioned by the first line of its "name" file (the code without one).

#include <QList>
#include <QString>

namespace i18n {

struct LanguageFolder {
    QString code;     // the folder's name ("En"), which the settings store
    QString caption;  // what the Language menu shows ("English")
};

QList<LanguageFolder> languageFolders(const QString &languagesFolder);

}  // namespace i18n
