// Start-up and close cost of a large archive: loading (read, parse, build the list and the
// model) and saving 100 000 records, against an empty archive, in a few locales; then what
// one new record costs the GUI thread: the whole write on that thread, as it was, against
// addRecord with the write on the archive's worker.
// Usage: bench_archive [records]

#include "archive/Archive.h"
#include "archive/ArchiveIndex.h"
#include "archive/RegionalDateTime.h"
#include "core/AtomicFile.h"
#include "core/DayCount.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace archive;

namespace {

// A recording every 997 seconds: no two start times of day repeat within 86 400 records,
// the worst case for the reader, which remembers the date and time texts it has seen.
constexpr double kStep = 997.0 / 86400.0;

struct Figures {
    qint64 loadMs = 0;
    qint64 saveMs = 0;
    qint64 bytes = 0;
    bool intact = true;
};

ArchiveList makeRecords(int count)
{
    ArchiveList records;
    records.reserve(size_t(count));
    const double start = core::toDayCount(QDate(2020, 1, 1), QTime(0, 0));
    for (int i = 0; i < count; ++i)
        records.push_back(makeArchiveRecord(start + i * kStep, 1000 + i % 3600,
                                            QStringLiteral("/home/user/Recordings/2020/rec-%1.mp3").arg(i)));
    return records;
}

Figures measure(const QString &folder, const QLocale &locale, int count)
{
    const QString index = archiveIndexPath(folder);
    Figures f;
    {
        Archive a(index, locale);
        a.model().appendRecords(makeRecords(count));
        QElapsedTimer t;
        t.start();
        QString error;
        if (!a.save(&error)) std::fprintf(stderr, "save failed: %s\n", qPrintable(error));
        f.saveMs = t.elapsed();
        f.bytes = QFileInfo(index).size();
    }
    Archive a(index, locale);
    QElapsedTimer t;
    t.start();
    if (!a.load()) std::fprintf(stderr, "load failed\n");
    f.loadMs = t.elapsed();

    const ArchiveList &loaded = a.records();
    f.intact = loaded.size() == size_t(count);
    const double start = core::toDayCount(QDate(2020, 1, 1), QTime(0, 0));
    for (int i = 0; f.intact && i < count; ++i) {
        const ArchiveRecord &r = loaded[size_t(i)];
        const double expected = start + i * kStep;
        f.intact = std::abs(r.start - expected) * 86400.0 < 1.0 && r.lengthSeconds == 1000 + i % 3600
                   && r.path.endsWith(QStringLiteral("/rec-%1.mp3").arg(i));
    }
    return f;
}

// GUI-thread milliseconds of one new record: median of a few.
void measureAddRecord(const QString &folder, int count)
{
    const QLocale locale(QStringLiteral("en_US"));
    Archive a(archiveIndexPath(folder), locale);
    a.model().appendRecords(makeRecords(count));
    if (!a.save()) std::fprintf(stderr, "save failed\n");
    constexpr int kRuns = 5;
    std::vector<double> onGuiThread, background, copy, untilWritten;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer t;
        t.start();
        a.model().appendRecord(makeArchiveRecord(core::toDayCount(QDateTime::currentDateTime()), 1,
                                                 QStringLiteral("/r/inline.mp3")));
        if (!core::writeFileAtomically(a.indexPath(), writeArchiveIndex(a.records(), locale), nullptr, true))
            std::fprintf(stderr, "write failed\n");
        onGuiThread.push_back(t.nsecsElapsed() / 1e6);

        t.restart();
        const ArchiveList snapshot = a.records();
        copy.push_back(t.nsecsElapsed() / 1e6);

        t.restart();
        const ArchiveChange change = a.addRecord(QDateTime::currentDateTime(), 1, QStringLiteral("/r/new.mp3"));
        background.push_back(t.nsecsElapsed() / 1e6);
        if (!a.flush()) std::fprintf(stderr, "background write failed\n");
        untilWritten.push_back(t.nsecsElapsed() / 1e6);
        (void)change;
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    std::printf("\nOne new record with %d records, GUI-thread ms (median of %d):\n", count, kRuns);
    std::printf("  write on the GUI thread (before)   %8.2f\n", median(onGuiThread));
    std::printf("  addRecord, write on worker (after) %8.2f   (of which copying the records %.2f)\n",
                median(background), median(copy));
    std::printf("  until the worker's write is done   %8.2f\n", median(untilWritten));

    // Start-up: the GUI thread is free while the worker reads; it then takes the records.
    Archive loading(archiveIndexPath(folder), locale);
    QElapsedTimer t;
    t.start();
    loading.startLoading();
    const double startMs = t.nsecsElapsed() / 1e6;
    QEventLoop wait;
    QElapsedTimer taking;
    QObject::connect(&loading.model(), &QAbstractItemModel::rowsAboutToBeInserted, [&] { taking.start(); });
    QObject::connect(&loading, &Archive::loaded, &wait, &QEventLoop::quit);
    wait.exec();
    std::printf("\nBackground load of %zu records: startLoading %.2f ms, loaded after %lld ms, "
                "GUI thread taking the records %.2f ms\n",
                loading.records().size(), startMs, t.elapsed(), taking.nsecsElapsed() / 1e6);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;
    QTemporaryDir dir;
    if (!dir.isValid()) return 1;

    std::printf("%-8s %8s %10s %10s %10s %8s\n", "locale", "records", "bytes", "load ms", "save ms", "intact");
    for (const char *name : {"C", "en_US", "de_DE"}) {
        const QLocale locale{QString::fromLatin1(name)};
        for (int n : {0, count}) {
            const QString folder = dir.filePath(QStringLiteral("%1-%2").arg(QString::fromLatin1(name)).arg(n));
            const Figures f = measure(folder, locale, n);
            std::printf("%-8s %8d %10lld %10lld %10lld %8s\n", name, n, f.bytes, f.loadMs, f.saveMs,
                        f.intact ? "yes" : "NO");
        }
    }
    measureAddRecord(dir.filePath(QStringLiteral("add")), count);
    return 0;
}
