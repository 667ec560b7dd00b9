// The decoder's hand-over to a consumer on another thread: seeks at random moments, with the
// ring full, empty or holding a seek's leftovers, never let a stale frame through, and a
// consumer that comes up short is always woken.

#include "audio/FileDecoder.h"
#include "audio/WavHeader.h"

#include <QtTest>

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

using namespace audio;

namespace {

constexpr int kRate = 48000;
constexpr qint64 kFrames = qint64(kRate) * 30;
constexpr int kSeeks = 3000;

// A WAV whose frame n holds n: left the low 16 bits, right the high 16 bits.
bool writeCountingWav(const QString &path)
{
    const auto streaming = wav::streamingWavHeader(kRate);
    std::vector<std::uint8_t> header(streaming.begin(), streaming.end());
    const wav::Layout layout = wav::layoutOf(header);
    wav::putLe32(header.data() + 4, wav::riffSize(layout, kFrames * 4));
    wav::putLe32(header.data() + layout.dataSizeOffset, wav::dataSize(kFrames * 4));
    QByteArray samples(int(kFrames * 4), Qt::Uninitialized);
    auto *s = reinterpret_cast<quint16 *>(samples.data());
    for (qint64 n = 0; n < kFrames; ++n) {
        s[2 * n] = quint16(n & 0xFFFF);
        s[2 * n + 1] = quint16(n >> 16);
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(reinterpret_cast<const char *>(header.data()), qint64(header.size())) ==
               qint64(header.size()) &&
           file.write(samples) == samples.size();
}

// Counts onData calls, so a consumer that came up short can wait for the next one.
struct DataSignal {
    std::mutex mutex;
    std::condition_variable changed;
    quint64 count = 0;

    void notify()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++count;
        }
        changed.notify_all();
    }
    quint64 current()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return count;
    }
    bool waitPast(quint64 seen)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(2), [&] { return count != seen; });
    }
};

}  // namespace

class FileDecoderTest : public QObject {
    Q_OBJECT
private slots:
    void seeksUnderARunningConsumerNeverYieldStaleFrames()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("counting.wav"));
        QVERIFY(writeCountingWav(path));
        DataSignal data;  // outlives the decoder, whose thread calls it
        std::unique_ptr<FileDecoder> decoder = FileDecoder::open(path, nullptr);
        QVERIFY(decoder);
        QCOMPARE(decoder->lengthBytes(), kFrames * 4);
        decoder->setOnData([&data] { data.notify(); });
        decoder->start();

        // The consumer runs on a thread of its own, as a server stream's callbacks do; the
        // first fault it meets ends it.
        QString fault;
        int seeks = 0;
        int endsReached = 0;
        std::thread consumer([&] {
            QRandomGenerator random(20240611);
            std::vector<char> block(64 * 1024);
            qint64 expected = 0;
            for (seeks = 0; seeks < kSeeks && fault.isEmpty(); ++seeks) {
                // Read a random stretch: none (a seek right after a seek), a little (the
                // decoder is refilling as the seek comes), or more than the ring holds;
                // sometimes pause so the ring fills up.
                const int kind = random.bounded(4);
                qint64 toRead = kind == 0 ? 0 : kind == 1 ? random.bounded(kRate * 4) : random.bounded(4096);
                while (toRead > 0 && fault.isEmpty()) {
                    const quint64 signalled = data.current();
                    const std::size_t want = std::size_t(std::min<qint64>(toRead, random.bounded(1, 16384))) * 4;
                    const std::size_t got = decoder->take(block.data(), want);
                    const auto *s = reinterpret_cast<const quint16 *>(block.data());
                    for (std::size_t i = 0; i < got / 4 && fault.isEmpty(); ++i, ++expected) {
                        const qint64 frame = qint64(s[2 * i]) | (qint64(s[2 * i + 1]) << 16);
                        if (frame != expected)
                            fault = QStringLiteral("frame %1 where %2 was due (seek %3)").arg(frame).arg(expected).arg(seeks);
                    }
                    toRead -= qint64(got / 4);
                    if (got == want)
                        continue;
                    if (decoder->finished()) {
                        if (expected != kFrames)
                            fault = QStringLiteral("finished at frame %1").arg(expected);
                        ++endsReached;
                        break;
                    }
                    if (!data.waitPast(signalled))
                        fault = QStringLiteral("came up short at frame %1 and was never woken").arg(expected);
                }
                if (random.bounded(32) == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(random.bounded(1, 20)));
                // One seek in four lands in the last two seconds, so some reach the end.
                expected = random.bounded(4) == 0 ? kFrames - random.bounded(kRate * 2)
                                                  : random.bounded(kFrames);
                decoder->seek(expected * 4);
            }
        });
        consumer.join();
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        QCOMPARE(seeks, kSeeks);
        QVERIFY2(endsReached > 10, qPrintable(QString::number(endsReached)));
        QVERIFY(decoder->failure().isEmpty());
    }
};

QTEST_GUILESS_MAIN(FileDecoderTest)
#include "test_file_decoder.moc"
