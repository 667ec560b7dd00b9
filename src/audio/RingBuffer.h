#pragma once
// A byte ring buffer for exactly one producer thread and one consumer thread.
//
// The producer (the capture callback, a file decoder's thread) writes whole blocks or nothing;
// the consumer (an encoder's writer thread, a playback stream) reads contiguous spans and
// releases them. The two positions are 64-bit running counts that never wrap in practice, so
// "full" and "empty" are never confused; the capacity is a power of two so a position maps to
// an offset with a mask. Neither side allocates, locks or blocks. "One consumer" means one at
// a time: threads that take turns under a lock may share that role.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace audio {

class RingBuffer {
public:
    // Capacity is rounded up to a power of two (at least 16 bytes).
    explicit RingBuffer(std::size_t minCapacity)
    {
        std::size_t capacity = 16;
        while (capacity < minCapacity)
            capacity <<= 1;
        m_capacity = capacity;
        m_data = std::make_unique<char[]>(capacity);
    }
    RingBuffer(const RingBuffer &) = delete;
    RingBuffer &operator=(const RingBuffer &) = delete;

    std::size_t capacity() const { return m_capacity; }

    // Producer side. False (and nothing written) when the block does not fit whole.
    bool write(const char *src, std::size_t bytes) noexcept
    {
        const std::uint64_t head = m_head.load(std::memory_order_relaxed);
        const std::uint64_t tail = m_tail.load(std::memory_order_acquire);
        if (bytes > m_capacity - static_cast<std::size_t>(head - tail))
            return false;
        const std::size_t offset = static_cast<std::size_t>(head) & (m_capacity - 1);
        const std::size_t first = bytes < m_capacity - offset ? bytes : m_capacity - offset;
        std::memcpy(m_data.get() + offset, src, first);
        std::memcpy(m_data.get(), src + first, bytes - first);
        m_head.store(head + bytes, std::memory_order_release);
        return true;
    }
    // Producer side: room for a write now (more may free up meanwhile, never less).
    std::size_t writable() const noexcept
    {
        return m_capacity - static_cast<std::size_t>(m_head.load(std::memory_order_relaxed) -
                                                     m_tail.load(std::memory_order_acquire));
    }
    // Bytes ever written: the running count a consumer can compare with consumedBytes().
    // Exact on the producer's thread; elsewhere at least what the consumer has seen.
    std::uint64_t producedBytes() const noexcept { return m_head.load(std::memory_order_acquire); }

    // Consumer side: the bytes queued, and the longest contiguous span starting at the
    // oldest of them. Release what was consumed with consume().
    std::size_t readable() const noexcept
    {
        return static_cast<std::size_t>(m_head.load(std::memory_order_acquire) -
                                        m_tail.load(std::memory_order_relaxed));
    }
    const char *peek(std::size_t *contiguous) const noexcept
    {
        const std::uint64_t tail = m_tail.load(std::memory_order_relaxed);
        const std::size_t queued =
            static_cast<std::size_t>(m_head.load(std::memory_order_acquire) - tail);
        const std::size_t offset = static_cast<std::size_t>(tail) & (m_capacity - 1);
        const std::size_t toEnd = m_capacity - offset;
        *contiguous = queued < toEnd ? queued : toEnd;
        return m_data.get() + offset;
    }
    void consume(std::size_t bytes) noexcept
    {
        m_tail.store(m_tail.load(std::memory_order_relaxed) + bytes, std::memory_order_release);
    }
    // Copies up to `bytes` of the oldest queued bytes to dst and releases them; returns how many.
    std::size_t read(char *dst, std::size_t bytes) noexcept
    {
        std::size_t done = 0;
        while (done < bytes) {
            std::size_t span = 0;
            const char *src = peek(&span);
            const std::size_t n = span < bytes - done ? span : bytes - done;
            if (n == 0)
                break;
            std::memcpy(dst + done, src, n);
            consume(n);
            done += n;
        }
        return done;
    }
    // Bytes ever consumed (consumer side).
    std::uint64_t consumedBytes() const noexcept { return m_tail.load(std::memory_order_relaxed); }

private:
    std::size_t m_capacity = 0;
    std::unique_ptr<char[]> m_data;
    alignas(64) std::atomic<std::uint64_t> m_head{0};  // written by the producer only
    alignas(64) std::atomic<std::uint64_t> m_tail{0};  // written by the consumer only
};

}  // namespace audio
