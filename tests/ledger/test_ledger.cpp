#include "core/ProgramFiles.h"
#include "ledger/Coverage.h"
#include "ledger/CoverageFeed.h"
#include "ledger/CoverageReport.h"
#include "ledger/CoverageStrip.h"
#include "ledger/Ledger.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

using namespace ledger;

namespace {

constexpr qint64 kMinute = 60 * 1000;
constexpr qint64 kHour = 60 * kMinute;

const QDate kDay(2026, 6, 10);

qint64 at(const QDate &day, int hour, int minute = 0)
{
    return QDateTime(day, QTime(hour, minute)).toMSecsSinceEpoch();
}

Span span(SpanKind kind, qint64 start, qint64 end, const QString &file = {}, const QString &cause = {})
{
    return {kind, start, end, cause, file};
}

// Asked 08:00–20:00 (twice over 10–12), recorded 07:00–18:00 in two overlapping files, the
// second of them damaged, lost 18:00–19:00, silent 19:30–20:30.
std::vector<Span> busyDay()
{
    return {span(SpanKind::Asked, at(kDay, 8), at(kDay, 20)),
            span(SpanKind::Asked, at(kDay, 10), at(kDay, 12)),
            span(SpanKind::Recorded, at(kDay, 7), at(kDay, 13), QStringLiteral("/rec/a.mp3")),
            span(SpanKind::Recorded, at(kDay, 12), at(kDay, 18), QStringLiteral("/rec/b.mp3")),
            span(SpanKind::Lost, at(kDay, 18), at(kDay, 19), {}, QStringLiteral("the sound server went away")),
            span(SpanKind::Silent, at(kDay, 19, 30), at(kDay, 20, 30), QStringLiteral("/rec/c.mp3"))};
}

void checkBusyDay(const DayCoverage &c)
{
    QCOMPARE(c.askedMs, 12 * kHour);
    QCOMPARE(c.recordedMs, 11 * kHour);
    QCOMPARE(c.lostMs, kHour);
    QCOMPARE(c.silentMs, kHour);
    QCOMPARE(c.damagedMs, 6 * kHour);
    QCOMPARE(qRound(c.recordedPercent * 100), 8333);  // 10 of the 12 asked hours
    QCOMPARE(qRound(c.silentPercent * 100), 417);     // half an hour of it inside
    QCOMPARE(qRound(c.damagedPercent), 50);
    QCOMPARE(c.gaps.size(), size_t(2));
    QCOMPARE(c.gaps[0].cause, QStringLiteral("the sound server went away"));
    QCOMPARE(c.gaps[1].kind, SpanKind::Silent);
}

}  // namespace

class TestLedger : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void countsOverlapsOnceWithinTheAskedTime();
    void clipsSpansAtLocalMidnight();
    void followsTheLocalClockOnChangeDays();
    void roundTripsThroughTheDatabase();
    void printsADayWithItsLostAndSilentSpans();
    void stripShowsTheFirstShadeOfEachMoment();
    void damagedLedgerIsReportedAndHarmless();
    void liveAndRebuiltLedgersAgree();
};

void TestLedger::countsOverlapsOnceWithinTheAskedTime()
{
    checkBusyDay(dayCoverage(kDay, busyDay(), {QStringLiteral("/rec/b.mp3")}));
}

void TestLedger::clipsSpansAtLocalMidnight()
{
    const QDate next = kDay.addDays(1);
    const std::vector<Span> spans{
        span(SpanKind::Recorded, at(kDay.addDays(-1), 23), at(kDay, 1)),
        span(SpanKind::Lost, at(kDay, 23, 30), at(next, 0, 30), {}, QStringLiteral("device removed"))};
    const DayCoverage c = dayCoverage(kDay, spans, {});
    QCOMPARE(c.recordedMs, kHour);
    QCOMPARE(c.lostMs, 30 * kMinute);
    QCOMPARE(c.gaps.size(), size_t(1));
    QCOMPARE(c.gaps[0].endMs, at(next, 0));
    QCOMPARE(c.gaps[0].lengthMs(), 30 * kMinute);
    QCOMPARE(c.recordedPercent, 0.0);  // nothing was asked
}

