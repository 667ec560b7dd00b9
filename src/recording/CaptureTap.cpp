#include "recording/CaptureTap.h"

#include <algorithm>

namespace recording {

audio::BlockCallback CaptureTap::callback()
{
    return [this](const char *data, std::size_t bytes) { block(data, bytes); };
}

void CaptureTap::block(const char *data, std::size_t bytes) noexcept
{
    // This thread alone adds to the position; the span only changes between blocks.
    const std::uint64_t position = m_position.load(std::memory_order_relaxed);
    m_history->append(data, bytes);
    if (audio::EncoderFeed *feed = m_feed.load(std::memory_order_acquire)) {
        const std::uint64_t from = std::max(position, m_start.load(std::memory_order_relaxed));
        const std::uint64_t to = std::min(position + bytes, m_end.load(std::memory_order_relaxed));
        // A dead feed ignores it; the history keeps it for the next.
        if (from < to) feed->push(data + (from - position), std::size_t(to - from));
    }
    m_position.store(position + bytes, std::memory_order_release);
}

void CaptureTap::betweenBlocks(const std::function<void()> &change)
{
    if (m_stream)
        m_stream->runBetweenBlocks(change);
    else
        change();
}

void CaptureTap::give(audio::EncoderFeed *feed, std::uint64_t from, std::uint64_t to) const
{
    m_history->copyRange(from, to, [feed](const char *data, std::size_t bytes) { feed->push(data, bytes); });
}

void CaptureTap::reset(std::size_t historyBytes)
{
    m_position.store(0);
    m_feed.store(nullptr);
    m_history = std::make_unique<CaptureHistory>(historyBytes);
}

std::uint64_t CaptureTap::givenUpTo() const
{
    return std::clamp(position(), feedStart(), std::max(feedStart(), feedEnd()));
}

// The span changes below run between two blocks.
std::uint64_t CaptureTap::startSpan(audio::EncoderFeed *feed, std::uint64_t firstByte, std::uint64_t endByte)
{
    const std::uint64_t start = std::max(firstByte, m_history->begin());
    give(feed, start, std::min(position(), endByte));
    m_start.store(start, std::memory_order_relaxed);
    m_end.store(std::max(start, endByte), std::memory_order_relaxed);
    m_feed.store(feed, std::memory_order_release);
    return start;
}

std::uint64_t CaptureTap::endSpan(std::uint64_t endByte)
{
    const std::uint64_t given = givenUpTo();
    const std::uint64_t end = std::max(endByte, given);
    if (audio::EncoderFeed *feed = m_feed.load(std::memory_order_relaxed))
        give(feed, given, std::min(end, position()));
    m_end.store(end, std::memory_order_relaxed);
    return end;
}

std::uint64_t CaptureTap::startFeed(audio::EncoderFeed *feed, std::uint64_t firstByte, std::uint64_t endByte)
{
    std::uint64_t start = 0;
    betweenBlocks([&] { start = startSpan(feed, firstByte, endByte); });
    return start;
}

std::uint64_t CaptureTap::setEnd(std::uint64_t endByte)
{
    std::uint64_t end = 0;
    betweenBlocks([&] { end = endSpan(endByte); });
    return end;
}

std::uint64_t CaptureTap::cutTo(audio::EncoderFeed *feed, std::uint64_t cutByte, std::uint64_t endByte)
{
    std::uint64_t cut = 0;
    betweenBlocks([&] {
        cut = endSpan(cutByte);
        startSpan(feed, cut, endByte);
    });
    return cut;
}

std::uint64_t CaptureTap::finishFeed(std::uint64_t endByte)
{
    std::uint64_t end = 0;
    betweenBlocks([&] {
        end = endSpan(std::min({endByte, position(), feedEnd()}));  // nothing comes after
        m_feed.store(nullptr, std::memory_order_release);
    });
    return end;
}

CaptureTap::Restart CaptureTap::restartInto(audio::EncoderFeed *feed, std::uint64_t givenUpTo,
                                            std::uint64_t overlapBytes)
{
    Restart restart;
    betweenBlocks([&] {
        restart.end = this->givenUpTo();
        restart.firstByte = restartPosition(givenUpTo, overlapBytes, *m_history);
        give(feed, restart.firstByte, std::min(position(), feedEnd()));
        m_start.store(restart.firstByte, std::memory_order_relaxed);
        m_feed.store(feed, std::memory_order_release);
    });
    return restart;
}

}  // namespace recording
