#include "audio/WavHeader.h"
#include "support/FrameCheck.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

const QString kWriter = QStringLiteral(VT_PROGRAM_DIR "/Plugins/vtwav");

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray le16(quint16 v)
{
    QByteArray b(2, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

// The header an encoder feed sends: PCM 16-bit stereo, sizes unknown.
QByteArray streamHeader(int rate, const QByteArray &extraChunk = {})
{
    return "RIFF" + le32(0xFFFFFFFFu) + "WAVE" + extraChunk + "fmt " + le32(16) + le16(1)
           + le16(2) + le32(rate) + le32(rate * 4) + le16(4) + le16(16) + "data"
           + le32(0xFFFFFFFFu);
}

QByteArray samples(int bytes)
{
    QByteArray b(bytes, '\0');
    for (int i = 0; i < bytes; ++i) b[i] = char(i * 7 + i / 251);
    return b;
}

quint32 sizeAt(const QByteArray &file, int offset) { return qFromLittleEndian<quint32>(file.constData() + offset); }

// Runs the writer on input, with `environment` added to its own; returns its exit code.
int runWriter(const QString &output, const QByteArray &input,
              const QStringList &environment = {}, QByteArray *errors = nullptr)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString &entry : environment)
        env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    p.setProcessEnvironment(env);
    p.start(kWriter, {output});
    if (!p.waitForStarted()) return -1;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(10000)) return -2;
    if (errors) *errors = p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -3;
}

