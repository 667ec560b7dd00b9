#include "audio/FileProbe.h"
#include "recording/CaptureHistory.h"
#include "recording/Estimate.h"
#include "recording/RecordedLength.h"

#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace recording;

namespace {
audio::FileProbe probe(std::int64_t bytes, double seconds)
{
    audio::FileProbe p;
    p.ok = true;
    p.fileBytes = bytes;
    p.durationSeconds = seconds;
    return p;
}
}  // namespace

class TestEstimate : public QObject {
    Q_OBJECT

private slots:
    void roundsHalfUpAndKeepsTheRateEven()
    {
        QCOMPARE(estimateBitrate(probe(161250, 10)), 128);  // 129.0 is odd
        QCOMPARE(estimateBitrate(probe(159375, 10)), 128);  // 127.5 rounds up
        QCOMPARE(estimateBitrate(probe(159250, 10)), 126);  // 127.4 gives 127, odd
        QCOMPARE(estimateBitrate(probe(16000, 1)), 128);
    }

    void unknownWithoutDurationOrReadableFile()
    {
        QCOMPARE(estimateBitrate(probe(4096, 0)), 0);
        audio::FileProbe unreadable = probe(4096, 10);
        unreadable.ok = false;
        QCOMPARE(estimateBitrate(unreadable), 0);
        QCOMPARE(estimateBitrate(0, 10.0), 0);
        // A huge size over a tiny duration cannot overflow into a negative rate.
        QCOMPARE(estimateBitrate(std::int64_t(1) << 62, 1e-30), 0);
    }

    // opusenc on a steady sine, 4 s in: 32768 bytes probed as 1 s but 4.1 s captured.
    void runningFileWhoseProbeLagsIsMeasuredByTheCapturedDuration()
    {
        QCOMPARE(runningBitrate(probe(32768, 1.0), 4.1), estimateBitrate(32768, 4.1));
        QCOMPARE(runningBitrate(probe(160000, 9.5), 10.0), 134);  // keeps up: its own duration
        QCOMPARE(runningBitrate(probe(160000, 0), 10.0), 128);    // no duration while it grows
        audio::FileProbe unreadable = probe(4096, 0);
        unreadable.ok = false;
        QCOMPARE(runningBitrate(unreadable, 10.0), 0);
    }

    void showsRemainingTimeAsDaysAndClock()
    {
        QCOMPARE(remainingText(10737418240LL, 128), QString("7 days 14:02:40"));
        QCOMPARE(remainingText(100, 128), QString("0 days 0:00:00"));
        QCOMPARE(remainingText(400LL * 86400 * 16384, 128), QString("400 days 0:00:00"));
        QCOMPARE(remainingText(86400LL * 16384 + 16384 * 61, 128), QString("1 days 0:01:01"));
        // 126 kbit/s counts as 16128 bytes a second.
        QCOMPARE(remainingText(16128LL * 3600, 126), QString("0 days 1:00:00"));
    }

    void unknownRateOrSpaceShowsQuestionMarks()
    {
        QCOMPARE(remainingText(10737418240LL, 0), QString("? d ?:??:??"));
        QCOMPARE(remainingText(-1, 128), QString("? d ?:??:??"));
    }

    void freeSpaceOfAMissingFolderIsThatOfItsParent()
    {
        QTemporaryDir dir;
        const std::int64_t expected = QStorageInfo(dir.path()).bytesAvailable();
        const std::int64_t measured = freeSpaceBytes(dir.path() + "/not/yet/made/file.mp3");
        QVERIFY(measured > 0);
        // Other programs write meanwhile; the figure only has to be of the same disk.
        QVERIFY(qAbs(measured - expected) < 64 * 1024 * 1024);
        QVERIFY(freeSpaceBytes("relative/missing") > 0);
    }

    void longRecordingsDoNotWrap()
    {
        const std::uint64_t fourHours = 4ULL * 3600 * 48000 * 4;
        QCOMPARE(fourHours, std::uint64_t(2764800000ULL));
        QCOMPARE(wholeSeconds(fourHours, 48000), 14400);
        QCOMPARE(wholeSeconds(fourHours - 1, 48000), 14399);
        QCOMPARE(wholeSeconds(~0ULL, 8000), std::numeric_limits<qint32>::max());
        QCOMPARE(wholeSeconds(1000, 0), 0);
        QCOMPARE(capturedSeconds(48000 * 4 * 3 / 2, 48000), 1.5);
    }

    // A file started in place of a dead encoder's begins a second before what the dead one
    // was given, but never before what the history still holds nor past its end.
    void restartedFileGoesBackWithinTheHistory()
    {
        CaptureHistory history(16);
        history.reset(100);
        const char letters[] = "abcdefghijklmnopqrst";
        history.append(letters, 10);
        history.append(letters + 10, 10);  // wraps: positions 104…119 are held
        QCOMPARE(history.begin(), std::uint64_t(104));
        QByteArray copied;
        history.copyFrom(0, [&](const char *data, std::size_t bytes) { copied.append(data, qsizetype(bytes)); });
        QCOMPARE(copied, QByteArray("efghijklmnopqrst"));
        QCOMPARE(restartPosition(118, 4, history), std::uint64_t(114));
        QCOMPARE(restartPosition(110, 20, history), std::uint64_t(104));
        QCOMPARE(restartPosition(130, 4, history), std::uint64_t(120));
    }

    void limitIsAByteCountOfWholeFrames()
    {
        QCOMPARE(limitBytes(0, 48000), std::uint64_t(0));
        QCOMPARE(limitBytes(60000, 48000), std::uint64_t(60 * 48000 * 4));
        QCOMPARE(limitBytes(1, 44100), std::uint64_t(44 * 4));  // 44.1 frames: 44 whole
        // The largest limit (about 49.7 days) still fits.
        QCOMPARE(limitBytes(0xFFFFFFFFu, 96000), std::uint64_t(0xFFFFFFFFull) * 96 * 4);
    }
};

QTEST_GUILESS_MAIN(TestEstimate)
#include "test_estimate.moc"
