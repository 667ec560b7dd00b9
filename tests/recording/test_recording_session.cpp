// Drives real recordings: the test sound server's 440 Hz sine, captured and encoded by the
// encoders of the build's Plugins folder with the shipped presets.
#include "audio/AudioBackend.h"
#include "core/DayCount.h"
#include "core/TextLimits.h"
#include "recording/Estimate.h"
#include "recording/OutputFileName.h"
#include "recording/RecordedLength.h"
#include "recording/RecordingSession.h"
#include "settings/CodecPreset.h"
#include "support/Ffprobe.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>
#include <unistd.h>

using namespace recording;
using settings::CodecPreset;

namespace {

const QString kProgramFolder = QStringLiteral(VT_PROGRAM_DIR "/");
constexpr int kRate = 48000;

using testsupport::ffprobeDuration;

// Polls as the one-second display timer would, until the session reports a change.
RecordingSession::PollResult pollUntilChanged(RecordingSession &session, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    RecordingSession::PollResult result;
    while (!result.changed && clock.elapsed() < timeoutMs) {
        QTest::qWait(100);
        result = session.poll();
    }
    return result;
}

int countEntries(const char *folder) { return int(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size()); }

// Processes of any state (zombies included) whose parent is this test.
int childProcesses()
{
    int children = 0;
    const QStringList pids = QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs);
    for (const QString &pid : pids) {
        QFile stat("/proc/" + pid + "/stat");
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray text = stat.readAll();
        // "pid (comm) state ppid …": comm may hold blanks, so read after its last ')'.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == ::getpid()) ++children;
    }
    return children;
}

}  // namespace

class TestRecordingSession : public QObject {
    Q_OBJECT

    std::unique_ptr<audio::AudioBackend> backend;
    QTemporaryDir saveDir;
    QList<CodecPreset> presets;

    RecordingConfig config(const QString &presetName, const QString &tmpl = "%y-%m-%d_%t")
    {
        RecordingConfig c;
        c.programFolder = kProgramFolder;
        c.saveFolder = saveDir.path();
        c.saveFilename = tmpl;
        c.sampleRate = kRate;
        for (const CodecPreset &p : presets)
            if (p.name == presetName) c.codec = p;
        return c;
    }

    // Runs the recording for ms, polling as the main window's one-second timer does; fails
    // when it ends by itself. Returns whether the estimate showed a figure at some point.
    bool keepRecording(RecordingSession &session, int ms)
    {
        bool figureShown = false;
        QElapsedTimer clock;
        clock.start();
        qint64 nextPoll = 1000;
        while (clock.elapsed() < ms) {
            QTest::qWait(50);
            if (clock.elapsed() < nextPoll) continue;
            nextPoll += 1000;
            const RecordingSession::PollResult result = session.poll();
            if (result.changed) {
                qWarning("recording ended by itself: %s", qPrintable(failureText(session.failure())));
                return false;
            }
            if (session.remainingText() != unknownRemainingText()) figureShown = true;
        }
        return figureShown;
    }

    // Records ms with a preset; returns the record (or none) after the encoder finished.
    std::optional<FinishedRecording> recordWith(const QString &presetName, int ms,
                                                bool *figureShown = nullptr,
                                                const QString &tmpl = "%y-%m-%d_%t")
    {
        RecordingSession session(*backend);
        const RecordingConfig c = config(presetName, tmpl);
        if (c.codec.command.isEmpty()) {
            qWarning("no preset %s", qPrintable(presetName));
            return std::nullopt;
        }
        if (session.StartRecording(c, 0)) return std::nullopt;
        if (!session.isRecording()) {
            qWarning("%s: %s", qPrintable(presetName), qPrintable(failureText(session.failure())));
            return std::nullopt;
        }
        const bool shown = keepRecording(session, ms);
        if (figureShown) *figureShown = shown;
        std::optional<FinishedRecording> record = session.StopRecording();
        if (session.droppedBytes() > 0)
            qWarning("%s: the encoder fell behind, %llu bytes dropped", qPrintable(presetName),
                     static_cast<unsigned long long>(session.droppedBytes()));
        if (!audio::EncoderFeed::waitForAll(10000)) qWarning("encoders still running");
        return record;
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("PULSE_SERVER is not set: these tests need the test sound server");
        backend = std::make_unique<audio::AudioBackend>();
        QVERIFY2(backend->init(1, 0), "cannot reach the sound server");
        presets = settings::readPresetFile(settings::presetFilePath(kProgramFolder));
        QVERIFY2(presets.size() >= 7, "the build's preset file is missing");
        QVERIFY(saveDir.isValid());
    }

