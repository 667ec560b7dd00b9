// Playback figures on a long MP3 (3 hours unless given): time from play() to the first sample
// heard, seek time to points spread over the file, and CPU while playing. Needs a sound
// server (PULSE_SERVER); makes the file with sox, lame and ffmpeg when none is given.
//
//   bench_playback [file.mp3]

#include "audio/AudioBackend.h"
#include "playback/AudioEngine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

namespace {

bool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    return p.waitForFinished(600000) && p.exitCode() == 0;
}

// A minute of a 440 Hz sine as a 128 kbit/s MP3, looped by stream copy to three hours.
QString makeLongMp3(const QTemporaryDir &dir)
{
    const QString wav = dir.filePath(QStringLiteral("minute.wav"));
    const QString minute = dir.filePath(QStringLiteral("minute.mp3"));
    const QString hours = dir.filePath(QStringLiteral("three-hours.mp3"));
    if (!run(QStringLiteral("sox"), {QStringLiteral("-n"), QStringLiteral("-r"), QStringLiteral("44100"),
                                     QStringLiteral("-c"), QStringLiteral("2"), QStringLiteral("-b"),
                                     QStringLiteral("16"), wav, QStringLiteral("synth"), QStringLiteral("60"),
                                     QStringLiteral("sine"), QStringLiteral("440")}) ||
        !run(QStringLiteral("lame"), {QStringLiteral("--quiet"), QStringLiteral("-b"), QStringLiteral("128"), wav, minute}) ||
        !run(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-stream_loop"),
                                        QStringLiteral("-1"), QStringLiteral("-i"), minute, QStringLiteral("-t"),
                                        QStringLiteral("10800"), QStringLiteral("-c"), QStringLiteral("copy"), hours}))
        return {};
    return hours;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Polls until the heard position has moved past `bytes` (at most 5 s).
double msUntilHeardPast(playback::AudioEngine &engine, std::int64_t bytes, const QElapsedTimer &clock)
{
    while (engine.positionBytes() <= bytes && clock.elapsed() < 5000)
        QThread::usleep(200);
    return clock.nsecsElapsed() / 1e6;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString file = argc > 1 ? QString::fromLocal8Bit(argv[1]) : makeLongMp3(dir);
    audio::AudioBackend backend;
    if (file.isEmpty() || !backend.init(1, 0)) {
        std::fprintf(stderr, "bench_playback: no file or no sound server\n");
        return 1;
    }
    playback::AudioEngine engine(backend);

    QElapsedTimer clock;
    clock.start();
    engine.play(file);
    const double playMs = clock.nsecsElapsed() / 1e6;
    const double firstHeardMs = msUntilHeardPast(engine, 0, clock);
    std::printf("file %s: %d s\n", qPrintable(file), engine.lengthMs() / 1000);
    std::printf("play() returned after %.1f ms; position moving after %.1f ms\n", playMs, firstHeardMs);

    for (int percent : {10, 50, 90, 99, 30}) {
        const std::int64_t target = engine.lengthBytes() * percent / 100 / 4 * 4;
        clock.restart();
        engine.setPositionBytes(target);
        const double callMs = clock.nsecsElapsed() / 1e6;
        const double heardMs = msUntilHeardPast(engine, target, clock);
        std::printf("seek to %2d %%: call %.1f ms, position past the target after %.1f ms\n", percent, callMs, heardMs);
    }

    const double cpuBefore = cpuSeconds();
    clock.restart();
    QTimer::singleShot(10000, &app, &QCoreApplication::quit);
    app.exec();
    std::printf("CPU while playing: %.2f %% of a core over 10 s\n",
                100.0 * (cpuSeconds() - cpuBefore) / (clock.elapsed() / 1000.0));
    engine.stop();
    return 0;
}
