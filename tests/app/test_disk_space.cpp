// The disk of the save folder filling up while recording WAV on the test sound server: the
// oldest recordings go to keep KeepFreeMB free, and with MinStoreDays covering them all the
// disk fills instead, loudly. The save folder is a small tmpfs of the test's own, mounted in
// a private mount namespace: each case runs this binary again under `unshare -m`.
#include "app/ProgramFolder.h"
#include "app/Recorder.h"
#include "archive/Archive.h"
#include "archive/ArchiveIndex.h"
#include "archive/SpaceKeeper.h"
#include "core/DayCount.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

namespace {

const char *const kInside = "VT_DISK_NAMESPACE";
constexpr int kOldRecordings = 4;
constexpr qint64 kOldBytes = 2 * 1024 * 1024;

bool writeBytes(const QString &path, qint64 bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QByteArray(int(bytes), 'a')) == bytes;
}

}  // namespace

class TestDiskSpace : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void oldestRecordingsGoWhileTheRecordingGoesOn();
    void minimumKeepsThemAllAndTheDiskFillsLoudly();

private:
    // Outside the namespace: runs the current case again inside one and takes its verdict.
    void runInside();
    // Inside: a tmpfs of sizeMb at m_disk; false with *why when it cannot be mounted.
    bool mountDisk(int sizeMb, QString *why);
    // Four old recordings on it (10 … 7 days back) with their records, and the settings.
    void prepare(const QString &settings);
    QStringList events(const QString &word) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_disk;
    QStringList m_old;  // oldest first
};

void TestDiskSpace::init()
{
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
        QSKIP("needs the test sound server (PULSE_SERVER)");
    m_dir = std::make_unique<QTemporaryDir>();
    m_disk = m_dir->filePath(QStringLiteral("disk"));
    m_old.clear();
}

void TestDiskSpace::cleanup()
{
    if (!m_disk.isEmpty() && qEnvironmentVariableIsSet(kInside))
        ::umount2(QFile::encodeName(m_disk).constData(), MNT_DETACH);
}

void TestDiskSpace::runInside()
{
    QProcess unshare;
    unshare.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kInside), QStringLiteral("1"));
    unshare.setProcessEnvironment(env);
    QStringList args{QStringLiteral("-m"), QStringLiteral("--propagation"), QStringLiteral("private")};
    if (::geteuid() != 0)
        args.prepend(QStringLiteral("-r"));  // a user namespace lets an ordinary user mount
    args << QCoreApplication::applicationFilePath() << QString::fromLatin1(QTest::currentTestFunction());
    unshare.start(QStringLiteral("unshare"), args);
    if (!unshare.waitForStarted())
        QSKIP("unshare(1) cannot be run: no private mount namespace for a small disk");
    QVERIFY(unshare.waitForFinished(170000));
    const QString output = QString::fromLocal8Bit(unshare.readAll());
    qInfo().noquote() << output;
    if (output.contains(QStringLiteral("unshare: ")))
        QSKIP(qPrintable(QStringLiteral("no private mount namespace: ") + output.trimmed()));
    if (output.contains(QStringLiteral("SKIP   : TestDiskSpace::")))
        QSKIP("the case skipped itself inside the namespace (see above)");
    QVERIFY2(unshare.exitStatus() == QProcess::NormalExit && unshare.exitCode() == 0, "the case failed inside");
}

