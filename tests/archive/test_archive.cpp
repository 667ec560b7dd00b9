#include "archive/Archive.h"
#include "archive/ArchiveIndex.h"
#include "archive/RegionalDateTime.h"
#include "archive/Retention.h"
#include "archive/Trash.h"
#include "core/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <optional>

#include <csignal>
#include <cstdio>
#include <unistd.h>
#include <sys/resource.h>

using namespace archive;

namespace {

const QDateTime kNow(QDate(2026, 12, 7), QTime(0, 0, 1));

QDateTime daysBefore(int days, QTime time = QTime(12, 0)) { return QDateTime(kNow.date().addDays(-days), time); }

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool touch(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write("audio") == 5;
}

// Waits for the archive's writes; true when the index holds the change.
bool written(Archive &a, const ArchiveChange &change)
{
    return a.flush() && a.writtenGeneration() >= change.generation && change.generation > 0;
}

QStringList filenames(const Archive &a)
{
    QStringList out;
    for (const ArchiveRecord &r : a.records()) out.append(r.path);
    return out;
}

}  // namespace

class TestArchive : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void savesAfterEveryChangeAndReloadsInOrder();
    void occupiedLogFolderFailsTheSave();
    void failedWriteLeavesTheIndexWhole();
    void dueRecordsCountCalendarDays();
    void sweepRemovesDueRecordsInOnePass();
    void deletedRecordingsGoToTheTrash();
    void recycleLeavesFoldersAndRelativePathsAlone();
    void keepsFilesThatAnotherRecordNames();
    void keepsPathsThatAreNotUtf8ByteForByte();
    void adoptsTheRecordingAJournalNames();
    void writesInTheBackgroundCoalescedAndReportsFailures();
    void backgroundLoadKeepsChangesMadeMeanwhile();
    void freeSpaceTakesTheTrashThenTheOldestAndSparesWhatIsKept();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestArchive::initTestCase()
{
    // A private home and data folder, on the same file system as the recordings, so the
    // home trash is the one used. The data folder does not exist yet.
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    qputenv("HOME", QFile::encodeName(m_home->path()));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home->filePath(QStringLiteral("data/share"))));
}

void TestArchive::init()
{
    m_dir = std::make_unique<QTemporaryDir>(m_home->filePath(QStringLiteral("program-XXXXXX")));
    QVERIFY(m_dir->isValid());
}

void TestArchive::savesAfterEveryChangeAndReloadsInOrder()
{
    const QString index = archiveIndexPath(m_dir->path());
    QCOMPARE(index, path(QStringLiteral("Log/VantrelArchive.ini")));
    {
        Archive a(index, QLocale(QStringLiteral("en_US")));
        QVERIFY(a.load());  // no Log folder: empty, no error
        QCOMPARE(a.records().size(), size_t(0));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("Log"))));

        for (int i = 0; i < 3; ++i)
            QVERIFY(written(a, a.addRecord(daysBefore(3 - i, QTime(20, 44, 37)), 60 * i,
                                       QStringLiteral("/gone/old%1.mp3").arg(i))));
        QVERIFY(contents(index).contains("Filename=/gone/old2.mp3"));
    }
    {
        // The next run: one old record deleted, two recordings made.
        Archive a(index, QLocale(QStringLiteral("en_US")));
        QVERIFY(a.load());
        QCOMPARE(a.model().rowCount(), 3);
        const ArchiveChange del = a.deleteRecord(1);
        QVERIFY(written(a, del));
        QCOMPARE(del.removedRecords, 1);
        QVERIFY(del.keptFiles.isEmpty());
        QCOMPARE(a.deleteRecord(7).removedRecords, 0);
        QVERIFY(written(a, a.addRecord(kNow, 5, QStringLiteral("/gone/new0.mp3"))));
        QVERIFY(written(a, a.addRecord(QDateTime(kNow.date(), QTime(0, 0)), -1,
                                   QStringLiteral("/gone/new1.mp3"))));
    }
    const QByteArray text = contents(index);
    QVERIFY(text.startsWith("; Locale=en_US\n\n[Item0]\nDateTime=12/4/2026 8:44:37 PM\nFilename=/gone/old0.mp3\nLength=0\n"));
    QVERIFY(text.contains("[Item3]\nDateTime=12/7/2026\nFilename=/gone/new1.mp3\nLength=-1\n"));
    QVERIFY(!text.contains("[Item4]"));

    Archive a(index, QLocale(QStringLiteral("en_US")));
    QVERIFY(a.load());
    QCOMPARE(filenames(a), (QStringList{QStringLiteral("/gone/old0.mp3"), QStringLiteral("/gone/old2.mp3"),
                                        QStringLiteral("/gone/new0.mp3"), QStringLiteral("/gone/new1.mp3")}));
    QCOMPARE(a.records()[2].start, core::toDayCount(kNow));
    QCOMPARE(a.records()[3].start, core::toDayCount(QDateTime(kNow.date(), QTime(0, 0))));
}

