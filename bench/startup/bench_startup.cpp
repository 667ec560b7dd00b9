// Start-up and close of the whole main window with a large archive index, against an
// empty one: construction (settings, schedule and index read, list view filled) until the
// window is shown, and the close (settings, schedule and index written).
// Usage: bench_startup [records]   (offscreen unless a display is given)

#include "app/MainWindow.h"
#include "app/ProgramFolder.h"
#include "archive/ArchiveIndex.h"
#include "core/AtomicFile.h"
#include "core/DayCount.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTreeView>

#include <cstdio>

namespace {

struct Figures {
    qint64 startMs = 0;
    qint64 closeMs = 0;
    int rows = 0;
};

Figures measure(const QString &folder)
{
    app::setProgramFolder(folder);
    Figures f;
    QElapsedTimer clock;
    clock.start();
    auto *window = new MainWindow;
    window->show();
    QCoreApplication::processEvents();
    f.startMs = clock.elapsed();
    f.rows = window->findChild<QTreeView *>(QStringLiteral("lvHistory"))->model()->rowCount();
    clock.restart();
    window->close();
    delete window;
    f.closeMs = clock.elapsed();
    return f;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;

    QTemporaryDir empty, large;
    archive::ArchiveList records;
    records.reserve(size_t(count));
    const double first = core::toDayCount(QDateTime(QDate(2026, 1, 1), QTime(0, 0)));
    for (int i = 0; i < count; ++i) {
        archive::ArchiveRecord r;
        r.DateTime = first + i * (997.0 / 86400.0);  // no start time of day repeats for a day's worth
        r.Length = 1000 + i % 3600;
        r.Filename = QStringLiteral("/srv/recordings/%1/rec-%2.mp3").arg(i / 1000).arg(i);
        records.push_back(r);
    }
    const QString index = archive::archiveIndexPath(large.path() + QStringLiteral("/"));
    if (!core::writeFileAtomically(index, archive::writeArchiveIndex(records), nullptr, true)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(index));
        return 1;
    }

    const Figures e = measure(empty.path());
    const Figures l = measure(large.path());
    std::printf("main window, empty archive:      start %5lld ms, close %5lld ms, rows %d\n",
                e.startMs, e.closeMs, e.rows);
    std::printf("main window, %6d records:     start %5lld ms, close %5lld ms, rows %d\n", count,
                l.startMs, l.closeMs, l.rows);
    std::printf("difference: start +%lld ms (target under 1000), close %lld ms (target under 2000)\n",
                l.startMs - e.startMs, l.closeMs);
    return l.rows == count ? 0 : 1;
}
