#include "archive/Archive.h"
#include "archive/ArchiveIndex.h"
#include "archive/RegionalDateTime.h"
#include "archive/Retention.h"
#include "archive/Trash.h"
#include "core/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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

QStringList filenames(const Archive &a)
{
    QStringList out;
    for (const ArchiveRecord &r : a.records()) out.append(r.Filename);
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
        QVERIFY(a.LoadArchive());  // no Log folder: empty, no error
        QCOMPARE(a.records().size(), size_t(0));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("Log"))));

        for (int i = 0; i < 3; ++i)
            QVERIFY(a.AddArchiveRecord(daysBefore(3 - i, QTime(20, 44, 37)), 60 * i,
                                       QStringLiteral("/gone/old%1.mp3").arg(i)).saved);
        QVERIFY(contents(index).contains("Filename=/gone/old2.mp3"));
    }
    {
        // The next run: one old record deleted, two recordings made.
        Archive a(index, QLocale(QStringLiteral("en_US")));
        QVERIFY(a.LoadArchive());
        QCOMPARE(a.model().rowCount(), 3);
        const ArchiveChange del = a.DeleteArchiveRecord(1);
        QVERIFY(del.saved);
        QCOMPARE(del.removedRecords, 1);
        QVERIFY(del.keptFiles.isEmpty());
        QCOMPARE(a.DeleteArchiveRecord(7).removedRecords, 0);
        QVERIFY(a.AddArchiveRecord(kNow, 5, QStringLiteral("/gone/new0.mp3")).saved);
        QVERIFY(a.AddArchiveRecord(QDateTime(kNow.date(), QTime(0, 0)), -1,
                                   QStringLiteral("/gone/new1.mp3")).saved);
    }
    const QByteArray text = contents(index);
    QVERIFY(text.startsWith("; Locale=en_US\n\n[Item0]\nDateTime=12/4/2026 8:44:37 PM\nFilename=/gone/old0.mp3\nLength=0\n"));
    QVERIFY(text.contains("[Item3]\nDateTime=12/7/2026\nFilename=/gone/new1.mp3\nLength=-1\n"));
    QVERIFY(!text.contains("[Item4]"));

    Archive a(index, QLocale(QStringLiteral("en_US")));
    QVERIFY(a.LoadArchive());
    QCOMPARE(filenames(a), (QStringList{QStringLiteral("/gone/old0.mp3"), QStringLiteral("/gone/old2.mp3"),
                                        QStringLiteral("/gone/new0.mp3"), QStringLiteral("/gone/new1.mp3")}));
    QCOMPARE(a.records()[2].DateTime, core::toDayCount(kNow));
    QCOMPARE(a.records()[3].DateTime, core::toDayCount(QDateTime(kNow.date(), QTime(0, 0))));
}

