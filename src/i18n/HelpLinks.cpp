#include "i18n/HelpLinks.h"
#include "i18n/LanguageFolders.h"

#include <QFileInfo>

namespace i18n {

namespace {

QString helpPageIn(const QString &languagesFolder, const QString &lang)
{
    const QString folder = languageFolder(languagesFolder, lang);
    if (folder.isEmpty())
        return {};
    for (const QString &page : {QStringLiteral("vthelp.html"), QStringLiteral("vthelp.chm")}) {
        const QFileInfo file(folder + page);
        if (file.isFile())
            return file.absoluteFilePath();
    }
    return {};
}

QUrl mailUrl(const QString &address, const QString &subjectKey, const QString &subject)
{
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(address);
    // Everything but the unreserved characters is escaped: a '+' left bare reads as a
    // blank to some mail programs, and '&', '=' or '#' would cut the subject short.
    url.setQuery(subjectKey + QLatin1Char('=') + QString::fromLatin1(QUrl::toPercentEncoding(subject)),
                 QUrl::StrictMode);
    return url;
}

}  // namespace

QUrl helpPageUrl(const QString &languagesFolder, const QString &lang)
{
    QString page = helpPageIn(languagesFolder, lang);
    if (page.isEmpty())
        page = helpPageIn(languagesFolder, QStringLiteral("En"));
    return page.isEmpty() ? QUrl() : QUrl::fromLocalFile(page);
}

QUrl problemReportUrl(const QString &supportAddress, const QString &version)
{
    return mailUrl(supportAddress, QStringLiteral("subject"),
                   QStringLiteral("Vantrel (v.%1)").arg(version));
}

QUrl supportMailUrl(const QString &supportAddress)
{
    return mailUrl(supportAddress, QStringLiteral("Subject"), QStringLiteral("Vantrel"));
}

}  // namespace i18n