// The test runs in Europe/Berlin: summer time ends on 25 October 2026 and begins on 29 March.
void TestLedger::followsTheLocalClockOnChangeDays()
{
    const QDate autumn(2026, 10, 25);
    const Interval day = localDay(autumn);
    const std::vector<Span> spans{span(SpanKind::Asked, day.startMs - kHour, day.endMs + kHour),
                                  span(SpanKind::Recorded, day.startMs, day.endMs)};
    const DayCoverage c = dayCoverage(autumn, spans, {});
    QCOMPARE(c.askedMs, 25 * kHour);
    QCOMPARE(c.recordedPercent, 100.0);
    const Interval spring = localDay(QDate(2026, 3, 29));
    QCOMPARE(spring.endMs - spring.startMs, 23 * kHour);
}

void TestLedger::roundTripsThroughTheDatabase()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(core::files::ledger());
    QObject context;  // takes requestCoverage's answer; outlives the ledger
    FileEntry b;
    b.path = QStringLiteral("/rec/b.mp3");
    b.startMs = at(kDay, 12);
    b.frames = 6 * 3600 * 48000LL;
    b.sampleRate = 48000;
    b.endMs = at(kDay, 18);
    b.sizeBytes = 123456;
    Ledger ledger(path);
    QVERIFY2(ledger.isUsable(), qPrintable(ledger.error()));
    ledger.addFile(b);
    for (const Span &s : busyDay()) ledger.addSpan(s);
    ledger.setVerification(b.path, QStringLiteral("ab12"), Verification::Damaged, QStringLiteral("cut short"));
    QVERIFY(ledger.flush());
    QVERIFY(QFileInfo::exists(path + QStringLiteral("-wal")));

    std::vector<DayCoverage> answer;
    ledger.requestCoverage(kDay, kDay, &context, [&](std::vector<DayCoverage> days) { answer = std::move(days); });
    QTRY_COMPARE(answer.size(), size_t(1));
    checkBusyDay(answer[0]);
    std::vector<Span> spans;
    QSet<QString> damaged;
    ledger.requestSpans(at(kDay, 0), at(kDay, 19), &context, [&](std::vector<Span> s, QSet<QString> d) {
        spans = std::move(s);
        damaged = std::move(d);
    });
    QTRY_COMPARE(spans.size(), busyDay().size() - 1);  // not the silence from 19:30
    QCOMPARE(damaged, QSet<QString>{b.path});
    // A second reader sees what flush() said is done: it is committed, not merely queued.
    Ledger reader(path);
    const std::vector<DayCoverage> days = reader.coverage(kDay.addDays(-1), kDay.addDays(1));
    QCOMPARE(days.size(), size_t(3));
    QCOMPARE(days[0].askedMs + days[2].askedMs, 0);
    checkBusyDay(days[1]);
    const std::optional<FileEntry> stored = reader.file(b.path);
    QVERIFY(stored);
    QCOMPARE(stored->startLocal, QStringLiteral("2026-06-10T12:00:00.000+02:00"));
    QCOMPARE(stored->frames, b.frames);
    QCOMPARE(stored->sha256, QStringLiteral("ab12"));
    QCOMPARE(stored->reason, QStringLiteral("cut short"));
}

void TestLedger::printsADayWithItsLostAndSilentSpans()
{
    CoverageRange day;
    day.firstDay = day.lastDay = kDay;
    const QString text = coverageHeading(day) + coverageDayText(dayCoverage(kDay, busyDay(), {QStringLiteral("/rec/b.mp3")}));
    QCOMPARE(text, QStringLiteral(
        "# Coverage of 2026-06-10, local time\n"
        "day            asked  recorded             lost           silent          damaged\n"
        "2026-06-10  12:00:00  11:00:00  83.3%   1:00:00   8.3%   1:00:00   4.2%   6:00:00  50.0%\n"
        "  lost    2026-06-10T18:00:00.000  2026-06-10T19:00:00.000   1:00:00  the sound server went away\n"
        "  silent  2026-06-10T19:30:00.000  2026-06-10T20:30:00.000   1:00:00  -\n"));
}

