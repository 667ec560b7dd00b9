#pragma once
// Per-channel peak of the most recent ~20 ms of 16-bit stereo, whatever the sizes of the
// blocks it is given: a read of the sound server may hold 40 ms or a few frames, and the
// meter must show the same level for a steady tone either way.
//
// One thread feeds it and reads it (the capture callback, which then publishes the level
// word); it never allocates or locks. The window is kept as 1 ms slots, each holding the
// peak of its frames: the level is the peak of the last 20 whole slots and the one being
// filled, so it covers 20 to 21 ms.

#include <array>
#include <cstddef>
#include <cstdint>

namespace audio {

class RecentPeak {
public:
    explicit RecentPeak(int sampleRate);

    // Takes the block's whole frames; a trailing partial frame is ignored.
    void add(const char *data, std::size_t bytes);
    // Low 16 bits left, high 16 bits right, each 0…32768; 0 before anything was added.
    std::uint32_t levelWord() const;

    static constexpr int kWindowMs = 20;

private:
    static constexpr int kSlots = kWindowMs + 1;  // the last one is being filled
    struct Slot {
        std::uint32_t left = 0;
        std::uint32_t right = 0;
    };
    std::array<Slot, kSlots> m_slots{};
    int m_current = 0;
    int m_framesPerSlot;
    int m_framesInSlot = 0;
};

}  // namespace audio
