// Span export through the command line's entry point, on four short WAV files in a ledger:
// one overlapping the next, then a gap, then two that join where the first's frames end,
// between two milliseconds. Each frame carries the number of its moment (left: the low 16
// bits of the frames since the first file's start) and its file (right: 1 to 4), so every
// output frame shows which moment it holds and where it came from.
#include "core/ProgramFiles.h"
#include "ledger/Ledger.h"
#include "ledger/LedgerCommands.h"
#include "ledger/SpanExport.h"
#include "support/VerbRun.h"

#include "audio/FileDecoder.h"
#include "audio/WavHeader.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <ctime>

using namespace ledger;

namespace {

constexpr int kRate = 48000;
constexpr qint64 kPerMs = kRate / 1000;
const QDateTime kFirstStart(QDate(2026, 6, 10), QTime(10, 0, 0));

struct TestFile {
    const char *name;
    qint64 startMs;       // after kFirstStart, as the ledger holds it
    qint64 firstNumber;   // the frames since kFirstStart at its first frame
    qint64 frames;
    quint16 tag;
};
// b overlaps a by half a second; c follows b after a gap of half a second; d continues c,
// which holds 20 frames more than a whole millisecond.
const TestFile kFiles[] = {{"a.wav", 0, 0, 2000 * kPerMs, 1},
                           {"b.wav", 1500, 1500 * kPerMs, 1500 * kPerMs, 2},
                           {"c.wav", 3500, 3500 * kPerMs, 1000 * kPerMs + 20, 3},
                           {"d.wav", 4500, 4500 * kPerMs + 20, 500 * kPerMs, 4}};

QByteArray wavFile(const TestFile &f)
{
    const qint64 frames = f.frames;
    const auto streaming = wav::streamingWavHeader(kRate);
    std::vector<std::uint8_t> header(streaming.begin(), streaming.end());
    const wav::Layout layout = wav::layoutOf(header);
    wav::putLe32(header.data() + 4, wav::riffSize(layout, frames * 4));
    wav::putLe32(header.data() + layout.dataSizeOffset, wav::dataSize(frames * 4));
    QByteArray bytes(reinterpret_cast<const char *>(header.data()), int(header.size()));
    bytes.resize(bytes.size() + int(frames * 4));
    auto *s = reinterpret_cast<quint16 *>(bytes.data() + header.size());
    for (qint64 n = 0; n < frames; ++n) {
        s[2 * n] = quint16((f.firstNumber + n) & 0xFFFF);
        s[2 * n + 1] = f.tag;
    }
    return bytes;
}

QString localText(qint64 msAfterFirst)
{
    return kFirstStart.addMSecs(msAfterFirst).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"));
}

using Run = testsupport::VerbRun;

// The frames of an audio file as the player decodes them.
QByteArray decodeAll(const QString &path)
{
    QString error;
    auto decoder = audio::FileDecoder::open(path, &error);
    if (!decoder)
        return {};
    decoder->start();
    QByteArray all;
    char block[65536];
    const QDeadlineTimer deadline(10000);
    while (!decoder->finished() && !deadline.hasExpired()) {
        const std::size_t n = decoder->take(block, sizeof block);
        if (n == 0)
            QThread::msleep(2);
        all.append(block, qsizetype(n));
    }
    return all;
}

}  // namespace

