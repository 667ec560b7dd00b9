#include "meter/MeterLook.h"

#include "meter/LevelMeter.h"
#include "meter/LevelPoll.h"

#include <cmath>
#include <initializer_list>

namespace meter {
namespace {

struct KeyRow {
    int row;
    QRgb color;
};

constexpr int kGradientRows = 1000;

// Colours between two key rows are interpolated linearly, component by component.
QImage gradientFrom(std::initializer_list<KeyRow> keys)
{
    QImage image(1, kGradientRows, QImage::Format_RGB32);
    const KeyRow *k = keys.begin();
    for (int row = 0; row < kGradientRows; ++row) {
        while (k + 1 != keys.end() && row > (k + 1)->row)
            ++k;
        const KeyRow &a = *k;
        const KeyRow &b = (k + 1 != keys.end()) ? *(k + 1) : *k;
        const double t = b.row == a.row ? 0.0 : double(row - a.row) / double(b.row - a.row);
        const auto mix = [t](int from, int to) { return int(std::lround(from + (to - from) * t)); };
        image.setPixel(0, row,
                       qRgb(mix(qRed(a.color), qRed(b.color)), mix(qGreen(a.color), qGreen(b.color)),
                            mix(qBlue(a.color), qBlue(b.color))));
    }
    return image;
}

}  // namespace

QImage makeMeterBackGradient()
{
    return gradientFrom({{0, 0xFF2E00}, {50, 0xFF9300}, {100, 0xFEF700}, {200, 0xBCF707},
                         {280, 0x7DF70E}, {400, 0x63F710}, {600, 0x3AF715}, {800, 0x18F618},
                         {999, 0x00F41B}});
}

QImage makeMeterFrontGradient()
{
    return gradientFrom({{0, 0x6C1400}, {50, 0x6C3F00}, {100, 0x6C6900}, {200, 0x506903},
                         {280, 0x366906}, {400, 0x2A6907}, {600, 0x196909}, {800, 0x0A690A},
                         {999, 0x00680B}});
}

void applyInputMeterLook(LevelMeter &lev)
{
    lev.setFixedSize(50, 293);
    lev.setMaxLev(32768);
    lev.setBackColor(Qt::black);
    lev.setFrameColor(Qt::black);
    lev.setTextColor(QColor(0xD8, 0xD8, 0xD8));
    lev.setBottomDb(-120);
    lev.setBackBitmap(makeMeterBackGradient());
    lev.setFrontBitmap(makeMeterFrontGradient());
}

void applyLevelWord(LevelMeter &lev, std::uint32_t word)
{
    const LevelPair levels = splitLevelWord(word);
    lev.setRightLev(levels.right);
    lev.setLeftLev(levels.left);
}

void stepScaleBottom(LevelMeter &lev)
{
    lev.setBottomDb(nextScaleBottom(lev.bottomDb()));
    lev.repaint();
}

}  // namespace meter
