// The disk warning fed the estimate's inputs: free bytes and a byte rate.
#include "recording/DiskWatch.h"

#include <QTest>

using recording::DiskLevel;
using recording::DiskWatch;

namespace {
constexpr double kRate = 1000.0;  // bytes a second: free bytes / 1000 = seconds left
constexpr std::int64_t hours(double h) { return std::int64_t(h * 3600 * kRate); }
}  // namespace

class TestDiskWatch : public QObject {
    Q_OBJECT
private slots:
    // Amber once per crossing, red under an hour and when full, quiet again only above the
    // threshold by the margin.
    void warnsOncePerCrossing()
    {
        DiskWatch watch;
        watch.setThresholdHours(24);
        QVERIFY(!watch.note(hours(30), kRate));
        QCOMPARE(watch.level(), DiskLevel::Quiet);
        QVERIFY(watch.note(hours(5.2), kRate));
        QCOMPARE(watch.level(), DiskLevel::Low);
        QCOMPARE(watch.timeLeft(), QStringLiteral("5:12"));
        QVERIFY(!watch.alarms());
        QVERIFY(!watch.note(hours(5), kRate));
        QVERIFY(!watch.note(hours(24.01), kRate));  // within the margin: still low
        QCOMPARE(watch.level(), DiskLevel::Low);
        QVERIFY(!watch.note(hours(25), kRate));
        QCOMPARE(watch.level(), DiskLevel::Quiet);
        QVERIFY(watch.note(hours(23), kRate));  // a new crossing
        QVERIFY(watch.note(hours(0.5), kRate));
        QCOMPARE(watch.level(), DiskLevel::Critical);
        QVERIFY(watch.alarms());
        QVERIFY(watch.note(500, kRate));
        QCOMPARE(watch.level(), DiskLevel::Full);
        QVERIFY(!watch.note(0, kRate));
    }

    // Nothing known (no rate, free space unknown) changes nothing; 0 hours is off.
    void unknownInputsAndZeroHoursStayQuiet()
    {
        DiskWatch watch;
        watch.setThresholdHours(24);
        QVERIFY(!watch.note(hours(1), 0));
        QVERIFY(!watch.note(-1, kRate));
        QCOMPARE(watch.level(), DiskLevel::Quiet);
        watch.setThresholdHours(0);
        QVERIFY(!watch.note(0, kRate));
        QCOMPARE(watch.level(), DiskLevel::Quiet);
    }

    void presetRateFromItsCommandOrThePcmRate()
    {
        using recording::presetBytesPerSecond;
        QCOMPARE(presetBytesPerSecond(QStringLiteral("lame --quiet -b 128 - ::s"), QStringLiteral("mp3"), 48000), 16000.0);
        QCOMPARE(presetBytesPerSecond(QStringLiteral("opusenc --quiet --bitrate 96 - ::s"), QStringLiteral("opus"), 48000), 12000.0);
        QCOMPARE(presetBytesPerSecond(QStringLiteral("ffmpeg -i - -c:a aac -b:a 128k -y ::s"), QStringLiteral("m4a"), 48000), 16000.0);
        QCOMPARE(presetBytesPerSecond(QStringLiteral("vtwav ::s"), QStringLiteral("wav"), 48000), 192000.0);
        QCOMPARE(presetBytesPerSecond(QStringLiteral("oggenc -Q -q 4 -o ::s -"), QStringLiteral("ogg"), 48000), 0.0);
    }
};

QTEST_APPLESS_MAIN(TestDiskWatch)
#include "test_disk_watch.moc"
