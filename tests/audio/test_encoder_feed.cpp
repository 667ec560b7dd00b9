// The encoder child process: start failures, dead and stalled encoders, and a complete
// feed through a copying "encoder" (dd) checked byte for byte.

#include "audio/EncoderFeed.h"

#include <QtTest>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <thread>
#include <vector>

using namespace audio;

namespace {

// Pushes 20 ms blocks (at 48 kHz) in real time until done() holds or timeoutMs passes.
template <typename Done>
bool pushUntil(EncoderFeed &feed, Done done, int timeoutMs)
{
    std::vector<char> block(3840, 0);
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        feed.push(block.data(), block.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace

class EncoderFeedTest : public QObject {
    Q_OBJECT
private slots:
    void reportsProgramThatCannotStart()
    {
        QString error;
        QVERIFY(!EncoderFeed::start({QStringLiteral("/nonexistent/encoder"), QStringLiteral("-")},
                                    48000, &error));
        QCOMPARE(error, QStringLiteral("encoder not found"));

        QTemporaryDir dir;
        const QString notExecutable = dir.filePath(QStringLiteral("plain.txt"));
        QFile file(notExecutable);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        error.clear();
        QVERIFY(!EncoderFeed::start({notExecutable}, 48000, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(!EncoderFeed::start({}, 48000, &error));
        QCOMPARE(EncoderFeed::runningCount(), 0);
    }

    void encoderThatExitsIsNoticed()
    {
        std::unique_ptr<EncoderFeed> feed = EncoderFeed::start({QStringLiteral("/bin/false")}, 48000);
        QVERIFY(feed);
        QVERIFY(pushUntil(*feed, [&] { return !feed->isAlive(); }, 1000));
        feed->stop();
        QVERIFY(EncoderFeed::waitForAll(2000));
        QCOMPARE(EncoderFeed::runningCount(), 0);
    }

    // What an encoder says on its standard error is kept, its last 4 KB, whole once it ended;
    // a chatty encoder is never held up by it.
    void keepsTheTailOfWhatTheEncoderSaid()
    {
        const QString script = QStringLiteral(
            "i=0; while [ $i -lt 300 ]; do echo \"progress line $i of a chatty encoder\" >&2; i=$((i+1)); done; "
            "echo \"lame: unrecognized option --no-such-option\" >&2; exit 1");
        std::unique_ptr<EncoderFeed> feed =
            EncoderFeed::start({QStringLiteral("/bin/sh"), QStringLiteral("-c"), script}, 48000);
        QVERIFY(feed);
        QVERIFY(pushUntil(*feed, [&] { return feed->endDescription() == QStringLiteral("exited with status 1"); },
                          2000));
        const QString tail = feed->errorTail();
        QVERIFY2(tail.size() <= 4096 && tail.size() > 4000, qPrintable(QString::number(tail.size())));
        QVERIFY(tail.endsWith(QStringLiteral("progress line 299 of a chatty encoder\n"
                                             "lame: unrecognized option --no-such-option\n")));
        feed->stop();
        QVERIFY(EncoderFeed::waitForAll(2000));
    }

    // The reader stops after 1000 bytes: the next write fails with EPIPE, which must not
    // end this program through SIGPIPE.
    void readerThatStopsReadingIsNoticed()
    {
        std::unique_ptr<EncoderFeed> feed = EncoderFeed::start(
            {QStringLiteral("head"), QStringLiteral("-c"), QStringLiteral("1000")}, 48000);
        QVERIFY(feed);
        QVERIFY(pushUntil(*feed, [&] { return !feed->isAlive(); }, 2000));
        feed->stop();
        QVERIFY(EncoderFeed::waitForAll(2000));
    }

    // A stalled encoder fills the buffer: push() must keep returning at once and count
    // what it could not queue.
    void stalledEncoderNeverBlocksPush()
    {
        std::unique_ptr<EncoderFeed> feed =
            EncoderFeed::start({QStringLiteral("sleep"), QStringLiteral("1")}, 48000);
        QVERIFY(feed);
        std::vector<char> block(3840, 1);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 1000; ++i)  // 20 s of audio, far more than the buffer holds
            feed->push(block.data(), block.size());
        QVERIFY2(clock.elapsed() < 200, "push() blocked");
        QVERIFY(feed->droppedBytes() > 0);
        QCOMPARE(feed->droppedBytes() % block.size(), 0ull);
        feed->stop();
        QVERIFY(EncoderFeed::waitForAll(5000));  // sleep exits; the rest is discarded
    }

    // Each encoder holds only its own pipe: were another encoder's input inherited by a
    // later child, that encoder would never see the end of its input.
    void stoppedEncoderFinishesWhileAnotherRuns()
    {
        std::unique_ptr<EncoderFeed> first =
            EncoderFeed::start({QStringLiteral("/bin/dd"), QStringLiteral("of=/dev/null"),
                                QStringLiteral("status=none")},
                               48000);
        std::unique_ptr<EncoderFeed> second =
            EncoderFeed::start({QStringLiteral("sleep"), QStringLiteral("2")}, 48000);
        QVERIFY(first && second);
        QCOMPARE(EncoderFeed::runningCount(), 2);
        first->stop();
        QVERIFY2(EncoderFeed::waitForAll(1500), "the first encoder never saw the end of its input");
        QCOMPARE(EncoderFeed::runningCount(), 1);
        QVERIFY(second->isAlive());
        second->stop();
        QVERIFY(EncoderFeed::waitForAll(5000));
        QCOMPARE(EncoderFeed::runningCount(), 0);
    }

    // Extra entries reach the encoder on top of the inherited environment, replacing an
    // inherited entry of the same name.
    void encoderGetsTheExtraEnvironment()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("env.txt"));
        qputenv("VT_FEED_TEST_INHERITED", "kept");
        qputenv("VT_FEED_TEST_REPLACED", "old");
        std::unique_ptr<EncoderFeed> feed = EncoderFeed::start(
            {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
             QStringLiteral("printf '%s %s %s' \"$VT_FEED_TEST_INHERITED\" \"$VT_FEED_TEST_REPLACED\" "
                            "\"$VT_FEED_TEST_ADDED\" > \"$1\"; cat > /dev/null"),
             QStringLiteral("sh"), out},
            48000, nullptr,
            {QStringLiteral("VT_FEED_TEST_REPLACED=new"), QStringLiteral("VT_FEED_TEST_ADDED=a=b")});
        QVERIFY(feed);
        feed->stop();
        QVERIFY(EncoderFeed::waitForAll(5000));
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("kept new a=b"));
    }

    void copiesHeaderAndEverySampleInOrder()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("copy.wav"));
        std::unique_ptr<EncoderFeed> feed = EncoderFeed::start(
            {QStringLiteral("/bin/dd"), QStringLiteral("of=") + out, QStringLiteral("status=none")},
            44100);
        QVERIFY(feed);
        std::vector<char> block(4410 * 4);
        std::uint32_t counter = 0;
        for (int b = 0; b < 50; ++b) {  // 5 s, faster than real time
            for (std::size_t at = 0; at < block.size(); at += 4, ++counter)
                std::memcpy(block.data() + at, &counter, 4);
            feed->push(block.data(), block.size());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        QVERIFY(feed->isAlive());
        feed->stop();
        feed.reset();  // the drain goes on without the object
        QVERIFY(EncoderFeed::waitForAll(5000));
        QCOMPARE(EncoderFeed::runningCount(), 0);

        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(bytes.size(), 44 + 50 * int(block.size()));
        // PCM, stereo, 44100 Hz, 176400 bytes/s, 4 bytes a frame, 16 bits, sizes unknown.
        const QByteArray header("RIFF\xff\xff\xff\xffWAVEfmt \x10\0\0\0\x01\0\x02\0"
                                "\x44\xac\0\0\x10\xb1\x02\0\x04\0\x10\0data\xff\xff\xff\xff",
                                44);
        QCOMPARE(bytes.left(44), header);
        bool inOrder = true;
        for (std::uint32_t i = 0; i < counter && inOrder; ++i) {
            std::uint32_t v;
            std::memcpy(&v, bytes.constData() + 44 + 4 * i, 4);
            inOrder = v == i;
        }
        QVERIFY(inOrder);
    }
};

QTEST_GUILESS_MAIN(EncoderFeedTest)
#include "test_encoder_feed.moc"
