// What a year of coverage ledger costs: filling it (a whole-day asked span a day, hourly
// files with their recorded spans, a few hundred lost spans, some silence, a few damaged
// files), reopening it, the coverage of one day and of the year; then what the user waits
// for: the real program's `vantrel --home <folder> --coverage DAY` from start to exit
// (target: under 200 ms), and painting the Archive tab's strips of the last 30 days
// (target: under 50 ms), offscreen.
// Usage: bench_ledger [days [strips.png]]

#include "app/CoverageView.h"
#include "core/ProgramFiles.h"
#include "ledger/Ledger.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

using namespace ledger;

namespace {

constexpr qint64 kMinute = 60 * 1000;
constexpr qint64 kHour = 60 * kMinute;
const QDate kFirstDay(2025, 1, 1);

QString fileName(int day, int hour) { return QStringLiteral("/rec/%1-%2.mp3").arg(day).arg(hour); }

void fillDay(Ledger &ledger, int index, std::mt19937 &random)
{
    const Interval day = localDay(kFirstDay.addDays(index));
    ledger.addSpan({SpanKind::Asked, day.startMs, day.endMs, {}, {}});
    for (qint64 start = day.startMs, hour = 0; start < day.endMs; start += kHour, ++hour) {
        FileEntry file;
        file.path = fileName(index, int(hour));
        file.startMs = start;
        file.endMs = std::min(start + kHour, day.endMs);
        file.sampleRate = 48000;
        file.frames = (file.endMs - start) * 48;
        file.sizeBytes = file.frames / 4;
        ledger.addFile(file);
        ledger.addSpan({SpanKind::Recorded, start, file.endMs, {}, file.path});
    }
    // About one lost span a day, of 1 to 20 minutes; a silent one every third day.
    std::uniform_int_distribution<qint64> at(day.startMs, day.endMs - 20 * kMinute), minutes(1, 20);
    if (random() % 6 != 0) {
        const qint64 start = at(random);
        ledger.addSpan({SpanKind::Lost, start, start + minutes(random) * kMinute,
                        QStringLiteral("the sound server went away"), {}});
    }
    if (index % 3 == 0) {
        const qint64 start = at(random);
        ledger.addSpan({SpanKind::Silent, start, start + minutes(random) * kMinute, {}, {}});
    }
    if (index % 30 == 0)
        ledger.setVerification(fileName(index, 5), QStringLiteral("00"), Verification::Damaged,
                               QStringLiteral("ends early"));
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The real program on the folder of the ledger, as a user runs it.
void benchCoverageCommand(const QString &folder, const QDate &day)
{
    const QString program = QStringLiteral(VT_PROGRAM_DIR "/vantrel");
    const QStringList args{QStringLiteral("--home"), folder, QStringLiteral("--coverage"), day.toString(Qt::ISODate)};
    std::vector<double> runs;
    QByteArray output;
    for (int i = 0; i < 9; ++i) {
        QProcess process;
        QElapsedTimer t;
        t.start();
        process.start(program, args);
        if (!process.waitForFinished(30000) || process.exitCode() != 0) {
            std::fprintf(stderr, "%s --coverage failed: %s%s\n", qPrintable(program), qPrintable(process.errorString()),
                         process.readAllStandardError().constData());
            return;
        }
        runs.push_back(t.nsecsElapsed() / 1e6);
        output = process.readAllStandardOutput();
    }
    std::printf("vantrel --coverage %s (the real program, start to exit): median %.1f ms, worst %.1f ms of %zu "
                "runs; target < 200 ms\n%s",
                qPrintable(day.toString(Qt::ISODate)), median(runs), *std::max_element(runs.begin(), runs.end()),
                runs.size(), output.constData());
}

// The Archive tab's picture of the 30 days up to lastDay, rendered into an image.
void benchStripPainting(ledger::Ledger &ledger, const QDate &lastDay, const QString &pngPath)
{
    std::vector<Span> spans;
    QSet<QString> damagedFiles;
    QEventLoop answered;
    ledger.requestSpans(localDay(lastDay.addDays(1 - app::CoverageView::kDays)).startMs, localDay(lastDay).endMs,
                        &answered, [&](std::vector<Span> s, QSet<QString> d) {
                            spans = std::move(s);
                            damagedFiles = std::move(d);
                            answered.quit();
                        });
    answered.exec();

    app::CoverageView view(ledger);
    view.resize(430, view.sizeHint().height());
    QElapsedTimer t;
    t.start();
    view.setSpans(lastDay, localDay(lastDay).endMs, spans, damagedFiles);
    const double setMs = t.nsecsElapsed() / 1e6;
    QImage image(view.size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> paints;
    for (int i = 0; i < 21; ++i) {
        image.fill(Qt::white);
        t.restart();
        view.render(&image);
        paints.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("Coverage strips of %d days (%zu spans, %dx%d px): setSpans %.2f ms, painting median %.2f ms, "
                "worst %.2f ms of %zu; target < 50 ms\n",
                app::CoverageView::kDays, spans.size(), view.width(), view.height(), setMs, median(paints),
                *std::max_element(paints.begin(), paints.end()), paints.size());
    if (!pngPath.isEmpty() && !image.save(pngPath)) std::fprintf(stderr, "cannot write %s\n", qPrintable(pngPath));
}

}  // namespace

int main(int argc, char **argv)
{
    // The strips are painted without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int days = argc > 1 ? std::max(1, std::atoi(argv[1])) : 365;
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;
    const QString path = dir.filePath(core::files::ledger());
    std::mt19937 random(7);

    QElapsedTimer t;
    t.start();
    {
        Ledger ledger(path);
        if (!ledger.isUsable()) {
            std::fprintf(stderr, "cannot open the ledger: %s\n", qPrintable(ledger.error()));
            return 1;
        }
        for (int d = 0; d < days; ++d) fillDay(ledger, d, random);
        const double queuedMs = t.nsecsElapsed() / 1e6;
        if (!ledger.flush()) std::fprintf(stderr, "writing failed: %s\n", qPrintable(ledger.error()));
        std::printf("Fill %d days: queued in %.1f ms (caller's thread), written after %.1f ms\n", days,
                    queuedMs, t.nsecsElapsed() / 1e6);
    }
    t.restart();
    Ledger ledger(path);
    std::printf("Reopen: %.1f ms\n", t.nsecsElapsed() / 1e6);

    std::vector<double> oneDay;
    std::size_t gaps = 0;
    for (int d = 0; d < days; d += std::max(1, days / 25)) {
        const QDate day = kFirstDay.addDays(d);
        t.restart();
        const std::vector<DayCoverage> c = ledger.coverage(day, day);
        oneDay.push_back(t.nsecsElapsed() / 1e6);
        gaps += c.empty() ? 0 : c.front().gaps.size();
    }
    std::printf("coverage() of one day: median %.2f ms, worst %.2f ms over %zu days (%zu gaps seen); "
                "target < 200 ms\n",
                median(oneDay), *std::max_element(oneDay.begin(), oneDay.end()), oneDay.size(), gaps);

    t.restart();
    const std::vector<DayCoverage> year = ledger.coverage(kFirstDay, kFirstDay.addDays(days - 1));
    const double yearMs = t.nsecsElapsed() / 1e6;
    qint64 lostMs = 0;
    for (const DayCoverage &c : year) lostMs += c.lostMs;
    std::printf("coverage() of all %zu days: %.1f ms (%.1f lost minutes in all)\n", year.size(), yearMs,
                double(lostMs) / kMinute);

    const QDate lastDay = kFirstDay.addDays(days - 1);
    benchCoverageCommand(dir.path(), lastDay.addDays(-15));
    benchStripPainting(ledger, lastDay, argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());
    return 0;
}