void TestArchive::occupiedLogFolderFailsTheSave()
{
    QVERIFY(touch(path(QStringLiteral("Log"))));
    Archive a(archiveIndexPath(m_dir->path()), QLocale::c());
    QVERIFY(a.load());
    const ArchiveChange change = a.addRecord(kNow, 1, QStringLiteral("/r/a.mp3"));
    QString writeError;
    QVERIFY(!a.flush(&writeError));
    QVERIFY(!writeError.isEmpty());
    QVERIFY(a.writtenGeneration() < change.generation);
    QCOMPARE(a.records().size(), size_t(1));  // the record is kept in memory all the same
    QString error;
    QVERIFY(!a.save(&error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(contents(path(QStringLiteral("Log"))), QByteArray("audio"));
}

void TestArchive::failedWriteLeavesTheIndexWhole()
{
    // Tests may run as root, whom file modes do not stop; a file size limit does.
    const QString index = archiveIndexPath(m_dir->path());
    Archive a(index, QLocale::c());
    QVERIFY(written(a, a.addRecord(kNow, 1, QStringLiteral("/r/a.mp3"))));
    const QByteArray before = contents(index);

    struct rlimit old {};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = rlim_t(before.size() + 100);
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    for (int i = 0; i < 20; ++i) (void)a.addRecord(kNow, i, QStringLiteral("/r/more.mp3"));
    QString writeError;
    const bool flushed = a.flush(&writeError);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!flushed);
    QVERIFY(!writeError.isEmpty());
    const QByteArray after = contents(index);
    QVERIFY(after.startsWith(before.left(before.size())));
    QVERIFY(after.size() <= before.size() + 100);
    Archive reread(index, QLocale::c());
    QVERIFY(reread.load());
    QVERIFY(!reread.records().empty());
    QCOMPARE(reread.records().front().path, QStringLiteral("/r/a.mp3"));
    QCOMPARE(QDir(path(QStringLiteral("Log"))).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("VantrelArchive.ini")});
}

void TestArchive::dueRecordsCountCalendarDays()
{
    auto rec = [](const QDateTime &start) { return makeArchiveRecord(core::toDayCount(start), 1, {}); };
    const ArchiveList records{rec(daysBefore(1, QTime(23, 59, 59))), rec(daysBefore(0, QTime(0, 0))),
                              rec(QDateTime(kNow.date().addDays(3), QTime(1, 0))), ArchiveRecord{},
                              rec(daysBefore(29)), rec(daysBefore(30, QTime(23, 59)))};
    QCOMPARE(dueRecords(records, kNow, 1), (std::vector<bool>{true, false, false, false, true, true}));
    QCOMPARE(dueRecords(records, kNow, 30), (std::vector<bool>{false, false, false, false, false, true}));
    // Out-of-range periods are brought into 1...365: never "everything at once".
    QCOMPARE(dueRecords(records, kNow, 0), dueRecords(records, kNow, 1));
    QCOMPARE(dueRecords(records, kNow, -5), dueRecords(records, kNow, 1));
    QCOMPARE(dueRecords({rec(daysBefore(365))}, kNow, 100000), std::vector<bool>{true});
    QCOMPARE(dueRecords({rec(daysBefore(364))}, kNow, 100000), std::vector<bool>{false});
}