class TestSpanExport : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString m_folder;  // the program folder, with its trailing '/'

    Run exportSpan(const QStringList &args)
    {
        return testsupport::runVerb([&](std::FILE *out, std::FILE *err) { return runExport(m_folder, args, out, err); });
    }

    QByteArray archiveDigest()
    {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        for (const QString &name : {QStringLiteral("rec/a.wav"), QStringLiteral("rec/b.wav"),
                                    QStringLiteral("rec/c.wav"), QStringLiteral("rec/d.wav"), core::files::ledger()}) {
            QFile f(m_home.filePath(name));
            if (f.open(QIODevice::ReadOnly))
                hash.addData(f.readAll());
        }
        return hash.result();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        m_folder = m_home.path() + QLatin1Char('/');
        QVERIFY(QDir(m_folder).mkpath(QStringLiteral("rec")));
        Ledger ledger(m_folder + core::files::ledger());
        for (const TestFile &f : kFiles) {
            const QString path = m_home.filePath(QStringLiteral("rec/") + QLatin1String(f.name));
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.write(wavFile(f)) > 0);
            FileEntry entry;
            entry.path = path;
            entry.startMs = kFirstStart.toMSecsSinceEpoch() + f.startMs;
            entry.frames = f.frames;
            entry.sampleRate = kRate;
            entry.endMs = entry.startMs + f.frames / kPerMs;
            ledger.addFile(entry);
        }
        QVERIFY(ledger.flush());
    }

    // From 0.25 s into a to 4.8 s, 0.3 s into d: a's frames up to b's start, b's to its end,
    // silence for the gap, said once, then c's and d's, each frame once. The same span
    // through flac decodes to the same frames. The archive and the ledger stay as they were.
    void everyFrameOnceInOrderAndTheGapSaid()
    {
        const QByteArray before = archiveDigest();
        const QString wavOut = m_home.filePath(QStringLiteral("span.wav"));
        const Run run = exportSpan({localText(250), localText(4800), wavOut});
        QVERIFY2(run.status == 0, qPrintable(run.err));
        const QStringList gaps = run.err.split(QLatin1Char('\n')).filter(QStringLiteral("gap: "));
        QCOMPARE(gaps.size(), 1);
        QVERIFY2(gaps[0].contains(QStringLiteral("10:00:03.000")) && gaps[0].contains(QStringLiteral("10:00:03.500"))
                     && gaps[0].contains(QStringLiteral("(0.500 s)")),
                 qPrintable(gaps[0]));

        QFile file(wavOut);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const qint64 frames = (4800 - 250) * kPerMs;
        QCOMPARE(qint64(bytes.size()), 44 + frames * 4);
        QCOMPARE(wav::getLe32(reinterpret_cast<const uint8_t *>(bytes.constData()) + 40), quint32(frames * 4));
        const auto *s = reinterpret_cast<const quint16 *>(bytes.constData() + 44);
        for (qint64 k = 0; k < frames; ++k) {
            const qint64 moment = 250 * kPerMs + k;
            const quint16 tag = moment < kFiles[1].firstNumber   ? 1
                                : moment < 3000 * kPerMs         ? 2
                                : moment < kFiles[2].firstNumber ? 0
                                : moment < kFiles[3].firstNumber ? 3
                                                                 : 4;
            const quint16 number = tag == 0 ? 0 : quint16(moment & 0xFFFF);
            if (s[2 * k] != number || s[2 * k + 1] != tag)
                QFAIL(qPrintable(QStringLiteral("output frame %1 holds #%2 of file %3, not #%4 of file %5")
                                     .arg(k).arg(s[2 * k]).arg(s[2 * k + 1]).arg(number).arg(tag)));
        }

        const QString flacOut = m_home.filePath(QStringLiteral("span.flac"));
        const Run flac = exportSpan({localText(250), localText(4800), flacOut});
        QVERIFY2(flac.status == 0, qPrintable(flac.err));
        QVERIFY(decodeAll(flacOut) == bytes.mid(44));
        QCOMPARE(archiveDigest(), before);
    }

    // Each refusal is one line "vantrel: <cause>", a non-zero status, and no file at all.
    void badInputIsRefusedInOneLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("cause");
        const QString out = QStringLiteral("out/span.wav");
        QTest::newRow("reversed") << QStringList{localText(2000), localText(1000), out} << QStringLiteral("not before");
        QTest::newRow("nothing recorded") << QStringList{localText(-9000), localText(-5000), out}
                                          << QStringLiteral("no recording");
        QTest::newRow("unknown extension") << QStringList{localText(0), localText(1000), QStringLiteral("out/span.xyz")}
                                           << QStringLiteral("no encoder writes .xyz");
        QTest::newRow("unwritable") << QStringList{localText(0), localText(1000), QStringLiteral("none/span.wav")}
                                    << QStringLiteral("cannot write");
        QTest::newRow("a recording") << QStringList{localText(0), localText(1000), QStringLiteral("rec/a.wav")}
                                     << QStringLiteral("is a recording");
        QTest::newRow("skipped by the clocks") << QStringList{QStringLiteral("2026-03-29T02:30:00"), localText(0), out}
                                               << QStringLiteral("does not exist");
    }
    void badInputIsRefusedInOneLine()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, cause);
        QDir(m_folder).mkpath(QStringLiteral("out"));
        args.last() = m_home.filePath(args.last());
        const Run run = exportSpan(args);
        QVERIFY(run.status != 0);
        QVERIFY2(run.err.startsWith(QStringLiteral("vantrel: ")) && run.err.count(QLatin1Char('\n')) == 1
                     && run.err.contains(cause),
                 qPrintable(run.err));
        for (const QString &folder : {QStringLiteral("out"), QStringLiteral("rec")})
            QVERIFY(QDir(m_home.filePath(folder)).entryList({QStringLiteral("*span*"), QStringLiteral(".*")},
                                                            QDir::Files | QDir::Hidden).isEmpty());
    }

    // Files of two rates in one span are refused rather than joined at the wrong speed.
    void differingRatesAreRefused()
    {
        const ExportPlan plan = planExport({{QStringLiteral("a"), 0, 48000, 48000}, {QStringLiteral("b"), 1000, 44100, 44100}},
                                           0, 2000);
        QVERIFY2(plan.error.contains(QStringLiteral("differ in sample rate")), qPrintable(plan.error));
    }
};

int main(int argc, char **argv)
{
    // The times are local; one change of the clocks is among the refusals.
    qputenv("TZ", "Europe/Berlin");
    tzset();
    QCoreApplication app(argc, argv);
    TestSpanExport test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_span_export.moc"