void TestArchive::occupiedLogFolderFailsTheSave()
{
    QVERIFY(touch(path(QStringLiteral("Log"))));
    Archive a(archiveIndexPath(m_dir->path()), QLocale::c());
    QVERIFY(a.LoadArchive());
    const ArchiveChange change = a.AddArchiveRecord(kNow, 1, QStringLiteral("/r/a.mp3"));
    QVERIFY(!change.saved);
    QVERIFY(!change.saveError.isEmpty());
    QCOMPARE(a.records().size(), size_t(1));  // the record is kept in memory all the same
    QString error;
    QVERIFY(!a.SaveArchive(&error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(contents(path(QStringLiteral("Log"))), QByteArray("audio"));
}

void TestArchive::failedWriteLeavesTheIndexWhole()
{
    // Tests may run as root, whom file modes do not stop; a file size limit does.
    const QString index = archiveIndexPath(m_dir->path());
    Archive a(index, QLocale::c());
    QVERIFY(a.AddArchiveRecord(kNow, 1, QStringLiteral("/r/a.mp3")).saved);
    const QByteArray before = contents(index);

    struct rlimit old {};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = rlim_t(before.size() + 100);
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    ArchiveChange last;
    for (int i = 0; i < 20; ++i) last = a.AddArchiveRecord(kNow, i, QStringLiteral("/r/more.mp3"));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!last.saved);
    QVERIFY(!last.saveError.isEmpty());
    const QByteArray after = contents(index);
    QVERIFY(after.startsWith(before.left(before.size())));
    QVERIFY(after.size() <= before.size() + 100);
    Archive reread(index, QLocale::c());
    QVERIFY(reread.LoadArchive());
    QVERIFY(!reread.records().empty());
    QCOMPARE(reread.records().front().Filename, QStringLiteral("/r/a.mp3"));
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
        QVERIFY(a.AddArchiveRecord(daysBefore(age), i, path(QStringLiteral("missing%1.mp3").arg(i))).saved);
    }
    QVERIFY(a.AddArchiveRecord(QDateTime(), 0, path(QStringLiteral("undated.mp3"))).saved);
    QVERIFY(touch(path(QStringLiteral("undated.mp3"))));

    const ArchiveChange change = a.ArchiveCheckerTimer(kNow, 30);
    QCOMPARE(change.removedRecords, 2);
    QVERIFY(change.saved);
    QVERIFY(change.keptFiles.isEmpty());
    QStringList expected;
    for (int i : {0, 1, 4, 5, 6, 7, 8, 9}) expected.append(path(QStringLiteral("missing%1.mp3").arg(i)));
    expected.append(path(QStringLiteral("undated.mp3")));
    QCOMPARE(filenames(a), expected);
    // Records of missing files went without touching the disk: no trash was even made.
    QVERIFY(!QFileInfo::exists(m_home->filePath(QStringLiteral("data"))));

    // The undated record survives any period, and so does its file.
    QCOMPARE(a.ArchiveCheckerTimer(kNow.addYears(5), 1).removedRecords, 8);
    QCOMPARE(filenames(a), QStringList{path(QStringLiteral("undated.mp3"))});
    QVERIFY(QFileInfo::exists(path(QStringLiteral("undated.mp3"))));

    Archive reread(archiveIndexPath(m_dir->path()), QLocale::c());
    QVERIFY(reread.LoadArchive());
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
        QVERIFY(a.AddArchiveRecord(daysBefore(age), 1, file).saved);
    }

    const ArchiveChange swept = a.ArchiveCheckerTimer(kNow, 7);
    QCOMPARE(swept.removedRecords, 2);
    QVERIFY(swept.keptFiles.isEmpty());
    const ArchiveChange deleted = a.DeleteArchiveRecord(1);
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
    QCOMPARE(RecycleFile(path(QStringLiteral("folder.mp3"))), RecycleResult::NotAFile);
    QVERIFY(QFileInfo(path(QStringLiteral("folder.mp3"))).isDir());
    QCOMPARE(RecycleFile(QStringLiteral("relative.mp3")), RecycleResult::NotAFile);
    QCOMPARE(RecycleFile(QString()), RecycleResult::NotAFile);

    QVERIFY(touch(path(QStringLiteral("one.mp3"))));
    QString trashed;
    QCOMPARE(RecycleFile(path(QStringLiteral("one.mp3")), &trashed), RecycleResult::Trashed);
    QVERIFY(trashed.endsWith(QStringLiteral("/Trash/files/one.mp3")));
    // The same name again gets a name of its own in the trash.
    QVERIFY(touch(path(QStringLiteral("one.mp3"))));
    QString second;
    QCOMPARE(RecycleFile(path(QStringLiteral("one.mp3")), &second), RecycleResult::Trashed);
    QVERIFY(second != trashed);
    QVERIFY(QFileInfo::exists(trashed) && QFileInfo::exists(second));
}