// Asked 08–20, recorded 07–13 and 12–18 (damaged), lost 18–19, silent 19:30–20:30 (busyDay),
// and a recording that began the evening before.
void TestLedger::stripShowsTheFirstShadeOfEachMoment()
{
    std::vector<Span> spans = busyDay();
    spans.push_back(span(SpanKind::Recorded, at(kDay.addDays(-1), 23), at(kDay, 1), QStringLiteral("/rec/0.mp3")));
    const QSet<QString> damaged{QStringLiteral("/rec/b.mp3")};
    using S = StripShade;
    const std::vector<std::tuple<S, int, int>> expected{
        {S::Recorded, 0, 60},    {S::NotAsked, 60, 420}, {S::Recorded, 420, 720},  {S::Damaged, 720, 1080},
        {S::Lost, 1080, 1140},   {S::Unrecorded, 1140, 1170}, {S::Silent, 1170, 1230}, {S::NotAsked, 1230, 1440}};
    std::vector<std::tuple<S, int, int>> segments;
    for (const StripSegment &s : stripSegments(spans, damaged, kDay))
        segments.emplace_back(s.shade, int((s.startMs - at(kDay, 0)) / kMinute), int((s.endMs - at(kDay, 0)) / kMinute));
    QCOMPARE(segments, expected);

    // Ten pixels an hour; a lost second still takes its pixel, over the recording.
    const StripScale scale{at(kDay, 0), at(kDay.addDays(1), 0), 100, 240};
    spans.push_back(span(SpanKind::Lost, at(kDay, 3) + 500, at(kDay, 3) + 1500, {}, QStringLiteral("device removed")));
    spans.push_back(span(SpanKind::Recorded, at(kDay, 2), at(kDay, 4), QStringLiteral("/rec/n.mp3")));
    const std::vector<StripRun> runs = stripRuns(stripSegments(spans, damaged, kDay), scale);
    QCOMPARE(runs.front().x, 100);
    QCOMPARE(runs.back().x + runs.back().width, 340);
    const auto lostPixel = std::find_if(runs.begin(), runs.end(), [](const StripRun &r) { return r.shade == S::Lost; });
    QCOMPARE(lostPixel->x, 130);
    QCOMPARE(lostPixel->width, 1);
    QCOMPARE(spanAt(spans, damaged, scale, 130)->cause, QStringLiteral("device removed"));
    QCOMPARE(spanAt(spans, damaged, scale, 100 + 185)->cause, QStringLiteral("the sound server went away"));
    QCOMPARE(spanAt(spans, damaged, scale, 100 + 125)->file, QStringLiteral("/rec/b.mp3"));
    QCOMPARE(spanAt(spans, damaged, scale, 100)->file, QStringLiteral("/rec/0.mp3"));
    QVERIFY(!spanAt(spans, damaged, scale, 100 + 50));
    QVERIFY(!spanAt(spans, damaged, scale, 99));
}

void TestLedger::damagedLedgerIsReportedAndHarmless()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("ledger.sqlite"));
    const QByteArray garbage(8192, 'x');
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(garbage) == garbage.size());
    }
    // Said once, at the opening; the calls after it are silent.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("ledger.sqlite cannot be used: .*not a database")));
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    Ledger ledger(path);
    QVERIFY(!ledger.isUsable());
    QVERIFY2(ledger.error().contains(QStringLiteral("not a database")), qPrintable(ledger.error()));
    ledger.addFile(FileEntry{});
    ledger.addSpan(busyDay().front());
    ledger.setVerification(QStringLiteral("/rec/a.mp3"), QStringLiteral("00"), Verification::Ok);
    QVERIFY(!ledger.flush());
    QVERIFY(ledger.coverage(kDay, kDay).empty());
    QVERIFY(!ledger.file(QStringLiteral("/rec/a.mp3")));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), garbage);
}

