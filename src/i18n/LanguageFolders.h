#pragma once
// The languages the program folder offers: every entry of Lang/ that is a folder holding a
// vtlang.ini, in the order the file system lists them, captioned by the first line of its
// "name" file (the folder's name without one). A language's code is the first two
// characters of its folder's name: a folder "English" is offered, but choosing it reads the
// folder "En".

#include <QList>
#include <QString>

namespace i18n {

struct LanguageFolder {
    QString code;     // what the settings store as Lang: "En"
    QString caption;  // what the Language menu shows: "English"
};

QList<LanguageFolder> languageFolders(const QString &languagesFolder);

// The folder of language `code` in `languagesFolder`, whose name matches the code without
// regard to case (Lang=ru reads the folder Ru), ending in '/'; empty when there is none.
QString languageFolder(const QString &languagesFolder, const QString &code);

}  // namespace i18n
