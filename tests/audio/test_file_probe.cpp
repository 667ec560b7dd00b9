// The header-only probe on files made by the real encoders, on files still being written,
// and on files that are not audio at all.

#include "audio/FileProbe.h"
#include "audio/WavHeader.h"

#include <QtTest>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace audio;

namespace {

constexpr double kSeconds = 7.0;

bool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), qint64(bytes.size()));
}

}  // namespace

class FileProbeTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir dir_;
    QString wav_;
    QString path(const char *name) const { return dir_.filePath(QLatin1String(name)); }

private slots:
    void initTestCase()
    {
        for (const char *tool : {"sox", "lame", "oggenc", "opusenc"}) {
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
        }
        wav_ = path("sine.wav");
        QVERIFY(run(QStringLiteral("sox"), {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                                            QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"),
                                            QStringLiteral("16"), wav_, QStringLiteral("synth"),
                                            QString::number(kSeconds), QStringLiteral("sine"), QStringLiteral("440")}));
    }

    void readsDurationAndSizeOfEachFormat_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("tolerance");
        const QString in = QStringLiteral("IN");
        const QString out = QStringLiteral("OUT");
        QTest::newRow("wav") << QString() << QStringList() << QStringLiteral("sine.wav") << 0.01;
        QTest::newRow("mp3") << QStringLiteral("lame") << QStringList{QStringLiteral("--quiet"), in, out}
                             << QStringLiteral("sine.mp3") << 0.1;
        QTest::newRow("mp3 without info frame")
            << QStringLiteral("lame") << QStringList{QStringLiteral("--quiet"), QStringLiteral("-t"), in, out}
            << QStringLiteral("plain.mp3") << 0.1;
        QTest::newRow("ogg") << QStringLiteral("oggenc")
                             << QStringList{QStringLiteral("-Q"), QStringLiteral("-o"), out, in}
                             << QStringLiteral("sine.ogg") << 0.1;
        QTest::newRow("opus") << QStringLiteral("opusenc")
                              << QStringList{QStringLiteral("--quiet"), in, out}
                              << QStringLiteral("sine.opus") << 0.15;
    }
    void readsDurationAndSizeOfEachFormat()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, args);
        QFETCH(QString, name);
        QFETCH(double, tolerance);
        const QString file = dir_.filePath(name);
        if (!program.isEmpty()) {
            args.replaceInStrings(QStringLiteral("IN"), wav_);
            args.replaceInStrings(QStringLiteral("OUT"), file);
            QVERIFY(run(program, args));
        }
        const FileProbe probe = probeFile(file);
        QVERIFY(probe.ok);
        QCOMPARE(probe.fileBytes, QFileInfo(file).size());
        QVERIFY2(qAbs(probe.durationSeconds - kSeconds) <= tolerance,
                 qPrintable(QString::number(probe.durationSeconds)));
    }

    // A file being written: an MP3 without its Info frame yet, cut mid-stream, and a WAV
    // stream whose header says "length unknown".
    void estimatesFilesStillBeingWritten()
    {
        const QString plain = path("plain.mp3");
        if (!QFile::exists(plain))
            QVERIFY(run(QStringLiteral("lame"), {QStringLiteral("--quiet"), QStringLiteral("-t"), wav_, plain}));
        QFile whole(plain);
        QVERIFY(whole.open(QIODevice::ReadOnly));
        const QByteArray bytes = whole.readAll();
        const QString cut = path("cut.mp3");
        writeFile(cut, bytes.left(bytes.size() / 2));
        const FileProbe full = probeFile(plain);
        const FileProbe half = probeFile(cut);
        QVERIFY(half.ok);
        QCOMPARE(half.fileBytes, qint64(bytes.size() / 2));
        QVERIFY2(qAbs(half.durationSeconds - full.durationSeconds / 2) < 0.1,
                 qPrintable(QString::number(half.durationSeconds)));

        const auto header = wav::streamingWavHeader(48000);
        const QByteArray samples(3 * 192000 + 1000, '\0');  // 3 s and a partial block
        const QString growing = path("growing.wav");
        writeFile(growing, QByteArray(header.data(), int(header.size())) + samples);
        const FileProbe wav = probeFile(growing);
        QVERIFY(wav.ok);
        QVERIFY2(qAbs(wav.durationSeconds - (3 + 1000.0 / 192000)) < 0.001,
                 qPrintable(QString::number(wav.durationSeconds)));

        writeFile(growing, QByteArray(header.data(), int(header.size())));
        const FileProbe empty = probeFile(growing);
        QVERIFY(empty.ok);
        QCOMPARE(empty.durationSeconds, 0.0);
    }

    // A fragmented m4a (as the AAC preset writes it) gives its duration only to a walk
    // through all its fragments, one per second of audio: the probe stops reading instead
    // of costing more each second, and reports no duration.
    void fragmentedM4aPastItsHeadersHasNoDuration()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
            QSKIP("ffmpeg is not installed");
        const QString m4a = path("long.m4a");
        QVERIFY(run(QStringLiteral("ffmpeg"),
                    {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                     "sine=frequency=440:sample_rate=48000:duration=150", "-ac", "2", "-c:a", "aac",
                     "-b:a", "128k", "-movflags", "+frag_keyframe+empty_moov", "-frag_duration",
                     "1000000", "-y", m4a}));
        const FileProbe probe = probeFile(m4a);
        QVERIFY(probe.ok);
        QCOMPARE(probe.fileBytes, QFileInfo(m4a).size());
        QCOMPARE(probe.durationSeconds, 0.0);
    }

    void rejectsWhatIsNotAudio()
    {
        writeFile(path("notes.txt"), QByteArray("Just some words, not a sound.\n").repeated(200));
        QVERIFY(!probeFile(path("notes.txt")).ok);
        QVERIFY(!probeFile(path("missing.mp3")).ok);
        QVERIFY(!probeFile(dir_.path()).ok);
        QVERIFY(!probeFile(QString()).ok);
        writeFile(path("empty.mp3"), QByteArray());
        QVERIFY(!probeFile(path("empty.mp3")).ok);
    }

    // A colon must not make the name a protocol ("concat:", "http:"…).
    void takesEveryNameAsALocalFile()
    {
        QVERIFY(QFile::copy(wav_, path("file:with:colons.wav")));
        QVERIFY(probeFile(path("file:with:colons.wav")).ok);
        QDir::setCurrent(dir_.path());
        QVERIFY(QFile::copy(wav_, path("concat:sine.wav")));
        const FileProbe relative = probeFile(QStringLiteral("concat:sine.wav"));
        QVERIFY(relative.ok);
        QVERIFY(qAbs(relative.durationSeconds - kSeconds) < 0.01);
    }
};

QTEST_GUILESS_MAIN(FileProbeTest)
#include "test_file_probe.moc"
