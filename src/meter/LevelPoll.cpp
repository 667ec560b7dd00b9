#include "meter/LevelPoll.h"

namespace meter {

LevelPair splitLevelWord(std::uint32_t word)
{
    if (word == 0xFFFFFFFFu)
        return {};
    LevelPair levels;
    levels.left = int(word & 0xFFFFu);
    levels.right = int(word >> 16);
    return levels;
}

int nextScaleBottom(int current)
{
    switch (current) {
    case -12: return -24;
    case -24: return -42;
    case -42: return -60;
    case -60: return -90;
    case -90: return -120;
    default: return -12;
    }
}

}  // namespace meter
