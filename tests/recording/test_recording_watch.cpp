// The watch over a recording with a clock of the test's own, and the event log's file.
#include "audio/Capture.h"
#include "recording/EventLog.h"
#include "recording/RecordingWatch.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace recording;

namespace {

const QDateTime kStart(QDate(2026, 12, 8), QTime(21, 0, 0));

SessionEvent sessionEvent(SessionEventKind kind, const QDateTime &at, std::uint64_t droppedBytes = 0)
{
    SessionEvent e;
    e.kind = kind;
    e.at = at;
    e.file = QStringLiteral("/rec/a.mp3");
    e.droppedBytes = droppedBytes;
    return e;
}

QStringList words(const std::vector<EventLine> &lines)
{
    QStringList result;
    for (const EventLine &line : lines)
        result << line.event;
    return result;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class TestRecordingWatch : public QObject {
    Q_OBJECT

private slots:
    // One poll a second: the level word of the louder channel decides.
    void silenceBeginsAfterItsTimeAndEndsWhenTheLevelReturns()
    {
        RecordingWatch watch;
        watch.setSilenceRule(-50, 30);
        watch.noteEvent(sessionEvent(SessionEventKind::Started, kStart));
        const std::uint32_t quiet = 3u << 16 | 2u;  // about -81 dBFS
        const std::uint32_t rightOnly = 16384u << 16;
        watch.noteLevel(levelWordToDbfs(rightOnly), kStart);
        for (int s = 1; s < 31; ++s)
            watch.noteLevel(levelWordToDbfs(quiet), kStart.addSecs(s));
        QVERIFY(!watch.isSilent());  // 29 s below so far
        watch.noteLevel(levelWordToDbfs(audio::kNoLevel), kStart.addSecs(31));  // no level: no change
        watch.noteLevel(levelWordToDbfs(0), kStart.addSecs(31));
        QVERIFY(watch.isSilent());
        QCOMPARE(watch.condition(kStart.addSecs(40)).severity, WatchSeverity::Warning);
        QCOMPARE(watch.condition(kStart.addSecs(40)).text, QStringLiteral("silence 0:00:39"));
        QCOMPARE(words(watch.takeLines()), QStringList{QStringLiteral("silence")});

        watch.noteLevel(levelWordToDbfs(rightOnly), kStart.addSecs(46));
        QVERIFY(!watch.isSilent());
        QCOMPARE(watch.condition(kStart.addSecs(46)).severity, WatchSeverity::None);
        const std::vector<EventLine> end = watch.takeLines();
        QCOMPARE(words(end), QStringList{QStringLiteral("silence-end")});
        QCOMPARE(end[0].details, QStringLiteral("silent for 0:00:45"));
        QCOMPARE(end[0].file, QStringLiteral("/rec/a.mp3"));

        watch.setSilenceRule(-50, 0);  // off
        for (int s = 50; s < 200; ++s)
            watch.noteLevel(levelWordToDbfs(0), kStart.addSecs(s));
        QVERIFY(!watch.isSilent());
        QVERIFY(watch.takeLines().empty());
    }

    // The length shown is what the session's events reported, so it agrees with the event
    // log, which has those lines alone: the watch logs no drop of its own.
    void dropsShownAreTheReportedOnesAndKeptUntilTheNextStart()
    {
        const int rate = 48000;
        const std::uint64_t second = 4 * rate;
        RecordingWatch watch;
        watch.setSampleRate(rate);
        watch.noteEvent(sessionEvent(SessionEventKind::Started, kStart));
        QCOMPARE(watch.condition(kStart).severity, WatchSeverity::None);

        watch.noteEvent(sessionEvent(SessionEventKind::AudioDropped, kStart.addSecs(1), second));
        watch.noteEvent(sessionEvent(SessionEventKind::AudioDropped, kStart.addSecs(2), second * 14 / 10));
        QVERIFY(watch.takeLines().empty());
        watch.noteEvent(sessionEvent(SessionEventKind::Stopped, kStart.addSecs(3)));
        QCOMPARE(watch.condition(kStart.addSecs(3)).severity, WatchSeverity::Warning);
        QCOMPARE(watch.condition(kStart.addSecs(3)).text, QStringLiteral("dropped 2.4 s"));

        watch.noteEvent(sessionEvent(SessionEventKind::Started, kStart.addSecs(4)));
        QCOMPARE(watch.condition(kStart.addSecs(4)).severity, WatchSeverity::None);
    }

    void restartWarnsForAWhileAndLostCaptureAlarmsUntilRecovered()
    {
        RecordingWatch watch;
        watch.noteEvent(sessionEvent(SessionEventKind::Started, kStart));
        watch.noteEvent(sessionEvent(SessionEventKind::EncoderRestarted, kStart.addSecs(10)));
        QCOMPARE(watch.condition(kStart.addSecs(39)).severity, WatchSeverity::Warning);
        QCOMPARE(watch.condition(kStart.addSecs(40)).severity, WatchSeverity::None);

        watch.noteEvent(sessionEvent(SessionEventKind::CaptureLost, kStart.addSecs(50)));
        QCOMPARE(watch.condition(kStart.addSecs(500)).severity, WatchSeverity::Alarm);
        watch.noteEvent(sessionEvent(SessionEventKind::CaptureRecovered, kStart.addSecs(501)));
        QCOMPARE(watch.condition(kStart.addSecs(501)).severity, WatchSeverity::None);
    }

    void logLineHasZonedTimeAndFourFields()
    {
        QTemporaryDir dir;
        EventLog log(dir.filePath(QStringLiteral("Log/events.log")));  // the folder is made
        const QDateTime at(QDate(2026, 12, 8), QTime(21, 4, 5), Qt::OffsetFromUTC, 3600);
        SessionEvent lost = sessionEvent(SessionEventKind::CaptureRecovered, at);
        lost.lostMs = 75500;
        lost.details = QStringLiteral("device\tback");
        QVERIFY(log.append(eventLine(lost)));
        QCOMPARE(readAll(log.path()),
                 QByteArray("2026-12-08T21:04:05+01:00\tcapture-recovered\t/rec/a.mp3\tlost for 0:01:15; device back\n"));

        // A log that cannot be written says so and the caller goes on.
        QFile::remove(log.path());
        QVERIFY(QDir(dir.filePath(QStringLiteral("Log"))).removeRecursively());
        QVERIFY(QFile(dir.filePath(QStringLiteral("Log"))).open(QIODevice::WriteOnly));  // a file, not a folder
        QVERIFY(!log.append(eventLine(lost)));
    }

    void rotatesAtTheSizeLimitKeepingTheNewest()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("events.log"));
        EventLog log(path, 200, 2);
        for (int i = 0; i < 20; ++i)
            QVERIFY(log.append(EventLine{kStart.addSecs(i), QStringLiteral("started"), QString::number(i), {}}));
        for (const QString &p : {path, path + QStringLiteral(".1"), path + QStringLiteral(".2")}) {
            QVERIFY2(QFile::exists(p), qPrintable(p));
            QVERIFY(QFileInfo(p).size() <= 200);
        }
        QVERIFY(!QFile::exists(path + QStringLiteral(".3")));
        QVERIFY(readAll(path).endsWith("\tstarted\t19\t\n"));
        QVERIFY(readAll(path + QStringLiteral(".1")).contains("\tstarted\t"));
    }
};

QTEST_GUILESS_MAIN(TestRecordingWatch)
#include "test_recording_watch.moc"
