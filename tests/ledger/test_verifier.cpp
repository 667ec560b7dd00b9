// The check of recorded files on real FLAC from the flac encoder: intact, cut short, changed
// after its checksum was stored; the --verify command over a ledger of them; the queue.

#include "audio/WavHeader.h"
#include "core/ProgramFiles.h"
#include "ledger/FileVerifier.h"
#include "ledger/Ledger.h"
#include "ledger/LedgerCommands.h"
#include "ledger/VerificationQueue.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

using namespace ledger;

namespace {

constexpr int kRate = 44100;
constexpr qint64 kFrames = 3 * kRate + 77;

// Three seconds of a tone through `flac` as the FLAC preset runs it.
bool encodeFlac(const QString &path)
{
    const QString flac = QStandardPaths::findExecutable(QStringLiteral("flac"));
    QProcess encoder;
    encoder.setStandardErrorFile(QProcess::nullDevice());
    encoder.start(flac, {QStringLiteral("--silent"), QStringLiteral("--ignore-chunk-sizes"),
                         QStringLiteral("-f"), QStringLiteral("-o"), path, QStringLiteral("-")});
    if (flac.isEmpty() || !encoder.waitForStarted())
        return false;
    const auto header = wav::streamingWavHeader(kRate);
    encoder.write(header.data(), qint64(header.size()));
    std::vector<qint16> samples(2 * kFrames);
    for (qint64 i = 0; i < kFrames; ++i)
        samples[2 * i] = samples[2 * i + 1] = qint16(8000 * std::sin(2 * M_PI * 440 * double(i) / kRate));
    encoder.write(reinterpret_cast<const char *>(samples.data()), qint64(samples.size() * 2));
    encoder.closeWriteChannel();
    return encoder.waitForFinished() && encoder.exitCode() == 0;
}

FileEntry entry(const QString &path, qint64 startMs = 0)
{
    FileEntry file;
    file.path = path;
    file.startMs = startMs;
    file.endMs = startMs + kFrames * 1000 / kRate;
    file.frames = kFrames;
    file.sampleRate = kRate;
    return file;
}

QString sha256Of(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file)
               ? QString::fromLatin1(hash.result().toHex()) : QString();
}

bool copyCut(const QString &from, const QString &to, qint64 bytes)
{
    QFile::remove(to);
    return QFile::copy(from, to) && QFile::resize(to, bytes);
}

// What a FILE* the command wrote to holds.
struct Captured {
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file{std::tmpfile(), &std::fclose};
    QString text()
    {
        std::fflush(file.get());
        std::rewind(file.get());
        QByteArray bytes;
        char buffer[4096];
        while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, file.get()))
            bytes.append(buffer, qsizetype(n));
        return QString::fromLocal8Bit(bytes);
    }
};

}  // namespace