void TestArchive::sweepRemovesDueRecordsInOnePass()
{
    Archive a(archiveIndexPath(m_dir->path()), QLocale::c());
    for (int i = 0; i < 10; ++i) {
        const int age = (i == 2 || i == 3) ? 30 + i : i;
        QVERIFY(written(a, a.addRecord(daysBefore(age), i, path(QStringLiteral("missing%1.mp3").arg(i)))));
    }
    QVERIFY(written(a, a.addRecord(QDateTime(), 0, path(QStringLiteral("undated.mp3")))));
    QVERIFY(touch(path(QStringLiteral("undated.mp3"))));

    const ArchiveChange change = a.sweepExpired(kNow, 30);
    QCOMPARE(change.removedRecords, 2);
    QVERIFY(written(a, change));
    QVERIFY(change.keptFiles.isEmpty());
    QStringList expected;
    for (int i : {0, 1, 4, 5, 6, 7, 8, 9}) expected.append(path(QStringLiteral("missing%1.mp3").arg(i)));
    expected.append(path(QStringLiteral("undated.mp3")));
    QCOMPARE(filenames(a), expected);
    // Records of missing files went without touching the disk: no trash was even made.
    QVERIFY(!QFileInfo::exists(m_home->filePath(QStringLiteral("data"))));

    // The undated record survives any period, and so does its file.
    QCOMPARE(a.sweepExpired(kNow.addYears(5), 1).removedRecords, 8);
    QCOMPARE(filenames(a), QStringList{path(QStringLiteral("undated.mp3"))});
    QVERIFY(QFileInfo::exists(path(QStringLiteral("undated.mp3"))));
    QVERIFY(a.flush());

    Archive reread(archiveIndexPath(m_dir->path()), QLocale::c());
    QVERIFY(reread.load());
    QCOMPARE(filenames(reread), filenames(a));
}

void TestArchive::deletedRecordingsGoToTheTrash()
{
    const QString trash = m_home->filePath(QStringLiteral("data/share/Trash"));
    Archive a(archiveIndexPath(m_dir->path()), QLocale::c());
    for (const char *name : {"keep.mp3", "old1.mp3", "old2.mp3", "picked.mp3"}) {
        const QString file = path(QString::fromLatin1(name));
        QVERIFY(touch(file));
        const int age = QByteArray(name).startsWith("old") ? 10 : 0;
        QVERIFY(written(a, a.addRecord(daysBefore(age), 1, file)));
    }

    const ArchiveChange swept = a.sweepExpired(kNow, 7);
    QCOMPARE(swept.removedRecords, 2);
    QVERIFY(swept.keptFiles.isEmpty());
    const ArchiveChange deleted = a.deleteRecord(1);
    QCOMPARE(deleted.removedRecords, 1);
    QCOMPARE(filenames(a), QStringList{path(QStringLiteral("keep.mp3"))});

    for (const char *name : {"old1.mp3", "old2.mp3", "picked.mp3"}) {
        const QString n = QString::fromLatin1(name);
        QVERIFY2(!QFileInfo::exists(path(n)), name);
        QVERIFY2(QFileInfo::exists(trash + QStringLiteral("/files/") + n), name);
        QVERIFY2(QFileInfo::exists(trash + QStringLiteral("/info/") + n + QStringLiteral(".trashinfo")), name);
    }
    QVERIFY(QFileInfo::exists(path(QStringLiteral("keep.mp3"))));
    QVERIFY(!QFileInfo::exists(QDir::current().filePath(QStringLiteral("files/picked.mp3"))));
}

void TestArchive::recycleLeavesFoldersAndRelativePathsAlone()
{
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("folder.mp3")));
    QCOMPARE(recycleFile(path(QStringLiteral("folder.mp3"))), RecycleResult::NotAFile);
    QVERIFY(QFileInfo(path(QStringLiteral("folder.mp3"))).isDir());
    QCOMPARE(recycleFile(QStringLiteral("relative.mp3")), RecycleResult::NotAFile);
    QCOMPARE(recycleFile(QString()), RecycleResult::NotAFile);

    QVERIFY(touch(path(QStringLiteral("one.mp3"))));
    QString trashed;
    QCOMPARE(recycleFile(path(QStringLiteral("one.mp3")), &trashed), RecycleResult::Trashed);
    QVERIFY(trashed.endsWith(QStringLiteral("/Trash/files/one.mp3")));
    // The same name again gets a name of its own in the trash.
    QVERIFY(touch(path(QStringLiteral("one.mp3"))));
    QString second;
    QCOMPARE(recycleFile(path(QStringLiteral("one.mp3")), &second), RecycleResult::Trashed);
    QVERIFY(second != trashed);
    QVERIFY(QFileInfo::exists(trashed) && QFileInfo::exists(second));
}

