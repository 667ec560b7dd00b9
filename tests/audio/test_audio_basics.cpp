// The capture-to-writer ring buffer.

#include "audio/AudioBackend.h"
#include "audio/RingBuffer.h"

#include <QtTest>

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
};

QTEST_GUILESS_MAIN(AudioBasicsTest)
#include "test_audio_basics.moc"
