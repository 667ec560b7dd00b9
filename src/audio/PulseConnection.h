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
        : loop_(pa_threaded_mainloop_in_thread(loop) ? nullptr : loop)
    {
        if (loop_)
            pa_threaded_mainloop_lock(loop_);
    }
    ~LoopLock()
    {
        if (loop_)
            pa_threaded_mainloop_unlock(loop_);
    }
    LoopLock(const LoopLock &) = delete;
    LoopLock &operator=(const LoopLock &) = delete;

private:
    pa_threaded_mainloop *loop_;
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

    pa_threaded_mainloop *loop() const { return loop_; }
    pa_context *context() const { return context_; }
    bool isReady() const { return ready_.load(std::memory_order_acquire); }
    QString lastError() const;  // the context's last error; lock held

    // Lock held, not on the mainloop thread: waits until done() holds or timeoutMs passes.
    // Callbacks that change what done() looks at must call signal().
    bool waitFor(const std::function<bool()> &done, int timeoutMs);
    // Lock held: waits for op to finish (cancelling it on timeout) and releases it.
    bool finish(pa_operation *op, int timeoutMs);
    void signal() { pa_threaded_mainloop_signal(loop_, 0); }

    // Streams register so that stopAll() can end them before the connection is dropped.
    void addStream(ServerStream *stream);
    void removeStream(ServerStream *stream);
    void stopAll();

private:
    PulseConnection() = default;
    static void onContextState(pa_context *context, void *self);

    pa_threaded_mainloop *loop_ = nullptr;
    pa_context *context_ = nullptr;
    std::atomic<bool> ready_{false};
    std::atomic<bool> failed_{false};
    std::mutex streamsMutex_;
    std::set<ServerStream *> streams_;
};

}  // namespace audio
