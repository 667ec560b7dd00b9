// Against the test sound server: device lists, capture of its real-time 440 Hz sine into a
// copying encoder, its counting signal, levels, and many start/stop cycles without leaks.

#include "audio/AudioBackend.h"
#include "audio/EncoderFeed.h"
#include "SineReference.h"
#include "support/FrameCheck.h"
#include "support/ParecRecording.h"
#include "support/ProgramThreads.h"

#include <QtTest>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <thread>

using namespace audio;

namespace {

int entriesIn(const char *folder)
{
    return int(QDir(QLatin1String(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                     QDir::System).size());
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Feeds each block to an encoder feed and keeps the level seen while capturing.
struct Recorder {
    std::unique_ptr<EncoderFeed> feed;
    std::atomic<std::uint64_t> bytes{0};
    AudioBackend::BlockCallback callback()
    {
        return [this](const char *data, std::size_t n) {
            if (EncoderFeed *f = feed.get())
                f->push(data, n);
            bytes.fetch_add(n);
        };
    }
};

QString pactl(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("pactl"), args);
    p.waitForFinished(5000);
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

}  // namespace

class AudioServerTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("PULSE_SERVER is not set: start scripts/sound-server.sh first");
    }

    void listsDevicesOfTheServer()
    {
        AudioBackend backend;
        QVERIFY(backend.init(1, 0));
        const QStringList playback = backend.playbackDevices();
        QVERIFY2(playback.size() >= 4, qPrintable(playback.join(QLatin1Char('|'))));
        QCOMPARE(playback.at(0), QStringLiteral("No sound"));
        QCOMPARE(playback.at(1), QStringLiteral("Default"));
        QVERIFY(playback.contains(QStringLiteral("vtout")));
        QVERIFY(playback.contains(QStringLiteral("vtsrc")));

        const QStringList recording = backend.recordingDevices();
        QCOMPARE(recording.at(0), QStringLiteral("Default"));
        QVERIFY(recording.contains(QStringLiteral("Monitor of vtsrc")));
        // Null sinks have no ports, so their monitors offer no inputs.
        QVERIFY(backend.recordingInputs().isEmpty());
        QVERIFY(!backend.selectInput(0));
        QVERIFY(!backend.selectInput(-1));
    }

    // -1 ("no selection") and 0 record the default source; a device or a rate the server
    // does not offer is a failure that says so, never a quiet recording of something else.
    void capturesOnlyWhatWasChosen()
    {
        for (int device : {-1, 0}) {
            AudioBackend backend;
            QVERIFY(backend.init(device, device));
            Recorder recorder;
            std::unique_ptr<CaptureStream> capture =
                backend.startCapture(48000, recorder.callback());
            QVERIFY(capture);
            QTRY_VERIFY_WITH_TIMEOUT(recorder.bytes.load() > 0, 3000);
        }
        AudioBackend backend;
        QVERIFY(backend.init(1, 99));
        QVERIFY(backend.recordingInputs().isEmpty());
        QVERIFY(!backend.selectInput(0));
        QString error;
        QVERIFY(!backend.startCapture(48000, {}, &error));
        QCOMPARE(error, QStringLiteral("recording device 99 not found"));

        QVERIFY(backend.init(1, 0));
        for (int rate : {1, 999, 384001}) {
            error.clear();
            QVERIFY(!backend.startCapture(rate, {}, &error));
            QVERIFY2(error.contains(QStringLiteral("sample rate %1 Hz").arg(rate)), qPrintable(error));
        }
    }