    void mp3RecordingMatchesItsArchivedLength()
    {
        const double before = core::toDayCount(QDateTime::currentDateTime());
        bool figureShown = false;
        const auto record = recordWith("MP3 128 kbit/s", 10300, &figureShown);
        QVERIFY(record);
        QVERIFY2(figureShown, "no remaining time was shown while recording");
        QVERIFY(qAbs(record->lengthSeconds - 10) <= 1);
        QVERIFY(qAbs(record->startTime - before) * core::kSecondsPerDay < 2);
        const double probed = ffprobeDuration(record->path);
        qInfo("archived %d s, file %.3f s", record->lengthSeconds, probed);
        QVERIFY(qAbs(probed - record->lengthSeconds) < 1.0);  // the length is truncated
        QVERIFY(qAbs(probed - 10.3) < 0.5);
    }

    void everyShippedPresetWritesACompleteFile_data()
    {
        QTest::addColumn<QString>("preset");
        QTest::addColumn<int>("ms");
        QTest::addColumn<double>("tolerance");
        QTest::addColumn<bool>("figureWhileWriting");
        QTest::newRow("mp3-192") << "MP3 192 kbit/s" << 4200 << 0.5 << true;
        QTest::newRow("ogg") << "Ogg Vorbis" << 4200 << 0.5 << true;
        // opusenc holds back its first pages for a few seconds: the file is readable (and
        // so measurable) only after about five. Opus and AAC pad the end to a whole frame.
        QTest::newRow("opus") << "Opus" << 6200 << 0.6 << true;
        QTest::newRow("flac") << "FLAC" << 4200 << 0.5 << false;
        QTest::newRow("aac") << "AAC (m4a)" << 4200 << 0.6 << false;
        QTest::newRow("wav") << "WAV" << 4200 << 0.5 << true;
    }

    void everyShippedPresetWritesACompleteFile()
    {
        QFETCH(QString, preset);
        QFETCH(int, ms);
        QFETCH(double, tolerance);
        QFETCH(bool, figureWhileWriting);
        RecordingSession session(*backend);
        QVERIFY(!session.StartRecording(config(preset), 0));
        QVERIFY2(session.isRecording(), qPrintable(failureText(session.failure())));
        const bool shown = keepRecording(session, ms);
        const auto record = session.StopRecording();
        QVERIFY(record);
        const double captured = capturedSeconds(session.capturedBytes(), kRate);
        QVERIFY(audio::EncoderFeed::waitForAll(10000));
        const double probed = ffprobeDuration(record->path);
        qInfo("%s: captured %.3f s, file %.3f s, figure while writing: %s", qPrintable(preset),
              captured, probed, shown ? "yes" : "no");
        QVERIFY(qAbs(probed - captured) <= tolerance);
        QCOMPARE(record->lengthSeconds, qint32(captured));
        if (figureWhileWriting) QVERIFY2(shown, "no remaining time was shown while recording");
    }

    void wavRecordingIsAnUnbrokenSine()
    {
        RecordingSession session(*backend);
        QVERIFY(!session.StartRecording(config("WAV", "sine"), 0));
        QVERIFY(keepRecording(session, 30300));
        const auto record = session.StopRecording();
        QVERIFY(record);
        QCOMPARE(session.droppedBytes(), std::uint64_t(0));
        QVERIFY(audio::EncoderFeed::waitForAll(10000));
        QVERIFY(qAbs(record->lengthSeconds - 30) <= 1);

        QFile file(record->path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.size() > 44);
        QCOMPARE(bytes.mid(36, 4), QByteArray("data"));
        const quint32 dataBytes = qFromLittleEndian<quint32>(bytes.constData() + 40);
        QCOMPARE(qsizetype(dataBytes), bytes.size() - 44);
        QCOMPARE(std::uint64_t(dataBytes), session.capturedBytes());
        QCOMPARE(qFromLittleEndian<quint32>(bytes.constData() + 24), quint32(kRate));

        const qint16 *s = reinterpret_cast<const qint16 *>(bytes.constData() + 44);
        const qsizetype frames = dataBytes / 4;
        QVERIFY(qAbs(frames / double(kRate) - 30.3) < 1.0);

        // Where the test source's feeder falls behind (a loaded machine), the server plays
        // silence and then skips what came late: runs of silent frames with a jump in phase
        // at their edges. Those are not ours; everything between them must be one sine.
        auto silent = [&](qsizetype n) { return s[2 * n] == 0 && s[2 * n + 1] == 0; };
        std::vector<bool> gap(size_t(frames), false);
        qsizetype gaps = 0, gapFrames = 0;
        for (qsizetype n = 0; n + 1 < frames; ++n) {
            if (!silent(n) || !silent(n + 1)) continue;
            if (n == 0 || !gap[size_t(n - 1)]) ++gaps;
            gap[size_t(n)] = gap[size_t(n + 1)] = true;
        }
        for (bool g : gap) gapFrames += g;

        // A sine obeys x[n+1] + x[n-1] = 2cos(w) x[n]; the source's 16-bit rounding and dither
        // leave up to about six steps. A block we lost, repeated or reordered breaks it.
        const double c = 2 * std::cos(2 * M_PI * 440.0 / kRate);
        int peak = 0;
        qsizetype worstAt = -1;
        double worst = 0;
        for (qsizetype n = 1; n + 1 < frames; ++n) {
            if (gap[size_t(n - 1)] || gap[size_t(n)] || gap[size_t(n + 1)]) continue;
            for (int ch = 0; ch < 2; ++ch) {
                const double e = s[2 * (n + 1) + ch] + s[2 * (n - 1) + ch] - c * s[2 * n + ch];
                if (qAbs(e) > worst) {
                    worst = qAbs(e);
                    worstAt = n;
                }
                peak = qMax(peak, qAbs(int(s[2 * n + ch])));
            }
        }
        qInfo("%lld frames, peak %d, worst recurrence error %.2f at frame %lld; "
              "source gaps: %lld (%lld frames)", qlonglong(frames), peak, worst,
              qlonglong(worstAt), qlonglong(gaps), qlonglong(gapFrames));
        QVERIFY2(peak > 12000, "no sine recorded");
        QVERIFY2(gapFrames < frames / 10, "the test source was silent too often to judge");
        if (worst > 8.0) {
            const QString kept = QDir::temp().filePath("vt-broken-sine.wav");
            QFile::remove(kept);
            QFile::copy(record->path, kept);
            QFAIL(qPrintable(QString("sine broken at frame %1 (file kept as %2)").arg(worstAt).arg(kept)));
        }
    }

