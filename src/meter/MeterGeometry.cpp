#include "meter/MeterGeometry.h"

#include "meter/LevelPoll.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace meter {

QRect MeterBar::litRect() const
{
    return bottom > top ? QRect(x, top, kBarWidth, bottom - top) : QRect();
}

QRect MeterBar::unlitRect() const
{
    return top > kMargin ? QRect(x, kMargin, kBarWidth, top - kMargin) : QRect();
}

float levelToDb(int level, int maxLev, int bottomDb)
{
    if (level <= 0)
        return float(bottomDb) - 1.0f;
    return float(20.0 * std::log10(double(level) / double(std::max(maxLev, 1))));
}

static int digitCount(int value)
{
    int n = 1;
    while (value > 9) {
        value /= 10;
        ++n;
    }
    return n;
}

static MeterBar barAt(int x, float db, float scale, int th, int height)
{
    // The absolute value turns a dB value below full scale into a distance from the top;
    // anything above full scale is drawn as full scale rather than mirrored back down.
    db = std::min(db, 0.0f);
    const long long offset = static_cast<long long>(double(db) * double(scale));
    long long top = std::llabs(offset - th / 2);
    MeterBar bar;
    bar.x = x;
    bar.bottom = height - kMargin;
    if (top < kMargin)
        top = kMargin;
    if (top > bar.bottom)
        top = bar.bottom;
    bar.top = int(top);
    return bar;
}

static float scaleFor(int height, int th, int bottomDb)
{
    // 64-bit, so that the most negative int has a magnitude too.
    const long long range = std::llabs(static_cast<long long>(bottomDb));
    const float scale = float(double(height - th) / double(range));
    return scale < kMinScale ? kMinScale : scale;
}

int barTop(int height, int textHeight, int bottomDb, int maxLev, int level)
{
    if (maxLev <= 0)
        maxLev = 1;
    if (bottomDb == 0)
        bottomDb = kDefaultBottomDb;
    const int th = std::max(textHeight, 1);
    return barAt(0, levelToDb(level, maxLev, bottomDb), scaleFor(height, th, bottomDb), th, height).top;
}

MeterGeometry computeMeterGeometry(int width, int height, int textHeight, int textWidth,
                                   int bottomDb, int maxLev, int leftLev, int rightLev)
{
    if (maxLev <= 0)
        maxLev = 1;
    if (bottomDb == 0)
        bottomDb = kDefaultBottomDb;

    MeterGeometry g;
    g.width = width;
    g.height = height;
    g.scaleLeft = kMargin + kBarWidth;
    g.scaleRight = width - kMargin - kBarWidth;
    const int th = std::max(textHeight, 1);
    g.textHeight = th;
    g.scale = scaleFor(height, th, bottomDb);

    float y = 0.0f;
    int i = 0;
    int last = -th - 2;
    while (y <= height - th + 2) {
        if (std::fabs(double(last) - double(y)) > th) {
            last = int(y);
            g.lineYs.append(last + th / 2);
            MeterLabel label;
            label.y = last;
            label.value = i;
            label.digits = digitCount(i);
            label.x = i >= 1000 ? g.scaleLeft
                                : g.scaleLeft + (g.scaleRight - g.scaleLeft - label.digits * textWidth) / 2;
            g.labels.append(label);
        }
        const float next = y + g.scale;
        if (next == y)  // too tall for single precision to advance; stop rather than spin
            break;
        y = next;
        ++i;
    }

    g.left = barAt(kMargin, levelToDb(leftLev, maxLev, bottomDb), g.scale, th, height);
    g.right = barAt(width - kMargin - kBarWidth, levelToDb(rightLev, maxLev, bottomDb), g.scale,
                    th, height);
    return g;
}

}  // namespace meter
