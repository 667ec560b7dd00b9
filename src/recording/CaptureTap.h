#pragma once
// The one part of a recording that runs on the audio thread. Every captured block goes
// through block(): it is handed to the current file's encoder feed, kept in the capture
// history and added to the stream position, which stops at the length limit.
//
// Threads: block() runs on the capture's audio thread and nowhere else; it never blocks,
// allocates, locks or logs. Everything else is called on the main thread. What block() reads
// is changed only
// - while no feed is set (block() then touches nothing else): reset() and resume(), or
// - between two blocks, through the capture stream's runBetweenBlocks(): cutTo() and
//   restartInto(),
// so a block goes whole to one file, and a feed taken away receives no block once the call
// that took it has returned. detach() takes the feed away once the stream has stopped.
//
// Positions count the bytes of the stream since the recording began.

#include "audio/Capture.h"
#include "audio/EncoderFeed.h"
#include "recording/CaptureHistory.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace recording {

class CaptureTap {
public:
    // The callback for the capture stream: block() of this tap.
    audio::BlockCallback callback();
    void block(const char *data, std::size_t bytes) noexcept;

    // The stream whose blocks come in, for the changes made between two of them; null
    // while none runs.
    void setStream(audio::CaptureStream *stream) { m_stream = stream; }

    // A new recording: position 0, an empty history of historyBytes. No feed may be set.
    void reset(std::size_t historyBytes);
    // Hands the blocks from the next one on to `feed`, with a limit of limitBytes (0: none)
    // from here; the history starts afresh, since what came before a gap in the capture must
    // never be joined to what follows. No feed may be set.
    void resume(audio::EncoderFeed *feed, std::uint64_t limitBytes);
    // Between two blocks: the next block goes to `feed`, with a limit of limitBytes (0: none)
    // from there. Returns that position, where the old feed's stream ends.
    std::uint64_t cutTo(audio::EncoderFeed *feed, std::uint64_t limitBytes);

    struct Restart {
        std::uint64_t firstByte = 0;  // where `feed`'s file begins
        std::uint64_t end = 0;        // where the dead feed's stream ends
    };
    // Between two blocks: `feed` is given the history from overlapBytes before givenUpTo (as
    // far back as the history holds) and every block from the next on.
    Restart restartInto(audio::EncoderFeed *feed, std::uint64_t givenUpTo, std::uint64_t overlapBytes);
    // No block is handed on or counted any more; the stream must have stopped.
    void detach() { m_feed.store(nullptr, std::memory_order_release); }

    // The position after the last block counted; any thread.
    std::uint64_t position() const { return m_position.load(std::memory_order_acquire); }

private:
    void betweenBlocks(const std::function<void()> &change);

    audio::CaptureStream *m_stream = nullptr;
    std::unique_ptr<CaptureHistory> m_history;
    std::atomic<audio::EncoderFeed *> m_feed{nullptr};  // null: blocks are not counted
    std::atomic<std::uint64_t> m_position{0};
    std::atomic<std::uint64_t> m_limitEnd{0};  // position of the limit; 0 = none
};

}  // namespace recording
