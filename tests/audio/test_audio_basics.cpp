// The capture-to-writer ring buffer and the capture's level over its most recent audio.

#include "audio/RecentPeak.h"
#include "audio/RingBuffer.h"

#include <QtTest>

#include <cmath>
#include <thread>
#include <vector>

using namespace audio;

class AudioBasicsTest : public QObject {
    Q_OBJECT
private slots:
    void ringDropsWholeBlocksWhenFullAndWraps()
    {
        RingBuffer ring(100);
        QCOMPARE(ring.capacity(), std::size_t(128));
        std::vector<char> block(48);
        for (std::size_t i = 0; i < block.size(); ++i)
            block[i] = char(i);
        QVERIFY(ring.write(block.data(), 48));
        QVERIFY(ring.write(block.data(), 48));
        QVERIFY(!ring.write(block.data(), 48));  // 96 + 48 > 128: nothing written
        QCOMPARE(ring.readable(), std::size_t(96));
        std::size_t span = 0;
        ring.peek(&span);
        ring.consume(80);
        QVERIFY(ring.write(block.data(), 48));   // crosses the end of the storage
        QVERIFY(ring.write(block.data(), 48));
        QCOMPARE(ring.readable(), std::size_t(112));
        std::vector<char> out;
        while (ring.readable() > 0) {
            const char *p = ring.peek(&span);
            out.insert(out.end(), p, p + span);
            ring.consume(span);
        }
        QCOMPARE(out.size(), std::size_t(112));
        QCOMPARE(int(out[16]), 0);   // second block starts after the 16 left of the first
        QCOMPARE(int(out[16 + 47]), 47);
        QCOMPARE(int(out[111]), 47);
    }

    void ringKeepsOrderAcrossThreads()
    {
        RingBuffer ring(4096);
        constexpr std::uint32_t kCount = 2000000;
        std::thread producer([&ring] {
            std::uint32_t next = 0;
            std::uint32_t block[61];
            while (next < kCount) {
                const std::uint32_t n = std::min<std::uint32_t>(61, kCount - next);
                for (std::uint32_t i = 0; i < n; ++i)
                    block[i] = next + i;
                if (ring.write(reinterpret_cast<const char *>(block), n * 4))
                    next += n;
                else
                    std::this_thread::yield();
            }
        });
        std::uint32_t expected = 0;
        bool inOrder = true;
        std::vector<char> carry;
        while (expected < kCount) {
            std::size_t span = 0;
            const char *p = ring.peek(&span);
            if (span == 0) {
                std::this_thread::yield();
                continue;
            }
            carry.insert(carry.end(), p, p + span);
            ring.consume(span);
            std::size_t whole = carry.size() / 4 * 4;
            for (std::size_t at = 0; at < whole; at += 4) {
                std::uint32_t v;
                std::memcpy(&v, carry.data() + at, 4);
                inOrder = inOrder && v == expected++;
            }
            carry.erase(carry.begin(), carry.begin() + long(whole));
        }
        producer.join();
        QVERIFY(inOrder);
        QCOMPARE(expected, kCount);
    }

    // A steady tone reads the same whether the server delivers 40 ms or a few frames at a
    // time; silence shows once it has lasted the whole window, and not before.
    void levelIsThePeakOfTheLast20MsWhateverTheBlockSizes()
    {
        constexpr int kRate = 48000;
        constexpr int kFrames = kRate;  // one second of a 440 Hz tone, left −6 dB, right −12 dB
        std::vector<qint16> tone(2 * kFrames);
        for (int i = 0; i < kFrames; ++i) {
            const double s = std::sin(2 * M_PI * 440 * i / kRate);
            tone[2 * i] = qint16(std::lround(16384 * s));
            tone[2 * i + 1] = qint16(std::lround(8192 * s));
        }
        const auto *bytes = reinterpret_cast<const char *>(tone.data());
        RecentPeak peak(kRate);
        QCOMPARE(peak.levelWord(), 0u);
        const int blockFrames[] = {1920, 3, 1, 7, 960, 2, 961, 5, 40, 1};
        int at = 0;
        for (int n = 0; at + 1920 <= kFrames; ++n) {
            const int frames = blockFrames[n % std::size(blockFrames)];
            peak.add(bytes + at * 4, std::size_t(frames) * 4);
            at += frames;
            if (at < kRate / 50)
                continue;  // the first 20 ms
            const std::uint32_t word = peak.levelWord();
            const double left = 20 * std::log10((word & 0xFFFF) / 16384.0);
            const double right = 20 * std::log10((word >> 16) / 8192.0);
            QVERIFY2(std::abs(left) < 0.1 && std::abs(right) < 0.1,
                     qPrintable(QStringLiteral("%1 dB / %2 dB after a block of %3 frames")
                                    .arg(left).arg(right).arg(frames)));
        }

        const std::vector<char> silence(std::size_t(kRate / 1000) * 4, 0);  // 1 ms
        for (int ms = 0; ms < 19; ++ms)
            peak.add(silence.data(), silence.size());
        QVERIFY((peak.levelWord() & 0xFFFF) > 16000);
        for (int ms = 19; ms < 21; ++ms)
            peak.add(silence.data(), silence.size());
        QCOMPARE(peak.levelWord(), 0u);

        const qint16 fullScale[2] = {-32768, 32767};
        peak.add(reinterpret_cast<const char *>(fullScale), 4);
        QCOMPARE(peak.levelWord(), 32768u | (32767u << 16));
    }
};

QTEST_GUILESS_MAIN(AudioBasicsTest)
#include "test_audio_basics.moc"