void TestArchive::keepsFilesThatAnotherRecordNames()
{
    const QString shared = path(QStringLiteral("shared.mp3"));
    QVERIFY(touch(shared));
    Archive a(archiveIndexPath(m_dir->path()), QLocale::c());
    QVERIFY(written(a, a.addRecord(daysBefore(10), 0, shared)));
    QVERIFY(written(a, a.addRecord(daysBefore(0), 60, shared)));

    // The sweep takes the old record only; the file is the new one's.
    QCOMPARE(a.sweepExpired(kNow, 7).removedRecords, 1);
    QVERIFY(QFileInfo::exists(shared));
    QVERIFY(written(a, a.addRecord(daysBefore(0), 0, shared)));
    QVERIFY(a.deleteRecord(1).keptFiles.isEmpty());
    QVERIFY(QFileInfo::exists(shared));
    QCOMPARE(a.records().size(), size_t(1));
    // The last record naming it takes the file along.
    QVERIFY(written(a, a.deleteRecord(0)));
    QVERIFY(!QFileInfo::exists(shared));
}

void TestArchive::keepsPathsThatAreNotUtf8ByteForByte()
{
    const QByteArray name = QFile::encodeName(path(QString())) + "caf\xe9.mp3";
    FILE *f = std::fopen(name.constData(), "w");
    QVERIFY(f);
    std::fclose(f);
    const QString index = archiveIndexPath(m_dir->path());
    const QByteArray text = "; Locale=C\n\n[Item0]\nDateTime=7 Dec 2026\nFilename=" + name + "\nLength=5\n";
    QVERIFY(core::writeFileAtomically(index, text, nullptr, true));

    Archive a(index, QLocale::c());
    QVERIFY(a.load());
    QVERIFY(a.save());
    QCOMPARE(contents(index), text);
    // Such a name cannot be handed to the trash: the record goes, the file stays and is said.
    const ArchiveChange change = a.deleteRecord(0);
    QCOMPARE(change.keptFiles.size(), 1);
    QVERIFY(::access(name.constData(), F_OK) == 0);
}

void TestArchive::adoptsTheRecordingAJournalNames()
{
    const double start = core::toDayCount(QDate(2026, 12, 7), QTime(20, 44, 37, 250));
    const QString file = path(QStringLiteral("killed.mp3"));
    QVERIFY(touch(file));
    Archive a(archiveIndexPath(m_dir->path()), QLocale::c());
    auto probe = [](double seconds) { return [seconds](const QString &) { return seconds; }; };

    // The length the headers give, truncated; a file a record names already adds none.
    const ArchiveChange adopted = a.adoptRecording({start, file}, probe(12.9));
    QVERIFY(written(a, adopted));
    QCOMPARE(adopted.adoptedFile, file);
    QCOMPARE(a.records().size(), size_t(1));
    QCOMPARE(a.records()[0].start, start);
    QCOMPARE(a.records()[0].lengthSeconds, 12);
    QVERIFY(a.adoptRecording({start, file}, probe(12.9)).adoptedFile.isEmpty());

    // Headers without a length: from the start to the file's last change.
    const QString cut = path(QStringLiteral("cut.flac"));
    QVERIFY(touch(cut));
    QFile f(cut);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(core::fromDayCount(start).addSecs(95), QFileDevice::FileModificationTime));
    f.close();
    QVERIFY(!a.adoptRecording({start, cut}, probe(0)).adoptedFile.isEmpty());
    QCOMPARE(a.records().back().lengthSeconds, 95);

    // A file that is missing or empty gives no record.
    QVERIFY(QFile(path(QStringLiteral("empty.mp3"))).open(QIODevice::WriteOnly));
    for (const char *name : {"never.mp3", "empty.mp3"})
        QVERIFY(a.adoptRecording({start, path(QString::fromLatin1(name))}, probe(3)).adoptedFile.isEmpty());
    QCOMPARE(a.records().size(), size_t(2));
}

