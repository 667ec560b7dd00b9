#include "web/WebServer.h"

#include "audio/EncoderFeed.h"
#include "web/ExportStream.h"
#include "web/Logging.h"

#include <QDateTime>
#include <QFile>
#include <QHash>

#include <mutex>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <unistd.h>

namespace web {

namespace {

QByteArray valueOf(MHD_Connection *connection, MHD_ValueKind kind, const char *key)
{
    const char *v = MHD_lookup_connection_value(connection, kind, key);
    return v ? QByteArray(v) : QByteArray();
}

// The stream's owner while libmicrohttpd sends it; freed when the answer ends or the client
// goes, which cancels an export still running.
struct StreamHolder {
    std::shared_ptr<ExportStream> stream;
};

ssize_t readHeldStream(void *cls, uint64_t, char *buffer, size_t max)
{
    const ssize_t n = static_cast<StreamHolder *>(cls)->stream->read(buffer, max);
    if (n == -1) return MHD_CONTENT_READER_END_OF_STREAM;
    if (n < 0) return MHD_CONTENT_READER_END_WITH_ERROR;
    return n;
}

void freeHeldStream(void *cls) { delete static_cast<StreamHolder *>(cls); }

MHD_Response *makeResponse(const HttpResponse &r)
{
    if (r.stream) {
        const uint64_t size = r.streamLength >= 0 ? uint64_t(r.streamLength) : MHD_SIZE_UNKNOWN;
        return MHD_create_response_from_callback(size, 64 * 1024, readHeldStream, new StreamHolder{r.stream},
                                                 freeHeldStream);
    }
    if (!r.filePath.isEmpty()) {
        const int fd = ::open(QFile::encodeName(r.filePath).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return nullptr;
        // Takes the descriptor and closes it when the answer is sent.
        return MHD_create_response_from_fd_at_offset64(uint64_t(r.fileLength), fd, uint64_t(r.fileOffset));
    }
    return MHD_create_response_from_buffer(size_t(r.body.size()), const_cast<char *>(r.body.constData()),
                                           MHD_RESPMEM_MUST_COPY);
}

// The library's own messages, each at most once a minute: a client that opens connection
// after connection past the limit must not fill the log.
void logFromLibrary(void *, const char *format, va_list args)
{
    char line[512];
    vsnprintf(line, sizeof line, format, args);
    const QString message = QString::fromLocal8Bit(line).trimmed();
    static std::mutex mutex;
    static QHash<QString, qint64> lastSaid;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto it = lastSaid.constFind(message);
        if (it != lastSaid.constEnd() && now - *it < 60000)
            return;
        if (lastSaid.size() > 100)
            lastSaid.clear();
        lastSaid.insert(message, now);
    }
    qCInfo(lcWeb).noquote() << message;
}

// Marks a request whose answer is queued, in libmicrohttpd's per-request pointer.
int requestAnswered;

// Every request is answered on the first call, once its headers are in: nothing here takes
// a body, and the library queues an answer only then or after the whole body. A body the
// client sends all the same comes in later calls, read and dropped.
MHD_Result handleRequest(void *cls, MHD_Connection *connection, const char *url, const char *method, const char *,
                         const char *, size_t *uploadSize, void **state)
{
    if (*state == &requestAnswered) {
        *uploadSize = 0;
        return MHD_YES;
    }
    *state = &requestAnswered;
    return static_cast<const WebServer *>(cls)->respond(connection, url, method) ? MHD_YES : MHD_NO;
}

}  // namespace

WebServer::WebServer(WebContext context) : m_context(std::move(context)) {}

WebServer::~WebServer() { stop(); }

bool WebServer::respond(MHD_Connection *connection, const char *url, const char *method) const
{
    HttpRequest request;
    request.method = method;
    request.path = QString::fromUtf8(url);
    request.header = [connection](const char *key) { return valueOf(connection, MHD_HEADER_KIND, key); };
    request.argument = [connection](const char *key) { return valueOf(connection, MHD_GET_ARGUMENT_KIND, key); };
    const HttpResponse answered = answer(m_context, request);
    MHD_Response *response = makeResponse(answered);
    unsigned status = unsigned(answered.status);
    if (!response) {
        qCWarning(lcWeb).noquote() << "cannot open" << answered.filePath << ":" << strerror(errno);
        static char unreadable[] = "the recording's file cannot be read\n";
        response = MHD_create_response_from_buffer(sizeof unreadable - 1, unreadable, MHD_RESPMEM_PERSISTENT);
        status = MHD_HTTP_INTERNAL_SERVER_ERROR;
    } else {
        MHD_add_response_header(response, "Content-Type", answered.contentType.constData());
        for (const auto &[name, value] : answered.headers)
            MHD_add_response_header(response, name.constData(), value.constData());
    }
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued == MHD_YES;
}

bool WebServer::start(const ListenAddress &address, QString *error, QString *cause)
{
    stop();
    // A client that goes away mid-answer must not end the program.
    audio::ignoreSigpipe();

    sockaddr_storage storage{};
    unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL | MHD_USE_ERROR_LOG;
    if (address.isIpv6()) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(address.port);
        inet_pton(AF_INET6, address.host.toLatin1().constData(), &in6->sin6_addr);
        flags |= MHD_USE_IPv6;
    } else {
        auto *in4 = reinterpret_cast<sockaddr_in *>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(address.port);
        inet_pton(AF_INET, address.host.toLatin1().constData(), &in4->sin_addr);
    }
    errno = 0;
    m_daemon = MHD_start_daemon(flags, address.port, nullptr, nullptr, &handleRequest, this,
                                MHD_OPTION_EXTERNAL_LOGGER, &logFromLibrary, nullptr,
                                MHD_OPTION_SOCK_ADDR, &storage,
                                MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit,
                                MHD_OPTION_PER_IP_CONNECTION_LIMIT, kConnectionsPerAddress,
                                MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
                                MHD_OPTION_CONNECTION_MEMORY_LIMIT, kHeaderBytes,
                                MHD_OPTION_END);
    if (!m_daemon) {
        *cause = errno ? QString::fromLocal8Bit(strerror(errno)) : QStringLiteral("the address cannot be used");
        *error = QStringLiteral("the web server cannot listen on %1: %2").arg(hostAndPort(address, address.port), *cause);
        return false;
    }
    return true;
}

void WebServer::stop()
{
    if (m_daemon)
        MHD_stop_daemon(m_daemon);
    m_daemon = nullptr;
}

quint16 WebServer::port() const
{
    if (!m_daemon) return 0;
    const MHD_DaemonInfo *info = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    return info ? info->port : 0;
}

}  // namespace web
