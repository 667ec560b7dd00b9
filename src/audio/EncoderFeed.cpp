// The encoder child process and the thread that feeds it.
//
// start() spawns the encoder directly (posix_spawn: a program that cannot be executed is
// reported at once), in a process group of its own so that a Ctrl+C meant for Vantrel does
// not kill it before it has finished its file, with stdin = our pipe, stdout = /dev/null,
// stderr = a second pipe and no other descriptor. SIGPIPE is ignored process-wide so that a dying
// encoder shows up as EPIPE instead of ending the program; the child gets it back.
//
// Each feed's shared state lives as long as its writer thread. The thread writes the ring
// buffer into the (non-blocking) pipe, drains it after stop(), closes the pipe and reaps the
// child, then marks itself done. A second thread of the feed reads the encoder's standard
// error and keeps its last kErrorTailBytes, so that a failure can say what the encoder said;
// it takes the tail's own lock only for a copy, so neither the capture nor the writer ever
// waits for it. It ends when the encoder's standard error closes, or shortly after the
// encoder was reaped (a child of the encoder may still hold it open); the writer thread
// joins it before it marks itself done. A process-wide registry keeps the threads and joins the
// finished ones, so nothing is left behind once waitForAll() has returned true.

#include "audio/Capture.h"
#include "audio/EncoderFeed.h"
#include "audio/RingBuffer.h"
#include "audio/WavHeader.h"
#include "core/ThreadName.h"

#include <QFile>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace audio {

namespace {

constexpr int kBufferSeconds = 8;
// push() wakes the writer once a tenth of a second of audio is queued, and the writer's
// timed wait takes whatever is there at least as often: the encoder gets its input within
// 100 ms, and the writer wakes ten times a second instead of once a block. The wait also
// covers a wake-up lost while the writer held the lock, and the check for an encoder that
// went away.
constexpr auto kIdleWait = std::chrono::milliseconds(100);
constexpr int kWakeDivisor = 10;  // wake the writer at 1/10 s of queued audio
constexpr int kPollMs = 100;
constexpr std::size_t kErrorTailBytes = 4096;
// How long the error reader goes on after the encoder was reaped, for what is still in the pipe.
constexpr int kErrorDrainMs = 500;

struct FeedState {
    FeedState(std::size_t capacity, int pipeFd, pid_t childPid)
        : ring(capacity), fd(pipeFd), pid(childPid)
    {
    }
    RingBuffer ring;
    int fd;
    const pid_t pid;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> dead{false};  // exited, or stopped reading
    std::atomic<bool> done{false};  // pipe closed and child reaped
    std::atomic<std::uint64_t> dropped{0};
    std::atomic<std::uint64_t> written{0};  // into the pipe, header included
    std::size_t headerBytes = 0;
    std::size_t wakeBytes = 0;  // queued bytes at which push() wakes the writer
    std::atomic<int> waitStatus{-1};  // the child's wait status once reaped
    std::mutex wakeMutex;
    std::condition_variable wake;

    int errorFd = -1;  // read end of the encoder's standard error
    std::atomic<bool> reaped{false};
    std::thread errorReader;
    mutable std::mutex tailMutex;
    std::string errorTail;  // the last kErrorTailBytes the encoder wrote to its standard error
};

// Runs on the feed's error reader thread.
void readErrors(FeedState &s)
{
    char chunk[1024];
    qint64 drainUntilMs = -1;
    for (;;) {
        pollfd p{s.errorFd, POLLIN, 0};
        const int ready = ::poll(&p, 1, kPollMs);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0) {
            const ssize_t n = ::read(s.errorFd, chunk, sizeof chunk);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                break;  // closed: the encoder and its children are gone
            if (n > 0) {
                std::lock_guard<std::mutex> guard(s.tailMutex);
                s.errorTail.append(chunk, static_cast<std::size_t>(n));
                if (s.errorTail.size() > kErrorTailBytes)
                    s.errorTail.erase(0, s.errorTail.size() - kErrorTailBytes);
                continue;
            }
        }
        if (s.reaped.load(std::memory_order_acquire)) {
            const qint64 nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count();
            if (drainUntilMs < 0)
                drainUntilMs = nowMs + kErrorDrainMs;
            else if (nowMs >= drainUntilMs)
                break;
        }
    }
    ::close(s.errorFd);
    s.errorFd = -1;
}

class Registry {
public:
    void add(std::shared_ptr<FeedState> state, std::thread thread)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_entries.push_back({std::move(state), std::move(thread)});
    }
    void spawned()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        ++m_running;
    }
    void finished(FeedState &state)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        --m_running;
        state.done.store(true, std::memory_order_release);
        m_changed.notify_all();
    }
    bool waitForStopped(int timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const bool all = m_changed.wait_for(
            lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs), [this] {
                for (const Entry &e : m_entries) {
                    if (e.state->stopRequested.load() && !e.state->done.load())
                        return false;
                }
                return true;
            });
        joinFinished();
        return all;
    }
    int running()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        joinFinished();
        return m_running;
    }
    void collect()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        joinFinished();
    }

