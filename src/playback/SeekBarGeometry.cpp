#include "playback/SeekBarGeometry.h"

#include <QtGlobal>

#include <algorithm>

namespace playback {

int clampSeekPosition(int position)
{
    return qBound(0, position, kSeekPositionMax);
}

int seekPositionAt(int x, int controlWidth, int knobWidth)
{
    const int travel = controlWidth - knobWidth;
    if (travel <= 0)
        return 0;
    // Integer arithmetic truncates toward zero exactly, where a floating-point quotient
    // could land a hair under a whole position (195 / 390 × 1000 must give 500).
    const qint64 offset = qint64(x) - knobWidth / 2;
    // Far beyond the travel the quotient would not fit an int; any value past an end is
    // clamped to that end anyway.
    return int(std::clamp<qint64>(offset * 1000 / travel, -1000, 2000));
}

SeekBarLayout seekBarLayout(QSize control, QSize strip, QSize knob, int position)
{
    SeekBarLayout layout;
    const int stripTop = (control.height() - strip.height()) / 2;
    layout.strip = QRect(0, stripTop, control.width() - 3, strip.height());
    const int travel = control.width() - knob.width();
    layout.knob = QPoint(int(qint64(travel) * position / 1000),
                         -((knob.height() - control.height()) / 2));
    return layout;
}

}  // namespace playback
