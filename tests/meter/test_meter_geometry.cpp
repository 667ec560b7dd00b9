#include "meter/LevelPoll.h"
#include "meter/MeterGeometry.h"

#include <QtTest>

using namespace meter;

namespace {
QVector<int> labelValues(const MeterGeometry &g)
{
    QVector<int> values;
    for (const MeterLabel &label : g.labels)
        values.append(label.value);
    return values;
}
}  // namespace

class MeterGeometryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void labelsEveryDbWhenThereIsRoom()
    {
        const MeterGeometry g = computeMeterGeometry(50, 293, 10, 6, -24, 32768, 0, 0);
        QVERIFY(qAbs(g.scale - 11.79f) < 0.005f);
        QCOMPARE(g.labels.size(), 25);
        for (int i = 0; i < g.labels.size(); ++i)
            QCOMPARE(g.labels[i].value, i);
        QCOMPARE(g.lineYs.size(), g.labels.size());
        QCOMPARE(g.lineYs[6], g.labels[6].y + 5);
        // One digit is centred between the bars, two are shifted left by half a digit.
        QCOMPARE(g.scaleLeft, 15);
        QCOMPARE(g.scaleRight, 35);
        QCOMPARE(g.labels[6].x, 15 + (20 - 6) / 2);
        QCOMPARE(g.labels[12].x, 15 + (20 - 12) / 2);
    }

    void halfLevelSitsOnTheSixDbLine()
    {
        const MeterGeometry g = computeMeterGeometry(50, 293, 10, 6, -24, 32768, 16384, 0);
        QCOMPARE(g.left.top, 75);
        QCOMPARE(g.left.top, g.lineYs[6]);
        QCOMPARE(g.left.litRect(), QRect(5, 75, 10, 288 - 75));
        QCOMPARE(g.left.unlitRect(), QRect(5, 5, 10, 70));
        QCOMPARE(g.right.x, 35);
    }

    void skipsLabelsThatWouldCrowdTheLastOne()
    {
        const MeterGeometry g = computeMeterGeometry(50, 293, 10, 6, -120, 32768, 0, 0);
        QVERIFY(qAbs(g.scale - 2.358f) < 0.001f);
        const QVector<int> expected{0,  5,  9,  14, 19, 23, 28, 33,  37,  42,  47,  51,  56,
                                    61, 65, 70, 75, 79, 84, 89, 93, 98, 103, 107, 112, 117};
        QCOMPARE(labelValues(g), expected);
        // Skipping measures from the truncated position of the last label drawn, so two
        // labels may stand exactly one text height apart.
        QCOMPARE(g.labels[5].y, 54);
        QCOMPARE(g.labels[4].y, 44);
    }

    void barTopsStayInsideTheMargins()
    {
        // Silence: no lit part at all.
        MeterGeometry g = computeMeterGeometry(50, 293, 10, 6, -24, 32768, 0, 0);
        QCOMPARE(g.left.top, 288);
        QVERIFY(g.left.litRect().isEmpty());
        QCOMPARE(g.right.top, 288);
        // Full scale starts at the 0 dB line, but never above the margin.
        g = computeMeterGeometry(50, 293, 10, 6, -24, 32768, 32768, 32768);
        QCOMPARE(g.left.top, 5);
        g = computeMeterGeometry(50, 293, 14, 6, -24, 32768, 32768, 32768);
        QCOMPARE(g.left.top, 7);
        // Louder than full scale is drawn full, not folded back down the scale.
        g = computeMeterGeometry(50, 293, 10, 6, -24, 32768, 65535, 65535);
        QCOMPARE(g.left.top, 5);
        // Below the bottom of the scale: empty.
        g = computeMeterGeometry(50, 293, 10, 6, -12, 32768, 100, -7);
        QCOMPARE(g.left.top, 288);
        QCOMPARE(g.right.top, 288);
    }

    void lowControlUsesMinimumScale()
    {
        const MeterGeometry g = computeMeterGeometry(50, 30, 10, 6, -120, 32768, 3276, 0);
        QCOMPARE(g.scale, kMinScale);
        // −20 dB × 0.2 = 4 px below the 0 dB line; −120 would be far below the control.
        QCOMPARE(g.left.top, 9);
        QVERIFY(labelValues(g).size() >= 2);
        QVERIFY(labelValues(g).last() < 120);
    }

    void degenerateSettingsAreSafe()
    {
        // Full scale 0 behaves as 1: any positive level is full.
        MeterGeometry g = computeMeterGeometry(50, 293, 10, 6, -24, 0, 1, 0);
        QCOMPARE(g.left.top, 5);
        QCOMPARE(g.right.top, 288);
        // Bottom 0 draws the −24 dB scale.
        g = computeMeterGeometry(50, 293, 10, 6, 0, 32768, 16384, 0);
        QCOMPARE(g.labels.size(), 25);
        QCOMPARE(g.left.top, 75);
        // Extreme bottoms, text heights and sizes neither overflow nor hang.
        g = computeMeterGeometry(50, 293, 0, 0, std::numeric_limits<int>::min(), 32768, 1, 0);
        QCOMPARE(g.textHeight, 1);
        QCOMPARE(g.scale, kMinScale);
        g = computeMeterGeometry(0, 0, 10, 6, -24, 32768, 32768, 0);
        QVERIFY(g.labels.isEmpty());
        QVERIFY(g.left.litRect().isEmpty());
        QVERIFY(g.left.unlitRect().isEmpty());
        g = computeMeterGeometry(50, 10000000, 10, 6, std::numeric_limits<int>::min(), 32768, 0, 0);
        QVERIFY(!g.labels.isEmpty());
    }

    void levelWordSplitsIntoRightAndLeft()
    {
        LevelPair p = splitLevelWord(0x80004000u);
        QCOMPARE(p.right, 32768);
        QCOMPARE(p.left, 16384);
        p = splitLevelWord(0xFFFFFFFFu);
        QCOMPARE(p.right, 0);
        QCOMPARE(p.left, 0);
        p = splitLevelWord(0xFFFF0001u);  // unsigned halves, not sign-extended
        QCOMPARE(p.right, 65535);
        QCOMPARE(p.left, 1);
    }

    void clicksCycleTheScaleBottom()
    {
        int db = -24;
        QVector<int> seen;
        for (int i = 0; i < 6; ++i)
            seen.append(db = nextScaleBottom(db));
        QCOMPARE(seen, (QVector<int>{-42, -60, -90, -120, -12, -24}));
        QCOMPARE(nextScaleBottom(-30), -12);
        QCOMPARE(nextScaleBottom(0), -12);
    }
};

QTEST_APPLESS_MAIN(MeterGeometryTest)
#include "test_meter_geometry.moc"
