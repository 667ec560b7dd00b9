// The firing rule, driven by a fake clock in the Europe/Berlin time zone.

#include "core/DayCount.h"
#include "schedule/SchedulePlanner.h"
#include "schedule/SplitClock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

#include <ctime>
#include <functional>
#include <map>

using namespace schedule;

namespace {

constexpr qint64 kSec = 1000;
constexpr qint64 kMin = 60 * kSec;
constexpr qint64 kHour = 60 * kMin;

ScheduleEntry entryAt(QTime t, qint32 action = ActionRecord, qint32 lengthMs = 0)
{
    return {core::timeOfDayFraction(t), lengthMs, action};
}

qint64 utcOf(QDate date, QTime time)
{
    return QDateTime(date, time, Qt::LocalTime).toMSecsSinceEpoch();
}

struct Firing {
    int row;
    QDateTime at;  // local time of the tick that fired it
    DueEntry due;
};

// Drives a planner with ticks on a fake clock (UTC milliseconds) and records what fires.
struct Run {
    ScheduleList list;
    SchedulePlanner planner;
    qint64 utcMs = 0;
    std::vector<Firing> fired;

    explicit Run(const std::vector<ScheduleEntry> &entries) { list.assign(entries); }

    void tickAt(qint64 ms)
    {
        utcMs = ms;
        const QDateTime now = QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
        for (const DueEntry &d : planner.tick(now, list)) fired.push_back({d.row, now, d});
    }
    // Ticks every stepMs until (and including the first tick at or after) endMs.
    void tickEvery(qint64 stepMs, qint64 endMs)
    {
        while (utcMs < endMs) tickAt(utcMs + stepMs);
    }
    std::vector<int> rows() const
    {
        std::vector<int> r;
        for (const Firing &f : fired) r.push_back(f.row);
        return r;
    }
    int countOf(int row) const
    {
        return int(std::count_if(fired.begin(), fired.end(),
                                 [row](const Firing &f) { return f.row == row; }));
    }
};

const QDate kSpringForward(2024, 3, 31);  // 02:00 CET -> 03:00 CEST
const QDate kFallBack(2024, 10, 27);      // 03:00 CEST -> 02:00 CET

}  // namespace

class SchedulePlannerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void crossesMidnightOnce();
    void appliesSameTickInTimeThenListOrder();
    void pastEntriesDoNotFireAtStart();
    void entryDueRightAfterTheStartFires();
    void springForwardFiresSkippedHourAtTheJump();
    void fallBackFiresNothingTwice();
    void clockSetBackFiresNothingTwiceEvenAfterRowsMove();
    void wakeFromSleepAppliesOnlyTheLatestEntry();
    void jitteredTicksFireEveryEntryOnceADayFor50Days();
    void upcomingEntriesAreThoseNotFiredYet();
    void splitsFollowTheLocalClock();
};

void SchedulePlannerTest::initTestCase()
{
    // The zone database must know the changes these tests rely on.
    QCOMPARE(QDateTime(kSpringForward, QTime(12, 0), Qt::LocalTime).offsetFromUtc(), 7200);
    QCOMPARE(QDateTime(QDate(2024, 1, 15), QTime(12, 0), Qt::LocalTime).offsetFromUtc(), 3600);
}

void SchedulePlannerTest::crossesMidnightOnce()
{
    // List order reversed on purpose: the day's last second comes before the new day.
    Run run({entryAt(QTime(0, 0)), entryAt(QTime(23, 59, 59), ActionStop)});
    const QDate monday(2024, 1, 15);
    run.tickAt(utcOf(monday, QTime(23, 59, 58, 500)));
    run.tickAt(utcOf(monday.addDays(1), QTime(0, 0)));  // spans both entries
    QCOMPARE(run.rows(), (std::vector<int>{1, 0}));
    run.tickEvery(1100, utcOf(monday.addDays(1), QTime(0, 1)));
    QCOMPARE(run.fired.size(), size_t(2));

    // With ordinary ticks each fires on the first tick at or after its time.
    Run steady({entryAt(QTime(0, 0)), entryAt(QTime(23, 59, 59))});
    steady.tickAt(utcOf(monday, QTime(23, 59, 57, 300)));
    steady.tickEvery(1000, utcOf(monday.addDays(1), QTime(0, 0, 30)));
    QCOMPARE(steady.rows(), (std::vector<int>{1, 0}));
    QCOMPARE(steady.fired[0].at.time(), QTime(23, 59, 59, 300));
    QCOMPARE(steady.fired[1].at.time(), QTime(0, 0, 0, 300));
    QCOMPARE(steady.fired[1].at.date(), monday.addDays(1));
}