bool TestDiskSpace::mountDisk(int sizeMb, QString *why)
{
    const QByteArray options = "size=" + QByteArray::number(sizeMb) + 'm';
    if (QDir().mkpath(m_disk)
        && ::mount("tmpfs", QFile::encodeName(m_disk).constData(), "tmpfs", 0, options.constData()) == 0)
        return true;
    *why = QStringLiteral("cannot mount a tmpfs at %1: %2").arg(m_disk, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

void TestDiskSpace::prepare(const QString &settings)
{
    app::setProgramFolder(m_dir->path());
    QVERIFY(QFile::link(QStringLiteral(VT_PROGRAM_DIR "/Plugins"), m_dir->filePath(QStringLiteral("Plugins"))));
    QVERIFY(QDir().mkpath(m_disk + QStringLiteral("/rec")));
    archive::ArchiveList records;
    for (int i = 0; i < kOldRecordings; ++i) {
        const QDateTime start = QDateTime::currentDateTime().addDays(-10 + i);
        m_old << m_disk + QStringLiteral("/rec/old%1.wav").arg(i);
        QVERIFY(writeBytes(m_old.back(), kOldBytes));
        records.push_back(archive::makeArchiveRecord(core::toDayCount(start), 10, m_old.back()));
    }
    QVERIFY(QDir().mkpath(m_dir->filePath(QStringLiteral("Log"))));
    QFile index(archive::archiveIndexPath(m_dir->path()));
    QVERIFY(index.open(QIODevice::WriteOnly) && index.write(archive::writeArchiveIndex(records)) > 0);
    index.close();
    QFile ini(m_dir->filePath(QStringLiteral("vantrel.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[Options]\nSaveFolder=%1/rec\n%2\n[Device]\nSampleRate=48000\n"
                             "[Encoder]\nName=WAV\nCmd=vtwav ::s\nExt=wav\n")
                  .arg(m_disk, settings)
                  .toUtf8());
}

// The event-log lines of one word.
QStringList TestDiskSpace::events(const QString &word) const
{
    QFile log(m_dir->filePath(QStringLiteral("Log/events.log")));
    QStringList lines;
    if (log.open(QIODevice::ReadOnly))
        for (const QByteArray &line : log.readAll().split('\n'))
            if (QString::fromUtf8(line.split('\t').value(1)) == word)
                lines << QString::fromUtf8(line);
    return lines;
}

// 12 MB: 8 MB of old recordings and 1 MB retired in the trash; 2 MB to be kept free. At
// 192 kB/s the trashed file goes after a few seconds, then the oldest recordings one by one.
void TestDiskSpace::oldestRecordingsGoWhileTheRecordingGoesOn()
{
    if (!qEnvironmentVariableIsSet(kInside))
        return runInside();
    QString why;
    if (!mountDisk(12, &why))
        QSKIP(qPrintable(why));
    prepare(QStringLiteral("KeepFreeMB=2\n[Alarm]\nDiskHours=0"));
    if (QTest::currentTestFailed())
        return;
    const QString retired = m_disk + QStringLiteral("/.Trash-0/files/retired.wav");
    QVERIFY(QDir().mkpath(m_disk + QStringLiteral("/.Trash-0/info")) && QDir().mkpath(QFileInfo(retired).path()));
    QVERIFY(writeBytes(retired, 1024 * 1024));
    QVERIFY(writeBytes(archive::trashInfoPath(retired), 100));
    QString error;
    QVERIFY(archive::writeTrashList(archive::trashListPath(archive::archiveIndexPath(m_dir->path())), {retired}, &error));

    app::Recorder recorder;
    recorder.start();
    QTRY_VERIFY(!recorder.archive().isLoading());
    recorder.record();
    QVERIFY(recorder.isRecording());
    QElapsedTimer recording;
    recording.start();
    // The records go once the worker reports back, just after the files.
    QTRY_COMPARE_WITH_TIMEOUT(recorder.archive().records().size(), size_t(kOldRecordings - 2), 60000);
    qInfo() << "two oldest gone after" << recording.elapsed() << "ms";
    QVERIFY(!QFileInfo::exists(retired) && !QFileInfo::exists(m_old[0]));
    QVERIFY(QFileInfo::exists(m_old[2]) && QFileInfo::exists(m_old[3]));
    QVERIFY(recorder.isRecording());
    QCOMPARE(recorder.status().kind, app::StatusKind::Recording);
    const QStringList removed = events(QStringLiteral("removed"));
    QCOMPARE(removed.size(), 3);
    QVERIFY2(removed[0].contains(retired) && removed[0].contains(QStringLiteral("trash"))
                 && removed[0].contains(QStringLiteral("freed 1.0 MB")),
             qPrintable(removed[0]));
    QVERIFY2(removed[2].contains(m_old[1]) && removed[2].contains(QStringLiteral("free space below 2 MB")),
             qPrintable(removed[2]));
    recorder.close({});
    QVERIFY(events(QStringLiteral("failed")).isEmpty() && events(QStringLiteral("encoder-restarted")).isEmpty());
}

// 10 MB: 8 MB of recordings that MinStoreDays keeps; the disk fills in about ten seconds,
// the warning comes first and the status ends red "disk full", with nothing removed, not
// even by Delete.
void TestDiskSpace::minimumKeepsThemAllAndTheDiskFillsLoudly()
{
    if (!qEnvironmentVariableIsSet(kInside))
        return runInside();
    QString why;
    if (!mountDisk(10, &why))
        QSKIP(qPrintable(why));
    prepare(QStringLiteral("KeepFreeMB=2\nMinStoreDays=30"));
    if (QTest::currentTestFailed())
        return;
    app::Recorder recorder;
    QSignalSpy notices(&recorder, &app::Recorder::failureRaised);
    recorder.listenForNotices();
    recorder.start();
    QTRY_VERIFY(!recorder.archive().isLoading());
    recorder.record();
    QVERIFY(recorder.isRecording());
    QTRY_VERIFY_WITH_TIMEOUT(recorder.status().text.contains(QStringLiteral("disk full")), 60000);
    qInfo().noquote() << "status when full:" << recorder.status().text;
    QCOMPARE(recorder.status().kind, app::StatusKind::Failed);
    // The encoder cannot write on; once it is given up the failure says why in plain words.
    QTRY_VERIFY_WITH_TIMEOUT(!recorder.isRecording(), 30000);
    qInfo().noquote() << "status at the end:" << recorder.status().text;
    QCOMPARE(recorder.status().kind, app::StatusKind::Failed);
    QVERIFY2(recorder.status().text.contains(QStringLiteral("No space left on device"))
                 && recorder.status().text.endsWith(QStringLiteral("disk full")),
             qPrintable(recorder.status().text));
    for (const QString &file : m_old)
        QVERIFY2(QFileInfo(file).size() == kOldBytes, qPrintable(file));
    QVERIFY(events(QStringLiteral("removed")).isEmpty());
    QCOMPARE(events(QStringLiteral("disk-low")).size(), 1);
    QCOMPARE(events(QStringLiteral("disk-full")).size(), 1);
    bool saidKept = false;
    for (const QList<QVariant> &notice : notices)
        saidKept = saidKept || notice[1].toString().contains(QStringLiteral("younger than the minimum of 30 days"));
    QVERIFY(saidKept);
    // Delete in the archive list keeps it too, and says why.
    const size_t records = recorder.archive().records().size();
    recorder.deleteRecord(0);
    QCOMPARE(recorder.archive().records().size(), records);
    QVERIFY2(notices.last()[1].toString().endsWith(QStringLiteral("is not deleted: younger than the minimum of 30 days.")),
             qPrintable(notices.last()[1].toString()));
    recorder.close({});
}

QTEST_GUILESS_MAIN(TestDiskSpace)
#include "test_disk_space.moc"
