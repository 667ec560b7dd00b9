#include "meter/LevelPoll.h"
#include "meter/MeterGeometry.h"
#include "meter/MeterLook.h"
#include "meter/LevelMeter.h"

#include <QFontMetrics>
#include <QSignalSpy>
#include <QtTest>

using namespace meter;

class LevelMeterTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void gradientsHaveTheirKeyColours()
    {
        const QImage back = makeMeterBackGradient();
        const QImage front = makeMeterFrontGradient();
        QCOMPARE(back.size(), QSize(1, 1000));
        QCOMPARE(front.size(), QSize(1, 1000));
        QCOMPARE(back.pixel(0, 0) & 0xFFFFFF, 0xFF2E00u);
        QCOMPARE(back.pixel(0, 999) & 0xFFFFFF, 0x00F41Bu);
        QCOMPARE(front.pixel(0, 100) & 0xFFFFFF, 0x6C6900u);
        // Between key rows the colour moves smoothly.
        const QColor mid = back.pixelColor(0, 25);
        QVERIFY(mid.green() > 0x2E && mid.green() < 0x93);
        QCOMPARE(mid.red(), 0xFF);
    }

    void unchangedLevelDoesNotRepaint()
    {
        LevelMeter lev;
        applyInputMeterLook(lev);
        lev.show();
        QVERIFY(QTest::qWaitForWindowExposed(&lev));
        const int before = lev.renderCount();
        lev.setLeftLev(1000);
        QCOMPARE(lev.renderCount(), before + 1);  // synchronous
        lev.setLeftLev(1000);
        QCOMPARE(lev.renderCount(), before + 1);
        lev.setLeftLev(1001);  // the bar's top stays on its row
        QCOMPARE(lev.leftLev(), 1001);
        QCOMPARE(lev.renderCount(), before + 1);

        // One word: right first, then left; silence after silence costs nothing.
        applyLevelWord(lev, 0x80004000u);
        QCOMPARE(lev.rightLev(), 32768);
        QCOMPARE(lev.leftLev(), 16384);
        QCOMPARE(lev.renderCount(), before + 3);
        applyLevelWord(lev, 0xFFFFFFFFu);
        applyLevelWord(lev, 0xFFFFFFFFu);
        QCOMPARE(lev.leftLev(), 0);
        QCOMPARE(lev.rightLev(), 0);
        QCOMPARE(lev.renderCount(), before + 5);
    }

    void clickStepsTheScaleAndRedraws()
    {
        LevelMeter lev;
        applyInputMeterLook(lev);
        lev.setBottomDb(-30);
        QObject::connect(&lev, &LevelMeter::mousePressed, &lev, [&lev] { stepScaleBottom(lev); });
        lev.show();
        QVERIFY(QTest::qWaitForWindowExposed(&lev));
        const int before = lev.renderCount();
        QTest::mouseClick(&lev, Qt::RightButton, Qt::ShiftModifier, QPoint(3, 200));
        QCOMPARE(lev.bottomDb(), -12);
        QCOMPARE(lev.renderCount(), before + 1);
    }

    void drawsBarsScaleAndLabels()
    {
        LevelMeter lev;
        applyInputMeterLook(lev);
        lev.setBottomDb(-24);
        lev.setLeftLev(16384);
        lev.setRightLev(32768);
        const QImage shot = lev.grab().toImage();
        QVERIFY(shot.save(QStringLiteral("/tmp/meter.png")));
        QCOMPARE(shot.size(), QSize(50, 293));

        const QFont font = [] {
            QFont f(QStringLiteral("lucida console"), 7);
            f.setStyleHint(QFont::TypeWriter);
            return f;
        }();
        const QFontMetrics fm(font, &shot);
        const MeterGeometry g = computeMeterGeometry(50, 293, fm.height(),
                                                     fm.horizontalAdvance(QLatin1Char('0')), -24,
                                                     32768, 16384, 32768);
        const QImage back = makeMeterBackGradient().scaled(50, 293, Qt::IgnoreAspectRatio,
                                                           Qt::SmoothTransformation);
        const QImage front = makeMeterFrontGradient().scaled(50, 293, Qt::IgnoreAspectRatio,
                                                             Qt::SmoothTransformation);
        const auto rgb = [](const QImage &img, int x, int y) { return img.pixel(x, y) & 0xFFFFFF; };

        // Left bar: bright from its top down, dim above it.
        QVERIFY(g.left.top > 60 && g.left.top < 90);
        QCOMPARE(rgb(shot, 10, g.left.top + 20), rgb(back, 10, g.left.top + 20));
        QCOMPARE(rgb(shot, 10, g.left.top - 20), rgb(front, 10, g.left.top - 20));
        // Right bar full: bright right under the top margin.
        QCOMPARE(rgb(shot, 40, 8), rgb(back, 40, 8));
        // Black surround and frame; grey scale line somewhere left of a centred label.
        QCOMPARE(rgb(shot, 0, 0), 0u);
        QCOMPARE(rgb(shot, 25, 290), 0u);
        QCOMPARE(rgb(shot, g.scaleLeft, g.lineYs[3]), 0x555555u);
        // Some label pixel is drawn in the text colour's family (light, neutral).
        bool lightText = false;
        for (int y = g.labels[3].y; y < g.labels[3].y + g.textHeight && !lightText; ++y)
            for (int x = g.scaleLeft; x < g.scaleRight; ++x)
                if (qGray(shot.pixel(x, y)) > 0xA0)
                    lightText = true;
        QVERIFY(lightText);
    }

    void zeroSettingsRenderWithoutFault()
    {
        LevelMeter lev;  // constructor defaults: bottom 0, no images
        lev.resize(50, 100);
        lev.setMaxLev(0);
        lev.setLeftLev(5);
        const QImage shot = lev.grab().toImage();
        QCOMPARE(shot.size(), QSize(50, 100));
        QCOMPARE(lev.maxLev(), 1);
    }
};

QTEST_MAIN(LevelMeterTest)
#include "test_level_meter.moc"
