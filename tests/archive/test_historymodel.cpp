#include "archive/HistoryModel.h"
#include "archive/RegionalDateTime.h"
#include "core/DayCount.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace archive;

namespace {

ArchiveRecord record(int day, qint32 length, const QString &file = QString())
{
    return makeArchiveRecord(core::toDayCount(QDate(2026, 12, day), QTime(9, 5, 7)), length, file);
}

QStringList files(const HistoryModel &m)
{
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r) out.append(m.index(r, ColFile).data().toString());
    return out;
}

}  // namespace

class TestHistoryModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void showsSixColumnsOfText();
    void showsLengthByMagnitudeInHours();
    void followsLocaleMonthNames();
    void rowsFollowEveryChange();
    void greysMissingFilesAndTipsPathAndStart();
};

void TestHistoryModel::showsSixColumnsOfText()
{
    HistoryModel m(QLocale(QStringLiteral("en_GB")));
    m.appendRecord(makeArchiveRecord(core::toDayCount(QDate(2026, 12, 7), QTime(20, 4, 37)), 3725,
                                     QStringLiteral("/home/ann/Recordings/a b.mp3")));
    m.appendRecord(ArchiveRecord{});  // unreadable date, no file
    QCOMPARE(m.columnCount(), 6);
    QCOMPARE(m.headerData(ColYear, Qt::Horizontal).toString(), QStringLiteral("Year"));
    QCOMPARE(m.headerData(ColFile, Qt::Horizontal).toString(), QStringLiteral("File"));
    QCOMPARE(m.rowTexts(0), (QStringList{QStringLiteral("2026"), QStringLiteral("Dec"),
                                              QStringLiteral("07"), QStringLiteral("20:04"),
                                              QStringLiteral("1:02:05"),
                                              QStringLiteral("/home/ann/Recordings/a b.mp3")}));
    QCOMPARE(m.rowTexts(1), (QStringList{QStringLiteral("1899"), QStringLiteral("Dec"),
                                              QStringLiteral("30"), QStringLiteral("00:00"),
                                              QStringLiteral("0:00:00"), QString()}));
    QVERIFY(m.rowTexts(2).isEmpty());
    QVERIFY(m.rowTexts(-1).isEmpty());
    QVERIFY(!(m.flags(m.index(0, 0)) & Qt::ItemIsEditable));

    QVERIFY(m.setHeaderData(ColYear, Qt::Horizontal, QStringLiteral("Jahr")));
    QCOMPARE(m.headerData(ColYear, Qt::Horizontal).toString(), QStringLiteral("Jahr"));
    QCOMPARE(m.headerData(ColMonth, Qt::Horizontal).toString(), QStringLiteral("Month"));
}

void TestHistoryModel::showsLengthByMagnitudeInHours()
{
    const QLocale c = QLocale::c();
    auto text = [&c](qint32 length) { return historyCellText(record(1, length), ColLength, c); };
    QCOMPARE(text(-1), QStringLiteral("0:00:01"));
    QCOMPARE(text(3725), QStringLiteral("1:02:05"));
    QCOMPARE(text(100 * 3600), QStringLiteral("100:00:00"));
    QCOMPARE(text(std::numeric_limits<qint32>::min()), QStringLiteral("596523:14:08"));
}

void TestHistoryModel::followsLocaleMonthNames()
{
    const ArchiveRecord r = record(7, 0);
    QCOMPARE(historyCellText(r, ColMonth, QLocale(QStringLiteral("en_US"))), QStringLiteral("Dec"));
    QCOMPARE(historyCellText(r, ColMonth, QLocale(QStringLiteral("de_DE"))), QStringLiteral("Dez"));
}

void TestHistoryModel::rowsFollowEveryChange()
{
    HistoryModel m(QLocale::c());
    QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);

    ArchiveList initial;
    for (int i = 0; i < 40; ++i) initial.push_back(record(1 + i % 28, i, QString::number(i)));
    m.appendRecords(initial);
    QCOMPARE(m.rowCount(), 40);
    m.appendRecord(record(2, 1, QStringLiteral("40")));
    m.removeRecord(0);
    m.removeRecord(99);  // out of range: nothing
    QCOMPARE(m.rowCount(), 40);
    QCOMPARE(files(m).first(), QStringLiteral("1"));
    QCOMPARE(files(m).last(), QStringLiteral("40"));

    // A few runs are removed row by row; the rows shown are those of the remaining records.
    QSignalSpy resets(&m, &QAbstractItemModel::modelReset);
    QSignalSpy removals(&m, &QAbstractItemModel::rowsRemoved);
    std::vector<bool> drop(40, false);
    drop[0] = drop[1] = drop[10] = drop[39] = true;
    m.removeRecords(drop);
    QCOMPARE(removals.size(), 3);
    QCOMPARE(resets.size(), 0);
    QStringList expected;
    for (int i = 1; i <= 40; ++i)
        if (i != 1 && i != 2 && i != 11 && i != 40) expected.append(QString::number(i));
    QCOMPARE(files(m), expected);

    // Many runs (every other record) are one reset.
    std::vector<bool> everyOther(36, false);
    for (size_t i = 0; i < everyOther.size(); i += 2) everyOther[i] = true;
    m.removeRecords(everyOther);
    QCOMPARE(resets.size(), 1);
    QStringList odd;
    for (int i = 1; i < expected.size(); i += 2) odd.append(expected[i]);
    QCOMPARE(files(m), odd);

    m.removeRecords(std::vector<bool>(18, true));
    QCOMPARE(m.rowCount(), 0);
    QVERIFY(m.rowTexts(0).isEmpty());
}

void TestHistoryModel::greysMissingFilesAndTipsPathAndStart()
{
    QTemporaryDir dir;
    const QString here = dir.filePath(QStringLiteral("here.mp3"));
    QFile f(here);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    HistoryModel m(QLocale(QStringLiteral("en_GB")));
    m.appendRecords({record(7, 1, here), record(8, 1, dir.filePath(QStringLiteral("gone.mp3")))});
    auto grey = [&m](int row, int column = ColFile) {
        return m.index(row, column).data(Qt::ForegroundRole).value<QColor>() == QColor(Qt::gray);
    };
    QVERIFY(!grey(0));
    QVERIFY(grey(1) && grey(1, ColYear));
    QCOMPARE(m.index(0, ColFile).data(Qt::ToolTipRole).toString(),
             here + QStringLiteral("\nMonday, 7 December 2026 09:05:07"));

    // What is known of a file is kept until a refresh, which tells the views.
    QVERIFY(QFile::remove(here));
    QVERIFY(!grey(0));
    QSignalSpy changed(&m, &QAbstractItemModel::dataChanged);
    m.refreshFileStates();
    QCOMPARE(changed.size(), 1);
    QVERIFY(grey(0));
}

QTEST_GUILESS_MAIN(TestHistoryModel)
#include "test_historymodel.moc"
