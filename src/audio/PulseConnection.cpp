#include "audio/PulseConnection.h"

namespace audio {

namespace {

struct Deadline {
    pa_threaded_mainloop *loop;
    bool expired = false;
};

void onDeadline(pa_mainloop_api *, pa_time_event *, const struct timeval *, void *userdata)
{
    auto *deadline = static_cast<Deadline *>(userdata);
    deadline->expired = true;
    pa_threaded_mainloop_signal(deadline->loop, 0);
}

void onOperationState(pa_operation *, void *connection)
{
    static_cast<PulseConnection *>(connection)->signal();
}

}  // namespace

std::shared_ptr<PulseConnection> PulseConnection::connect(int timeoutMs, QString *error)
{
    auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return std::shared_ptr<PulseConnection>();
    };
    std::shared_ptr<PulseConnection> c(new PulseConnection);
    c->m_loop = pa_threaded_mainloop_new();
    if (!c->m_loop)
        return fail(QStringLiteral("cannot create the sound server mainloop"));
    c->m_context = pa_context_new(pa_threaded_mainloop_get_api(c->m_loop), "Vantrel");
    if (!c->m_context)
        return fail(QStringLiteral("cannot create a sound server context"));
    pa_context_set_state_callback(c->m_context, &PulseConnection::onContextState, c.get());
    if (pa_context_connect(c->m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return fail(c->lastError());
    if (pa_threaded_mainloop_start(c->m_loop) < 0)
        return fail(QStringLiteral("cannot start the sound server mainloop"));

    LoopLock lock(c->m_loop);
    c->waitFor([&c] { return c->m_ready.load() || c->m_failed.load(); }, timeoutMs);
    if (!c->m_ready.load()) {
        const QString text = c->m_failed.load()
                                 ? c->lastError()
                                 : QStringLiteral("the sound server did not answer in time");
        return fail(text);  // the destructor runs after the lock is released
    }
    return c;
}

PulseConnection::~PulseConnection()
{
    if (m_context) {
        LoopLock lock(m_loop);
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
    }
    if (m_loop) {
        pa_threaded_mainloop_stop(m_loop);
        pa_threaded_mainloop_free(m_loop);
    }
}

QString PulseConnection::lastError() const
{
    return QString::fromUtf8(pa_strerror(pa_context_errno(m_context)));
}

void PulseConnection::onContextState(pa_context *context, void *self)
{
    auto *c = static_cast<PulseConnection *>(self);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        c->m_ready.store(true, std::memory_order_release);
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        c->m_ready.store(false, std::memory_order_release);
        c->m_failed.store(true, std::memory_order_release);
        break;
    default:
        break;
    }
    c->signal();
}

bool PulseConnection::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    Deadline deadline{m_loop};
    pa_time_event *event = pa_context_rttime_new(
        m_context, pa_rtclock_now() + static_cast<pa_usec_t>(timeoutMs) * PA_USEC_PER_MSEC,
        &onDeadline, &deadline);
    if (!event)
        return false;  // without a deadline a wait could hang
    while (!done() && !deadline.expired)
        pa_threaded_mainloop_wait(m_loop);
    pa_threaded_mainloop_get_api(m_loop)->time_free(event);
    return done();
}

bool PulseConnection::finish(pa_operation *op, int timeoutMs)
{
    if (!op)
        return false;
    pa_operation_set_state_callback(op, &onOperationState, this);
    waitFor([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, timeoutMs);
    const bool done = pa_operation_get_state(op) == PA_OPERATION_DONE;
    if (pa_operation_get_state(op) == PA_OPERATION_RUNNING)
        pa_operation_cancel(op);  // its callback will not run any more
    pa_operation_set_state_callback(op, nullptr, nullptr);
    pa_operation_unref(op);
    return done;
}

void PulseConnection::addStream(ServerStream *stream)
{
    std::lock_guard<std::mutex> guard(m_streamsMutex);
    m_streams.insert(stream);
}

void PulseConnection::removeStream(ServerStream *stream)
{
    std::lock_guard<std::mutex> guard(m_streamsMutex);
    m_streams.erase(stream);
}

void PulseConnection::stopAll()
{
    std::lock_guard<std::mutex> guard(m_streamsMutex);
    for (ServerStream *stream : m_streams)
        stream->stopStream();
}

}  // namespace audio
