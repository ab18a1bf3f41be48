// The listeners of kest-provider: plain HTTP on a Unix-domain socket and,
// optionally, HTTPS on a TCP address. One io_context runs every connection
// as a coroutine; HTTP/1.1 connections are kept alive between requests.
#pragma once

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