namespace {

QDateTime local(int hour, int minute, int second, int ms = 0) { return QDateTime(kDay, QTime(hour, minute, second, ms)); }

recording::EventLine line(const QDateTime &at, const char *event, const QString &file, const QString &details)
{
    return {at, QString::fromLatin1(event), file, details};
}

recording::FinishedRecording finished(const QString &path, const QDateTime &start, const QDateTime &end)
{
    const qint64 frames = start.msecsTo(end) * 48;
    return {0, qint32(frames / 48000), path, start, frames, 48000};
}

}  // namespace

// A recording by hand 10:00–10:20 whose capture was lost for 7 s, with a silence and dropped
// audio: what the recorder says live, and what a rebuild makes of the archive's records and
// the event log's lines, give the same day.
void TestLedger::liveAndRebuiltLedgersAgree()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString a = QStringLiteral("/rec/a.wav"), b = QStringLiteral("/rec/b.wav");
    const std::vector<recording::EventLine> lines = {
        line(local(10, 0, 0), "started", a, QStringLiteral("begins 2026-06-10T10:00:00.000+02:00")),
        line(local(10, 5, 0), "capture-lost", a, QStringLiteral("the sound server went away")),
        line(local(10, 5, 7), "capture-recovered", b, QStringLiteral("lost for 0:00:07")),
        line(local(10, 10, 0), "silence", b, QStringLiteral("below -50 dBFS since 10:09:30")),
        line(local(10, 11, 0), "silence-end", b, QStringLiteral("silent for 0:01:30")),
        line(local(10, 12, 0), "dropped", b, QStringLiteral("1.5 s more dropped: the encoder fell behind")),
        line(local(10, 20, 0), "stopped", b, {})};
    const auto fileA = finished(a, local(10, 0, 0), local(10, 5, 0));
    const auto fileB = finished(b, local(10, 5, 7), local(10, 20, 0));

    Ledger live(dir.filePath(QStringLiteral("live.sqlite")));
    CoverageFeed feed(live);
    feed.asked(local(10, 0, 0), 0);
    for (const recording::EventLine &l : lines) {
        if (l.event == QLatin1String("capture-lost")) feed.fileFinished(fileA);
        if (l.event == QLatin1String("stopped")) feed.fileFinished(fileB);
        feed.noteLine(l);
    }
    feed.askEnded(local(10, 20, 0));

    const QString log = dir.filePath(QStringLiteral("events.log"));
    {
        QFile f(log);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Text));
        for (const recording::EventLine &l : lines) f.write((recording::formatEventLine(l) + u'\n').toUtf8());
    }
    Ledger rebuilt(dir.filePath(QStringLiteral("rebuilt.sqlite")));
    rebuild(rebuilt, {{fileA, fileB}, {log}}, [](const QString &) { return false; });

    for (Ledger *ledger : {&live, &rebuilt}) {
        const DayCoverage c = ledger->coverage(kDay, kDay).at(0);
        QCOMPARE(c.askedMs, 20 * kMinute);
        QCOMPARE(c.recordedMs, 20 * kMinute - 7000);
        QCOMPARE(c.lostMs, 7000);
        QCOMPARE(c.silentMs, 90 * 1000);
        QCOMPARE(c.droppedMs, 1500);
        QCOMPARE(c.gaps.front().cause, QStringLiteral("the sound server went away"));
        QCOMPARE(c.gaps.back().cause, QStringLiteral("below -50 dBFS"));
        QCOMPARE(ledger->file(b)->frames, fileB.frames);
    }
}

int main(int argc, char **argv)
{
    // Local days are checked against a zone with summer time.
    qputenv("TZ", "Europe/Berlin");
    tzset();
    QCoreApplication app(argc, argv);
    TestLedger test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_ledger.moc"