class TestVerifier : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        m_intact = m_folder.filePath(QStringLiteral("intact.flac"));
        m_cut = m_folder.filePath(QStringLiteral("cut.flac"));
        if (QStandardPaths::findExecutable(QStringLiteral("flac")).isEmpty())
            QSKIP("the flac encoder is not installed");
        QVERIFY(encodeFlac(m_intact));
        QVERIFY(copyCut(m_intact, m_cut, QFileInfo(m_intact).size() / 2));
    }

    void intactFileHolds_cutOrMissingOneIsDamaged()
    {
        const VerifyResult intact = verifyFile(entry(m_intact));
        QVERIFY2(intact.holds(), qPrintable(intact.reason));
        QCOMPARE(intact.decodedFrames, kFrames);
        QCOMPARE(intact.sha256, sha256Of(m_intact));

        const VerifyResult cut = verifyFile(entry(m_cut));
        QCOMPARE(cut.verdict, VerifyResult::Verdict::Damaged);
        QVERIFY2(cut.reason.startsWith(QStringLiteral("decodes to 00:00:01.")), qPrintable(cut.reason));
        QVERIFY(cut.reason.endsWith(QStringLiteral(" of 00:00:03.0 recorded")));

        const VerifyResult missing = verifyFile(entry(m_folder.filePath(QStringLiteral("gone.flac"))));
        QCOMPARE(missing.verdict, VerifyResult::Verdict::Missing);
        QCOMPARE(missing.verification(), Verification::Damaged);
    }

    void fileChangedSinceItsChecksumIsDamaged()
    {
        const QString changed = m_folder.filePath(QStringLiteral("changed.flac"));
        QVERIFY(copyCut(m_intact, changed, QFileInfo(m_intact).size()));
        FileEntry file = entry(changed);
        file.sha256 = sha256Of(m_intact);
        QVERIFY(verifyFile(file).holds());

        QFile bytes(changed);
        QVERIFY(bytes.open(QIODevice::ReadWrite));
        QVERIFY(bytes.seek(bytes.size() - 1));  // the last frame's checksum, which decoding ignores
        char last = 0;
        QVERIFY(bytes.getChar(&last) && bytes.seek(bytes.size() - 1) && bytes.putChar(char(last ^ 0x5a)));
        bytes.close();
        const VerifyResult result = verifyFile(file);
        QCOMPARE(result.verdict, VerifyResult::Verdict::Damaged);
        QCOMPARE(result.reason, QStringLiteral("changed since it was recorded (checksum differs)"));
    }

    void commandListsDamagedFilesAndFailsOnThem()
    {
        const qint64 t0 = QDateTime(QDate(2026, 6, 10), QTime(10, 0)).toMSecsSinceEpoch();
        constexpr qint64 kHour = 3600 * 1000;
        {
            Ledger ledger(QDir(m_folder.path()).filePath(core::files::ledger()));
            ledger.addFile(entry(m_intact, t0));
            ledger.addFile(entry(m_cut, t0 + kHour));
            FileEntry open = entry(m_folder.filePath(QStringLiteral("open.flac")), t0 + 2 * kHour);
            open.endMs = 0;
            ledger.addFile(open);
            QVERIFY(ledger.flush());
        }
        Captured out, err;
        QCOMPARE(runVerify(m_folder.path(), {}, out.file.get(), err.file.get()), 1);
        QCOMPARE(out.text(), m_cut + QStringLiteral(": ") + verifyFile(entry(m_cut)).reason + QLatin1Char('\n'));
        QCOMPARE(err.text(), QStringLiteral("vantrel: 2 files checked, 1 damaged, 0 missing, "
                                            "1 still being written (not checked)\n"));

        const QStringList firstHour{localIsoText(t0), localIsoText(t0 + kHour - 1)};
        Captured quiet, summary;
        QCOMPARE(runVerify(m_folder.path(), firstHour, quiet.file.get(), summary.file.get()), 0);
        QCOMPARE(quiet.text(), QString());

        Captured none, refused;
        QVERIFY(runVerify(m_folder.path(), {firstHour[1], firstHour[0]}, none.file.get(), refused.file.get()) != 0);
        QVERIFY(refused.text().startsWith(QStringLiteral("vantrel: ")));
        QCOMPARE(refused.text().count(QLatin1Char('\n')), 1);
    }

    void queueHandsResultsToTheContextsThread()
    {
        QObject context;
        std::vector<VerifyResult> results;
        QThread *deliveredOn = nullptr;
        {
            VerificationQueue queue(&context, [&](const VerifyResult &result) {
                results.push_back(result);
                deliveredOn = QThread::currentThread();
            });
            queue.enqueue(entry(m_intact));
            queue.enqueue(entry(m_cut));
            QTRY_COMPARE_WITH_TIMEOUT(results.size(), std::size_t(2), 10000);
            // Left in the queue at its end: dropped, and the end does not wait for them.
            for (int i = 0; i < 20; ++i)
                queue.enqueue(entry(m_intact));
        }
        QCOMPARE(deliveredOn, QThread::currentThread());
        QVERIFY(results[0].holds());
        QCOMPARE(results[1].verification(), Verification::Damaged);
    }

private:
    QTemporaryDir m_folder;
    QString m_intact;
    QString m_cut;
};

QTEST_GUILESS_MAIN(TestVerifier)
#include "test_verifier.moc"
