// What checking a recording costs, and what an intact file decodes to.
//
// First, for each shipped codec preset (data/Presets/Vantrel/codecs.txt) whose encoder is
// here, a few seconds of a tone at 44.1 and 48 kHz are encoded and checked: the frames fed,
// the frames decoded (as at the rate fed) and their difference, against the slack the check
// allows. Then one hour (or MINUTES) of 48 kHz stereo is encoded to MP3 at 128 kbit/s and
// checked once: the CPU time of the whole process while it checks (hash, decode and the
// decoder's thread; target: under 36 s of one core for the hour) and the wall time; then
// how long the end of a verification queue takes with that file half checked.
// Usage: bench_verify [MINUTES]

#include "audio/WavHeader.h"
#include "ledger/FileVerifier.h"
#include "ledger/VerificationQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <cmath>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <thread>
#include <sys/resource.h>
#include <vector>

using namespace ledger;

namespace {

struct Preset {
    QString name;
    QString command;
    QString ext;
};

std::vector<Preset> shippedPresets()
{
    std::vector<Preset> presets;
    QFile list(QStringLiteral(VT_SOURCE_DIR "/data/Presets/Vantrel/codecs.txt"));
    if (!list.open(QIODevice::ReadOnly | QIODevice::Text))
        return presets;
    QTextStream in(&list);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (line.startsWith(QLatin1Char('#')) || eq < 0)
            continue;
        const QString key = line.left(eq).trimmed(), value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("name"))
            presets.push_back({value, {}, {}});
        else if (key == QLatin1String("command") && !presets.empty())
            presets.back().command = value;
        else if (key == QLatin1String("ext") && !presets.empty())
            presets.back().ext = value;
    }
    return presets;
}

// The encoder as the program runs it: from the Plugins folder, else from PATH.
QString encoderProgram(const QString &name)
{
    const QString plugin = QStringLiteral(VT_PROGRAM_DIR "/Plugins/") + name;
    return QFileInfo(plugin).isExecutable() ? plugin : QStandardPaths::findExecutable(name);
}

// A tone with a little noise, so that a lossy encoder has something to code.
void fillBlock(std::vector<qint16> &block, qint64 firstFrame, int sampleRate, std::mt19937 &random)
{
    std::uniform_int_distribution<int> noise(-300, 300);
    for (std::size_t i = 0; i < block.size() / 2; ++i) {
        const double t = double(firstFrame + qint64(i)) / sampleRate;
        const auto v = qint16(6000 * std::sin(2 * M_PI * 440 * t) + noise(random));
        block[2 * i] = v;
        block[2 * i + 1] = qint16(v / 2);
    }
}

// Feeds `frames` of 16-bit stereo as a WAV stream of unknown length; false when it fails.
bool encode(const Preset &preset, const QString &output, int sampleRate, qint64 frames)
{
    QStringList words = QProcess::splitCommand(preset.command);
    if (words.isEmpty())
        return false;
    const QString program = encoderProgram(words.takeFirst());
    if (program.isEmpty())
        return false;
    words.replaceInStrings(QStringLiteral("::s"), output);
    QProcess encoder;
    encoder.setStandardErrorFile(QProcess::nullDevice());  // flac's notes on the stream
    encoder.start(program, words);
    if (!encoder.waitForStarted())
        return false;
    const auto header = wav::streamingWavHeader(sampleRate);
    encoder.write(header.data(), qint64(header.size()));
    std::mt19937 random(7);
    std::vector<qint16> block(2 * 4096);
    for (qint64 done = 0; done < frames;) {
        const qint64 n = std::min<qint64>(4096, frames - done);
        block.resize(std::size_t(2 * n));
        fillBlock(block, done, sampleRate, random);
        encoder.write(reinterpret_cast<const char *>(block.data()), qint64(block.size() * 2));
        while (encoder.bytesToWrite() > (1 << 20))
            encoder.waitForBytesWritten(-1);
        done += n;
    }
    encoder.closeWriteChannel();
    return encoder.waitForFinished(-1) && encoder.exitCode() == 0;
}

void printIntactLengths(const QString &folder)
{
    std::printf("%-16s %6s %10s %10s %6s %6s  %s\n", "preset", "rate", "fed", "decoded", "diff",
                "slack", "verdict");
    for (const Preset &preset : shippedPresets()) {
        for (const int rate : {44100, 48000}) {
            const qint64 frames = qint64(rate) * 21 / 2 + 123;  // 10.5 s and an odd remainder
            FileEntry file;
            file.path = QDir(folder).filePath(QStringLiteral("intact.") + preset.ext);
            file.frames = frames;
            file.sampleRate = rate;
            if (!encode(preset, file.path, rate, frames)) {
                std::printf("%-16s %6d (encoder missing or failed)\n", qPrintable(preset.name), rate);
                continue;
            }
            const VerifyResult result = verifyFile(file);
            const qint64 asFed = result.decodedRate > 0 ? result.decodedFrames * rate / result.decodedRate : 0;
            std::printf("%-16s %6d %10lld %10lld %+6lld %6lld  %s\n", qPrintable(preset.name), rate,
                        frames, asFed, asFed - frames, slackFrames(file.path, result.decodedRate),
                        result.holds() ? "ok" : qPrintable(result.reason));
            QFile::remove(file.path);
        }
    }
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The queue's end cancels the check under way; the recorder's end waits for it.
void printQueueEnd(const FileEntry &file, qint64 afterMs)
{
    QObject context;
    auto queue = std::make_unique<VerificationQueue>(&context, [](const VerifyResult &) {});
    queue->enqueue(file);
    std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
    QElapsedTimer end;
    end.start();
    queue.reset();
    std::printf("a queue ended %lld ms into its check took %.1f ms to end\n", afterMs,
                double(end.nsecsElapsed()) / 1e6);
}

int benchLongFile(const QString &folder, int minutes)
{
    const int rate = 48000;
    const Preset mp3{QStringLiteral("MP3 128 kbit/s"), QStringLiteral("lame --quiet -b 128 - ::s"),
                     QStringLiteral("mp3")};
    FileEntry file;
    file.path = QDir(folder).filePath(QStringLiteral("hour.mp3"));
    file.frames = qint64(rate) * 60 * minutes;
    file.sampleRate = rate;
    std::printf("\nencoding %d min of 48 kHz stereo to MP3 128 kbit/s ...\n", minutes);
    std::fflush(stdout);
    if (!encode(mp3, file.path, rate, file.frames)) {
        std::printf("lame missing or failed\n");
        return 1;
    }
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = cpuSeconds();
    const VerifyResult result = verifyFile(file);
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("checked %s (%.1f MB): %s\n", qPrintable(QFileInfo(file.path).fileName()),
                double(QFileInfo(file.path).size()) / 1e6,
                result.holds() ? "ok" : qPrintable(result.reason));
    std::printf("decoded %lld of %lld frames fed\n", result.decodedFrames, file.frames);
    std::printf("CPU %.2f s (target for an hour: under 36 s), wall %.2f s\n", cpu,
                double(wall.elapsed()) / 1000);
    printQueueEnd(file, wall.elapsed() / 2);
    return result.holds() ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "bench_verify: no temporary folder\n");
        return 1;
    }
    printIntactLengths(folder.path());
    return benchLongFile(folder.path(), minutes);
}
