#pragma once
// The HTTP server: libmicrohttpd on threads of its own (one per connection, under a limit of
// connections in all and from one address, each closed after kIdleSeconds without a byte and
// refused headers beyond kHeaderBytes). It answers through answer() (WebRoutes) and never
// runs on the recorder's thread or near the capture.

#include "web/WebRoutes.h"
#include "web/WebSettings.h"

#include <QString>

struct MHD_Connection;
struct MHD_Daemon;

namespace web {

class WebServer {
public:
    static constexpr unsigned kConnectionLimit = 128;
    static constexpr unsigned kConnectionsPerAddress = 64;
    static constexpr unsigned kIdleSeconds = 30;
    static constexpr size_t kHeaderBytes = 32 * 1024;

    explicit WebServer(WebContext context);
    ~WebServer();  // stops: waits for the connections' threads
    WebServer(const WebServer &) = delete;
    WebServer &operator=(const WebServer &) = delete;

    // Listens on `address`; false with *error (the address and the cause) and *cause (the
    // cause alone, a few words) when it cannot.
    [[nodiscard]] bool start(const ListenAddress &address, QString *error, QString *cause);
    void stop();
    bool isRunning() const { return m_daemon != nullptr; }
    // The port listened on (the one asked for, or the one given for port 0).
    quint16 port() const;

    // Answers one request (from libmicrohttpd's callback); false when the answer could not
    // be queued, which closes the connection.
    bool respond(MHD_Connection *connection, const char *url, const char *method) const;

private:
    WebContext m_context;
    MHD_Daemon *m_daemon = nullptr;
};

}  // namespace web
