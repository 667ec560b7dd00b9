#pragma once
// The main window's side of the meter: turning a polled level word into the two bar levels,
// and stepping the scale bottom on a click. Main thread only.

#include <cstdint>

class LevelMeter;

namespace meter {

struct LevelPair {
    int left = 0;
    int right = 0;
};

// Low 16 bits left, high 16 bits right, both unsigned; all bits set (no level) is silence.
LevelPair splitLevelWord(std::uint32_t word);

// −12 → −24 → −42 → −60 → −90 → −120 → −12; any other value → −12.
int nextScaleBottom(int current);

// Writes the right level, then the left; each write repaints only if the value changed.
void applyLevelWord(LevelMeter &lev, std::uint32_t word);

// Steps the scale bottom and redraws the meter before returning.
void stepScaleBottom(LevelMeter &lev);

}  // namespace meter
