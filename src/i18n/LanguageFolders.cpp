#include "i18n/LanguageFolders.h"

#include <QDir>
#include <QFile>

namespace i18n {

QList<LanguageFolder> languageFolders(const QString &languagesFolder)
{
    QList<LanguageFolder> languages;
    const QDir root(languagesFolder);
    for (const QString &code : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QDir folder(root.filePath(code));
        if (!folder.exists(QStringLiteral("vtlang.ini")))
            continue;
        LanguageFolder language{code, code};
        QFile nameFile(folder.filePath(QStringLiteral("name")));
        if (nameFile.open(QIODevice::ReadOnly | QIODevice::Text)) {
            const QString first = QString::fromUtf8(nameFile.readLine()).trimmed();
            if (!first.isEmpty())
                language.caption = first;
        }
        languages.append(language);
    }
    return languages;
}

}  // namespace i18n