private:
    struct Entry {
        std::shared_ptr<FeedState> state;
        std::thread thread;
    };
    // Mutex held. A done thread no longer touches the registry, so joining here is quick.
    void joinFinished()
    {
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            if (it->state->done.load(std::memory_order_acquire)) {
                it->thread.join();
                it = m_entries.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::list<Entry> m_entries;
    int m_running = 0;
};

// Never destroyed: writer threads still running at exit may touch it until the end.
Registry &registry()
{
    static Registry *instance = new Registry;
    return *instance;
}

bool readerGone(int fd)
{
    pollfd p{fd, 0, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLERR | POLLHUP)) != 0;
}

// Runs on the feed's own thread.
void writeAll(FeedState &s)
{
    for (;;) {
        std::size_t span = 0;
        const char *data = s.ring.peek(&span);
        if (span == 0) {
            if (s.stopRequested.load(std::memory_order_acquire)) {
                if (s.ring.readable() == 0)
                    return;  // everything pushed before stop() has been written
                continue;
            }
            if (readerGone(s.fd)) {
                s.dead.store(true, std::memory_order_release);
                return;
            }
            std::unique_lock<std::mutex> lock(s.wakeMutex);
            s.wake.wait_for(lock, kIdleWait, [&s] {
                return s.ring.readable() > 0 || s.stopRequested.load();
            });
            continue;
        }
        const ssize_t written = ::write(s.fd, data, span);
        if (written > 0) {
            s.ring.consume(static_cast<std::size_t>(written));
            s.written.fetch_add(static_cast<std::uint64_t>(written), std::memory_order_relaxed);
            continue;
        }
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{s.fd, POLLOUT, 0};
            if (poll(&p, 1, kPollMs) > 0 && (p.revents & (POLLERR | POLLHUP)) != 0) {
                s.dead.store(true, std::memory_order_release);
                return;
            }
            continue;
        }
        s.dead.store(true, std::memory_order_release);  // EPIPE: the encoder is gone
        return;
    }
}

void runFeed(std::shared_ptr<FeedState> state)
{
    writeAll(*state);
    ::close(state->fd);
    state->fd = -1;
    int status = 0;
    pid_t reaped = -1;
    while ((reaped = ::waitpid(state->pid, &status, 0)) < 0 && errno == EINTR) {
    }
    state->reaped.store(true, std::memory_order_release);
    // What the encoder said is complete before its end is known.
    if (state->errorReader.joinable())
        state->errorReader.join();
    if (reaped == state->pid)
        state->waitStatus.store(status, std::memory_order_release);
    state->dead.store(true, std::memory_order_release);
    registry().finished(*state);
}

// Short enough for the status line: the program's file name and what stopped it.
QString startError(const QString &program, int code)
{
    const QString name = program.mid(program.lastIndexOf(QLatin1Char('/')) + 1);
    if (code == ENOENT)
        return QStringLiteral("%1 not found").arg(name);
    return QStringLiteral("cannot start %1: %2")
        .arg(name, QString::fromLocal8Bit(std::strerror(code)).toLower());
}

class PipeEncoderFeed final : public EncoderFeed {
public:
    explicit PipeEncoderFeed(std::shared_ptr<FeedState> state) : m_state(std::move(state)) {}
    ~PipeEncoderFeed() override { stop(); }

    void push(const char *data, std::size_t bytes) noexcept override
    {
        if (m_state->stopRequested.load(std::memory_order_relaxed) ||
            m_state->dead.load(std::memory_order_relaxed))
            return;
        if (!m_state->ring.write(data, bytes)) {
            m_state->dropped.fetch_add(bytes, std::memory_order_relaxed);
            return;
        }
        // Only try the lock: if the writer holds it, it is about to look at the ring anyway,
        // and its timed wait covers the rest.
        if (m_state->ring.readable() >= m_state->wakeBytes && m_state->wakeMutex.try_lock()) {
            m_state->wake.notify_one();
            m_state->wakeMutex.unlock();
        }
    }

    void stop() override
    {
        if (m_state->stopRequested.exchange(true, std::memory_order_acq_rel))
            return;
        std::lock_guard<std::mutex> guard(m_state->wakeMutex);
        m_state->wake.notify_one();
    }

