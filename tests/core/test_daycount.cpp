#include "core/DayCount.h"

#include <QTest>
#include <cmath>
#include <ctime>
#include <limits>

using namespace core;

// Runs under TZ=Europe/Berlin (set in main before any QDateTime is made), so the clock
// changes of 2024 fall on 31 March (02:00 -> 03:00) and 27 October (03:00 -> 02:00).
class TestDayCount : public QObject {
    Q_OBJECT
private slots:
    void knownValues();
    void beforeEpochKeepsTimeOfDayPositive();
    void roundTripsEverySampledSecond1900To2200();
    void roundTripsMilliseconds();
    void roundsUpToNextMidnight();
    void clockChangeDaysCountWallTime();
    void skippedWallTimeMovesPastGap();
    void timeOfDayParts();
    void invalidInputs();
};

static QDateTime local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::LocalTime);
}

void TestDayCount::knownValues()
{
    QCOMPARE(dayCountEpoch(), QDate(1899, 12, 30));
    QCOMPARE(toDayCount(local(1899, 12, 30)), 0.0);
    QCOMPARE(toDayCount(local(1900, 1, 1)), 2.0);
    QCOMPARE(toDayCount(local(2000, 1, 1, 12)), 36526.5);
    QCOMPARE(toDayCount(local(2024, 6, 1, 18)), 45444.75);
    QCOMPARE(fromDayCount(45444.75), local(2024, 6, 1, 18));
    QCOMPARE(wholeDays(45444.75), 45444);
    QCOMPARE(wholeDays(45444.0), 45444);
    // A date-time in another zone is counted by its local wall clock.
    const QDateTime utc(QDate(2024, 6, 1), QTime(16, 0), Qt::UTC);
    QCOMPARE(toDayCount(utc), 45444.75);
}

void TestDayCount::beforeEpochKeepsTimeOfDayPositive()
{
    QCOMPARE(toDayCount(local(1899, 12, 29, 6)), -1.25);
    QCOMPARE(fromDayCount(-1.25), local(1899, 12, 29, 6));
    QCOMPARE(wholeDays(-1.25), -1);
    QCOMPARE(timeOfDay(-1.25), QTime(6, 0));
    QCOMPARE(fromDayCount(-0.25), local(1899, 12, 30, 6));
    QCOMPARE(toDayCount(local(1899, 12, 28)), -2.0);
    QCOMPARE(fromDayCount(-2.0), local(1899, 12, 28));
}

void TestDayCount::roundTripsEverySampledSecond1900To2200()
{
    // A prime step walks through every time of day and every day of the year many times.
    const QDate first(1900, 1, 1);
    const qint64 span = first.daysTo(QDate(2201, 1, 1)) * 86400;
    int checked = 0;
    for (qint64 s = 0; s < span; s += 20011) {
        const QDate date = first.addDays(s / 86400);
        const QTime time = QTime::fromMSecsSinceStartOfDay(int(s % 86400) * 1000);
        const QDateTime dt(date, time, Qt::LocalTime);
        if (!dt.isValid()) continue;  // skipped by a clock change
        const double count = toDayCount(dt);
        const QDateTime back = fromDayCount(count);
        if (back.date() != date || back.time() != time)
            QFAIL(qPrintable(QString("%1 %2 came back as %3").arg(date.toString(Qt::ISODate),
                                                                  time.toString(), back.toString(Qt::ISODateWithMs))));
        QCOMPARE(wholeDays(count), int(dayCountEpoch().daysTo(date)));
        ++checked;
    }
    QVERIFY(checked > 400000);
}

void TestDayCount::roundTripsMilliseconds()
{
    for (int y : {1900, 1970, 2024, 2199}) {
        for (int ms : {0, 1, 499, 500, 999, 43200001, 86399999}) {
            const QDateTime dt(QDate(y, 7, 15), QTime::fromMSecsSinceStartOfDay(ms), Qt::LocalTime);
            QCOMPARE(fromDayCount(toDayCount(dt)), dt);
        }
    }
}

void TestDayCount::roundsUpToNextMidnight()
{
    const double almost = 45444.0 + (86400000.0 - 0.4) / 86400000.0;
    QCOMPARE(fromDayCount(almost), local(2024, 6, 2));
    QCOMPARE(wholeDays(almost), 45445);
    QCOMPARE(timeOfDay(almost), QTime(0, 0));
    QCOMPARE(fromDayCount(-1.0 - (86400000.0 - 0.4) / 86400000.0), local(1899, 12, 30));
}

void TestDayCount::clockChangeDaysCountWallTime()
{
    for (const QDate &day : {QDate(2024, 3, 31), QDate(2024, 10, 27)}) {
        const double midnight = toDayCount(QDateTime(day, QTime(0, 0), Qt::LocalTime));
        QCOMPARE(midnight, double(QDate(1899, 12, 30).daysTo(day)));
        QCOMPARE(fromDayCount(midnight), QDateTime(day, QTime(0, 0), Qt::LocalTime));
        for (const QTime &t : {QTime(1, 59, 59), QTime(3, 0), QTime(12, 0), QTime(23, 59, 59)}) {
            const QDateTime dt(day, t, Qt::LocalTime);
            QCOMPARE(toDayCount(dt), midnight + t.msecsSinceStartOfDay() / 86400000.0);
            QCOMPARE(fromDayCount(toDayCount(dt)), dt);
        }
    }
    // The repeated hour in October reads back as the same wall time.
    const QDateTime repeated(QDate(2024, 10, 27), QTime(2, 30), Qt::LocalTime);
    QCOMPARE(fromDayCount(toDayCount(repeated)).time(), QTime(2, 30));
}

void TestDayCount::skippedWallTimeMovesPastGap()
{
    const double skipped = double(QDate(1899, 12, 30).daysTo(QDate(2024, 3, 31))) + 2.5 / 24;
    const QDateTime dt = fromDayCount(skipped);
    QVERIFY(dt.isValid());
    QCOMPARE(dt, local(2024, 3, 31, 3, 30));
}

void TestDayCount::timeOfDayParts()
{
    QCOMPARE(timeOfDayFraction(QTime(6, 0)), 0.25);
    QCOMPARE(timeOfDayFraction(QTime(0, 0)), 0.0);
    QVERIFY(timeOfDayFraction(QTime(23, 59, 59, 999)) < 1.0);
    QCOMPARE(timeOfDay(45444.0 + timeOfDayFraction(QTime(13, 14, 15))), QTime(13, 14, 15));
    QCOMPARE(timeOfDay(0.5), QTime(12, 0));
}

void TestDayCount::invalidInputs()
{
    QCOMPARE(toDayCount(QDateTime()), 0.0);
    QVERIFY(!fromDayCount(std::numeric_limits<double>::quiet_NaN()).isValid());
    QVERIFY(!fromDayCount(std::numeric_limits<double>::infinity()).isValid());
    QVERIFY(!fromDayCount(1e300).isValid());
    QCOMPARE(wholeDays(std::numeric_limits<double>::quiet_NaN()), 0);
    QCOMPARE(timeOfDayFraction(QTime()), 0.0);
}

int main(int argc, char **argv)
{
    qputenv("TZ", "Europe/Berlin");
    tzset();
    QCoreApplication app(argc, argv);
    TestDayCount test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_daycount.moc"