void SchedulePlannerTest::appliesSameTickInTimeThenListOrder()
{
    Run run({entryAt(QTime(12, 0), ActionStop), entryAt(QTime(11, 59, 59), ActionRecord, 5000),
             entryAt(QTime(12, 0), ActionRecord, 60000), entryAt(QTime(12, 0), ActionStop)});
    const QDate day(2024, 6, 3);
    run.tickAt(utcOf(day, QTime(11, 59, 58, 500)));
    run.tickAt(utcOf(day, QTime(12, 0, 0, 200)));
    QCOMPARE(run.rows(), (std::vector<int>{1, 0, 2, 3}));
    QCOMPARE(run.fired[0].due.limitMs, 5000);
    QCOMPARE(run.fired[1].due.limitMs, 0);  // a Stop gives no limit
    QCOMPARE(run.fired[2].due.limitMs, 60000);
    QCOMPARE(run.fired[2].due.lateMs, 0);
}

void SchedulePlannerTest::pastEntriesDoNotFireAtStart()
{
    Run run({entryAt(QTime(8, 0)), entryAt(QTime(9, 0))});
    const QDate day(2024, 6, 3);
    run.tickAt(utcOf(day, QTime(9, 0)));  // started exactly at an entry's time
    run.tickEvery(1000, utcOf(day, QTime(9, 5)));
    QVERIFY(run.fired.empty());
    run.tickEvery(60000, utcOf(day.addDays(1), QTime(9, 30)));
    QCOMPARE(run.rows(), (std::vector<int>{0, 1}));
    QCOMPARE(run.fired[0].at.date(), day.addDays(1));
}

void SchedulePlannerTest::entryDueRightAfterTheStartFires()
{
    Run run({entryAt(QTime(8, 59, 59, 500)), entryAt(QTime(9, 0, 0, 400))});
    const QDate day(2024, 6, 3);
    run.planner.start(QDateTime::fromMSecsSinceEpoch(utcOf(day, QTime(9, 0)), Qt::LocalTime));
    run.tickAt(utcOf(day, QTime(9, 0, 1)));  // the first tick, a second after the start
    QCOMPARE(run.rows(), (std::vector<int>{1}));
}