    bool isAlive() const override { return !m_state->dead.load(std::memory_order_acquire); }
    QString endDescription() const override
    {
        if (isAlive())
            return {};
        const int status = m_state->waitStatus.load(std::memory_order_acquire);
        if (status == -1)
            return QStringLiteral("stopped reading its input");
        if (WIFEXITED(status))
            return QStringLiteral("exited with status %1").arg(WEXITSTATUS(status));
        if (WIFSIGNALED(status))
            return QStringLiteral("killed by signal %1").arg(WTERMSIG(status));
        return QStringLiteral("ended");
    }
    QString errorTail() const override
    {
        std::lock_guard<std::mutex> guard(m_state->tailMutex);
        // A cut at the front may split a character: what is left of it is dropped.
        return QString::fromLocal8Bit(m_state->errorTail).remove(QChar::ReplacementCharacter);
    }
    std::uint64_t droppedBytes() const override
    {
        return m_state->dropped.load(std::memory_order_relaxed);
    }
    std::uint64_t deliveredBytes() const override
    {
        const std::uint64_t written = m_state->written.load(std::memory_order_relaxed);
        return written > m_state->headerBytes ? written - m_state->headerBytes : 0;
    }

private:
    std::shared_ptr<FeedState> m_state;
};

// The program and its arguments as the system takes them: file-name encoded, and an array of
// pointers into them that ends with a null.
struct ChildArguments {
    explicit ChildArguments(const QStringList &argv)
    {
        args.reserve(static_cast<std::size_t>(argv.size()));
        for (const QString &arg : argv)
            args.push_back(QFile::encodeName(arg));
        for (QByteArray &arg : args)
            pointers.push_back(arg.data());
        pointers.push_back(nullptr);
    }
    ChildArguments(const ChildArguments &) = delete;
    ChildArguments &operator=(const ChildArguments &) = delete;

    std::vector<QByteArray> args;
    std::vector<char *> pointers;
};

// The child's environment: the inherited one with `extra` ("NAME=value") added, an entry of
// the same name replaced. Built before the spawn, like the arguments, so that nothing is
// allocated between the fork and the exec; with no extra entries the child gets `environ`.
struct ChildEnvironment {
    explicit ChildEnvironment(const QStringList &extra)
    {
        if (extra.isEmpty())
            return;
        for (const QString &entry : extra)
            entries.push_back(QFile::encodeName(entry));
        for (char **inherited = environ; *inherited; ++inherited) {
            if (!isReplaced(*inherited))
                pointers.push_back(*inherited);
        }
        for (QByteArray &entry : entries)
            pointers.push_back(entry.data());
        pointers.push_back(nullptr);
    }
    ChildEnvironment(const ChildEnvironment &) = delete;
    ChildEnvironment &operator=(const ChildEnvironment &) = delete;

    char *const *envp() const { return pointers.empty() ? environ : pointers.data(); }

    std::vector<QByteArray> entries;
    std::vector<char *> pointers;

private:
    bool isReplaced(const char *inherited) const
    {
        const char *equals = std::strchr(inherited, '=');
        const std::size_t nameLength =
            equals ? std::size_t(equals - inherited) : std::strlen(inherited);
        for (const QByteArray &entry : entries) {
            const qsizetype entryName = entry.indexOf('=');
            if (std::size_t(entryName < 0 ? entry.size() : entryName) == nameLength &&
                std::strncmp(entry.constData(), inherited, nameLength) == 0)
                return true;
        }
        return false;
    }
};

// A close-on-exec pipe whose end `childEnd` (0 = read, 1 = write), the one the child gets as
// a standard descriptor, is numbered 3 or above, so that the dup2 onto 0…2 always clears
// its close-on-exec flag. 0, or the errno that stopped it with nothing left open.
int openChildPipe(int fds[2], int childEnd)
{
    if (::pipe2(fds, O_CLOEXEC) < 0)
        return errno;
    if (fds[childEnd] >= 3)
        return 0;
    const int moved = ::fcntl(fds[childEnd], F_DUPFD_CLOEXEC, 3);
    const int code = errno;
    ::close(fds[childEnd]);
    if (moved < 0) {
        ::close(fds[1 - childEnd]);
        return code;
    }
    fds[childEnd] = moved;
    return 0;
}

// The child's start: standard input from `inputFd`, output into `outputFd` and error into
// `errorFd` (each /dev/null when -1), no other descriptor; SIGPIPE back to its default, no
// signal blocked, a process group of its own.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    SpawnSetup(int inputFd, int outputFd, int errorFd)
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_adddup2(&actions, inputFd, STDIN_FILENO);
        for (const auto &[fd, target] : {std::pair{outputFd, STDOUT_FILENO}, std::pair{errorFd, STDERR_FILENO}}) {
            if (fd < 0)
                posix_spawn_file_actions_addopen(&actions, target, "/dev/null", O_WRONLY, 0);
            else
                posix_spawn_file_actions_adddup2(&actions, fd, target);
        }
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigset_t noMask;
        sigemptyset(&noMask);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setsigmask(&attr, &noMask);
        posix_spawnattr_setpgroup(&attr, 0);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK |
                                            POSIX_SPAWN_SETPGROUP);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    SpawnSetup(const SpawnSetup &) = delete;
    SpawnSetup &operator=(const SpawnSetup &) = delete;
};

