// Start-up and close cost of a large archive: loading (read, parse, build the list and the
// model) and saving 100 000 records, against an empty archive, in a few locales.
// Usage: bench_archive [records]

#include "archive/Archive.h"
#include "archive/ArchiveIndex.h"
#include "archive/RegionalDateTime.h"
#include "core/DayCount.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>

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

Figures measure(const QString &folder, const QLocale &locale, int count)
{
    const QString index = archiveIndexPath(folder);
    Figures f;
    {
        Archive a(index, locale);
        ArchiveList records;
        records.reserve(size_t(count));
        const double start = core::toDayCount(QDate(2020, 1, 1), QTime(0, 0));
        for (int i = 0; i < count; ++i)
            records.push_back(makeArchiveRecord(start + i * kStep, 1000 + i % 3600,
                                                QStringLiteral("/home/user/Recordings/2020/rec-%1.mp3").arg(i)));
        a.model().appendRecords(records);
        QElapsedTimer t;
        t.start();
        QString error;
        if (!a.SaveArchive(&error)) std::fprintf(stderr, "save failed: %s\n", qPrintable(error));
        f.saveMs = t.elapsed();
        f.bytes = QFileInfo(index).size();
    }
    Archive a(index, locale);
    QElapsedTimer t;
    t.start();
    if (!a.LoadArchive()) std::fprintf(stderr, "load failed\n");
    f.loadMs = t.elapsed();

    const ArchiveList &loaded = a.records();
    f.intact = loaded.size() == size_t(count);
    const double start = core::toDayCount(QDate(2020, 1, 1), QTime(0, 0));
    for (int i = 0; f.intact && i < count; ++i) {
        const ArchiveRecord &r = loaded[size_t(i)];
        const double expected = start + i * kStep;
        f.intact = std::abs(r.DateTime - expected) * 86400.0 < 1.0 && r.Length == 1000 + i % 3600
                   && r.Filename.endsWith(QStringLiteral("/rec-%1.mp3").arg(i));
    }
    return f;
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
    return 0;
}
