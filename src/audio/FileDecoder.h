#pragma once
// Decodes one audio file with FFmpeg, on a thread of its own, into a bounded buffer of 16-bit
// stereo at the file's own sample rate (mono is sent to both channels, more channels are
// mixed down). Frame n of that output is byte 4n of every position the player shows.
//
// One consumer (the output feeding the server) takes bytes with take(). seek() empties the
// buffer and has the thread go on from exactly the asked frame: it seeks the demuxer to the
// nearest key point a little before it, decodes and drops what precedes the frame. Bytes
// decoded for an earlier position never reach the buffer after seek() returns.

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

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

    // Called on the decoder thread after it added bytes to a buffer that a take() had found
    // short of what it wanted. Set before start().
    void setOnData(std::function<void()> onData) { m_onData = std::move(onData); }
    void start();

    // Consumer: copies up to `bytes` (whole frames) into dst; returns how many.
    std::size_t take(char *dst, std::size_t bytes);
    // The whole file has been decoded and taken.
    bool finished() const;
    // A read or decode error ended decoding early; empty otherwise.
    QString failure() const;

    void seek(std::int64_t bytes);

    struct Impl;

private:
    FileDecoder();
    void run();

    std::unique_ptr<Impl> d;
    int m_sampleRate = 0;
    std::int64_t m_lengthBytes = 0;
    std::function<void()> m_onData;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<char> m_buffer;  // ring
    std::size_t m_readAt = 0;
    std::size_t m_filled = 0;
    bool m_decodedAll = false;
    bool m_quit = false;
    bool m_starved = false;
    std::uint64_t m_generation = 0;   // bumped by every seek
    std::int64_t m_seekTarget = -1;   // frame, pending for the thread; -1 = none
    QString m_failure;
    std::thread m_thread;
};

}  // namespace audio
