#pragma once
// The seek bar's rules: where its strip and knob go, and which position a pointer at x
// means. Positions run from 0 to 999, per mille of the knob's travel. Pure.

#include <QPoint>
#include <QRect>
#include <QSize>

namespace playback {

constexpr int kSeekPositionMax = 999;

// 1000 and above give 999, negative values 0.
int clampSeekPosition(int position);

// The position that puts the knob's centre under a pointer at x, before clamping (it lies
// outside 0…999 when the pointer is beyond the travel). A control no wider than the knob
// has no travel: every x gives 0.
int seekPositionAt(int x, int controlWidth, int knobWidth);

struct SeekBarLayout {
    QRect strip;   // the strip stretched to the control's width less 3, at its own height
    QPoint knob;   // top left corner of the knob, drawn at its own size
};

// Both are centred vertically, rounding toward zero; the knob's left edge moves from 0 at
// position 0 to (width − knob width) × 999 / 1000 at 999.
SeekBarLayout seekBarLayout(QSize control, QSize strip, QSize knob, int position);

}  // namespace playback
