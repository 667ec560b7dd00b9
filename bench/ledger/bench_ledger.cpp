// What a year of coverage ledger costs: filling it (a whole-day asked span a day, hourly
// files with their recorded spans, a few hundred lost spans, some silence, a few damaged
// files), reopening it, and the coverage of one day (target: under 200 ms) and of the year.
// Usage: bench_ledger [days]

#include "core/ProgramFiles.h"
#include "ledger/Ledger.h"

#include <QCoreApplication>
#include <QElapsedTimer>
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

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
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
    return 0;
}
