#pragma once
// Geometry of the level meter: where the scale lines, the dB labels and the tops of the two
// bars go for a given size, font and pair of levels. Pure; the widget only paints the result.
//
// The arithmetic is single precision on purpose (scale and the running label position are
// floats), so the label skipping and the bar tops land on exactly the same pixels every time.

#include <QRect>
#include <QVector>

namespace meter {

constexpr int kMargin = 5;       // bars keep this distance from the top, bottom and side edges
constexpr int kBarWidth = 10;
constexpr float kMinScale = 0.2f;  // pixels per dB, for controls too low to hold the scale

struct MeterLabel {
    int x = 0;
    int y = 0;        // top of the text
    int value = 0;    // dB below full scale, drawn without its sign
    int digits = 1;   // characters in the text
};

struct MeterBar {
    int x = 0;        // left edge; the bar is kBarWidth wide
    int top = 0;      // first lit row, clamped into [kMargin, height − kMargin]
    int bottom = 0;   // height − kMargin, exclusive
    QRect litRect() const;    // top … bottom: drawn from the bright image
    QRect unlitRect() const;  // kMargin … top: drawn from the dim image
};

struct MeterGeometry {
    int width = 0;
    int height = 0;
    int textHeight = 1;  // at least 1
    float scale = kMinScale;  // pixels per dB
    int scaleLeft = 0;   // x range of the scale lines, right exclusive
    int scaleRight = 0;
    QVector<int> lineYs;          // one per label, at label top + textHeight / 2
    QVector<MeterLabel> labels;
    MeterBar left;
    MeterBar right;
};

// Level in dB below maxLev (single precision); 0 and below count as silence and give one dB
// under the bottom of the scale, so they draw an empty bar.
float levelToDb(int level, int maxLev, int bottomDb);

// The top row of a bar showing level, as computeMeterGeometry places it: a level change
// that keeps it needs no repaint.
int barTop(int height, int textHeight, int bottomDb, int maxLev, int level);

// maxLev ≤ 0 counts as 1; bottomDb 0 as kDefaultBottomDb (meter/LevelPoll.h). Levels above maxLev draw as full
// scale.
MeterGeometry computeMeterGeometry(int width, int height, int textHeight, int textWidth,
                                   int bottomDb, int maxLev, int leftLev, int rightLev);

}  // namespace meter
