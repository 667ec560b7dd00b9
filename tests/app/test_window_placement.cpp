#include "app/WindowPlacement.h"

#include <QtTest>
#include <climits>

using app::StoredPlacement;
using app::windowBoundsAtStart;

namespace {
const QSize kDesign(500, 370);
const QRect kPrimary(0, 0, 1920, 1050);       // a panel below
const QRect kSecond(1920, 0, 1280, 1024);     // to the right of the primary
const QRect kCurrent(30, 40, 500, 370);

StoredPlacement stored(std::optional<int> x, std::optional<int> y, std::optional<int> w,
                       std::optional<int> h)
{
    return StoredPlacement{true, x, y, w, h};
}
}  // namespace

class TestWindowPlacement : public QObject {
    Q_OBJECT
private slots:
    void ordinaryBoundsAreKept()
    {
        QCOMPARE(windowBoundsAtStart(StoredPlacement{}, kCurrent, {kPrimary}, kDesign),
                 QRect(709, 339, 500, 370));  // no stored position: centred at design size
        QCOMPARE(windowBoundsAtStart(stored(100, 120, 800, 600), kCurrent, {kPrimary}, kDesign),
                 QRect(100, 120, 800, 600));
        QCOMPARE(windowBoundsAtStart(stored(100, std::nullopt, std::nullopt, 600), kCurrent,
                                     {kPrimary}, kDesign),
                 QRect(100, 40, 500, 600));  // missing keys keep the current value
        QCOMPARE(windowBoundsAtStart(stored(2000, 100, 640, 480), kCurrent, {kPrimary, kSecond},
                                     kDesign),
                 QRect(2000, 100, 640, 480));  // on the second screen
    }

    void extremeValuesFitTheScreen()
    {
        QCOMPARE(windowBoundsAtStart(stored(0, 0, 40000, 40000), kCurrent, {kPrimary}, kDesign),
                 kPrimary);
        QCOMPARE(windowBoundsAtStart(stored(INT_MAX, INT_MAX, INT_MAX, INT_MAX), kCurrent,
                                     {kPrimary}, kDesign),
                 kPrimary);
        QCOMPARE(windowBoundsAtStart(stored(INT_MIN, INT_MIN, INT_MIN, INT_MIN), kCurrent,
                                     {kPrimary}, kDesign),
                 QRect(QPoint(0, 0), kDesign));
        QCOMPARE(windowBoundsAtStart(stored(1800, 1000, 10, 0), kCurrent, {kPrimary}, kDesign),
                 QRect(1420, 680, 500, 370));  // grown to the smallest size, pulled back in
    }

    void windowOnAScreenThatIsGoneMovesToThePrimary()
    {
        QCOMPARE(windowBoundsAtStart(stored(2500, 900, 1200, 400), kCurrent, {kPrimary}, kDesign),
                 QRect(720, 650, 1200, 400));
        QCOMPARE(windowBoundsAtStart(stored(-5000, -3000, 640, 480), kCurrent, {kSecond, kPrimary},
                                     kDesign),
                 QRect(kSecond.topLeft(), QSize(640, 480)));  // no overlap: the primary (first)
    }
};

QTEST_GUILESS_MAIN(TestWindowPlacement)
#include "test_window_placement.moc"
