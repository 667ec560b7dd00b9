// The schedule list as the list view shows it (row texts, rows that follow every change),
// and the entry dialog's length field and new-entry rules.

#include "core/DayCount.h"
#include "schedule/EntryLength.h"
#include "schedule/ScheduleModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace schedule;

Q_DECLARE_METATYPE(schedule::ScheduleEntry)

namespace {

ScheduleEntry entryAt(int h, int m, int s, qint32 lengthMs = 0, qint32 action = ActionRecord)
{
    return {core::timeOfDayFraction(QTime(h, m, s)), lengthMs, action};
}

QStringList rowTexts(const ScheduleModel &model, int row)
{
    QStringList texts;
    for (int c = 0; c < model.columnCount(); ++c)
        texts << model.data(model.index(row, c)).toString();
    return texts;
}

void attachTester(ScheduleModel &model)
{
    new QAbstractItemModelTester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest,
                                 &model);
}

}  // namespace

class ScheduleModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void entryLengthFieldRules();
    void newEntryStartsAtTheNextFullMinute();
    void showsRowTexts_data();
    void showsRowTexts();
    void takesActionWordsAndTitlesFromTheLanguage();
    void deleteOfLastRowLeavesNoStaleRow();
    void clearAndDeleteOnEmptyListDoNothing();
    void addKeepsTimeOfDayOrderAfterEqualTimes();
    void editKeepsIdOnlyWhileTimeOfDayStays();
};

void ScheduleModelTest::showsRowTexts_data()
{
    QTest::addColumn<ScheduleEntry>("entry");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("90 min") << entryAt(7, 5, 9, 90 * 60000)
                            << QStringList{"07:05:09", "1:30:00", "Record"};
    QTest::newRow("no length") << entryAt(23, 59, 59, 0)
                               << QStringList{"23:59:59", "--:--:--", "Record"};
    QTest::newRow("stop with a length") << entryAt(0, 0, 0, 90 * 60000, ActionStop)
                                        << QStringList{"00:00:00", "n/a", "Stop"};
    QTest::newRow("59 999 ms") << entryAt(12, 0, 0, 59999)
                               << QStringList{"12:00:00", "0:00:59", "Record"};
    QTest::newRow("30 h") << entryAt(1, 2, 3, 30 * 3600000)
                          << QStringList{"01:02:03", "30:00:00", "Record"};
    QTest::newRow("negative length") << entryAt(1, 0, 0, -5)
                                     << QStringList{"01:00:00", "--:--:--", "Record"};
    // A dated time just short of midnight rounds to the next day's 00:00:00, never 24:00:00.
    QTest::newRow("rounds to midnight") << ScheduleEntry{45000.9999999999, 0, ActionRecord}
                                        << QStringList{"00:00:00", "--:--:--", "Record"};
}

void ScheduleModelTest::showsRowTexts()
{
    QFETCH(ScheduleEntry, entry);
    QFETCH(QStringList, texts);
    ScheduleModel model;
    attachTester(model);
    model.setEntries({entry});
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(rowTexts(model, 0), texts);
    QCOMPARE(model.cellText(1, TimeColumn), QString());  // beyond the list: no texts
    QCOMPARE(model.cellText(-1, TimeColumn), QString());
}

void ScheduleModelTest::takesActionWordsAndTitlesFromTheLanguage()
{
    ScheduleModel model;
    attachTester(model);
    model.setEntries({entryAt(1, 0, 0), entryAt(2, 0, 0, 0, ActionStop)});
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setActionTexts({QStringLiteral("Aufnahme"), QStringLiteral("Halt")});
    QCOMPARE(changed.count(), 1);
    QCOMPARE(model.cellText(0, ActionColumn), QStringLiteral("Aufnahme"));
    QCOMPARE(model.cellText(1, ActionColumn), QStringLiteral("Halt"));

    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Action"));
    QVERIFY(model.setHeaderData(2, Qt::Horizontal, QStringLiteral("Aktion")));
    QCOMPARE(model.columnTitles(),
             (QStringList{QStringLiteral("Time"), QStringLiteral("Length"), QStringLiteral("Aktion")}));
    QVERIFY(!model.setHeaderData(3, Qt::Horizontal, QStringLiteral("x")));
}

void ScheduleModelTest::deleteOfLastRowLeavesNoStaleRow()
{
    ScheduleModel model;
    attachTester(model);
    model.setEntries({entryAt(1, 0, 0), entryAt(2, 0, 0), entryAt(3, 0, 0)});
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QVERIFY(model.removeEntry(2));
    QCOMPARE(removed.count(), 1);
    QCOMPARE(removed.at(0).at(1).toInt(), 2);
    QCOMPARE(model.rowCount(), 2);
    QVERIFY(!model.index(2, 0).isValid());
    QCOMPARE(model.cellText(2, TimeColumn), QString());
    QCOMPARE(model.cellText(1, TimeColumn), QStringLiteral("02:00:00"));
    // The later rows move up after a delete in the middle.
    QVERIFY(model.removeEntry(0));
    QCOMPARE(model.cellText(0, TimeColumn), QStringLiteral("02:00:00"));
}