void TestArchive::writesInTheBackgroundCoalescedAndReportsFailures()
{
    const QString index = archiveIndexPath(m_dir->path());
    {
        Archive a(index, QLocale::c());
        QSignalSpy written(&a, &Archive::written);
        QSignalSpy failed(&a, &Archive::writeFailed);
        // Changes faster than the writes: fewer writes than changes, the last with them all.
        for (int i = 0; i < 50; ++i) (void)a.addRecord(kNow, i, QStringLiteral("/r/%1.mp3").arg(i));
        QVERIFY(written.wait());
        QTRY_COMPARE(a.writtenGeneration(), a.generation());
        QVERIFY(written.size() < 50);
        QCOMPARE(written.last().at(0).toULongLong(), a.generation());
        QVERIFY(contents(index).contains("Filename=/r/49.mp3\nLength=49\n"));
        QVERIFY(failed.isEmpty());

        // A failed write is reported with its cause; the journal action waits for a good one.
        QVERIFY(QFile::remove(index));
        QVERIFY(QDir().rmdir(path(QStringLiteral("Log"))));
        QVERIFY(touch(path(QStringLiteral("Log"))));
        bool actionRan = false;
        const ArchiveChange change = a.addRecord(kNow, 1, QStringLiteral("/r/late.mp3"));
        a.whenWritten(change.generation, [&actionRan] { actionRan = true; });
        QVERIFY(failed.wait());
        QVERIFY(!failed.last().at(0).toString().isEmpty());
        QVERIFY(!actionRan);
        // The next write heals it; the archive's end writes what came after.
        QVERIFY(QFile::remove(path(QStringLiteral("Log"))));
        (void)a.addRecord(kNow, 2, QStringLiteral("/r/later.mp3"));
        QVERIFY(written.wait());
        QVERIFY(actionRan);
        QVERIFY(a.flush());
        (void)a.addRecord(kNow, 3, QStringLiteral("/r/last.mp3"));
    }
    Archive reread(index, QLocale::c());
    QVERIFY(reread.load());
    QCOMPARE(reread.records().size(), size_t(53));
    QCOMPARE(reread.records().back().path, QStringLiteral("/r/last.mp3"));
}

void TestArchive::backgroundLoadKeepsChangesMadeMeanwhile()
{
    const QString index = archiveIndexPath(m_dir->path());
    {
        Archive a(index, QLocale::c());
        for (int i = 0; i < 3; ++i) (void)a.addRecord(daysBefore(1), i, QStringLiteral("/r/old%1.mp3").arg(i));
        QVERIFY(a.flush());
    }
    const QByteArray before = contents(index);
    {
        Archive a(index, QLocale::c());
        QSignalSpy loaded(&a, &Archive::loaded);
        a.startLoading();
        QVERIFY(a.isLoading());
        (void)a.addRecord(kNow, 10, QStringLiteral("/r/new0.mp3"));
        (void)a.addRecord(kNow, 11, QStringLiteral("/r/new1.mp3"));
        QCOMPARE(a.deleteRecord(0).removedRecords, 1);
        QCOMPARE(contents(index), before);  // nothing is written while loading
        QVERIFY(loaded.wait());
        QCOMPARE(loaded.first().at(0).toBool(), true);
        QCOMPARE(filenames(a), (QStringList{QStringLiteral("/r/old0.mp3"), QStringLiteral("/r/old1.mp3"),
                                            QStringLiteral("/r/old2.mp3"), QStringLiteral("/r/new1.mp3")}));
        QVERIFY(a.flush());
    }
    Archive reread(index, QLocale::c());
    QVERIFY(reread.load());
    QCOMPARE(reread.records().size(), size_t(4));

    // An index that exists but cannot be read is never written over.
    QVERIFY(QFile::remove(index));
    QVERIFY(QDir().mkdir(index));
    Archive unreadable(index, QLocale::c());
    QSignalSpy loaded(&unreadable, &Archive::loaded);
    QSignalSpy failed(&unreadable, &Archive::writeFailed);
    unreadable.startLoading();
    (void)unreadable.addRecord(kNow, 1, QStringLiteral("/r/a.mp3"));
    QVERIFY(loaded.wait());
    QCOMPARE(loaded.first().at(0).toBool(), false);
    QVERIFY(!unreadable.flush());
    QTRY_VERIFY(!failed.isEmpty());
    QVERIFY(QFileInfo(index).isDir());
}