    void nastyNameTemplateGivesExactlyThatFile()
    {
        const QString marker = QString("/tmp/vt-pwned-%1").arg(::getpid());
        QFile::remove(marker);
        const QString tmpl = QString("a b \"c\" 'd' $(touch %1) `touch %1`; touch %1 & |x").arg(marker);
        const QString expected = makeOutputFileName(saveDir.path(), tmpl, "mp3", QDateTime::currentDateTime());
        const auto record = recordWith("MP3 128 kbit/s", 1500, nullptr, tmpl);
        QVERIFY(record);
        QCOMPARE(record->path, expected);
        QVERIFY(QFileInfo(record->path).size() > 0);
        QVERIFY(ffprobeDuration(record->path) > 1.0);
        QVERIFY2(!QFile::exists(marker), "the file name ran a command");
    }

    void manyStartsInARowLeaveNothingBehind()
    {
        // One recording first, so the sound connection's threads and files are in place.
        QVERIFY(recordWith("MP3 128 kbit/s", 300, nullptr, "warmup"));
        const int fds = countEntries("/proc/self/fd");
        const int threads = countEntries("/proc/self/task");

        RecordingSession session(*backend);
        QList<FinishedRecording> records;
        for (int i = 0; i < 40; ++i) {
            const auto previous = session.StartRecording(config("MP3 128 kbit/s", QString("run%1").arg(i)), 0);
            if (previous) records.append(*previous);
            QVERIFY2(session.isRecording(), qPrintable(failureText(session.failure())));
            QTest::qWait(60);
        }
        if (const auto last = session.StopRecording()) records.append(*last);
        QCOMPARE(records.size(), 40);
        for (int i = 0; i < 40; ++i) QVERIFY(records[i].path.endsWith(QString("/run%1.mp3").arg(i)));

        QVERIFY(audio::EncoderFeed::waitForAll(10000));
        QCOMPARE(audio::EncoderFeed::runningCount(), 0);
        QCOMPARE(childProcesses(), 0);
        for (const FinishedRecording &r : records) QVERIFY2(QFileInfo::exists(r.path), qPrintable(r.path));
        QTest::qWait(200);
        QCOMPARE(countEntries("/proc/self/fd"), fds);
        QCOMPARE(countEntries("/proc/self/task"), threads);
    }