void SchedulePlannerTest::springForwardFiresSkippedHourAtTheJump()
{
    Run run({entryAt(QTime(1, 59, 59)), entryAt(QTime(2, 0)), entryAt(QTime(2, 30), ActionStop),
             entryAt(QTime(2, 59, 59)), entryAt(QTime(3, 0)), entryAt(QTime(3, 0, 1))});
    run.tickAt(utcOf(kSpringForward, QTime(1, 59, 57, 600)));
    run.tickEvery(1000, utcOf(kSpringForward, QTime(3, 1)));
    QCOMPARE(run.rows(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    QCOMPARE(run.fired[0].at.time(), QTime(1, 59, 59, 600));
    QCOMPARE(run.fired[0].due.at.time(), QTime(1, 59, 59));  // cut at its second
    QVERIFY(!run.fired[1].due.at.isValid());                 // the clock skipped it: at the tick
    QCOMPARE(run.fired[4].due.at.time(), QTime(3, 0));
    for (int i = 1; i <= 4; ++i) QCOMPARE(run.fired[size_t(i)].at.time(), QTime(3, 0, 0, 600));
    QCOMPARE(run.fired[5].at.time(), QTime(3, 0, 1, 600));
    run.tickEvery(1000, utcOf(kSpringForward, QTime(6, 0)));
    QCOMPARE(run.fired.size(), size_t(6));
}

void SchedulePlannerTest::fallBackFiresNothingTwice()
{
    // 02:59:59.900 falls between the last tick before the change (02:59:59.700 summer time)
    // and the first after it (02:00:00.700 winter time).
    QTime lastMoment(2, 59, 59, 900);
    Run run({entryAt(QTime(1, 30)), entryAt(QTime(2, 0)), entryAt(QTime(2, 30)),
             entryAt(lastMoment), entryAt(QTime(3, 0)), entryAt(QTime(3, 30))});
    const qint64 start = QDateTime(kFallBack, QTime(0, 59, 59, 700), Qt::LocalTime)
                             .toMSecsSinceEpoch();
    run.tickAt(start);
    run.tickEvery(1000, start + 4 * kHour);  // through both 02:00 hours
    QCOMPARE(run.rows(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    QCOMPARE(run.fired[2].at.offsetFromUtc(), 7200);  // 02:30 fires in summer time
    QCOMPARE(run.fired[3].at.time(), QTime(2, 0, 0, 700));
    QCOMPARE(run.fired[3].at.offsetFromUtc(), 3600);
    QCOMPARE(run.fired[4].at.time(), QTime(3, 0, 0, 700));
}

void SchedulePlannerTest::clockSetBackFiresNothingTwiceEvenAfterRowsMove()
{
    ScheduleList list;
    list.assign({entryAt(QTime(10, 0)), entryAt(QTime(23, 59, 50)), entryAt(QTime(0, 0, 10))});
    SchedulePlanner planner;
    std::vector<quint64> firedIds;
    auto tickAt = [&](QDate d, QTime t) {
        for (const DueEntry &due :
             planner.tick(QDateTime(d, t, Qt::LocalTime), list))
            firedIds.push_back(list.idAt(due.row));
    };
    const QDate day(2024, 6, 3);
    const quint64 tenId = list.idAt(0);
    tickAt(day, QTime(9, 59, 59));
    tickAt(day, QTime(10, 0, 1));
    QCOMPARE(firedIds, (std::vector<quint64>{tenId}));

    // The user puts the clock back an hour and adds an entry, which moves the rows.
    list.insert(0, entryAt(QTime(9, 30)));
    for (QTime t(9, 0); t < QTime(10, 30); t = t.addSecs(1)) tickAt(day, t);
    QCOMPARE(firedIds.size(), size_t(2));
    QCOMPARE(firedIds[1], list.idAt(0));  // only the new 09:30 entry

    // Set back across midnight: neither side of midnight fires a second time that day.
    tickAt(day, QTime(23, 59, 49));
    tickAt(day.addDays(1), QTime(0, 0, 11));
    QCOMPARE(firedIds.size(), size_t(4));
    for (int s = 40; s < 60; ++s) tickAt(day, QTime(23, 59, s));
    for (int s = 0; s < 40; ++s) tickAt(day.addDays(1), QTime(0, 0, s));
    QCOMPARE(firedIds.size(), size_t(4));
}

void SchedulePlannerTest::wakeFromSleepAppliesOnlyTheLatestEntry()
{
    const std::vector<ScheduleEntry> entries{
        entryAt(QTime(8, 0), ActionRecord, int(kHour)), entryAt(QTime(9, 0), ActionStop),
        entryAt(QTime(11, 0), ActionRecord, int(30 * kMin)), entryAt(QTime(10, 0), ActionRecord)};
    const QDate day(2024, 6, 3);
    {
        Run run(entries);
        run.tickAt(utcOf(day, QTime(7, 0)));
        run.tickAt(utcOf(day, QTime(11, 10)));  // slept through four entries
        QCOMPARE(run.rows(), (std::vector<int>{2}));
        QCOMPARE(run.fired[0].due.lateMs, 10 * kMin);
        QCOMPARE(run.fired[0].due.limitMs, qint32(20 * kMin));  // counts from 11:00
        run.tickEvery(1000, utcOf(day, QTime(11, 30)));
        QCOMPARE(run.fired.size(), size_t(1));
    }
    {
        // The latest recording would be over by now: the schedule asks for a stop.
        Run run(entries);
        run.tickAt(utcOf(day, QTime(7, 0)));
        run.tickAt(utcOf(day, QTime(11, 40)));
        QCOMPARE(run.rows(), (std::vector<int>{2}));
        QCOMPARE(run.fired[0].due.action, qint32(ActionStop));
        QVERIFY(!run.fired[0].due.endsLimitedRecordingOnly);
        run.fired.clear();
        // Asleep until the next morning: the 10:00 Record (no length) is the latest.
        run.tickAt(utcOf(day.addDays(1), QTime(10, 30)));
        QCOMPARE(run.rows(), (std::vector<int>{3}));
        QCOMPARE(run.fired[0].due.action, qint32(ActionRecord));
        QCOMPARE(run.fired[0].due.limitMs, 0);
    }
    {
        // Asleep from 08:30 to 11:40 with no entry in between: the 08:00 recording's hour
        // ran out at 09:00, which stops it.
        Run run({entries[0]});
        run.tickAt(utcOf(day, QTime(7, 59, 59, 500)));
        run.tickEvery(1000, utcOf(day, QTime(8, 30)));
        QCOMPARE(run.rows(), (std::vector<int>{0}));
        run.tickAt(utcOf(day, QTime(11, 40)));
        QCOMPARE(run.rows(), (std::vector<int>{0, 0}));
        QCOMPARE(run.fired[1].due.action, qint32(ActionStop));
        QVERIFY(run.fired[1].due.endsLimitedRecordingOnly);
        QCOMPARE(run.fired[1].due.lateMs, 2 * kHour + 40 * kMin);
        // Waking before its end changes nothing: the limit itself ends the recording.
        Run early({entries[0]});
        early.tickAt(utcOf(day, QTime(7, 59, 59, 500)));
        early.tickAt(utcOf(day, QTime(8, 0, 0, 500)));
        early.tickAt(utcOf(day, QTime(8, 50)));
        QCOMPARE(early.fired.size(), size_t(1));
    }
    {
        // A short jump forward (a clock corrected by minutes) still fires everything.
        Run run(entries);
        run.tickAt(utcOf(day, QTime(8, 57)));
        run.tickAt(utcOf(day, QTime(9, 1)));
        QCOMPARE(run.rows(), (std::vector<int>{1}));
        QCOMPARE(run.fired[0].due.lateMs, 0);
    }
}

void SchedulePlannerTest::jitteredTicksFireEveryEntryOnceADayFor50Days()
{
    // Spans the spring change, so the 02:30 entry fires at the jump that day.
    std::vector<ScheduleEntry> entries{entryAt(QTime(0, 0)), entryAt(QTime(23, 59, 59)),
                                        entryAt(QTime(2, 30)), entryAt(QTime(12, 0)),
                                        entryAt(QTime(12, 0), ActionStop)};
    for (int i = 1; i <= 20; ++i)
        entries.push_back(entryAt(QTime::fromMSecsSinceStartOfDay(i * 4111 * 1000 + 333)));
    Run run(entries);
    const QDate first(2024, 3, 10);
    const int days = 50;
    QRandomGenerator rng(7);
    QElapsedTimer clock;
    clock.start();
    qint64 ticks = 0;
    run.tickAt(utcOf(first, QTime(0, 0, 0, 500)));
    const qint64 end = utcOf(first.addDays(days), QTime(0, 0, 0, 500));
    while (run.utcMs < end) {
        run.tickAt(run.utcMs + 900 + qint64(rng.bounded(601)));
        ++ticks;
    }
    qInfo("%lld ticks in %lld ms", ticks, clock.elapsed());

    std::map<std::pair<int, qint64>, int> perDay;
    for (const Firing &f : run.fired) {
        const ScheduleEntry &e = entries[size_t(f.row)];
        const QTime t = core::timeOfDay(e.time);
        // The fire date is the entry's day, except right after midnight for 23:59:59.
        QDate day = f.at.date();
        if (f.at.time() < t) day = day.addDays(-1);
        ++perDay[{f.row, day.toJulianDay()}];
        const QDateTime due(day, t, Qt::LocalTime);
        const qint64 late = due.msecsTo(f.at);
        if (day == kSpringForward && t.hour() == 2) {
            QVERIFY2(f.at.time() < QTime(3, 0, 2), qPrintable(f.at.toString()));
        } else {
            QVERIFY2(late >= 0 && late <= 1500, qPrintable(f.at.toString(Qt::ISODateWithMs)));
        }
    }
    for (int row = 0; row < int(entries.size()); ++row) {
        QCOMPARE(run.countOf(row), days);
        for (int d = 0; d < days; ++d) {
            const QDate day = first.addDays(d + (row == 0 ? 1 : 0));
            QCOMPARE(perDay[std::make_pair(row, day.toJulianDay())], 1);
        }
    }
}

// What the recorder arms a second ahead, and the capture it opens two seconds ahead.
void SchedulePlannerTest::upcomingEntriesAreThoseNotFiredYet()
{
    Run run({entryAt(QTime(10, 0)), entryAt(QTime(10, 0, 1), ActionStop), entryAt(QTime(10, 0, 2))});
    const QDate day(2024, 6, 3);
    const QDateTime before = QDateTime::fromMSecsSinceEpoch(utcOf(day, QTime(9, 59, 59, 150)), Qt::LocalTime);
    const std::vector<QDateTime> ahead = run.planner.upcoming(before, 2000, run.list);
    QCOMPARE(ahead.size(), std::size_t(2));
    QCOMPARE(ahead[0].time(), QTime(10, 0));
    QCOMPARE(run.planner.upcoming(before, 3000, run.list, true).back().time(), QTime(10, 0, 2));
    run.tickAt(utcOf(day, QTime(9, 59, 59, 150)));
    run.tickAt(utcOf(day, QTime(10, 0, 0, 150)));
    const QDateTime after = QDateTime::fromMSecsSinceEpoch(utcOf(day, QTime(9, 59, 59, 900)), Qt::LocalTime);
    QCOMPARE(run.planner.upcoming(after, 1000, run.list).size(), std::size_t(0));  // fired today
}

void SchedulePlannerTest::splitsFollowTheLocalClock()
{
    const auto local = [](QDate day, QTime time) { return QDateTime(day, time, Qt::LocalTime); };
    const auto hours = [](const std::vector<QDateTime> &moments) {
        std::vector<QString> shown;
        for (const QDateTime &m : moments) shown.push_back(m.toString(QStringLiteral("HH:mm t")));
        return shown;
    };
    const QDate day(2024, 6, 3);
    QCOMPARE(splitMomentsIn(local(day, QTime(9, 59, 59)), local(day, QTime(11, 0)), 15).size(), std::size_t(5));
    QCOMPARE(splitMomentsIn(local(day, QTime(10, 0)), local(day, QTime(10, 14, 59)), 15).size(), std::size_t(0));
    // The hour the clock repeats is split twice, the one it skips not at all.
    const QDateTime fallFrom = local(kFallBack, QTime(1, 30));
    QCOMPARE(hours(splitMomentsIn(fallFrom, fallFrom.addSecs(3 * 3600), 60)),
             (std::vector<QString>{"02:00 CEST", "02:00 CET", "03:00 CET"}));
    const QDateTime springFrom = local(kSpringForward, QTime(0, 30));
    QCOMPARE(hours(splitMomentsIn(springFrom, springFrom.addSecs(3 * 3600), 60)),
             (std::vector<QString>{"01:00 CET", "03:00 CEST", "04:00 CEST"}));
}

int main(int argc, char **argv)
{
    qputenv("TZ", "Europe/Berlin");
    tzset();
    QCoreApplication app(argc, argv);
    SchedulePlannerTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_schedule_planner.moc"
