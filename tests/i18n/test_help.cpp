#include "i18n/AboutDialog.h"
#include "i18n/HelpLinks.h"
#include "i18n/UrlLabel.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

using namespace i18n;

namespace {

void touch(const QString &path)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

}  // namespace

// Stands in for the desktop: records what would have been opened.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

class HelpTest : public QObject {
    Q_OBJECT
    OpenedUrls m_opened;

private Q_SLOTS:
    void initTestCase()
    {
        for (const char *scheme : {"https", "http", "mailto", "file"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &m_opened, "open");
    }

    void cleanupTestCase()
    {
        for (const char *scheme : {"https", "http", "mailto", "file"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }

    void init() { m_opened.urls.clear(); }

    void helpPagePrefersHtmlThenChmThenEnglish()
    {
        QTemporaryDir lang;
        const auto page = [&](const QString &relative) {
            return QUrl::fromLocalFile(QDir(lang.path()).filePath(relative));
        };
        QCOMPARE(helpPageUrl(lang.path(), QStringLiteral("De")), QUrl());

        touch(lang.filePath(QStringLiteral("En/vthelp.chm")));
        QCOMPARE(helpPageUrl(lang.path(), QStringLiteral("De")), page(QStringLiteral("En/vthelp.chm")));
        touch(lang.filePath(QStringLiteral("En/vthelp.html")));
        QCOMPARE(helpPageUrl(lang.path(), QStringLiteral("De")), page(QStringLiteral("En/vthelp.html")));

        // A language folder without a page falls back; the folder is found whatever the case.
        QVERIFY(QDir(lang.path()).mkdir(QStringLiteral("De")));
        QCOMPARE(helpPageUrl(lang.path(), QStringLiteral("de")), page(QStringLiteral("En/vthelp.html")));
        touch(lang.filePath(QStringLiteral("De/vthelp.chm")));
        QCOMPARE(helpPageUrl(lang.path(), QStringLiteral("de")), page(QStringLiteral("De/vthelp.chm")));
        touch(lang.filePath(QStringLiteral("De/vthelp.html")));
        QCOMPARE(helpPageUrl(lang.path(), QStringLiteral("de")), page(QStringLiteral("De/vthelp.html")));

        // A hand-edited code never reaches a page outside the languages' folder.
        touch(lang.filePath(QStringLiteral("De/x/vthelp.html")));
        QCOMPARE(helpPageUrl(lang.path() + QStringLiteral("/De/x"), QStringLiteral("../../De")), QUrl());
    }

    void problemReportSubjectNamesTheVersion()
    {
        const auto subject = [](const QString &version) {
            return QUrlQuery(problemReportUrl(QStringLiteral("support@example.org"), version))
                .queryItemValue(QStringLiteral("subject"), QUrl::FullyDecoded);
        };
        const QUrl url = problemReportUrl(QStringLiteral("support@example.org"), QStringLiteral("1.2.3"));
        QCOMPARE(url.scheme(), QStringLiteral("mailto"));
        QCOMPARE(url.path(), QStringLiteral("support@example.org"));
        QCOMPARE(subject(QStringLiteral("1.2.3")), QStringLiteral("Vantrel (v.1.2.3)"));
        // Delimiters in the version stay part of the subject.
        QCOMPARE(subject(QStringLiteral("2.0+rc&x=1#2")), QStringLiteral("Vantrel (v.2.0+rc&x=1#2)"));
    }

    void urlLabelClickOpensItsUrlUnlessAHandlerTakesOver()
    {
        const QUrl url(QStringLiteral("https://example.org/"));
        UrlLabel label(QStringLiteral("example.org"), url);
        label.resize(120, 20);
        QTest::mouseClick(&label, Qt::LeftButton);
        QTest::keyClick(&label, Qt::Key_Return);
        QTest::mouseClick(&label, Qt::RightButton);
        QCOMPARE(m_opened.urls, QList<QUrl>({url, url}));

        UrlLabel *clickedLabel = nullptr;
        label.setClickHandler([&](UrlLabel *sender) { clickedLabel = sender; });
        QTest::mouseClick(&label, Qt::LeftButton);
        QCOMPARE(clickedLabel, &label);
        QCOMPARE(m_opened.urls.size(), 2);
    }

    void aboutBoxShowsTheVersionAndOpensBothLinks()
    {
        AboutDialog about(QStringLiteral("1.2.3"), QStringLiteral("https://example.org/"),
                          QStringLiteral("help@example.org"));
        QCOMPARE(about.findChild<QLabel *>(QStringLiteral("Label4"))->text(), QStringLiteral("1.2.3"));
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        for (UrlLabel *link : about.findChildren<UrlLabel *>())
            QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(m_opened.urls,
                 QList<QUrl>({QUrl(QStringLiteral("https://example.org/")),
                              QUrl(QStringLiteral("mailto:help@example.org?Subject=Vantrel"))}));

        QTest::mouseClick(about.findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
        QVERIFY(!about.isVisible());
    }
};

QTEST_MAIN(HelpTest)
#include "test_help.moc"
