#pragma once
// A reference clock for the counting signal (FrameCheck.h): it records the test sound
// server's default source with parec, beside and independently of the program under test,
// and tells the wall-clock time (µs since the epoch) at which each counted frame was captured.
//
// How it knows. A thread of its own reads parec's raw output through a pipe and stamps each
// read with the real-time clock as soon as the read returns. The last frame of a read has
// arrived by then, so   stamp - number / 48000 s   is an upper bound of the signal's offset
// (the wall time of frame 0), late by the delivery of that read. The test server plays 48000
// frames per second of the system's monotonic clock, and NTP slews the real-time clock with
// it, so while the feed runs the offset is constant: the least offset among the reads within
// ±10 s of a frame (the lower envelope) is that offset with the shortest delivery the run had.
// Scheduling jitter only makes reads late, and the envelope passes over late reads.
//
// A frame is judged by the read its chain of numbers is part of: a read counts once 480
// frames in a row have counted by one (10 ms), so the sine, silence, or PipeWire's start block
// is never taken for numbers. Where the chain breaks (the feed ran dry and the server played
// zeros, or parec lost frames), a new segment begins with an offset of its own; a frame that
// no segment holds was not heard.
//
// What remains is constant and small. A frame is dated by the moment the server handed the
// block holding it to its capture streams (the block's last frame at the hand-over), late by
// the shortest delivery from there to this thread's stamp: server -> socket -> parec -> pipe
// -> here, two wake-ups of a few µs each on an idle machine (the earliest read of each second
// comes within some 40 µs of the envelope). Where a clock dated a frame by when the null sink
// plays it out rather than hands it on, the two differ by up to one block: parec's 5 ms
// latency asks for 5 ms blocks on PulseAudio and a 256-frame quantum on PipeWire. summary()
// gives the figures of a run and the breaks it met.
//
// Threads: start(), stop() and the queries run on the caller's thread; the reader thread
// only appends under the mutex.
#include "support/FrameCheck.h"

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace testsupport {

class ClockReference {
public:
    static constexpr int kRate = 48000;
    static constexpr qint64 kTrustedRunFrames = kRate / 100;  // in a row before a read counts
    static constexpr qint64 kEnvelopeWindowFrames = 10LL * kRate;  // each side of a frame

    ClockReference() = default;
    ClockReference(const ClockReference &) = delete;
    ClockReference &operator=(const ClockReference &) = delete;
    ~ClockReference() { stop(); }

    // Starts parec on the default source of PULSE_SERVER; true once counted frames arrive
    // (the counting signal must be on), else false with *error.
    bool start(QString *error, int timeoutMs = 5000)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return fail(error, QStringLiteral("no pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        const char *argv[] = {"parec", "--raw", "--rate=48000", "--channels=2", "--format=s16le",
                              "--latency-msec=5", nullptr};
        const int spawned = ::posix_spawnp(&m_pid, "parec", &actions, nullptr, const_cast<char **>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (spawned != 0) {
            ::close(fds[0]);
            m_pid = 0;
            return fail(error, QStringLiteral("cannot run parec: %1").arg(QString::fromLocal8Bit(std::strerror(spawned))));
        }
        m_fd = fds[0];
        m_reader = std::thread([this] { readUntilEnd(); });
        for (int waited = 0; waited < timeoutMs; waited += 10) {
            if (readCount() > 0)
                return true;
            if (m_ended)
                break;
            ::usleep(10000);
        }
        stop();
        return fail(error, QStringLiteral("no counted frames from parec within %1 ms (is the counting signal on?)")
                               .arg(timeoutMs));
    }

    // Ends parec and the reader; what was heard stays for the queries.
    void stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = 0;
        }
        if (m_reader.joinable())
            m_reader.join();
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    // parec's process id while it runs (for its CPU time), else 0.
    qint64 processId() const { return m_pid; }

    // The wall time (µs since the epoch) at which frame `frameNumber` was captured; -1 when
    // the reference did not hear it. Numbers wrap after 2^32 frames: the one nearest the last
    // frame heard is meant.
    qint64 wallUsOf(quint32 frameNumber) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_segments.empty())
            return -1;
        const qint64 number = m_lastNumber + qint32(frameNumber - quint32(m_lastNumber));
        // The latest segment first: a stale block heard at the start is the earliest.
        for (auto segment = m_segments.rbegin(); segment != m_segments.rend(); ++segment) {
            if (number >= segment->firstNumber && number <= segment->lastNumber)
                return qint64(std::llround(envelopeUs(*segment, number) + double(number) * 1e6 / kRate));
        }
        return -1;
    }

    // The reads that counted so far.
    // The number of the last frame before each break it heard (the source went on elsewhere).
    QSet<quint32> breaksAfter() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        QSet<quint32> numbers;
        for (std::size_t i = 0; i + 1 < m_segments.size(); ++i) numbers.insert(quint32(m_segments[i].lastNumber));
        return numbers;
    }

    qint64 readCount() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return qint64(m_reads.size());
    }

    // How good the envelope is: how late the reads came over it (median and 99th percentile),
    // how near the earliest read of each second came to it (median and worst: how often the
    // machine let a read through at once), and how far it moved from the first 10 s of a
    // segment to its last (a drift, which it follows).
    QString summary() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<double> late, earliestPerSecond;
        double moved = 0;
        for (const Segment &segment : m_segments) {
            double earliest = 1e300;
            for (std::size_t i = segment.firstRead; i < segment.endRead; ++i) {
                late.push_back(offsetUs(m_reads[i]) - envelopeUs(segment, m_reads[i].number));
                earliest = std::min(earliest, late.back());
                const bool secondEnds = i + 1 == segment.endRead
                                        || m_reads[i + 1].number / kRate != m_reads[i].number / kRate;
                if (secondEnds) {
                    earliestPerSecond.push_back(earliest);
                    earliest = 1e300;
                }
            }
            moved = std::max(moved, std::abs(envelopeUs(segment, segment.lastNumber)
                                             - envelopeUs(segment, segment.firstNumber)));
        }
        if (late.empty())
            return QStringLiteral("reference: nothing heard");
        QString breaks;
        for (std::size_t i = 1; i < m_segments.size(); ++i) {
            const Segment &before = m_segments[i - 1], &after = m_segments[i];
            const double atUs = envelopeUs(before, before.lastNumber) + double(before.lastNumber) * 1e6 / kRate;
            breaks += QStringLiteral("; a break after #%1 (%2): %3 frames on, the offset %4 us on")
                          .arg(before.lastNumber)
                          .arg(QDateTime::fromMSecsSinceEpoch(qint64(atUs / 1000)).toString(QStringLiteral("HH:mm:ss.zzz")))
                          .arg(after.firstNumber - before.lastNumber - 1)
                          .arg(envelopeUs(after, after.firstNumber) - envelopeUs(before, before.lastNumber), 0, 'f', 0);
        }
        std::sort(late.begin(), late.end());
        std::sort(earliestPerSecond.begin(), earliestPerSecond.end());
        return QStringLiteral("reference: %1 reads in %2 segment(s), over the envelope by %3 us (median), %4 us "
                              "(99 %); the earliest of each second by %5 us (median), %6 us (worst); the "
                              "envelope moved %7 us over the run")
            .arg(late.size())
            .arg(m_segments.size())
            .arg(late[late.size() / 2], 0, 'f', 0)
            .arg(late[late.size() * 99 / 100], 0, 'f', 0)
            .arg(earliestPerSecond[earliestPerSecond.size() / 2], 0, 'f', 0)
            .arg(earliestPerSecond.back(), 0, 'f', 0)
            .arg(moved, 0, 'f', 0)
            + breaks;
    }

