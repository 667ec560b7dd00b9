// Schedule files: exact round trips, and damaged or foreign files that load what is valid.

#include "schedule/ScheduleFile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>

using namespace schedule;

namespace {

QByteArray record(double time, qint32 length, qint32 action)
{
    return encodeSchedule({ScheduleEntry{time, length, action}});
}

std::vector<ScheduleEntry> manyEntries(int n)
{
    QRandomGenerator rng(1234);
    std::vector<ScheduleEntry> entries;
    for (int i = 0; i < n; ++i) {
        // Whole dates, fractions down to the last bit, negative counts and lengths.
        const double time = (rng.generateDouble() - 0.2) * 60000.0;
        const qint32 length = qint32(rng.generate());
        entries.push_back({time, length, (i % 3 == 0) ? ActionStop : ActionRecord});
    }
    return entries;
}

}  // namespace

class ScheduleFileTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void thousandEntriesRoundTripExactly();
    void recordLayoutIsLittleEndian();
    void damagedRecordsAreSkipped();
    void randomBytesNeverCrash();
    void missingFileLeavesTheListAlone();
    void saveCreatesFoldersAndReplacesTheFile();
    void fileWithoutEntriesIsNotLoadedIntoTheList();
    void damagedDefaultFileIsKeptAside();
};

void ScheduleFileTest::thousandEntriesRoundTripExactly()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("list.vts"));
    const std::vector<ScheduleEntry> entries = manyEntries(1000);
    QVERIFY(writeScheduleFile(path, entries));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes.size(), 16000);
    QCOMPARE(bytes, encodeSchedule(entries));

    std::vector<ScheduleEntry> loaded;
    int skipped = -1;
    QVERIFY(readScheduleFile(path, &loaded, &skipped));
    QCOMPARE(skipped, 0);
    QCOMPARE(loaded.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        // Bitwise: the double must come back to the last bit.
        QVERIFY(std::memcmp(&loaded[i].time, &entries[i].time, sizeof(double)) == 0);
        QCOMPARE(loaded[i].lengthMs, entries[i].lengthMs);
        QCOMPARE(loaded[i].action, entries[i].action);
    }
    QCOMPARE(encodeSchedule(loaded), bytes);
}

void ScheduleFileTest::recordLayoutIsLittleEndian()
{
    const QByteArray bytes = record(0.5, 90 * 60000, ActionStop);
    QCOMPARE(bytes.toHex(), QByteArray("000000000000e03f" "c0655200" "02000000"));
}

void ScheduleFileTest::damagedRecordsAreSkipped()
{
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    constexpr double inf = std::numeric_limits<double>::infinity();
    const QByteArray data = record(0.25, 1000, ActionRecord)  // kept
                            + record(0.5, 0, 0)               // no such action
                            + record(0.5, 0, 3)
                            + record(nan, 0, ActionRecord)
                            + record(-inf, 0, ActionStop)
                            + record(1e300, 0, ActionStop)    // beyond any date
                            + record(0.75, -1, ActionStop)    // kept
                            + QByteArray("\x01\x02\x03", 3);  // partial record at the end
    int skipped = 0;
    const std::vector<ScheduleEntry> loaded = decodeSchedule(data, &skipped);
    QCOMPARE(skipped, 6);
    QCOMPARE(loaded.size(), size_t(2));
    QVERIFY(loaded[0] == (ScheduleEntry{0.25, 1000, ActionRecord}));
    QVERIFY(loaded[1] == (ScheduleEntry{0.75, -1, ActionStop}));

    // Every truncation of a good file keeps the whole records before the cut.
    const QByteArray good = encodeSchedule(manyEntries(4));
    for (int cut = 0; cut <= good.size(); ++cut) {
        const std::vector<ScheduleEntry> part = decodeSchedule(good.left(cut));
        QCOMPARE(part.size(), size_t(cut / 16));
    }
}

