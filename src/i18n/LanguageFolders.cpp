#include "i18n/LanguageFolders.h"

#include "i18n/LanguageFile.h"

#include <QDir>
#include <QFile>

namespace i18n {

QList<LanguageFolder> languageFolders(const QString &languagesFolder)
{
    QList<LanguageFolder> languages;
    const QDir root(languagesFolder);
    for (const QString &name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted)) {
        const QDir folder(root.filePath(name));
        if (name.size() < 2 || !folder.exists(langfile::fileName()))
            continue;
        LanguageFolder language{name.left(2), name};
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

QString languageFolder(const QString &languagesFolder, const QString &code)
{
    if (code.isEmpty())
        return {};
    // Only the folders that are there: a code such as "../x" never leaves Lang/. The exact
    // spelling wins, since "en" and "En" can both exist.
    const QDir root(languagesFolder);
    QString match;
    for (const QString &name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (name == code)
            return root.filePath(name) + QLatin1Char('/');
        if (match.isEmpty() && name.compare(code, Qt::CaseInsensitive) == 0)
            match = root.filePath(name) + QLatin1Char('/');
    }
    return match;
}

}  // namespace i18n