private:
    struct Read {
        qint64 number;  // of its last frame, unwrapped
        qint64 stampUs;
    };
    struct Segment {
        qint64 firstNumber;  // the frames it holds, from the first of its chain
        qint64 lastNumber;
        std::size_t firstRead;  // its reads in m_reads
        std::size_t endRead;
    };

    static bool fail(QString *error, const QString &why)
    {
        if (error)
            *error = why;
        return false;
    }

    static qint64 nowUs()
    {
        timespec t;
        ::clock_gettime(CLOCK_REALTIME, &t);
        return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
    }

    static double offsetUs(const Read &read) { return double(read.stampUs) - double(read.number) * 1e6 / kRate; }

    // The least offset among the segment's reads within the window around `number` (the
    // whole segment when none is that near).
    double envelopeUs(const Segment &segment, qint64 number) const
    {
        const auto begin = m_reads.begin() + std::ptrdiff_t(segment.firstRead);
        const auto end = m_reads.begin() + std::ptrdiff_t(segment.endRead);
        auto from = std::lower_bound(begin, end, number - kEnvelopeWindowFrames,
                                     [](const Read &r, qint64 n) { return r.number < n; });
        auto to = std::upper_bound(from, end, number + kEnvelopeWindowFrames,
                                   [](qint64 n, const Read &r) { return n < r.number; });
        if (from == to) {
            from = begin;
            to = end;
        }
        double least = 1e300;
        for (auto r = from; r != to; ++r)
            least = std::min(least, offsetUs(*r));
        return least;
    }

    // Runs on the reader thread until parec ends.
    void readUntilEnd()
    {
        std::vector<char> buffer(1 << 16);
        std::size_t carried = 0;  // bytes of a frame split between reads
        Chain chain;
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer.data() + carried, buffer.size() - carried);
            const qint64 stamp = nowUs();
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            const std::size_t bytes = carried + std::size_t(n);
            for (std::size_t i = 0; i + 4 <= bytes; i += 4) {
                const quint32 before = chain.last;
                if (!chain.add(countedFrameNumber(buffer.data() + i)) && chain.wasNoted)
                    endSegment(before);
            }
            if (chain.run >= kTrustedRunFrames)
                note(chain, stamp);
            carried = bytes % 4;
            std::memmove(buffer.data(), buffer.data() + bytes - carried, carried);
        }
        m_ended = true;
    }

    // Consecutive frame numbers, as the reader met them.
    struct Chain {
        quint32 last = 0;
        qint64 run = 0;  // frames in a row that counted by one, the last included
        bool noted = false;     // a read of this chain has been noted
        bool wasNoted = false;  // of the chain that the last frame broke
        // False when `number` breaks the chain.
        bool add(quint32 number)
        {
            const bool follows = run > 0 && number == last + 1;
            run = follows ? run + 1 : 1;
            wasNoted = noted && !follows;
            noted = noted && follows;
            last = number;
            return follows;
        }
    };

    void note(Chain &chain, qint64 stamp)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const qint64 number = m_segments.empty() ? qint64(chain.last)
                                                 : m_lastNumber + qint32(chain.last - quint32(m_lastNumber));
        if (!chain.noted) {
            m_segments.push_back({number - chain.run + 1, number, m_reads.size(), m_reads.size()});
            chain.noted = true;
        }
        m_reads.push_back({number, stamp});
        m_segments.back().lastNumber = number;
        m_segments.back().endRead = m_reads.size();
        m_lastNumber = number;
    }

    // A broken chain's segment holds its frames up to `last`, the frames after its last
    // noted read included.
    void endSegment(quint32 last)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_segments.back().lastNumber = m_lastNumber + qint32(last - quint32(m_lastNumber));
    }

    pid_t m_pid = 0;
    int m_fd = -1;
    std::thread m_reader;
    std::atomic<bool> m_ended{false};
    mutable std::mutex m_mutex;
    std::vector<Read> m_reads;  // in the order heard: numbers ascending
    std::vector<Segment> m_segments;
    qint64 m_lastNumber = 0;
};

}  // namespace testsupport
