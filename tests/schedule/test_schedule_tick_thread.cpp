// The tick thread: ticks reach the main thread one at a time, and stopping never hangs.

#include "schedule/ScheduleTickThread.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

using namespace schedule;

class ScheduleTickThreadTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ticksArriveOnTheMainThreadAtTheInterval();
    void threadWaitsForEachTickToBeHandled();
    void stopWhileATickIsPendingReturnsAtOnce();
    void stopWhileSleepingReturnsAtOnce();
    void stopFromATickHandlerDoesNotHang();
};

void ScheduleTickThreadTest::ticksArriveOnTheMainThreadAtTheInterval()
{
    ScheduleTickThread thread;
    thread.setInterval(100);
    std::vector<qint64> at;
    bool onMainThread = true;
    QElapsedTimer clock;
    connect(&thread, &ScheduleTickThread::tick, this, [&] {
        onMainThread = onMainThread && QThread::currentThread() == this->thread();
        at.push_back(clock.elapsed());
    });
    clock.start();
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(at.size() >= 6, 3000);
    QVERIFY(thread.stop());
    QVERIFY(onMainThread);
    QVERIFY2(at.front() >= 95, qPrintable(QString::number(at.front())));
    for (size_t i = 1; i < at.size(); ++i)
        QVERIFY2(at[i] - at[i - 1] >= 95, qPrintable(QString::number(at[i] - at[i - 1])));
}

void ScheduleTickThreadTest::threadWaitsForEachTickToBeHandled()
{
    // The count starts again only after the handler returns, so a slow handler delays the
    // next tick by a whole interval instead of leaving one queued behind it.
    ScheduleTickThread thread;
    thread.setInterval(100);
    QElapsedTimer clock;
    std::vector<std::pair<qint64, qint64>> spans;  // handler start, end
    connect(&thread, &ScheduleTickThread::tick, this, [&] {
        const qint64 start = clock.elapsed();
        QThread::msleep(250);
        spans.emplace_back(start, clock.elapsed());
    });
    clock.start();
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(spans.size() >= 3, 5000);
    QVERIFY(thread.stop());
    for (size_t i = 1; i < spans.size(); ++i) {
        const qint64 gap = spans[i].first - spans[i - 1].second;
        QVERIFY2(gap >= 95, qPrintable(QString::number(gap)));
    }
}

void ScheduleTickThreadTest::stopWhileATickIsPendingReturnsAtOnce()
{
    ScheduleTickThread thread;
    thread.setInterval(50);
    QSignalSpy ticks(&thread, &ScheduleTickThread::tick);
    thread.start();
    // The main thread is busy: the tick thread is now blocked handing over a tick.
    QThread::msleep(300);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(thread.stop());
    QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(thread.isFinished());
    QCoreApplication::processEvents();
    QCOMPARE(ticks.count(), 0);  // the pending tick was dropped, not delivered late
}

void ScheduleTickThreadTest::stopWhileSleepingReturnsAtOnce()
{
    auto *thread = new ScheduleTickThread;
    thread->setInterval(1000);
    thread->start();
    QTest::qWait(120);
    QElapsedTimer clock;
    clock.start();
    delete thread;  // the destructor stops and joins
    QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
}

void ScheduleTickThreadTest::stopFromATickHandlerDoesNotHang()
{
    ScheduleTickThread thread;
    thread.setInterval(50);
    int calls = 0;
    bool stopResult = true;
    connect(&thread, &ScheduleTickThread::tick, this, [&] {
        ++calls;
        stopResult = thread.stop();
    });
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(thread.isFinished(), 2000);
    QCOMPARE(calls, 1);
    QVERIFY(!stopResult);
    QVERIFY(thread.stop());
}

QTEST_GUILESS_MAIN(ScheduleTickThreadTest)
#include "test_schedule_tick_thread.moc"
