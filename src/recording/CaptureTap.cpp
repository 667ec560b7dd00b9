#include "recording/CaptureTap.h"

#include <algorithm>

namespace recording {

audio::BlockCallback CaptureTap::callback()
{
    return [this](const char *data, std::size_t bytes) { block(data, bytes); };
}

void CaptureTap::block(const char *data, std::size_t bytes) noexcept
{
    audio::EncoderFeed *feed = m_feed.load(std::memory_order_acquire);
    if (!feed) return;  // no file is ready yet
    // A limited recording takes exactly its length, however late the stop comes: the
    // samples past the limit are not given to the encoder. This thread alone adds.
    const std::uint64_t position = m_position.load(std::memory_order_relaxed);
    const std::uint64_t limitEnd = m_limitEnd.load(std::memory_order_relaxed);
    if (limitEnd != 0) {
        if (position >= limitEnd) return;
        bytes = std::size_t(std::min<std::uint64_t>(bytes, limitEnd - position));
    }
    m_history->append(data, bytes);
    feed->push(data, bytes);  // a dead feed ignores it; the history keeps it for the next
    m_position.store(position + bytes, std::memory_order_release);
}

void CaptureTap::betweenBlocks(const std::function<void()> &change)
{
    if (m_stream)
        m_stream->runBetweenBlocks(change);
    else
        change();
}

void CaptureTap::reset(std::size_t historyBytes)
{
    m_position.store(0);
    m_history = std::make_unique<CaptureHistory>(historyBytes);
}

void CaptureTap::resume(audio::EncoderFeed *feed, std::uint64_t limitBytes)
{
    const std::uint64_t position = m_position.load();
    m_history->reset(position);
    m_limitEnd.store(limitBytes == 0 ? 0 : position + limitBytes);
    m_feed.store(feed, std::memory_order_release);
}

std::uint64_t CaptureTap::cutTo(audio::EncoderFeed *feed, std::uint64_t limitBytes)
{
    std::uint64_t cut = 0;
    betweenBlocks([&] {
        cut = m_position.load(std::memory_order_relaxed);
        m_feed.store(feed, std::memory_order_release);
        m_limitEnd.store(limitBytes == 0 ? 0 : cut + limitBytes, std::memory_order_relaxed);
    });
    return cut;
}

CaptureTap::Restart CaptureTap::restartInto(audio::EncoderFeed *feed, std::uint64_t givenUpTo,
                                            std::uint64_t overlapBytes)
{
    Restart restart;
    betweenBlocks([&] {
        restart.end = m_position.load(std::memory_order_relaxed);
        restart.firstByte = restartPosition(givenUpTo, overlapBytes, *m_history);
        m_history->copyFrom(restart.firstByte, [feed](const char *data, std::size_t bytes) { feed->push(data, bytes); });
        m_feed.store(feed, std::memory_order_release);
    });
    return restart;
}

}  // namespace recording