    void lengthLimitIsReachedFromTheCapturedBytes()
    {
        RecordingSession session(*backend);
        // A path longer than the archive keeps: the file gets it whole, the record its start.
        const QString longName = QString(200, 'L') + "/" + QString(100, QChar(0x00E9));
        QVERIFY(!session.StartRecording(config("WAV", longName), 1500));
        QVERIFY(session.currentFile().toUtf8().size() > kArchivePathBytes);
        QCOMPARE(session.limitBytes(), std::uint64_t(1500) * kRate / 1000 * 4);
        QElapsedTimer clock;
        clock.start();
        while (!session.limitReached() && clock.elapsed() < 5000) QTest::qWait(20);
        QVERIFY(session.limitReached());
        QVERIFY(clock.elapsed() >= 1300);
        QCOMPARE(session.elapsedSeconds(), qint64(1));
        QVERIFY(session.level() != audio::kNoLevel);
        const auto record = session.StopRecording();
        QVERIFY(record);
        QCOMPARE(record->lengthSeconds, 1);
        QCOMPARE(record->path, core::cutToBytes(session.currentFile(), kArchivePathBytes));
        QCOMPARE(session.level(), audio::kNoLevel);
        QVERIFY(!session.StopRecording());  // a stop while idle archives nothing
        QVERIFY(audio::EncoderFeed::waitForAll(10000));
        QVERIFY(QFileInfo(session.currentFile()).size() > 44);
    }

    void restartOnTheSamePathReplacesTheFileWhole()
    {
        RecordingSession session(*backend);
        QVERIFY(!session.StartRecording(config("WAV", "same"), 0));
        QTest::qWait(700);
        const auto first = session.StartRecording(config("WAV", "same"), 0);
        QVERIFY(first);
        QVERIFY(session.isRecording());
        QTest::qWait(1200);
        const auto second = session.StopRecording();
        QVERIFY(second);
        QCOMPARE(second->path, first->path);
        QVERIFY(audio::EncoderFeed::waitForAll(10000));
        // The second writer started after the first had finished: its file is intact.
        QFile file(second->path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.size() > 44);
        QCOMPARE(std::uint64_t(qFromLittleEndian<quint32>(bytes.constData() + 40)), session.capturedBytes());
        QCOMPARE(std::uint64_t(bytes.size() - 44), session.capturedBytes());
    }

    void missingEncoderIsAFailureWithoutRecord()
    {
        QTemporaryDir program;
        QVERIFY(QDir(program.path()).mkpath("Plugins"));
        RecordingConfig c = config("MP3 128 kbit/s", "missing");
        c.programFolder = program.path() + "/";
        RecordingSession session(*backend);
        QVERIFY(!session.StartRecording(c, 0));
        QVERIFY(!session.isRecording());
        QCOMPARE(session.failure(), Failure::EncoderFailed);
        QCOMPARE(failureText(session.failure()), QString("encoder failed"));
        QCOMPARE(session.level(), audio::kNoLevel);
        QVERIFY(!session.poll().changed);
        QVERIFY(!session.StopRecording());
        QCOMPARE(session.failure(), Failure::None);
        QVERIFY(!QFileInfo::exists(session.currentFile()));
    }

    void encoderThatDiesAtOnceLeavesNoRecord()
    {
        RecordingConfig c = config("MP3 128 kbit/s", "refused");
        c.codec.command = "lame --no-such-option - ::s";
        RecordingSession session(*backend);
        QVERIFY(!session.StartRecording(c, 0));
        const RecordingSession::PollResult result = pollUntilChanged(session, 5000);
        QVERIFY(result.changed);
        QVERIFY(!result.finished);
        QVERIFY(!session.isRecording());
        QCOMPARE(session.failure(), Failure::EncoderFailed);
    }

    void encoderThatEndsEarlyKeepsWhatItWrote()
    {
        // ffmpeg stops after one second of output: the file holds that second.
        RecordingConfig c = config("MP3 128 kbit/s", "early");
        c.codec = {"one second", "ffmpeg -hide_banner -loglevel error -f wav -i - -t 1 -y ::s", "wav"};
        RecordingSession session(*backend);
        QVERIFY(!session.StartRecording(c, 0));
        QVERIFY(session.isRecording());
        const RecordingSession::PollResult result = pollUntilChanged(session, 8000);
        QVERIFY(result.changed);
        QVERIFY(result.finished);
        QCOMPARE(session.failure(), Failure::EncoderDied);
        QCOMPARE(failureText(session.failure()), QString("encoder stopped"));
        QVERIFY(qAbs(ffprobeDuration(result.finished->path) - 1.0) < 0.1);
    }

    void captureThatCannotStartIsAFailure()
    {
        audio::AudioBackend unconnected;
        RecordingSession session(unconnected);
        QVERIFY(!session.StartRecording(config("MP3 128 kbit/s", "nocapture"), 0));
        QVERIFY(!session.isRecording());
        QCOMPARE(session.failure(), Failure::CaptureFailed);
        QCOMPARE(failureText(session.failure()), QString("capture failed"));
        QVERIFY(!QFileInfo::exists(session.currentFile()));
        QCOMPARE(session.remainingText(), unknownRemainingText());
    }

    void cleanupTestCase() { audio::EncoderFeed::waitForAll(10000); }
};

QTEST_GUILESS_MAIN(TestRecordingSession)
#include "test_recording_session.moc"
