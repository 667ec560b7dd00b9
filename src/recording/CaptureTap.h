#pragma once
// The one part of a recording that runs on the audio thread. Every captured block goes
// through block(): it is kept in the capture history, counted in the stream position and
// handed, as far as it lies in the current feed's span, to that file's encoder feed.
//
// A feed takes the stream over a span [start, end) of positions, set by the main thread:
// a file can begin and end at any frame, in the middle of a block, and a start that lies
// back in the history is given from there. So a change of file is sample-exact at the frame
// wanted as long as the old feed's end was set before the capture reached it: the planner
// sets it a second ahead (setEnd), and the cut (cutTo) hands the new feed what was captured
// since.
//
// Threads: block() runs on the capture's audio thread and nowhere else; it never blocks,
// allocates, locks or logs. Everything else is called on the main thread, and changes what
// block() reads only
// - while no stream runs (reset(), restartHistory(), detach()), or
// - between two blocks, through the capture stream's runBetweenBlocks(): everything else,
// so a feed taken away receives no block once the call that took it has returned.
//
// Positions count the bytes of the capture since reset(), gaps of a lost capture excluded.

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
    static constexpr std::uint64_t kNoEnd = UINT64_MAX;

    // The callback for the capture stream: block() of this tap.
    audio::BlockCallback callback();
    void block(const char *data, std::size_t bytes) noexcept;

    // The stream whose blocks come in, for the changes made between two of them; null
    // while none runs.
    void setStream(audio::CaptureStream *stream) { m_stream = stream; }

    // A capture from nothing: position 0, an empty history of historyBytes, no feed.
    void reset(std::size_t historyBytes);
    // The capture goes on after a gap: what came before must never be joined to what
    // follows, so the history starts afresh. No stream may run.
    void restartHistory() { m_history->reset(position()); }
    // The oldest position the history still holds.
    std::uint64_t historyBegin() const { return m_history->begin(); }

    // Between two blocks: `feed` takes the stream from firstByte (no further back than the
    // history holds) up to endByte. No feed may be set. Returns where its stream begins.
    std::uint64_t startFeed(audio::EncoderFeed *feed, std::uint64_t firstByte, std::uint64_t endByte = kNoEnd);
    // Between two blocks: the feed's stream ends at endByte, though never before what it
    // was given; a later end hands it what it missed meanwhile. Returns the end.
    std::uint64_t setEnd(std::uint64_t endByte);
    // Between two blocks: the feed ends at cutByte (as setEnd) and `feed` goes on from there
    // up to endByte. Returns the cut.
    std::uint64_t cutTo(audio::EncoderFeed *feed, std::uint64_t cutByte, std::uint64_t endByte = kNoEnd);
    // Between two blocks: the feed ends at endByte, or where it ends already or the capture
    // has got to when sooner (never before what it was given), and is let go. Returns its end.
    std::uint64_t finishFeed(std::uint64_t endByte);

    struct Restart {
        std::uint64_t firstByte = 0;  // where `feed`'s file begins
        std::uint64_t end = 0;        // where the dead feed's stream ends
    };
    // Between two blocks: `feed` takes the place of the current one, from overlapBytes before
    // givenUpTo (as far back as the history holds), with the same end.
    Restart restartInto(audio::EncoderFeed *feed, std::uint64_t givenUpTo, std::uint64_t overlapBytes);
    // The feed is let go with what it was given; the stream must have stopped.
    void detach() { m_feed.store(nullptr, std::memory_order_release); }

    // The position after the last block counted; any thread.
    std::uint64_t position() const { return m_position.load(std::memory_order_acquire); }
    // Where the current feed's stream begins and ends (kNoEnd: open).
    std::uint64_t feedStart() const { return m_start.load(std::memory_order_relaxed); }
    std::uint64_t feedEnd() const { return m_end.load(std::memory_order_relaxed); }
    // Up to where the current feed has been given the stream.
    std::uint64_t givenUpTo() const;

private:
    void betweenBlocks(const std::function<void()> &change);
    std::uint64_t startSpan(audio::EncoderFeed *feed, std::uint64_t firstByte, std::uint64_t endByte);
    std::uint64_t endSpan(std::uint64_t endByte);
    // What the history holds of [from, to), to the feed.
    void give(audio::EncoderFeed *feed, std::uint64_t from, std::uint64_t to) const;

    audio::CaptureStream *m_stream = nullptr;
    std::unique_ptr<CaptureHistory> m_history;
    std::atomic<audio::EncoderFeed *> m_feed{nullptr};
    std::atomic<std::uint64_t> m_position{0};
    std::atomic<std::uint64_t> m_start{0};
    std::atomic<std::uint64_t> m_end{kNoEnd};
};

}  // namespace recording
