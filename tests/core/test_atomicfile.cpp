#include "core/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using core::writeFileAtomically;

class TestAtomicFile : public QObject {
    Q_OBJECT
private slots:
    void init();
    void replacesFileLeavingNoTemporaries();
    void createsMissingFoldersOnlyWhenAsked();
    void failsWhenTargetIsFolder();
    void failsWhenParentIsFile();
    void refusesReadOnlyFile();
    void keepsPermissionsAndSymlink();

private:
    static QByteArray contents(const QString &path);
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestAtomicFile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QByteArray TestAtomicFile::contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void TestAtomicFile::replacesFileLeavingNoTemporaries()
{
    const QString path = m_dir->filePath("a.ini");
    QString error = "stale";
    QVERIFY(writeFileAtomically(path, "first", &error));
    QVERIFY(error.isEmpty());
    QVERIFY(writeFileAtomically(path, "second\n"));
    QCOMPARE(contents(path), QByteArray("second\n"));
    QVERIFY(writeFileAtomically(path, QByteArray()));
    QCOMPARE(contents(path), QByteArray());
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"a.ini"});
}

void TestAtomicFile::createsMissingFoldersOnlyWhenAsked()
{
    const QString path = m_dir->filePath("Log/deep/index.ini");
    QString error;
    QVERIFY(!writeFileAtomically(path, "x", &error));
    QVERIFY(error.contains("index.ini"));
    QVERIFY(!QDir(m_dir->filePath("Log")).exists());
    QVERIFY2(writeFileAtomically(path, "x", &error, true), qPrintable(error));
    QCOMPARE(contents(path), QByteArray("x"));
}

void TestAtomicFile::failsWhenTargetIsFolder()
{
    const QString path = m_dir->filePath("taken");
    QVERIFY(QDir().mkdir(path));
    QVERIFY(QFile::copy(QFINDTESTDATA("test_atomicfile.cpp"), path + "/inner"));
    QString error;
    QVERIFY(!writeFileAtomically(path, "x", &error, true));
    QVERIFY(!error.isEmpty());
    QVERIFY(QFileInfo(path + "/inner").isFile());
}

void TestAtomicFile::failsWhenParentIsFile()
{
    // Fails for root too, unlike permission bits.
    const QString blocker = m_dir->filePath("notAFolder");
    QVERIFY(writeFileAtomically(blocker, "old"));
    QString error;
    QVERIFY(!writeFileAtomically(blocker + "/x.ini", "new", &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!writeFileAtomically(blocker + "/sub/x.ini", "new", &error, true));
    QVERIFY(!error.isEmpty());
    QCOMPARE(contents(blocker), QByteArray("old"));
}

void TestAtomicFile::refusesReadOnlyFile()
{
    if (geteuid() == 0) QSKIP("root may write any file; permission bits do not protect it");
    const QString path = m_dir->filePath("ro.ini");
    QVERIFY(writeFileAtomically(path, "old"));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
    QString error;
    QVERIFY(!writeFileAtomically(path, "new", &error));
    QVERIFY(error.contains("read-only"));
    QCOMPARE(contents(path), QByteArray("old"));

    const QString folder = m_dir->filePath("ro");
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(writeFileAtomically(folder + "/x", "old"));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    QVERIFY(!writeFileAtomically(folder + "/x", "new", &error));
    QCOMPARE(contents(folder + "/x"), QByteArray("old"));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void TestAtomicFile::keepsPermissionsAndSymlink()
{
    const QString target = m_dir->filePath("real.ini");
    const QString link = m_dir->filePath("link.ini");
    QVERIFY(writeFileAtomically(target, "old"));
    const auto perms = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    QVERIFY(QFile::setPermissions(target, perms));
    QVERIFY(QFile::link(target, link));
    QVERIFY(writeFileAtomically(link, "new"));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(contents(target), QByteArray("new"));
    QCOMPARE(QFile::permissions(target) & 0x7077, perms & 0x7077);  // owner, group, other
}

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "test_atomicfile.moc"
