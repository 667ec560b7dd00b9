// The playback engine against the test sound server: files made by the real encoders play to
// their end on the output sink, whose monitor parec records; seeks land on the asked sample;
// the state table; destroying the engine silences it at once.

#include "audio/AudioBackend.h"
#include "audio/FileDecoder.h"
#include "playback/AudioEngine.h"
#include "support/ParecRecording.h"
#include "support/ProgramThreads.h"

#include <QtTest>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <memory>

using playback::AudioEngine;
using State = playback::AudioEngine::State;

namespace {

constexpr int kRate = 48000;
constexpr int kDefaultDevice = 1;

bool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, args);
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A stereo 48 kHz WAV of `seconds` of the given sox synth (a sine, or a sweep that tells
// every moment apart), then `encode` (the encoder command, `IN` and `OUT` replaced).
QString makeFile(const QTemporaryDir &dir, const QString &name, double seconds,
                 const QString &tone, const QStringList &encode = {})
{
    const QString wav = dir.filePath(name + QStringLiteral(".wav"));
    if (!run(QStringLiteral("sox"), {QStringLiteral("-n"), QStringLiteral("-r"), QString::number(kRate),
                                     QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"),
                                     QStringLiteral("16"), wav, QStringLiteral("synth"),
                                     QString::number(seconds), QStringLiteral("sine"), tone,
                                     QStringLiteral("vol"), QStringLiteral("0.5")}))
        return {};
    if (encode.isEmpty())
        return wav;
    const QString out = dir.filePath(name + QStringLiteral(".") + encode.first());
    QStringList args = encode.mid(2);
    for (QString &arg : args)
        arg.replace(QStringLiteral("IN"), wav).replace(QStringLiteral("OUT"), out);
    return run(encode.at(1), args) ? out : QString();
}

// FFmpeg's own decode of a file: 16-bit stereo at 48 kHz.
QByteArray decodeWithFfmpeg(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                                       QStringLiteral("-f"), QStringLiteral("s16le"), QStringLiteral("-ac"),
                                       QStringLiteral("2"), QStringLiteral("-ar"), QString::number(kRate),
                                       QStringLiteral("-")});
    p.waitForFinished(60000);
    return p.readAllStandardOutput();
}

const qint16 *samples(const QByteArray &pcm)
{
    return reinterpret_cast<const qint16 *>(pcm.constData());
}

qint64 firstSoundFrame(const QByteArray &pcm, qint64 from = 0)
{
    const qint16 *s = samples(pcm);
    for (qint64 n = from; n < pcm.size() / 4; ++n) {
        if (s[2 * n] != 0 || s[2 * n + 1] != 0)
            return n;
    }
    return -1;
}

qint64 lastSoundFrame(const QByteArray &pcm)
{
    const qint16 *s = samples(pcm);
    for (qint64 n = pcm.size() / 4 - 1; n >= 0; --n) {
        if (s[2 * n] != 0 || s[2 * n + 1] != 0)
            return n;
    }
    return -1;
}

// The frame of `reference` where `snippet` fits best, searched within [from, to).
qint64 bestMatch(const QByteArray &reference, const QByteArray &snippet, qint64 from, qint64 to)
{
    const qint16 *r = samples(reference);
    const qint16 *s = samples(snippet);
    const qint64 length = snippet.size() / 4;
    to = std::min(to, reference.size() / 4 - length);
    qint64 best = -1;
    double bestError = 0;
    for (qint64 at = std::max<qint64>(0, from); at < to; ++at) {
        double error = 0;
        for (qint64 i = 0; i < length * 2 && (best < 0 || error < bestError); i += 2) {
            const double e = double(r[2 * at + i]) - s[i];
            error += e * e;
        }
        if (best < 0 || error < bestError) {
            best = at;
            bestError = error;
        }
    }
    return best;
}

int sinkInputs()
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("short"),
                                          QStringLiteral("sink-inputs")});
    pactl.waitForFinished(5000);
    return int(pactl.readAllStandardOutput().count('\n'));
}

