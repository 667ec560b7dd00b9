// What exporting a span costs: MINUTES (60 without) of 48 kHz stereo in three WAV files
// with a gap of a tenth of it, in a ledger of a temporary folder, exported whole to .wav,
// .flac and .mp3 (the program folder's presets and encoders). Prints for each the wall
// time, how many times faster than real time that is, the CPU time of this process (the
// encoders' not counted) and the peak memory.
// Usage: bench_export [MINUTES]

#include "audio/WavHeader.h"
#include "core/ProgramFiles.h"
#include "ledger/Ledger.h"
#include "ledger/SpanExport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

#include <sys/resource.h>

using namespace ledger;

namespace {

constexpr int kRate = 48000;

bool writeWav(const QString &path, qint64 frames)
{
    const auto streaming = wav::streamingWavHeader(kRate);
    std::vector<std::uint8_t> header(streaming.begin(), streaming.end());
    const wav::Layout layout = wav::layoutOf(header);
    wav::putLe32(header.data() + 4, wav::riffSize(layout, frames * 4));
    wav::putLe32(header.data() + layout.dataSizeOffset, wav::dataSize(frames * 4));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char *>(header.data()), 44) != 44)
        return false;
    std::vector<qint16> block(2 * kRate);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = qint16((i * 37) % 20000 - 10000);
    for (qint64 done = 0; done < frames; done += kRate) {
        const qint64 n = std::min<qint64>(kRate, frames - done);
        if (file.write(reinterpret_cast<const char *>(block.data()), n * 4) != n * 4)
            return false;
    }
    return true;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    QTemporaryDir dir;
    const qint64 startMs = 1'780'000'000'000;
    const qint64 spanMs = qint64(minutes) * 60'000;
    // Three files of 30 % of the span each, the last after a gap of 10 %.
    const qint64 fileMs = spanMs * 3 / 10;
    const qint64 starts[] = {startMs, startMs + fileMs, startMs + 2 * fileMs + spanMs / 10};
    {
        Ledger ledger(dir.filePath(core::files::ledger()));
        for (int i = 0; i < 3; ++i) {
            FileEntry entry;
            entry.path = dir.filePath(QStringLiteral("rec%1.wav").arg(i));
            entry.startMs = starts[i];
            entry.frames = fileMs * kRate / 1000;
            entry.sampleRate = kRate;
            entry.endMs = starts[i] + fileMs;
            if (!writeWav(entry.path, entry.frames)) {
                std::printf("cannot write %s\n", qPrintable(entry.path));
                return 1;
            }
            ledger.addFile(entry);
        }
        if (!ledger.flush()) {
            std::printf("cannot write the ledger: %s\n", qPrintable(ledger.error()));
            return 1;
        }
    }
    Ledger ledger(dir.filePath(core::files::ledger()), Ledger::Access::ReadOnly);
    std::printf("%d min of 48 kHz stereo in three files with a gap of %lld s\n", minutes, spanMs / 10000);
    std::printf("%-6s %9s %9s %9s %10s\n", "format", "wall s", "x real", "CPU s", "peak MB");
    for (const char *ext : {"wav", "flac", "mp3"}) {
        const QString out = dir.filePath(QStringLiteral("span.") + QLatin1String(ext));
        QStringList notes;
        QElapsedTimer wall;
        wall.start();
        const double cpuBefore = cpuSeconds();
        const ExportResult result = exportSpan(
            ledger, {QStringLiteral(VT_PROGRAM_DIR "/"), startMs, startMs + spanMs, out}, {}, &notes);
        const double seconds = double(wall.nsecsElapsed()) / 1e9;
        if (!result.ok) {
            std::printf("%-6s %s\n", ext, qPrintable(result.error));
            continue;
        }
        std::printf("%-6s %9.2f %9.0f %9.2f %10.1f\n", ext, seconds, double(spanMs) / 1000 / seconds,
                    cpuSeconds() - cpuBefore, double(peakKilobytes()) / 1024);
        QFile::remove(out);
    }
    return 0;
}
