#include "recording/CaptureHistory.h"

#include <algorithm>
#include <cstring>

namespace recording {

CaptureHistory::CaptureHistory(std::size_t capacityBytes)
    : m_capacity(std::max<std::size_t>(capacityBytes, 4)), m_data(new char[m_capacity])
{
}

void CaptureHistory::reset(std::uint64_t position) noexcept
{
    m_start = m_end = position;
}

void CaptureHistory::append(const char *data, std::size_t bytes) noexcept
{
    if (bytes > m_capacity) {  // only the newest capacity's worth can be held
        data += bytes - m_capacity;
        m_end += bytes - m_capacity;
        bytes = m_capacity;
    }
    const std::size_t offset = std::size_t(m_end % m_capacity);
    const std::size_t first = std::min(bytes, m_capacity - offset);
    std::memcpy(m_data.get() + offset, data, first);
    std::memcpy(m_data.get(), data + first, bytes - first);
    m_end += bytes;
}

std::uint64_t CaptureHistory::begin() const noexcept
{
    return m_end - m_start > m_capacity ? m_end - m_capacity : m_start;
}

std::uint64_t restartPosition(std::uint64_t deadGivenUpTo, std::uint64_t overlapBytes,
                              const CaptureHistory &history)
{
    const std::uint64_t wanted = deadGivenUpTo > overlapBytes ? deadGivenUpTo - overlapBytes : 0;
    return std::clamp(wanted, history.begin(), history.end());
}

}  // namespace recording
