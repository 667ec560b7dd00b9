#include "recording/OutputFileName.h"

#include <QDir>
#include <QSet>
#include <QTest>

using recording::makeOutputFileName;

class TestOutputFileName : public QObject {
    Q_OBJECT

    // 20:44:37 on 7 December 2026, the clock of every case.
    const QDateTime now{QDate(2026, 12, 7), QTime(20, 44, 37)};

private slots:
    void fillsTheDefaultTemplate()
    {
        QCOMPARE(makeOutputFileName("/log", "%y-%m-%d_%t", "mp3", now),
                 QString("/log/2026-12-07_20-44-37.mp3"));
        // A folder already ending in a separator gets no second one.
        QCOMPARE(makeOutputFileName("/log/", "%t", "mp3", now), QString("/log/20-44-37.mp3"));
        QCOMPARE(makeOutputFileName("/log\\", "%t", "mp3", now), QString("/log/20-44-37.mp3"));
    }

    void padsMonthDayAndTimeButNotTheYear()
    {
        const QDateTime early(QDate(987, 1, 2), QTime(3, 4, 5));
        QCOMPARE(makeOutputFileName("/r", "%y|%m|%d|%t", "", early), QString("/r/987|01|02|03-04-05"));
    }

    void replacesCodesInAnyCaseAndInTheFolder()
    {
        QCOMPARE(makeOutputFileName("/rec/%Y", "%M-%D_%T", "ogg", now),
                 QString("/rec/2026/12-07_20-44-37.ogg"));
        // A folder name that merely looks like a code is changed as well.
        QCOMPARE(makeOutputFileName("/data/50%done", "x", "", now), QString("/data/5007one/x"));
    }

    void replacesEveryOccurrence()
    {
        QCOMPARE(makeOutputFileName("/r", "%d%d-%d", "", now), QString("/r/0707-07"));
    }

    void keepsOtherPercentSignsAsWritten()
    {
        QCOMPARE(makeOutputFileName("/r", "100%_%x_%%y", "", now), QString("/r/100%_%x_%2026"));
    }

    void backslashesMakeSubfolders()
    {
        QCOMPARE(makeOutputFileName("C:\\log", "%y\\%m\\%d\\%t", "mp3", now),
                 QString("C:/log/2026/12/07/20-44-37.mp3"));
    }

    void handlesEmptyAndDottedExtensions()
    {
        QCOMPARE(makeOutputFileName("/r", "a", "", now), QString("/r/a"));
        QCOMPARE(makeOutputFileName("/r", "a", ".mp3", now), QString("/r/a..mp3"));
        // An empty template leaves the folder with its separator.
        QCOMPARE(makeOutputFileName("/r", "", "mp3", now), QString("/r/.mp3"));
        QCOMPARE(makeOutputFileName("/r", "", "", now), QString("/r/"));
        // An empty folder gives a lone separator, as on the system this comes from.
        QCOMPARE(makeOutputFileName("", "a", "", now), QString("/a"));
    }

    void sameSecondGivesSamePath()
    {
        const QDateTime later = now.addMSecs(900);
        QCOMPARE(makeOutputFileName("/r", "%y-%m-%d_%t", "mp3", later),
                 makeOutputFileName("/r", "%y-%m-%d_%t", "mp3", now));
    }

    void takenNameGetsTheFirstFreeSuffixBeforeTheExtension()
    {
        QSet<QString> taken{"/r/a.mp3", "/r/a_2.mp3", "/r/b", "/r/x.y"};
        auto isTaken = [&](const QString &p) { return taken.contains(p); };
        QCOMPARE(recording::firstFreeFileName("/r/a.mp3", "mp3", isTaken), QString("/r/a_3.mp3"));
        QCOMPARE(recording::firstFreeFileName("/r/free.mp3", "mp3", isTaken), QString("/r/free.mp3"));
        // Without an extension (or one the path does not end in) the suffix goes at the end.
        QCOMPARE(recording::firstFreeFileName("/r/b", "", isTaken), QString("/r/b_2"));
        QCOMPARE(recording::firstFreeFileName("/r/x.y", "mp3", isTaken), QString("/r/x.y_2"));
    }

    void expandsTheHomeFolderButOnlyAtTheStart()
    {
        QCOMPARE(makeOutputFileName("~/Recordings", "%y", "mp3", now),
                 QDir::homePath() + "/Recordings/2026.mp3");
        QCOMPARE(makeOutputFileName("~", "a", "", now), QDir::homePath() + "/a");
        QCOMPARE(makeOutputFileName("/r/~", "a", "", now), QString("/r/~/a"));
        QCOMPARE(makeOutputFileName("~user", "a", "", now), QString("~user/a"));
    }
};

QTEST_GUILESS_MAIN(TestOutputFileName)
#include "test_output_file_name.moc"
