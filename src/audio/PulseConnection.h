#pragma once
// One connection to the sound server: a pa_threaded_mainloop and its pa_context.
//
// Shared (std::shared_ptr) by the backend and every stream opened on it, so a stream that
// outlives AudioBackend::release() still has a live mainloop under it. Every pa_* call on
// the context or a stream is made with the mainloop lock held (LoopLock); callbacks run on
// the mainloop thread with the lock already held. Blocking waits are always bounded.

#include <QString>

#include <pulse/pulseaudio.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

namespace audio {

// Holds the mainloop lock for a scope; a no-op on the mainloop thread itself, where the
// lock is already held by the loop.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop *loop)
        : m_loop(pa_threaded_mainloop_in_thread(loop) ? nullptr : loop)
    {
        if (m_loop)
            pa_threaded_mainloop_lock(m_loop);
    }
    ~LoopLock()
    {
        if (m_loop)
            pa_threaded_mainloop_unlock(m_loop);
    }
    LoopLock(const LoopLock &) = delete;
    LoopLock &operator=(const LoopLock &) = delete;

private:
    pa_threaded_mainloop *m_loop;
};

// Something that must be stopped before its connection goes away (capture, playback).
class ServerStream {
public:
    virtual ~ServerStream() = default;
    virtual void stopStream() = 0;
};

class PulseConnection {
public:
    // Connects without autospawn to PULSE_SERVER or the session's server, waiting at most
    // timeoutMs for the context to become ready. Null (and *error) when none is reachable.
    static std::shared_ptr<PulseConnection> connect(int timeoutMs, QString *error);
    ~PulseConnection();  // never on the mainloop thread
    PulseConnection(const PulseConnection &) = delete;
    PulseConnection &operator=(const PulseConnection &) = delete;

    pa_threaded_mainloop *loop() const { return m_loop; }
    pa_context *context() const { return m_context; }
    bool isReady() const { return m_ready.load(std::memory_order_acquire); }
    QString lastError() const;  // the context's last error; lock held

    // Lock held, not on the mainloop thread: waits until done() holds or timeoutMs passes.
    // Callbacks that change what done() looks at must call signal().
    bool waitFor(const std::function<bool()> &done, int timeoutMs);
    // Lock held: waits for op to finish (cancelling it on timeout) and releases it.
    bool finish(pa_operation *op, int timeoutMs);
    void signal() { pa_threaded_mainloop_signal(m_loop, 0); }

    // Streams register so that stopAll() can end them before the connection is dropped.
    void addStream(ServerStream *stream);
    void removeStream(ServerStream *stream);
    void stopAll();

private:
    PulseConnection() = default;
    static void onContextState(pa_context *context, void *self);

    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_failed{false};
    std::mutex m_streamsMutex;
    std::set<ServerStream *> m_streams;
};

}  // namespace audio
