#pragma once
// The meter's rules outside the widget: a polled level word as the two bar levels, and the
// steps of the scale bottom.

#include <cstdint>

namespace meter {

struct LevelPair {
    int left = 0;
    int right = 0;
};

// Low 16 bits left, high 16 bits right, both unsigned; all bits set (no level) is silence.
LevelPair splitLevelWord(std::uint32_t word);

// The scale bottom of a new settings file, in dB; a bottom of 0 has no size, and the meter
// then draws this scale too.
constexpr int kDefaultBottomDb = -24;

// −12 → −24 → −42 → −60 → −90 → −120 → −12; any other value → −12.
int nextScaleBottom(int current);

}  // namespace meter
