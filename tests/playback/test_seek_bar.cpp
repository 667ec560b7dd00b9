#include "playback/SeekBar.h"
#include "playback/SeekBarGeometry.h"

#include <QSignalSpy>
#include <QtTest>

using namespace playback;

namespace {

QImage filled(QSize size, QColor color)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(color);
    return image;
}

// The mini player's bar: 425 × 20, a 155 × 9 strip and a 35 × 17 knob.
void makeMiniPlayerBar(SeekBar &bar)
{
    bar.setStripImage(filled(QSize(155, 9), Qt::blue));
    bar.setKnobImage(filled(QSize(35, 17), Qt::red));
    bar.resize(425, 20);
}

}  // namespace

class SeekBarTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stripStretchesAndKnobTravels()
    {
        const QSize control(425, 20), strip(155, 9), knob(35, 17);
        QCOMPARE(seekBarLayout(control, strip, knob, 0).strip, QRect(0, 5, 422, 9));
        QCOMPARE(seekBarLayout(control, strip, knob, 0).knob, QPoint(0, 1));
        QCOMPARE(seekBarLayout(control, strip, knob, 999).knob, QPoint(389, 1));
    }

    void pressPutsTheKnobCentreUnderThePointer_data()
    {
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("position");
        QTest::newRow("left end") << 17 << 0;
        QTest::newRow("middle") << 212 << 500;
        QTest::newRow("right end, clamped from 1000") << 407 << 999;
        QTest::newRow("left of the travel") << 3 << 0;
    }
    void pressPutsTheKnobCentreUnderThePointer()
    {
        QFETCH(int, x);
        QFETCH(int, position);
        SeekBar bar;
        makeMiniPlayerBar(bar);
        bar.setPosition(321);
        QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(x, 10));
        QCOMPARE(bar.position(), position);
        QVERIFY(bar.isDragging());
        QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(x, 10));
    }

    void dragFollowsWithinTheEndsUntilRelease()
    {
        SeekBar bar;
        makeMiniPlayerBar(bar);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        QSignalSpy pressed(&bar, &SeekBar::mousePressed);
        QSignalSpy moved(&bar, &SeekBar::mouseMoved);
        QSignalSpy released(&bar, &SeekBar::mouseReleased);
        QTest::mousePress(&bar, Qt::RightButton, {}, QPoint(212, 10));
        QTest::mouseMove(&bar, QPoint(-40, 10));
        QCOMPARE(bar.position(), 0);
        QTest::mouseMove(&bar, QPoint(600, 10));
        QCOMPARE(bar.position(), 999);
        QTest::mouseRelease(&bar, Qt::RightButton, {}, QPoint(600, 10));
        QVERIFY(!bar.isDragging());
        // Without a button held, a move is reported but leaves the knob where it is.
        QTest::mouseMove(&bar, QPoint(150, 12));
        QCOMPARE(bar.position(), 999);
        QCOMPARE(pressed.count(), 1);
        QCOMPARE(moved.count(), 3);
        QCOMPARE(released.count(), 1);
    }

    void settingAnnouncesEveryDifferentValueOnce()
    {
        SeekBar bar;
        bar.setPosition(999);
        QSignalSpy changed(&bar, &SeekBar::positionChanged);
        bar.setPosition(1500);  // clamps back to the old value, and says so
        QCOMPARE(bar.position(), 999);
        QCOMPARE(changed.count(), 1);
        bar.setPosition(999);
        QCOMPARE(changed.count(), 1);
        bar.setPosition(-7);
        QCOMPARE(bar.position(), 0);
        QCOMPARE(changed.count(), 2);
    }

    void knobNoWiderThanTheBarHasNoTravel()
    {
        SeekBar bar;
        bar.setKnobImage(filled(QSize(35, 17), Qt::red));
        bar.resize(30, 20);
        bar.setPosition(5);
        QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(20, 10));
        QCOMPARE(bar.position(), 0);
        QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(20, 10));
    }

    void newPictureShowsOnlyAfterARedraw()
    {
        SeekBar bar;
        makeMiniPlayerBar(bar);
        bar.setPosition(500);  // knob from x = 195
        QCOMPARE(bar.picture().pixelColor(200, 10), QColor(Qt::red));
        QCOMPARE(bar.picture().pixelColor(100, 8), QColor(Qt::blue));
        QCOMPARE(bar.picture().pixelColor(423, 10), QColor(192, 192, 192));  // right of the strip

        bar.setKnobImage(filled(QSize(35, 17), Qt::green));
        QCOMPARE(bar.picture().pixelColor(200, 10), QColor(Qt::red));
        bar.setPosition(501);
        QCOMPARE(bar.picture().pixelColor(200, 10), QColor(Qt::green));
    }
};

QTEST_MAIN(SeekBarTest)
#include "test_seek_bar.moc"
