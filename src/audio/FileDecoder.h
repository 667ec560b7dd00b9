#pragma once
// Decodes one audio file with FFmpeg, on a thread of its own, into 16-bit stereo at the file's
// own sample rate (mono is sent to both channels, more channels are mixed down). Frame n of that
// output is byte 4n of every position the player shows.
//
// Threads and the hand-over
// - The decoder thread (from start() to the destructor) is the only producer. It writes
//   into a single-producer single-consumer ring of at least two seconds and is the only one
//   that ever waits: on m_mutex/m_wake, for room in the ring or for a command, each wait
//   bounded by a short timeout.
// - take(), finished(), failure() and seek() are the consumer side: one caller at a time (a
//   server stream's callbacks on the mainloop thread and whoever holds that loop's lock, or
//   the thread of "No sound"). They never lock or wait: they read and store atomics and wake
//   the decoder through a try-lock; a wake-up lost to a lock the decoder holds is made up by
//   its timeout.
// - Every seek() starts a generation: it stores the target frame, bumps the asked generation
//   and drops what the ring holds. The decoder sees the new generation, seeks the demuxer to
//   the nearest key point a little before the frame, and publishes the ring position where
//   that generation's bytes begin; it then decodes and drops what precedes the frame. The
//   consumer takes nothing until the asked generation is published and skips what lies
//   before its start, so bytes decoded for an earlier position never reach it after seek()
//   returns. Generation 0 is the file from its start.
// - The end of the file and a read failure are published the same way, per generation: the
//   failure text is written before the end is published and read only while the asked
//   generation is the ended one, so the two threads never touch it at once.
// - A take() that comes up short sets a flag; the decoder, after adding bytes, publishing a
//   generation or reaching the end, clears it and calls onData on its own thread. Both sides
//   put a full fence between their store and their look at the other's (a Dekker pair), so a
//   consumer never starves unnoticed.

#include "audio/RingBuffer.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

namespace audio {

class FileDecoder {
public:
    // Opens the file and its decoder; null (and *error) when it has no decodable audio.
    static std::unique_ptr<FileDecoder> open(const QString &path, QString *error);
    ~FileDecoder();  // stops and joins the thread
    FileDecoder(const FileDecoder &) = delete;
    FileDecoder &operator=(const FileDecoder &) = delete;

    int sampleRate() const { return m_sampleRate; }
    // From the header, or, when it gives none (a FLAC cut off by a crash), from the time
    // stamps at the file's end; 0 only when nothing tells.
    std::int64_t lengthBytes() const { return m_lengthBytes; }

    // Called on the decoder thread after it added bytes (or reached the end) while a take()
    // had come up short of what it wanted. Set before start().
    void setOnData(std::function<void()> onData) { m_onData = std::move(onData); }
    void start();

    // Consumer: copies up to `bytes` (whole frames) into dst; returns how many.
    std::size_t take(char *dst, std::size_t bytes);
    // The whole file has been decoded and taken.
    bool finished() const;
    // A read or decode error ended decoding early; empty otherwise.
    QString failure() const;
    // Goes on from the frame that holds byte `bytes`.
    void seek(std::int64_t bytes);

    struct Impl;

private:
    static constexpr std::uint64_t kNoGeneration = std::numeric_limits<std::uint64_t>::max();

    FileDecoder();

    // Consumer side.
    std::size_t takeFromAskedGeneration(char *dst, std::size_t bytes, bool *freedRoom);
    bool askedGenerationEnded() const;
    void wakeDecoder();

    // Decoder thread.
    bool waitForRoom(std::uint64_t generation);  // false: quitting or the generation is stale
    void waitForCommand(std::uint64_t generation);
    void publishStart(std::uint64_t generation);
    void publishEnd(std::uint64_t generation, const QString &failure);
    void wakeConsumerIfStarved();

    std::unique_ptr<Impl> d;
    int m_sampleRate = 0;
    std::int64_t m_lengthBytes = 0;
    std::function<void()> m_onData;
    std::unique_ptr<RingBuffer> m_ring;

    // Consumer to decoder.
    std::atomic<std::uint64_t> m_askedGeneration{0};
    std::atomic<std::int64_t> m_seekFrame{0};  // of the asked generation; stored before it
    std::atomic<bool> m_quit{false};
    // Decoder to consumer.
    std::atomic<std::uint64_t> m_startedGeneration{0};
    std::atomic<std::uint64_t> m_generationStart{0};  // ring byte count where it begins
    std::atomic<std::uint64_t> m_endedGeneration{kNoGeneration};
    QString m_failure;  // of m_endedGeneration
    std::atomic<bool> m_starved{false};

    std::mutex m_mutex;  // the decoder's waits only
    std::condition_variable m_wake;
    std::thread m_thread;
};

}  // namespace audio