// Starts the encoder (searched on PATH unless its name holds a slash): 0 and *pid, or the
// error code.
int spawnEncoder(const ChildArguments &arguments, const ChildEnvironment &environment,
                 int inputFd, int outputFd, int errorFd, pid_t *pid)
{
    const SpawnSetup setup(inputFd, outputFd, errorFd);
    char *const *argv = arguments.pointers.data();
    char *const *envp = environment.envp();
    return arguments.args.front().contains('/')
               ? ::posix_spawn(pid, argv[0], &setup.actions, &setup.attr, argv, envp)
               : ::posix_spawnp(pid, argv[0], &setup.actions, &setup.attr, argv, envp);
}

// The feed's state with the WAV header already queued.
std::shared_ptr<FeedState> makeFeedState(int sampleRate, int inputFd, int errorFd, pid_t pid)
{
    std::size_t capacity = static_cast<std::size_t>(sampleRate) * kBytesPerFrame * kBufferSeconds;
    auto state = std::make_shared<FeedState>(capacity, inputFd, pid);
    const auto header = wav::streamingWavHeader(sampleRate);
    state->ring.write(header.data(), header.size());
    state->headerBytes = header.size();
    state->wakeBytes = static_cast<std::size_t>(sampleRate) * kBytesPerFrame / kWakeDivisor;
    state->errorFd = errorFd;
    state->errorTail.reserve(kErrorTailBytes + 1024);
    return state;
}

// Starts the error reader and the writer; empty, or why not (the pipe is then closed and
// the child reaped here).
QString startFeedThreads(const std::shared_ptr<FeedState> &state)
{
    try {
        // Joined by the writer, which holds the state: a plain reference is enough here.
        state->errorReader = std::thread([&s = *state] {
            core::nameThisThread("vt-encoder-err");
            readErrors(s);
        });
        std::thread writer([state] {
            core::nameThisThread("vt-encoder-feed");
            runFeed(state);
        });
        registry().add(state, std::move(writer));
    } catch (const std::system_error &e) {
        if (!state->errorReader.joinable())
            ::close(state->errorFd);
        state->stopRequested.store(true);
        runFeed(state);  // closes the pipe and reaps the child here
        return QStringLiteral("cannot start the encoder feed: %1")
            .arg(QString::fromLocal8Bit(e.what()));
    }
    return {};
}

}  // namespace

void ignoreSigpipe()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, nullptr);
    });
}

int spawnFilter(const QStringList &argv, int inputFd, int outputFd, pid_t *pid)
{
    ignoreSigpipe();
    const ChildArguments arguments(argv);
    const ChildEnvironment environment({});
    return spawnEncoder(arguments, environment, inputFd, outputFd, -1, pid);
}

std::unique_ptr<EncoderFeed> EncoderFeed::start(const QStringList &argv, int sampleRate,
                                                QString *error, const QStringList &environment)
{
    auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return nullptr;
    };
    if (argv.isEmpty() || argv.front().isEmpty())
        return fail(QStringLiteral("no encoder program given"));
    if (sampleRate <= 0)
        return fail(QStringLiteral("unsupported sample rate %1 Hz").arg(sampleRate));
    ignoreSigpipe();
    registry().collect();

    const ChildArguments arguments(argv);
    const ChildEnvironment childEnvironment(environment);
    int errorFds[2];  // the encoder's standard error, write end the child's
    int code = openChildPipe(errorFds, 1);
    if (code != 0)
        return fail(startError(argv.front(), code));
    int fds[2];  // the encoder's standard input, read end the child's
    code = openChildPipe(fds, 0);
    if (code != 0) {
        ::close(errorFds[0]);
        ::close(errorFds[1]);
        return fail(startError(argv.front(), code));
    }
    pid_t pid = -1;
    code = spawnEncoder(arguments, childEnvironment, fds[0], -1, errorFds[1], &pid);
    ::close(fds[0]);
    ::close(errorFds[1]);
    if (code != 0) {
        ::close(fds[1]);
        ::close(errorFds[0]);
        return fail(startError(argv.front(), code));
    }
    ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    registry().spawned();

    std::shared_ptr<FeedState> state = makeFeedState(sampleRate, fds[1], errorFds[0], pid);
    const QString threadFailure = startFeedThreads(state);
    if (!threadFailure.isEmpty())
        return fail(threadFailure);
    return std::make_unique<PipeEncoderFeed>(std::move(state));
}

bool EncoderFeed::waitForAll(int timeoutMs)
{
    return registry().waitForStopped(timeoutMs);
}

int EncoderFeed::runningCount()
{
    return registry().running();
}

}  // namespace audio
