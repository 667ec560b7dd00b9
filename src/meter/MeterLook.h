#pragma once
// The main window's meter: its built-in bar images and its settings, a polled level word
// shown on it, and the scale bottom stepped on a click. Main thread only.

#include <QImage>

#include <cstdint>

class LevelMeter;

namespace meter {

// 1 × 1000 vertical gradients, row 0 at the top: red-orange near full scale, green at the
// bottom. The front one is the same gradient at about 42 % brightness.
QImage makeMeterBackGradient();
QImage makeMeterFrontGradient();

// 50 × 293, full scale 32768, black back and frame, light grey labels, bottom −120 dB (the
// stored setting replaces it), and the two gradients.
void applyInputMeterLook(LevelMeter &lev);

// Writes the right level, then the left (see splitLevelWord); each write repaints only the
// bar whose level changed.
void applyLevelWord(LevelMeter &lev, std::uint32_t word);

// Steps the scale bottom (see nextScaleBottom) and redraws the meter before returning.
void stepScaleBottom(LevelMeter &lev);

}  // namespace meter