// The six formats the shipped presets write, with the playback device each plays on.
void addFormatRows()
{
    QTest::addColumn<QStringList>("encode");
    QTest::addColumn<int>("device");
    // The sinks are vtsrc (2) and vtout (3); 99 has gone away and falls back to the default.
    QTest::newRow("wav on vtout by number") << QStringList{} << 3;
    QTest::newRow("mp3") << QStringList{QStringLiteral("mp3"), QStringLiteral("lame"), QStringLiteral("--quiet"),
                                        QStringLiteral("IN"), QStringLiteral("OUT")} << kDefaultDevice;
    QTest::newRow("ogg on a device gone away")
        << QStringList{QStringLiteral("ogg"), QStringLiteral("oggenc"), QStringLiteral("-Q"), QStringLiteral("-o"),
                       QStringLiteral("OUT"), QStringLiteral("IN")} << 99;
    // -1, "no selection", as a settings dialog once stored for an unplugged device.
    QTest::newRow("opus with no device chosen")
        << QStringList{QStringLiteral("opus"), QStringLiteral("opusenc"), QStringLiteral("--quiet"),
                       QStringLiteral("IN"), QStringLiteral("OUT")} << -1;
    QTest::newRow("flac") << QStringList{QStringLiteral("flac"), QStringLiteral("flac"), QStringLiteral("-s"),
                                         QStringLiteral("-o"), QStringLiteral("OUT"), QStringLiteral("IN")}
                          << kDefaultDevice;
    QTest::newRow("m4a") << QStringList{QStringLiteral("m4a"), QStringLiteral("ffmpeg"), QStringLiteral("-v"),
                                        QStringLiteral("error"), QStringLiteral("-i"), QStringLiteral("IN"),
                                        QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("OUT")}
                         << kDefaultDevice;
}

}  // namespace

class AudioEngineTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("PULSE_SERVER is not set: start scripts/sound-server.sh first");
        QVERIFY(m_backend.init(kDefaultDevice, 0));
    }

    void playsToTheEnd_data() { addFormatRows(); }
    void decoderLandsOnTheAskedFrame_data() { addFormatRows(); }

    // The file as the decoder gives it from its start is FFmpeg's own decode, and a seek
    // gives the same samples from exactly the asked frame on.
    void decoderLandsOnTheAskedFrame()
    {
        QFETCH(QStringList, encode);
        QTemporaryDir dir;
        const QString file = makeFile(dir, QStringLiteral("sweep"), 3.0, QStringLiteral("200-8000"), encode);
        QVERIFY(!file.isEmpty());
        const QByteArray decoded = decodeWithFfmpeg(file);
        std::unique_ptr<audio::FileDecoder> decoder = audio::FileDecoder::open(file, nullptr);
        QVERIFY(decoder);
        decoder->start();
        auto takeAll = [&decoder] {
            QByteArray pcm;
            char block[16384];
            QElapsedTimer waited;
            waited.start();
            while (!decoder->finished() && waited.elapsed() < 10000) {
                const std::size_t got = decoder->take(block, sizeof block);
                pcm.append(block, qsizetype(got));
                if (got == 0)
                    QTest::qWait(1);
            }
            return pcm;
        };
        QVERIFY(takeAll() == decoded);
        const qint64 target = 59257;
        decoder->seek(target * 4);
        const QByteArray fromTarget = takeAll();
        QCOMPARE(fromTarget.size(), decoded.size() - target * 4);
        const qint64 landed = bestMatch(decoded, fromTarget.left(2400 * 4), target - kRate / 10,
                                        target + kRate / 10);
        QCOMPARE(landed, target);
    }

    // The whole file is heard, as FFmpeg decodes it, and the engine then reports Ended.
    void playsToTheEnd()
    {
        QFETCH(QStringList, encode);
        QFETCH(int, device);
        QTemporaryDir dir;
        const QString file = makeFile(dir, QStringLiteral("tone"), 2.0, QStringLiteral("440"), encode);
        QVERIFY(!file.isEmpty());
        const QByteArray decoded = decodeWithFfmpeg(file);
        const qint64 soundFrames = lastSoundFrame(decoded) - firstSoundFrame(decoded) + 1;

        AudioEngine engine(m_backend);
        engine.setDevice(device);
        QSignalSpy ended(&engine, &AudioEngine::ended);
        testsupport::ParecRecording monitor;  // what the engine played
        QVERIFY(monitor.start(QStringLiteral("vtout.monitor")));
        engine.play(file);
        QCOMPARE(engine.state(), State::Playing);
        QCOMPARE(engine.lastError(), AudioEngine::Error::None);
        QVERIFY2(std::abs(engine.lengthMs() - 2000) <= 50, qPrintable(QString::number(engine.lengthMs())));
        QTRY_COMPARE_WITH_TIMEOUT(engine.state(), State::Ended, 4000);
        QCOMPARE(ended.count(), 1);
        QCOMPARE(engine.positionMs(), 0);
        QTest::qWait(100);
        const QByteArray heard = monitor.stop();

        const qint64 first = firstSoundFrame(heard);
        QVERIFY2(first >= 0, "nothing was heard");
        const qint64 heardFrames = lastSoundFrame(heard) - first + 1;
        QVERIFY2(std::abs(heardFrames - soundFrames) <= kRate / 20,
                 qPrintable(QStringLiteral("heard %1 frames of %2").arg(heardFrames).arg(soundFrames)));
        // Sample for sample what FFmpeg decodes, where the sink passes it bit for bit. The
        // monitor of a sink that wakes up misses its first block (paplay's sound too): the
        // comparison starts where the heard sound is found in the decode.
        if (encode.isEmpty() || encode.first() == QLatin1String("flac")) {
            const QByteArray start = heard.mid(first * 4, 480 * 4);
            const qint64 at = bestMatch(decoded, start, 0, kRate / 10);
            const qint64 frames = std::min(heard.size() / 4 - first, decoded.size() / 4 - at);
            QVERIFY2(heard.mid(first * 4, frames * 4) == decoded.mid(at * 4, frames * 4),
                     qPrintable(QStringLiteral("heard from frame %1 on differs").arg(at)));
            QVERIFY2(lastSoundFrame(heard) - first == lastSoundFrame(decoded) - at, "the end differs");
        }
    }

    // A 10-minute MP3 paused at the start, moved to 50 %, resumed: the first sample heard is
    // the one asked for (a lossy file: within 0.1 s); while playing, the position follows a
    // seek at once.
    void seeksToTheAskedSample()
    {
        QTemporaryDir dir;
        const QString mp3 = makeFile(dir, QStringLiteral("sweep"), 600, QStringLiteral("200-8000"),
                                     {QStringLiteral("mp3"), QStringLiteral("lame"), QStringLiteral("--quiet"),
                                      QStringLiteral("IN"), QStringLiteral("OUT")});
        QVERIFY(!mp3.isEmpty());
        const QByteArray decoded = decodeWithFfmpeg(mp3);

        AudioEngine engine(m_backend);
        engine.play(mp3, true);
        QCOMPARE(engine.state(), State::Paused);
        const qint32 target = engine.lengthMs() / 2;
        engine.setPositionMs(target);
        QCOMPARE(engine.state(), State::Paused);
        testsupport::ParecRecording monitor;  // what the engine played
        QVERIFY(monitor.start(QStringLiteral("vtout.monitor")));
        engine.resume();
        QTest::qWait(600);
        const qint32 position = engine.positionMs();
        QVERIFY2(position > target + 300 && position < target + 700, qPrintable(QString::number(position)));
        const QByteArray heard = monitor.stop();

        const qint64 first = firstSoundFrame(heard);
        QVERIFY(first >= 0);
        const qint64 expected = qint64(target) * kRate / 1000;
        const qint64 landed = bestMatch(decoded, heard.mid(first * 4, 2000 * 4), expected - kRate / 2,
                                        expected + kRate / 2);
        qInfo("resumed %lld frames from the target", landed - expected);
        QVERIFY2(std::abs(landed - expected) <= kRate / 10,
                 qPrintable(QStringLiteral("landed %1 frames from the target").arg(landed - expected)));

        engine.setPositionMs(1000);
        QCOMPARE(engine.state(), State::Playing);
        QVERIFY(engine.positionMs() <= 1000 + 50);
        QTRY_VERIFY(engine.positionMs() > 1100);
    }

    // Past 2^31 bytes of a 16-bit stereo WAV the seek still lands on the very frame: a
    // counting signal (left: low 16 bits of the frame number, right: high 16 bits) around
    // the target, silence elsewhere (a sparse file).
    void seeksBeyondTwoGigabytes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("long.wav"));
        const qint64 frames = qint64(kRate) * 3600 * 4;  // 4 hours: 2.76 GB
        const qint64 target = (qint64(1) << 31) / 4 + 12345;
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            auto le32 = [](quint32 v) { return QByteArray(reinterpret_cast<const char *>(&v), 4); };
            QByteArray header = "RIFF" + le32(quint32(36 + frames * 4)) + "WAVEfmt " + le32(16) +
                                QByteArray("\x01\x00\x02\x00", 4) + le32(kRate) + le32(kRate * 4) +
                                QByteArray("\x04\x00\x10\x00", 4) + "data" + le32(quint32(frames * 4));
            QVERIFY(file.write(header) == 44);
            QVERIFY(file.resize(44 + frames * 4));
            QVERIFY(file.seek(44 + (target - kRate) * 4));
            QByteArray counting(kRate * 2 * 4, '\0');
            auto *s = reinterpret_cast<quint16 *>(counting.data());
            for (qint64 n = 0; n < kRate * 2; ++n) {
                s[2 * n] = quint16((target - kRate + n) & 0xFFFF);
                s[2 * n + 1] = quint16((target - kRate + n) >> 16);
            }
            QVERIFY(file.write(counting) == counting.size());
        }
        AudioEngine engine(m_backend);
        engine.play(path, true);
        QCOMPARE(engine.lengthBytes(), frames * 4);
        engine.setPositionBytes(target * 4);
        testsupport::ParecRecording monitor;  // what the engine played
        QVERIFY(monitor.start(QStringLiteral("vtout.monitor")));
        engine.resume();
        QTest::qWait(400);
        engine.stop();
        const QByteArray heard = monitor.stop();
        const qint64 first = firstSoundFrame(heard);
        QVERIFY2(first >= 0, "nothing was heard");
        auto frameNumber = [](const qint16 *frame) {
            return qint64(quint16(frame[0])) | (qint64(quint16(frame[1])) << 16);
        };
        const qint64 frameHeard = frameNumber(samples(heard) + 2 * first);
        QVERIFY2(frameHeard >= target && frameHeard <= target + 1024,
                 qPrintable(QStringLiteral("heard from %1 frames after the target").arg(frameHeard - target)));
        for (qint64 n = first; n < first + kRate / 10; ++n)
            QCOMPARE(frameNumber(samples(heard) + 2 * n), frameHeard + n - first);

        // The decoder itself lands on the very frame.
        std::unique_ptr<audio::FileDecoder> decoder = audio::FileDecoder::open(path, nullptr);
        QVERIFY(decoder);
        decoder->start();
        decoder->seek(target * 4);
        char frame[4];
        QElapsedTimer waited;
        waited.start();
        while (decoder->take(frame, 4) == 0 && waited.elapsed() < 5000)
            QTest::qWait(5);
        QCOMPARE(frameNumber(reinterpret_cast<const qint16 *>(frame)), target);
    }

    // The state table, on "No sound", which advances in real time without a sound server.
    void followsTheStateTable()
    {
        QTemporaryDir dir;
        const QString wav = makeFile(dir, QStringLiteral("short"), 0.6, QStringLiteral("440"));
        AudioEngine engine(m_backend);
        engine.setDevice(0);

        engine.pause();
        QCOMPARE(engine.state(), State::Stopped);
        engine.resume();
        QCOMPARE(engine.state(), State::Stopped);

        engine.play(dir.filePath(QStringLiteral("missing.mp3")));
        QCOMPARE(engine.state(), State::Stopped);
        QCOMPARE(engine.lastError(), AudioEngine::Error::FileUnreadable);
        engine.play(QStringLiteral("/any/LINE.IN"));
        QCOMPARE(engine.state(), State::Stopped);
        QCOMPARE(engine.lastError(), AudioEngine::Error::LineInUnavailable);

        // A readable file with no server to play on is said; an unreadable one was not.
        {
            const QByteArray server = qgetenv("PULSE_SERVER");
            qputenv("PULSE_SERVER", "unix:/nonexistent/vantrel-test.sock");
            audio::AudioBackend unreachable;
            (void)unreachable.init(1, 0);
            AudioEngine lost(unreachable);
            lost.setDevice(1);
            QSignalSpy failed(&lost, &AudioEngine::playFailed);
            lost.play(dir.filePath(QStringLiteral("missing.mp3")));
            lost.play(wav);
            qputenv("PULSE_SERVER", server);
            QCOMPARE(lost.state(), State::Stopped);
            QCOMPARE(lost.lastError(), AudioEngine::Error::NoSoundServer);
            QCOMPARE(failed.count(), 1);
        }

        engine.play(wav);
        QCOMPARE(engine.state(), State::Playing);
        QCOMPARE(engine.lengthMs(), 600);
        QTest::qWait(200);
        engine.pause();
        QCOMPARE(engine.state(), State::Paused);
        const qint32 paused = engine.positionMs();
        QVERIFY2(paused >= 150 && paused <= 300, qPrintable(QString::number(paused)));
        QTest::qWait(200);
        QCOMPARE(engine.positionMs(), paused);
        engine.resume();
        QCOMPARE(engine.state(), State::Playing);
        QTRY_COMPARE_WITH_TIMEOUT(engine.state(), State::Ended, 2000);
        QCOMPARE(engine.positionMs(), 0);

        engine.pause();  // Ended keeps the stream: pausing it is allowed
        QCOMPARE(engine.state(), State::Paused);
        engine.play(wav);  // play again from the end
        QCOMPARE(engine.state(), State::Playing);
        QTRY_VERIFY(engine.positionMs() > 100);
        engine.stop();
        QCOMPARE(engine.state(), State::Stopped);
        QCOMPARE(engine.positionMs(), 0);
    }

    // Destroying the engine while it plays silences the sink at once and frees the stream.
    void destroyingStopsTheSoundAtOnce()
    {
        QTemporaryDir dir;
        const QString wav = makeFile(dir, QStringLiteral("long"), 10, QStringLiteral("440"));
        const int streamsBefore = sinkInputs();
        testsupport::ParecRecording monitor;  // what the engine played
        QVERIFY(monitor.start(QStringLiteral("vtout.monitor")));
        QElapsedTimer clock;
        clock.start();
        auto engine = std::make_unique<AudioEngine>(m_backend);
        engine->play(wav);
        QTest::qWait(1000);
        engine.reset();
        const qint64 playedMs = clock.elapsed();
        QTest::qWait(500);
        const QByteArray heard = monitor.stop();
        const qint64 heardMs = (lastSoundFrame(heard) - firstSoundFrame(heard) + 1) * 1000 / kRate;
        qInfo("heard %lld ms of %lld ms between play() and the destructor", heardMs, playedMs);
        QVERIFY2(heardMs <= playedMs && heardMs > 700,
                 qPrintable(QStringLiteral("heard %1 ms of %2 ms").arg(heardMs).arg(playedMs)));
        // The server removes a stream once its mainloop has sent the disconnect, which
        // pactl, on a connection of its own, may ask about first.
        QTRY_COMPARE_WITH_TIMEOUT(sinkInputs(), streamsBefore, 3000);

        // Opened and closed many times, it leaves no stream, thread or descriptor behind.
        auto entries = [](const char *folder) {
            return QDir(QLatin1String(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size();
        };
        const qsizetype descriptors = entries("/proc/self/fd");
        const QStringList threads = testsupport::programThreads();
        for (int i = 0; i < 50; ++i) {
            AudioEngine cycled(m_backend);
            cycled.play(wav);
            QCOMPARE(cycled.state(), State::Playing);
            QTest::qWait(10);
        }
        QCOMPARE(entries("/proc/self/fd"), descriptors);
        QCOMPARE(testsupport::programThreads(), threads);
        QTRY_COMPARE_WITH_TIMEOUT(sinkInputs(), streamsBefore, 3000);
    }

private:
    audio::AudioBackend m_backend;
};

QTEST_GUILESS_MAIN(AudioEngineTest)
#include "test_audio_engine.moc"
