// Times probeFile() on small and very large MP3 files, and on files while they are being
// written: by a real lame process, and by a steady appender up to 150 MB; then on fragmented
// m4a files of 6 and 60 minutes as the AAC preset writes them (one fragment a second), whose
// probe must cost the same at any length. Everything is made in a temporary folder and
// removed at the end. Needs sox, lame and ffmpeg (about a minute to make the m4a files).
//
//   bench_probe [runs]      (default 21 runs per figure; the median is printed)

#include "audio/EncoderFeed.h"
#include "audio/FileProbe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

int g_runs = 21;

struct Timing {
    double medianMs = 0;
    double maxMs = 0;
    audio::FileProbe probe;
};

Timing timeProbe(const QString &path, int runs)
{
    std::vector<double> ms;
    Timing t;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        t.probe = audio::probeFile(path);
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    t.medianMs = ms[ms.size() / 2];
    t.maxMs = ms.back();
    return t;
}

void report(const char *what, const Timing &t)
{
    std::printf("%-34s %9.1f MB %10.1f s %8.3f ms median %8.3f ms max%s\n", what,
                double(t.probe.fileBytes) / 1e6, t.probe.durationSeconds, t.medianMs, t.maxMs,
                t.probe.ok ? "" : "  (not readable)");
    std::fflush(stdout);
}

// sox's sine through lame; noTag leaves out the Info frame, as a file still being written has.
bool encodeSine(const QString &out, int seconds, bool noTag)
{
    QProcess sox;
    QProcess lame;
    sox.setStandardOutputProcess(&lame);
    sox.setStandardErrorFile(QProcess::nullDevice());
    QStringList lameArgs{QStringLiteral("--quiet"), QStringLiteral("-b"), QStringLiteral("128")};
    if (noTag)
        lameArgs << QStringLiteral("-t");
    lameArgs << QStringLiteral("-") << out;
    sox.start(QStringLiteral("sox"),
              {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"), QStringLiteral("-c"),
               QStringLiteral("2"), QStringLiteral("-b"), QStringLiteral("16"), QStringLiteral("-t"),
               QStringLiteral("wav"), QStringLiteral("-"), QStringLiteral("synth"),
               QString::number(seconds), QStringLiteral("sine"), QStringLiteral("440")});
    lame.start(QStringLiteral("lame"), lameArgs);
    return sox.waitForFinished(-1) && lame.waitForFinished(-1) && lame.exitCode() == 0;
}

bool concatenate(const QString &part, const QString &out, int times)
{
    QFile in(part);
    QFile dst(out);
    if (!in.open(QIODevice::ReadOnly) || !dst.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = in.readAll();
    for (int i = 0; i < times; ++i) {
        if (dst.write(bytes) != bytes.size())
            return false;
    }
    return dst.flush();
}

// A real encoder writing its file: lame fed through an EncoderFeed faster than real time.
void probeWhileLameWrites(const QString &dir)
{
    const QString out = dir + QStringLiteral("/live.mp3");
    std::unique_ptr<audio::EncoderFeed> feed = audio::EncoderFeed::start(
        {QStringLiteral("lame"), QStringLiteral("--quiet"), QStringLiteral("-b"), QStringLiteral("128"),
         QStringLiteral("-"), out},
        44100);
    if (!feed) {
        std::printf("lame could not be started\n");
        return;
    }
    std::atomic<bool> done{false};
    std::thread pusher([&] {
        std::vector<char> block(4410 * 4);  // 100 ms of 440 Hz
        std::int64_t frame = 0;
        while (!done.load()) {
            for (std::size_t at = 0; at < block.size(); at += 4, ++frame) {
                const auto v = std::int16_t(16000 * std::sin(2 * M_PI * 440 * double(frame) / 44100));
                std::memcpy(block.data() + at, &v, 2);
                std::memcpy(block.data() + at + 2, &v, 2);
            }
            feed->push(block.data(), block.size());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));  // ~20× real time
        }
    });
    for (int second = 1; second <= 8; ++second) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        char label[64];
        std::snprintf(label, sizeof label, "lame writing, after %d s", second);
        report(label, timeProbe(out, 5));
    }
    done.store(true);
    pusher.join();
    feed->stop();
    audio::EncoderFeed::waitForAll(30000);
    report("lame finished", timeProbe(out, g_runs));
}