// Room is made from the program's own trashed files first, then from the oldest records,
// measured after each file; what the minimum keeps and the running file stay, and the
// sweep spares them too.
void TestArchive::freeSpaceTakesTheTrashThenTheOldestAndSparesWhatIsKept()
{
    Archive a(archiveIndexPath(m_dir->path()), QLocale::c());
    const QStringList names{QStringLiteral("trashed.wav"), QStringLiteral("old30.wav"), QStringLiteral("old20.wav"),
                            QStringLiteral("young.wav"), QStringLiteral("running.wav")};
    const int ages[] = {40, 30, 20, 2, 9};
    for (int i = 0; i < names.size(); ++i) {
        QVERIFY(touch(path(names[i])));
        QVERIFY(written(a, a.addRecord(daysBefore(ages[i]), 60, path(names[i]))));
    }
    bool recycled = false;
    QVERIFY(written(a, a.deleteRecord(0, [&recycled](const QStringList &kept) { recycled = kept.isEmpty(); })));
    QTRY_VERIFY(recycled);  // on the worker, and listed there
    const QStringList listed = readTrashList(trashListPath(a.indexPath()));
    QCOMPARE(listed.size(), 1);
    QVERIFY(QFileInfo::exists(trashInfoPath(listed[0])));

    const KeepRules keep{5, {}};
    const SpaceCandidates candidates = spaceCandidates(a.records(), kNow, keep, path(names[4]));
    QCOMPARE(candidates.files, (QStringList{path(names[1]), path(names[2])}));
    QCOMPARE(candidates.kept, 2);
    QCOMPARE(candidates.keptReason, QStringLiteral("being recorded"));
    // A span on hold spares what it covers as well.
    const qint64 heldMs = daysBefore(20).toMSecsSinceEpoch();
    const KeepRules held{5, {Hold{1, heldMs, heldMs + 1000, QStringLiteral("complaint"), 0}}};
    QCOMPARE(spaceCandidates(a.records(), kNow, held, path(names[4])).files, QStringList{path(names[1])});

    // 1000 bytes free for each file gone; 2000 wanted: the trashed file and the oldest go.
    const QStringList watched{listed[0], path(names[1]), path(names[2])};
    SpaceRequest request{m_dir->path(), 2000, [watched] {
                             return std::int64_t(1000 * std::count_if(watched.begin(), watched.end(),
                                                                      [](const QString &f) { return !QFileInfo::exists(f); }));
                         }};
    std::optional<SpaceOutcome> outcome;
    a.freeSpace(request, candidates.files, [&outcome](const SpaceOutcome &o, const ArchiveChange &) { outcome = o; });
    QTRY_VERIFY(outcome.has_value());
    QVERIFY(outcome->enough);
    QCOMPARE(outcome->removals.size(), size_t(2));
    QVERIFY(outcome->removals[0].fromTrash && outcome->removals[0].error.isEmpty());
    QVERIFY(outcome->removals[1].freedBytes > 0);
    QVERIFY(!QFileInfo::exists(trashInfoPath(listed[0])));
    QVERIFY(readTrashList(trashListPath(a.indexPath())).isEmpty());
    QCOMPARE(filenames(a), (QStringList{path(names[2]), path(names[3]), path(names[4])}));
    QVERIFY(QFileInfo::exists(path(names[2])));

    QCOMPARE(a.sweepExpired(kNow, 1, keep).removedRecords, 2);
    QCOMPARE(filenames(a), QStringList{path(names[3])});
}

QTEST_GUILESS_MAIN(TestArchive)
#include "test_archive.moc"