void TestArchive::keepsFilesThatAnotherRecordNames()
{
    const QString shared = path(QStringLiteral("shared.mp3"));
    QVERIFY(touch(shared));
    Archive a(archiveIndexPath(m_dir->path()), QLocale::c());
    QVERIFY(a.AddArchiveRecord(daysBefore(10), 0, shared).saved);
    QVERIFY(a.AddArchiveRecord(daysBefore(0), 60, shared).saved);

    // The sweep takes the old record only; the file is the new one's.
    QCOMPARE(a.ArchiveCheckerTimer(kNow, 7).removedRecords, 1);
    QVERIFY(QFileInfo::exists(shared));
    QVERIFY(a.AddArchiveRecord(daysBefore(0), 0, shared).saved);
    QVERIFY(a.DeleteArchiveRecord(1).keptFiles.isEmpty());
    QVERIFY(QFileInfo::exists(shared));
    QCOMPARE(a.records().size(), size_t(1));
    // The last record naming it takes the file along.
    QVERIFY(a.DeleteArchiveRecord(0).saved);
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
    QVERIFY(a.LoadArchive());
    QVERIFY(a.SaveArchive());
    QCOMPARE(contents(index), text);
    // Such a name cannot be handed to the trash: the record goes, the file stays and is said.
    const ArchiveChange change = a.DeleteArchiveRecord(0);
    QCOMPARE(change.keptFiles.size(), 1);
    QVERIFY(::access(name.constData(), F_OK) == 0);
}

void TestArchive::adoptsTheRecordingAJournalNames()
{
    const RecordingJournal journal(recordingJournalPath(m_dir->path()));
    const double start = core::toDayCount(QDate(2026, 12, 7), QTime(20, 44, 37, 250));
    const QString file = path(QStringLiteral("killed.mp3"));
    QVERIFY(touch(file));
    Archive a(archiveIndexPath(m_dir->path()), QLocale::c());
    auto probe = [](double seconds) { return [seconds](const QString &) { return seconds; }; };

    // No journal: nothing. One whose file the headers time: that length, truncated.
    QVERIFY(a.adoptRecording(journal, probe(5)).adoptedFile.isEmpty());
    QVERIFY(journal.begin(start, file));
    QVERIFY(QFileInfo::exists(path(QStringLiteral("Log/RecordingJournal.ini"))));
    const ArchiveChange adopted = a.adoptRecording(journal, probe(12.9));
    QVERIFY(adopted.saved);
    QCOMPARE(adopted.adoptedFile, file);
    QVERIFY(!journal.exists());
    QCOMPARE(a.records().size(), size_t(1));
    QCOMPARE(a.records()[0].DateTime, start);
    QCOMPARE(a.records()[0].Length, 12);
    // A journal left beside the record already made adds no second one.
    QVERIFY(journal.begin(start, file));
    QVERIFY(a.adoptRecording(journal, probe(12.9)).adoptedFile.isEmpty());
    QVERIFY(!journal.exists());

    // Headers without a length: from the start to the file's last change.
    const QString cut = path(QStringLiteral("cut.flac"));
    QVERIFY(touch(cut));
    QFile f(cut);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.setFileTime(core::fromDayCount(start).addSecs(95), QFileDevice::FileModificationTime));
    f.close();
    QVERIFY(journal.begin(start, cut));
    QVERIFY(!a.adoptRecording(journal, probe(0)).adoptedFile.isEmpty());
    QCOMPARE(a.records().back().Length, 95);

    // A file that is missing or empty gives no record.
    QVERIFY(QFile(path(QStringLiteral("empty.mp3"))).open(QIODevice::WriteOnly));
    for (const char *name : {"never.mp3", "empty.mp3"}) {
        QVERIFY(journal.begin(start, path(QString::fromLatin1(name))));
        QVERIFY(a.adoptRecording(journal, probe(3)).adoptedFile.isEmpty());
        QVERIFY(!journal.exists());
    }
    QCOMPARE(a.records().size(), size_t(2));
}

QTEST_GUILESS_MAIN(TestArchive)
#include "test_archive.moc"