// A steady writer appending 64 KB steps of a tagless MP3 stream, probed at 50 and 150 MB.
void probeWhileAppending(const QString &source, const QString &dir)
{
    const QString out = dir + QStringLiteral("/appending.mp3");
    std::atomic<qint64> written{0};
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        QFile in(source);
        QFile dst(out);
        if (!in.open(QIODevice::ReadOnly) || !dst.open(QIODevice::WriteOnly))
            return;
        while (!stop.load() && !in.atEnd()) {
            const QByteArray step = in.read(65536);
            dst.write(step);
            dst.flush();
            written.fetch_add(step.size());
        }
    });
    for (qint64 mark : {50'000'000LL, 150'000'000LL}) {
        while (written.load() < mark)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        char label[64];
        std::snprintf(label, sizeof label, "appending, from %lld MB", mark / 1'000'000);
        report(label, timeProbe(out, g_runs));
    }
    stop.store(true);
    writer.join();
}

// The shipped AAC preset's options, fed from FFmpeg's own sine source.
bool encodeFragmentedM4a(const QString &out, int seconds)
{
    QProcess ffmpeg;
    ffmpeg.setStandardErrorFile(QProcess::nullDevice());
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {"-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                  QStringLiteral("sine=frequency=440:sample_rate=48000:duration=%1").arg(seconds),
                  "-ac", "2", "-c:a", "aac", "-b:a", "128k", "-flush_packets", "1", "-movflags",
                  "+frag_keyframe+empty_moov", "-frag_duration", "1000000", "-y", out});
    return ffmpeg.waitForFinished(-1) && ffmpeg.exitCode() == 0;
}

void probeFragmentedM4a(const QString &dir)
{
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty()) {
        std::printf("ffmpeg is not installed: no m4a figures\n");
        return;
    }
    for (int minutes : {6, 60}) {
        const QString out = dir + QStringLiteral("/fragmented-%1.m4a").arg(minutes);
        if (!encodeFragmentedM4a(out, minutes * 60)) {
            std::printf("could not make the %d min m4a\n", minutes);
            return;
        }
        char label[64];
        std::snprintf(label, sizeof label, "fragmented m4a, %d min", minutes);
        report(label, timeProbe(out, g_runs));
    }
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1)
        g_runs = std::max(1, std::atoi(argv[1]));
    for (const char *tool : {"sox", "lame"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty()) {
            std::printf("%s is not installed\n", tool);
            return 1;
        }
    }
    QTemporaryDir dir;
    const QString small = dir.filePath(QStringLiteral("small.mp3"));
    const QString part = dir.filePath(QStringLiteral("part.mp3"));
    const QString big = dir.filePath(QStringLiteral("big.mp3"));

    QElapsedTimer clock;
    clock.start();
    // 125 s and 1260 s at 128 kbit/s: 2 MB, and 20 MB which ten copies make 200 MB
    // (a tagless MP3 stream stays valid when concatenated).
    if (!encodeSine(small, 125, false) || !encodeSine(part, 1260, true) ||
        !concatenate(part, big, 10)) {
        std::printf("could not make the test files\n");
        return 1;
    }
    std::printf("test files made in %.1f s; %d runs per figure\n", clock.elapsed() / 1000.0, g_runs);

    report("2 MB MP3 with Info frame", timeProbe(small, g_runs));
    report("20 MB MP3 without Info frame", timeProbe(part, g_runs));
    report("200 MB MP3 without Info frame", timeProbe(big, g_runs));
    probeWhileAppending(big, dir.path());
    probeWhileLameWrites(dir.path());
    probeFragmentedM4a(dir.path());
    return 0;  // the temporary folder and its files are removed here
}
