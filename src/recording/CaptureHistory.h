#pragma once
// The last seconds of a capture, so that an encoder started in place of a dead one can begin
// its file where the dead one may have stopped writing: the two files then overlap at the
// join instead of leaving a gap.
//
// Positions are byte counts of the capture stream since the recording began. One thread at
// a time appends or reads (the capture callback, or the main thread between two blocks);
// nothing allocates after construction.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace recording {

class CaptureHistory {
public:
    explicit CaptureHistory(std::size_t capacityBytes);

    // Empty; the next byte appended is at `position`.
    void reset(std::uint64_t position) noexcept;
    void append(const char *data, std::size_t bytes) noexcept;

    std::uint64_t begin() const noexcept;  // the oldest position still held
    std::uint64_t end() const noexcept { return m_end; }  // just after the newest byte

    // Hands the bytes from `from` to `to` (both moved into [begin(), end()]) to sink, in at
    // most two spans; returns the position the first span started at.
    template <typename Sink>
    std::uint64_t copyRange(std::uint64_t from, std::uint64_t to, Sink &&sink) const
    {
        from = from < begin() ? begin() : from > m_end ? m_end : from;
        to = to < from ? from : to > m_end ? m_end : to;
        std::size_t offset = std::size_t(from % m_capacity);
        std::size_t left = std::size_t(to - from);
        while (left > 0) {
            const std::size_t span = left < m_capacity - offset ? left : m_capacity - offset;
            sink(m_data.get() + offset, span);
            left -= span;
            offset = 0;
        }
        return from;
    }
    template <typename Sink>
    std::uint64_t copyFrom(std::uint64_t from, Sink &&sink) const
    {
        return copyRange(from, m_end, std::forward<Sink>(sink));
    }

private:
    std::size_t m_capacity;
    std::unique_ptr<char[]> m_data;
    std::uint64_t m_start = 0;  // where the bytes held begin, before the ring has wrapped
    std::uint64_t m_end = 0;
};

// Where the file of an encoder started in place of a dead one begins: `overlapBytes` before
// the position up to which the dead one had been given samples (what it took but never
// wrote lies there), though never before what the history holds nor past its end.
std::uint64_t restartPosition(std::uint64_t deadGivenUpTo, std::uint64_t overlapBytes,
                              const CaptureHistory &history);

}  // namespace recording
