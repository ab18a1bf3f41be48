// The listeners of kest-provider: plain HTTP on a Unix-domain socket and,
// optionally, HTTPS on a TCP address. One io_context runs every connection
// as a coroutine; HTTP/1.1 connections are kept alive between requests.
// No client can hold the server: every read, write and TLS handshake has a
// deadline, a connection waiting for its next request is closed after a
// while, and the connections held at once are capped.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "Certificate.h"
#include "HttpFrontEnd.h"
#include "RequestLog.h"

namespace kest {

struct ServerOptions {
    std::string socketPath;
    std::optional<std::string> httpsHost;  // with httpsPort: listen for HTTPS there
    unsigned short httpsPort = 0;          // 0: any free port (the ready file tells which)
    CertificatePair tls;
    std::size_t bodyLimit = 16 * 1024 * 1024;
    // From a request's first byte to its last, and for writing the answer
    // and for the TLS handshake.
    std::chrono::milliseconds requestTimeout{30000};
    // How long a connection may wait for a request to begin (its first, or
    // the next on a kept-alive connection).
    std::chrono::milliseconds idleTimeout{60000};
    // Connections held at once, both listeners together. At the cap, the
    // connection that waited longest for a request is closed to make room;
    // when none waits, new connections stay in the listen queue until one ends.
    std::size_t maxConnections = 256;
};

class Server {
public:
    Server(HttpFrontEnd& frontEnd, RequestLog* log, ServerOptions options);
    ~Server();
    // Binds every listener; throws std::runtime_error when one cannot listen.
    void listen();
    // The HTTPS port actually bound (after listen), 0 without HTTPS.
    unsigned short httpsPort() const;
    // Serves until SIGTERM or SIGINT, then closes the listeners and removes the socket file.
    void run();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kest
