#include "audio/RecentPeak.h"

#include "audio/Capture.h"

#include <algorithm>
#include <cstdlib>

namespace audio {

namespace {

inline std::uint32_t magnitude(const unsigned char *sample)
{
    const auto value = static_cast<std::int16_t>(sample[0] | (sample[1] << 8));
    return static_cast<std::uint32_t>(std::abs(static_cast<int>(value)));
}

}  // namespace

RecentPeak::RecentPeak(int sampleRate) : m_framesPerSlot(std::max(1, sampleRate / 1000)) {}

void RecentPeak::add(const char *data, std::size_t bytes)
{
    const auto *frame = reinterpret_cast<const unsigned char *>(data);
    std::size_t frames = bytes / kBytesPerFrame;
    while (frames > 0) {
        Slot &slot = m_slots[static_cast<std::size_t>(m_current)];
        const std::size_t room = static_cast<std::size_t>(m_framesPerSlot - m_framesInSlot);
        const std::size_t take = std::min(frames, room);
        std::uint32_t left = slot.left;
        std::uint32_t right = slot.right;
        for (const unsigned char *end = frame + take * kBytesPerFrame; frame != end;
             frame += kBytesPerFrame) {
            left = std::max(left, magnitude(frame));
            right = std::max(right, magnitude(frame + 2));
        }
        slot.left = left;
        slot.right = right;
        frames -= take;
        m_framesInSlot += static_cast<int>(take);
        if (m_framesInSlot == m_framesPerSlot) {
            m_current = (m_current + 1) % kSlots;
            m_slots[static_cast<std::size_t>(m_current)] = Slot{};
            m_framesInSlot = 0;
        }
    }
}

std::uint32_t RecentPeak::levelWord() const
{
    std::uint32_t left = 0;
    std::uint32_t right = 0;
    for (const Slot &slot : m_slots) {
        left = std::max(left, slot.left);
        right = std::max(right, slot.right);
    }
    return left | (right << 16);
}

}  // namespace audio