void ScheduleFileTest::randomBytesNeverCrash()
{
    QRandomGenerator rng(99);
    for (int round = 0; round < 200; ++round) {
        QByteArray data(int(rng.bounded(2000)), Qt::Uninitialized);
        for (char &c : data) c = char(rng.bounded(256));
        // Plant a few plausible records among the noise.
        for (int r = 0; r + 16 <= data.size(); r += 16 * 7)
            qToLittleEndian<qint32>(1 + (r & 1), data.data() + r + 12);
        for (const ScheduleEntry &e : decodeSchedule(data)) {
            QVERIFY(e.action == ActionRecord || e.action == ActionStop);
            QVERIFY(std::isfinite(e.time));
        }
    }
}

void ScheduleFileTest::missingFileLeavesTheListAlone()
{
    QTemporaryDir dir;
    std::vector<ScheduleEntry> list{{0.5, 0, ActionRecord}};
    QString error;
    QVERIFY(!readScheduleFile(dir.filePath(QStringLiteral("none.vts")), &list, nullptr, &error));
    QCOMPARE(list.size(), size_t(1));
    QVERIFY(!error.isEmpty());

    // An empty file is a valid empty list.
    QFile empty(dir.filePath(QStringLiteral("empty.vts")));
    QVERIFY(empty.open(QIODevice::WriteOnly));
    empty.close();
    QVERIFY(readScheduleFile(empty.fileName(), &list));
    QVERIFY(list.empty());
}

void ScheduleFileTest::saveCreatesFoldersAndReplacesTheFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(defaultScheduleFile());
    QVERIFY(writeScheduleFile(path, manyEntries(10)));
    QVERIFY(writeScheduleFile(path, manyEntries(3)));
    QCOMPARE(QFile(path).size(), 48);
    // A folder in the way of the file: the write fails and says so.
    QString error;
    QVERIFY(!writeScheduleFile(dir.filePath(scheduleFolder()), manyEntries(1), &error));
    QVERIFY(!error.isEmpty());
}

void ScheduleFileTest::fileWithoutEntriesIsNotLoadedIntoTheList()
{
    QTemporaryDir dir;
    const QString junk = dir.filePath(QStringLiteral("junk.vts"));
    QFile file(junk);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(record(0.5, 0, 7));
    file.close();
    std::vector<ScheduleEntry> list{{0.5, 0, ActionRecord}};
    QString error;
    QVERIFY(!readScheduleForList(junk, &list, &error));
    QCOMPARE(error, junk + QStringLiteral(" holds no schedule entries."));
    QCOMPARE(list.size(), size_t(1));
    QVERIFY(!readScheduleForList(dir.filePath(QStringLiteral("none.vts")), &list, &error));
    QVERIFY(error.startsWith(QStringLiteral("Unable to read ")));
}

void ScheduleFileTest::damagedDefaultFileIsKeptAside()
{
    QTemporaryDir dir;
    DefaultScheduleFile keeper(dir.filePath(defaultScheduleFile()));
    const QByteArray damaged = record(0.5, 0, 9) + QByteArray("\x01\x02", 2);
    QVERIFY(QDir(dir.path()).mkpath(scheduleFolder()));
    QFile file(keeper.path());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(damaged);
    file.close();
    auto contentOf = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    };

    QString warning;
    QVERIFY(keeper.load(&warning).empty());
    QVERIFY(warning.contains(keeper.backupPath()));
    QVERIFY(keeper.save({}));  // the list as read: the file stays as it is
    QCOMPARE(contentOf(keeper.path()), damaged);
    QVERIFY(!QFile::exists(keeper.backupPath()));

    const std::vector<ScheduleEntry> one{{0.25, 0, ActionStop}};
    QVERIFY(keeper.save(one));
    QCOMPARE(contentOf(keeper.backupPath()), damaged);
    QCOMPARE(contentOf(keeper.path()), encodeSchedule(one));
    // Once kept aside, later writes leave the backup alone.
    QVERIFY(keeper.save({}));
    QCOMPARE(contentOf(keeper.backupPath()), damaged);
    QCOMPARE(contentOf(keeper.path()), QByteArray());
}

QTEST_GUILESS_MAIN(ScheduleFileTest)
#include "test_schedule_file.moc"