    void withoutServerOnlyNoSoundAndNoCapture()
    {
        const QByteArray saved = qgetenv("PULSE_SERVER");
        auto restore = qScopeGuard([&saved] { qputenv("PULSE_SERVER", saved); });
        QTemporaryDir dir;
        qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(dir.filePath(QStringLiteral("none.sock"))));
        AudioBackend backend;
        QVERIFY(!backend.init(1, 0));
        QVERIFY(!backend.isConnected());
        QCOMPARE(backend.playbackDevices(), QStringList{QStringLiteral("No sound")});
        QVERIFY(backend.recordingDevices().isEmpty());
        QVERIFY(backend.recordingInputs().isEmpty());
        QString error;
        QVERIFY(!backend.startCapture(48000, {}, &error));
        QVERIFY2(error.startsWith(QStringLiteral("no sound server")), qPrintable(error));
    }

    // A dropped, repeated or shifted block breaks the sine; parec hears the same source.
    void capturesTheSineWithoutGaps()
    {
        AudioBackend backend;
        QVERIFY(backend.init(1, 0));
        QElapsedTimer timeline;
        timeline.start();
        sine::Reference reference;
        QVERIFY(reference.start({}, &timeline));
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("capture.wav"));
        Recorder recorder;
        recorder.feed = EncoderFeed::start(
            {QStringLiteral("/bin/dd"), QStringLiteral("of=") + out, QStringLiteral("status=none")}, 48000);
        QVERIFY(recorder.feed);
        QString error;
        std::unique_ptr<CaptureStream> capture = backend.startCapture(48000, recorder.callback(), &error);
        QVERIFY2(capture, qPrintable(error));
        QCOMPARE(capture->sampleRate(), 48000);
        const qint64 firstFrameMs = timeline.elapsed();

        // Polled as the meter polls: every poll of the steady −6 dBFS sine reads −6 dB,
        // however the server happened to cut the audio into reads.
        QElapsedTimer clock;
        clock.start();
        int polls = 0;
        QStringList offLevels;
        while (clock.elapsed() < 5000) {
            sleepMs(50);
            if (clock.elapsed() < 1000)
                continue;
            ++polls;
            const std::uint32_t level = capture->level();
            const double left = 20 * std::log10(std::max(1u, level & 0xFFFF) / 16384.0);
            const double right = 20 * std::log10(std::max(1u, level >> 16) / 16384.0);
            if (level == kNoLevel || std::abs(left) > 1 || std::abs(right) > 1)
                offLevels << QStringLiteral("%1/%2").arg(level & 0xFFFF).arg(level >> 16);
        }
        QVERIFY(capture->isRunning());
        capture->stop();
        const QByteArray heard = reference.stop();
        QCOMPARE(capture->overflows(), 0ull);
        QVERIFY(!capture->isRunning());
        QCOMPARE(capture->level(), kNoLevel);
        const std::uint64_t counted = recorder.bytes.load();
        sleepMs(100);
        QCOMPARE(recorder.bytes.load(), counted);  // no block after stop()
        QVERIFY(recorder.feed->isAlive());
        recorder.feed->stop();
        QVERIFY(EncoderFeed::waitForAll(5000));
        QCOMPARE(recorder.feed->droppedBytes(), 0ull);

        // A feed that fell behind plays real silence, which the reference hears as a break.
        qInfo("%lld of %d level polls more than 1 dB off -6 dB", qint64(offLevels.size()), polls);
        QVERIFY2(offLevels.isEmpty() || !sine::breaks(heard).isEmpty(),
                 qPrintable(QStringLiteral("levels of %1 polls: %2").arg(polls).arg(offLevels.join(u' '))));

        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(bytes.left(4), QByteArray("RIFF"));
        QCOMPARE(bytes.mid(24, 4), QByteArray("\x80\xbb\0\0", 4));  // 48000
        QCOMPARE(quint64(bytes.size() - 44), counted);
        const qint64 frames = (bytes.size() - 44) / 4;
        QVERIFY2(frames > 48000 * 4.6 && frames < 48000 * 5.4, qPrintable(QString::number(frames)));

        QVERIFY2(heard.size() > 48000 * 4, "the reference recorded nothing");
        const QString unheard =
            sine::unheardBreaks(bytes.mid(44), firstFrameMs, heard, reference.firstFrameMs());
        QVERIFY2(unheard.isEmpty(), qPrintable(QStringLiteral("breaks of %1 frames that the "
                                                              "reference did not hear: %2")
                                                   .arg(frames).arg(unheard)));
    }

    // The test server's counting signal arrives bit for bit, so recording tests can tell
    // exactly which frames they lost or repeated.
    void countingSignalArrivesFrameByFrame()
    {
        if (!testsupport::TestSignal::isAvailable())
            QSKIP("VT_SOUND_DIR is not set: start scripts/sound-server.sh first");
        testsupport::TestSignal signal;
        QString error;
        QVERIFY2(signal.set(QStringLiteral("count"), &error), qPrintable(error));
        sleepMs(500);
        testsupport::ParecRecording parec;
        QVERIFY(parec.start());
        sleepMs(2000);
        const testsupport::FrameCheckResult check = testsupport::checkCountedFrames(parec.stop());
        QVERIFY2(check.ok && check.totalFrames > 48000 * 3 / 2, qPrintable(check.message));
    }

    // The capture thread held up longer than the server buffers for it: the server drops
    // audio without a notice, and the capture must count that rather than hide it.
    void heldUpCaptureCountsTheLostAudio()
    {
        AudioBackend backend;
        QVERIFY(backend.init(1, 0));
        std::atomic<std::uint64_t> bytes{0};
        std::atomic<bool> holdUp{false};
        std::unique_ptr<CaptureStream> capture =
            backend.startCapture(48000, [&](const char *, std::size_t n) {
                bytes.fetch_add(n);
                if (holdUp.exchange(false))
                    sleepMs(5500);
            });
        QVERIFY(capture);
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(bytes.load() > 0, 3000);
        sleepMs(500);
        QCOMPARE(capture->overflows(), 0ull);
        holdUp = true;
        sleepMs(7000);
        capture->stop();
        const double lostSeconds = clock.elapsed() / 1000.0 - bytes.load() / (4.0 * 48000);
        qInfo("held up 5.5 s: %.2f s never delivered, %llu overflow(s) counted", lostSeconds,
              static_cast<unsigned long long>(capture->overflows()));
        QVERIFY(lostSeconds > 1.0);
        QVERIFY(capture->overflows() >= 1);
    }

    void startAndStopLeaveNothingBehind()
    {
        AudioBackend backend;
        QVERIFY(backend.init(1, 0));
        auto cycle = [&backend] {
            Recorder recorder;
            recorder.feed = EncoderFeed::start(
                {QStringLiteral("/bin/dd"), QStringLiteral("of=/dev/null"), QStringLiteral("status=none")},
                48000);
            std::unique_ptr<CaptureStream> capture = backend.startCapture(48000, recorder.callback());
            if (!recorder.feed || !capture)
                return false;
            QElapsedTimer clock;
            clock.start();
            while (recorder.bytes.load() == 0 && clock.elapsed() < 2000)
                sleepMs(5);
            capture->stop();
            recorder.feed->stop();
            return recorder.bytes.load() > 0;
        };
        QVERIFY(cycle());  // first use may start lasting threads (Qt, the mainloop)
        QVERIFY(EncoderFeed::waitForAll(5000));
        const int fds = entriesIn("/proc/self/fd");
        const QStringList threads = testsupport::programThreads();
        for (int i = 0; i < 40; ++i)
            QVERIFY2(cycle(), qPrintable(QStringLiteral("cycle %1").arg(i)));
        QVERIFY(EncoderFeed::waitForAll(5000));
        QCOMPARE(EncoderFeed::runningCount(), 0);
        QCOMPARE(entriesIn("/proc/self/fd"), fds);
        QCOMPARE(testsupport::programThreads(), threads);
    }

    // The chosen device goes away: the capture must say so instead of looking alive (or
    // quietly recording another device). A sink of its own keeps other clients out of it.
    void captureOfRemovedDeviceStopsRunning()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pactl")).isEmpty())
            QSKIP("pactl is not installed");
        const QString sink = QStringLiteral("vtgone%1").arg(QCoreApplication::applicationPid());
        const QString module = pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                                      QStringLiteral("sink_name=") + sink,
                                      QStringLiteral("sink_properties=device.description=") + sink})
                                   .trimmed();
        QVERIFY(!module.isEmpty());
        auto unload = qScopeGuard([&module] { pactl({QStringLiteral("unload-module"), module}); });

        AudioBackend backend;
        QVERIFY(backend.init(1, 0));
        const int device =
            int(backend.recordingDevices().indexOf(QStringLiteral("Monitor of ") + sink));
        QVERIFY(device >= 1);
        QVERIFY(backend.init(1, device));
        Recorder recorder;
        std::unique_ptr<CaptureStream> capture = backend.startCapture(48000, recorder.callback());
        QVERIFY(capture);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.bytes.load() > 0, 3000);
        QVERIFY(capture->isRunning());

        unload.dismiss();
        QCOMPARE(QProcess::execute(QStringLiteral("pactl"), {QStringLiteral("unload-module"), module}), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!capture->isRunning(), 3000);
        QCOMPARE(capture->level(), kNoLevel);
        capture->stop();
    }

    // Streams still open when the backend is released are stopped, not left dangling.
    void releaseStopsOpenCaptures()
    {
        auto backend = std::make_unique<AudioBackend>();
        QVERIFY(backend->init(1, 0));
        Recorder recorder;
        std::unique_ptr<CaptureStream> capture = backend->startCapture(48000, recorder.callback());
        QVERIFY(capture);
        QTRY_VERIFY_WITH_TIMEOUT(capture->level() != kNoLevel, 3000);
        backend.reset();
        QVERIFY(!capture->isRunning());
        QCOMPARE(capture->level(), kNoLevel);
        const std::uint64_t counted = recorder.bytes.load();
        sleepMs(100);
        QCOMPARE(recorder.bytes.load(), counted);
        capture.reset();  // outlives the backend without harm
        QVERIFY(!backend);
    }
};

QTEST_GUILESS_MAIN(AudioServerTest)
#include "test_audio_server.moc"