// Frames of the test server's counting signal, numbered from first.
QByteArray countedFrames(quint32 first, int frames)
{
    QByteArray b(frames * 4, '\0');
    for (int i = 0; i < frames; ++i) {
        qToLittleEndian<quint16>(quint16(first + i), b.data() + 4 * i);
        qToLittleEndian<quint16>(quint16((first + i) >> 16), b.data() + 4 * i + 2);
    }
    return b;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class TestWavWriter : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void writesTheStreamWithCorrectSizes()
    {
        const QString out = dir.filePath("a.wav");
        const QByteArray pcm = samples(48000 * 4 * 2 + 12);
        QCOMPARE(runWriter(out, streamHeader(48000) + pcm), 0);
        const QByteArray file = readAll(out);
        QCOMPARE(file.size(), 44 + pcm.size());
        QCOMPARE(file.left(4), QByteArray("RIFF"));
        QCOMPARE(sizeAt(file, 4), quint32(36 + pcm.size()));
        QCOMPARE(file.mid(36, 4), QByteArray("data"));
        QCOMPARE(sizeAt(file, 40), quint32(pcm.size()));
        QCOMPARE(sizeAt(file, 24), quint32(48000));
        QVERIFY(file.mid(44) == pcm);
    }

    void dropsOtherChunksAndPadsOddData()
    {
        const QString out = dir.filePath("b.wav");
        const QByteArray list = "LIST" + le32(5) + "INFOx" + QByteArray(1, '\0');
        const QByteArray pcm = samples(1001);
        QCOMPARE(runWriter(out, streamHeader(44100, list) + pcm), 0);
        const QByteArray file = readAll(out);
        QCOMPARE(file.size(), 44 + 1001 + 1);
        QCOMPARE(file.mid(12, 4), QByteArray("fmt "));
        QCOMPARE(sizeAt(file, 4), quint32(36 + 1001 + 1));
        QCOMPARE(sizeAt(file, 40), quint32(1001));
        QVERIFY(file.mid(44, 1001) == pcm);
    }

    void writesAnEmptyButValidFileForNoSamples()
    {
        const QString out = dir.filePath("c.wav");
        QCOMPARE(runWriter(out, streamHeader(8000)), 0);
        const QByteArray file = readAll(out);
        QCOMPARE(file.size(), 44);
        QCOMPARE(sizeAt(file, 4), quint32(36));
        QCOMPARE(sizeAt(file, 40), quint32(0));
    }

    void refusesWhatIsNotPcmWav()
    {
        QCOMPARE(runWriter(dir.filePath("d.wav"), "not a wav stream at all"), 2);
        QByteArray floatHeader = streamHeader(48000);
        floatHeader[20] = 3;  // IEEE float
        QCOMPARE(runWriter(dir.filePath("e.wav"), floatHeader + samples(64)), 2);
        QCOMPARE(runWriter(dir.filePath("no/such/folder/f.wav"), streamHeader(48000)), 1);
    }

    void keepsTheHeaderCurrentWhileTheFileGrows()
    {
        const QString out = dir.filePath("g.wav");
        QProcess p;
        p.start(kWriter, {out});
        QVERIFY(p.waitForStarted());
        p.write(streamHeader(48000) + samples(4000));
        QVERIFY(p.waitForBytesWritten(5000));

        // Sizes follow the data written so far, refreshed about once a second.
        QElapsedTimer clock;
        clock.start();
        quint32 dataSize = 0;
        int written = 4000;
        while (clock.elapsed() < 5000 && dataSize < 40000) {
            p.write(samples(4000));
            written += 4000;
            QVERIFY(p.waitForBytesWritten(5000));
            QTest::qWait(100);
            const QByteArray file = readAll(out);
            if (file.size() >= 44) dataSize = sizeAt(file, 40);
            QVERIFY(dataSize <= quint32(written));
        }
        QVERIFY2(dataSize >= 40000, "the header did not follow the growing file");
        const QByteArray file = readAll(out);
        QCOMPARE(sizeAt(file, 4), dataSize + 36);

        p.closeWriteChannel();
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(sizeAt(readAll(out), 40), quint32(written));
    }

    // The file's start from the environment goes into a bext chunk between fmt and data; the
    // sizes count it. A malformed value is said and the file written as without the chunk.
    void writesTheBroadcastChunkFromTheEnvironment()
    {
        const QString out = dir.filePath("bext.wav");
        const QByteArray pcm = samples(192000 * 4 / 2);
        const QStringList start{"VANTREL_FILE_START=2026-12-09T10:00:00.000+01:00",
                                "VANTREL_TIME_REFERENCE=6912000000"};  // 10:00 at 192 kHz
        QCOMPARE(runWriter(out, streamHeader(192000) + pcm, start), 0);
        const QByteArray file = readAll(out);
        const int data = 36 + 8 + 602;
        QCOMPARE(file.size(), data + 8 + pcm.size());
        QCOMPARE(file.mid(36, 4), QByteArray("bext"));
        QCOMPARE(sizeAt(file, 40), 602u);
        const QByteArray bext = file.mid(44, 602);
        QCOMPARE(bext.left(256), QByteArray(256, '\0'));
        QCOMPARE(bext.mid(256, 32), QByteArray("Vantrel") + QByteArray(25, '\0'));
        QCOMPARE(bext.mid(320, 18), QByteArray("2026-12-0910:00:00"));
        QCOMPARE(sizeAt(bext, 338) | quint64(sizeAt(bext, 342)) << 32, 6912000000ull);
        QCOMPARE(bext.mid(346, 2), le16(1));
        QCOMPARE(bext.mid(348), QByteArray(602 - 348, '\0'));
        QCOMPARE(file.mid(data, 4), QByteArray("data"));
        QCOMPARE(sizeAt(file, data + 4), quint32(pcm.size()));
        QCOMPARE(sizeAt(file, 4), quint32(file.size() - 8));
        QVERIFY(file.mid(data + 8) == pcm);

        QProcess probe;
        probe.start("ffprobe", {"-v", "error", "-show_format", out});
        QVERIFY(probe.waitForFinished(30000) && probe.exitCode() == 0);
        const QByteArray format = probe.readAllStandardOutput();
        // ffprobe names originator, origination date and time by its generic tags.
        for (const char *line : {"duration=0.500000", "TAG:encoded_by=Vantrel", "TAG:date=2026-12-09",
                                 "TAG:creation_time=10:00:00", "TAG:time_reference=6912000000"})
            QVERIFY2(format.contains(line), format.constData());

        QByteArray errors;
        QCOMPARE(runWriter(out, streamHeader(192000) + pcm,
                           {"VANTREL_FILE_START=2026-12-09 10:00", start[1]}, &errors), 0);
        QCOMPARE(errors, QByteArray("vtwav: VANTREL_FILE_START is malformed (\"2026-12-09 10:00\"); "
                                    "writing no bext chunk\n"));
        QCOMPARE(readAll(out).size(), 44 + pcm.size());
        QCOMPARE(readAll(out).mid(36, 4), QByteArray("data"));
    }

    void clampsSizesPastFourGibibytes()
    {
        const wav::Layout layout{44, 40};
        QCOMPARE(wav::dataSize(0xFFFFFFFFull), 0xFFFFFFFFu);
        QCOMPARE(wav::dataSize(5ull << 30), 0xFFFFFFFFu);
        QCOMPARE(wav::riffSize(layout, 0xFFFFFFFFull - 37), 0xFFFFFFFFu - 1);
        QCOMPARE(wav::riffSize(layout, 0xFFFFFFFFull - 38), 0xFFFFFFFFu - 1);  // odd: pad byte
        QCOMPARE(wav::riffSize(layout, 0xFFFFFFFFull - 36), 0xFFFFFFFFu);
        QCOMPARE(wav::riffSize(layout, 5ull << 30), 0xFFFFFFFFu);
    }

    // The recording tests judge split recordings by their frame numbers: the checker must
    // read this writer's files and a header nobody rewrote (unknown sizes, an odd chunk
    // before fmt), tell a repeat at a join from a gap or a repeat elsewhere, and skip the start
    // zeros a capture may begin with, but no zeros after them.
    void countedFramesAreCheckedAcrossFiles()
    {
        using namespace testsupport;
        const quint32 first = 0xFFF0;  // the high word changes within the first file
        const QString a = dir.filePath("count-a.wav"), b = dir.filePath("count-b.wav"),
                      c = dir.filePath("count-c.wav"), gap = dir.filePath("count-gap.wav"),
                      inner = dir.filePath("count-inner.wav");
        QCOMPARE(runWriter(a, streamHeader(48000) + countedFrames(first, 100)), 0);
        QFile unsized(b);  // repeats the last 3 frames of a
        QVERIFY(unsized.open(QIODevice::WriteOnly));
        unsized.write(streamHeader(48000, "LIST" + le32(3) + "abc" + QByteArray(1, '\0')) +
                      countedFrames(first + 97, 50));
        unsized.close();
        QCOMPARE(runWriter(c, streamHeader(48000) + countedFrames(first + 147, 10)), 0);
        QCOMPARE(runWriter(gap, streamHeader(48000) + countedFrames(first + 158, 10)), 0);
        QCOMPARE(runWriter(inner, streamHeader(48000) + countedFrames(first + 157, 5) +
                                      countedFrames(first + 160, 5)), 0);

        FrameCheckResult r = checkCountedFrames({a});
        QVERIFY2(r.ok, qPrintable(r.message));
        QCOMPARE(r.totalFrames, 100);
        QCOMPARE(r.firstNumber, first);
        QCOMPARE(r.lastNumber, first + 99);

        r = checkCountedFrames({a, b, c}, FrameDelivery::AtLeastOnce, 3);
        QVERIFY2(r.ok, qPrintable(r.message));
        QCOMPARE(r.totalFrames, 160);
        QCOMPARE(r.lastNumber, first + 156);

        r = checkCountedFrames({a, b}, FrameDelivery::ExactlyOnce);
        QVERIFY(!r.ok);
        QVERIFY2(r.message.startsWith("repeat of 3 frames in count-b.wav at frame 0 (byte 56)"),
                 qPrintable(r.message));
        QVERIFY(!checkCountedFrames({a, b}, FrameDelivery::AtLeastOnce, 2).ok);
        r = checkCountedFrames({a, b, c, gap}, FrameDelivery::AtLeastOnce, 3);
        QVERIFY2(r.message.startsWith("gap of 1 frames in count-gap.wav"), qPrintable(r.message));
        r = checkCountedFrames({a, b, c, inner}, FrameDelivery::AtLeastOnce, 10);
        QVERIFY2(r.message.startsWith("repeat of 2 frames in count-inner.wav at frame 5"), qPrintable(r.message));
        QVERIFY(!checkCountedFrames({dir.filePath("count-none.wav")}).ok);

        const QString zeroLed = dir.filePath("count-zeros.wav");
        QCOMPARE(runWriter(zeroLed, streamHeader(48000) + QByteArray(512 * 4, '\0') + countedFrames(first, 100)), 0);
        r = checkCountedFrames({zeroLed});
        QVERIFY2(r.ok && r.totalFrames == 100 && r.firstNumber == first, qPrintable(r.message));
        QVERIFY(!checkCountedFrames({a, zeroLed}, FrameDelivery::AtLeastOnce, 3).ok);
        // A start block left over from earlier is not the signal either; a break past it is.
        const QString staleLed = dir.filePath("count-stale.wav");
        QCOMPARE(runWriter(staleLed, streamHeader(48000) + countedFrames(first - 9000, 1000) + countedFrames(first, 2000)), 0);
        r = checkCountedFrames({staleLed});
        QVERIFY2(r.ok && r.totalFrames == 2000 && r.firstNumber == first, qPrintable(r.message));
        const QString lateBreak = dir.filePath("count-late.wav");
        QCOMPARE(runWriter(lateBreak, streamHeader(48000) + countedFrames(first, 1100) + countedFrames(first + 1200, 10)), 0);
        QVERIFY(!checkCountedFrames({lateBreak}).ok);
    }
};

QTEST_GUILESS_MAIN(TestWavWriter)
#include "test_wav_writer.moc"