void ScheduleModelTest::clearAndDeleteOnEmptyListDoNothing()
{
    ScheduleModel model;
    attachTester(model);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    model.clear();
    QVERIFY(!model.removeEntry(0));
    QVERIFY(!model.removeEntry(-1));  // no selection
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(reset.count() + removed.count(), 0);

    model.setEntries({entryAt(1, 0, 0), entryAt(2, 0, 0)});
    QVERIFY(!model.removeEntry(2));
    QCOMPARE(model.rowCount(), 2);
    model.clear();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.list().count(), 0);
}

void ScheduleModelTest::addKeepsTimeOfDayOrderAfterEqualTimes()
{
    ScheduleModel model;
    attachTester(model);
    QCOMPARE(model.addEntry(entryAt(12, 0, 0)), 0);
    QCOMPARE(model.addEntry(entryAt(8, 0, 0)), 0);
    QCOMPARE(model.addEntry(entryAt(12, 0, 0, 0, ActionStop)), 2);  // after the equal time
    QCOMPARE(model.addEntry(entryAt(23, 0, 0)), 3);
    QCOMPARE(model.addEntry(entryAt(12, 0, 0, 60000)), 3);
    QCOMPARE(model.cellText(1, LengthColumn), QStringLiteral("--:--:--"));
    QCOMPARE(model.cellText(2, LengthColumn), QStringLiteral("n/a"));
    QCOMPARE(model.cellText(3, LengthColumn), QStringLiteral("0:01:00"));
    QCOMPARE(model.rowCount(), 5);
}

void ScheduleModelTest::editKeepsIdOnlyWhileTimeOfDayStays()
{
    ScheduleModel model;
    attachTester(model);
    model.setEntries({entryAt(8, 0, 0), entryAt(9, 0, 0)});
    const quint64 id = model.list().idAt(0);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    QVERIFY(model.replaceEntry(0, entryAt(8, 0, 0, 60000, ActionStop)));
    QCOMPARE(model.list().idAt(0), id);
    QCOMPARE(model.cellText(0, ActionColumn), QStringLiteral("Stop"));
    QVERIFY(model.replaceEntry(0, entryAt(10, 0, 0)));
    QVERIFY(model.list().idAt(0) != id);
    QVERIFY(model.list().idAt(0) != model.list().idAt(1));
    QCOMPARE(model.cellText(0, TimeColumn), QStringLiteral("10:00:00"));  // keeps its row
    QCOMPARE(changed.count(), 2);
    QVERIFY(!model.replaceEntry(2, entryAt(1, 0, 0)));
}

void ScheduleModelTest::entryLengthFieldRules()
{
    QCOMPARE(parseEntryLength(QStringLiteral("12:30")), std::optional<qint32>(45000000));
    QCOMPARE(parseEntryLength(QStringLiteral("00:00")), std::optional<qint32>(0));
    QCOMPARE(parseEntryLength(QStringLiteral("5:07")), std::optional<qint32>(307 * 60000));
    QCOMPARE(parseEntryLength(QStringLiteral("99:59")), std::optional<qint32>((99 * 60 + 59) * 60000));
    QVERIFY(!parseEntryLength(QStringLiteral("1:60")));
    QVERIFY(!parseEntryLength(QStringLiteral("1:5")));
    QVERIFY(!parseEntryLength(QStringLiteral(":")));
    QVERIFY(!parseEntryLength(QString()));
    QCOMPARE(entryLengthProblem(QStringLiteral("17:__")), QStringLiteral("Enter the length as hours:minutes."));
    QCOMPARE(entryLengthProblem(QStringLiteral("00:99")), QStringLiteral("Minutes go from 00 to 59."));
    QVERIFY(entryLengthProblem(QStringLiteral("01:45")).isEmpty());
    QCOMPARE(formatEntryLength(24 * 3600000), QStringLiteral("24:00"));
    QCOMPARE(formatEntryLength(59999), QStringLiteral("00:00"));
    QCOMPARE(formatEntryLength(120 * 3600000), QStringLiteral("99:59"));

    QCOMPARE(lengthPresetIndexFor(6 * 3600000), 6);
    QCOMPARE(lengthPresetIndexFor(0), 0);
    QCOMPARE(lengthPresetIndexFor(45000000), -1);
    const QString min = QStringLiteral("Min."), hour = QStringLiteral("Std."), hours = QStringLiteral("Std");
    QCOMPARE(lengthPresetText(0, min, hour, hours), QStringLiteral("--:--"));
    QCOMPARE(lengthPresetText(15, min, hour, hours), QStringLiteral("15 Min."));
    QCOMPARE(lengthPresetText(60, min, hour, hours), QStringLiteral("1 Std."));
    QCOMPARE(lengthPresetText(1440, min, hour, hours), QStringLiteral("24 Std"));
}

void ScheduleModelTest::newEntryStartsAtTheNextFullMinute()
{
    const ScheduleEntry e = newEntryAfter(QDateTime(QDate(2024, 6, 3), QTime(12, 34, 56)));
    QCOMPARE(core::timeOfDay(e.time), QTime(12, 35));
    QCOMPARE(e.action, qint32(ActionRecord));
    QCOMPARE(e.lengthMs, 0);
    QCOMPARE(core::timeOfDay(newEntryAfter(QDateTime(QDate(2024, 6, 3), QTime(23, 59))).time), QTime(0, 0));
}

QTEST_GUILESS_MAIN(ScheduleModelTest)
#include "test_schedule_model.moc"
