#include "Server.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <utility>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <openssl/ssl.h>

namespace kest {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace ssl = asio::ssl;
using asio::awaitable;
using asio::use_awaitable;
using Local = asio::local::stream_protocol;
using Tcp = asio::ip::tcp;
using LocalStream = beast::basic_stream<Local>;
using TlsStream = ssl::stream<beast::tcp_stream>;

// A failed accept (out of descriptors, most often) is retried after this
// pause: the listener stays readable, and retrying at once would spin.
constexpr std::chrono::milliseconds acceptBackOff{100};

struct Server::Impl {
    HttpFrontEnd& frontEnd;
    RequestLog* log;
    ServerOptions options;
    asio::io_context io{1};
    ssl::context tls{ssl::context::tls_server};
    std::optional<Local::acceptor> localAcceptor;
    std::optional<Tcp::acceptor> tcpAcceptor;
    asio::signal_set signals{io, SIGINT, SIGTERM};
    std::atomic<std::uint64_t> connections{0};
    bool socketBound = false;
    // Connections open now. Shared with the sessions, whose frames may be
    // destroyed with the io_context, after the other members are gone.
    std::shared_ptr<std::size_t> held = std::make_shared<std::size_t>(0);
    // Connections waiting for a request to begin, the longest waiting first
    // (by the time the wait began, then by number), each with the way to
    // close it: that closes it and answers true unless bytes of a request
    // have arrived already.
    using WaitKey = std::pair<std::chrono::steady_clock::time_point, std::uint64_t>;
    std::map<WaitKey, std::function<bool()>> waiting;

    Impl(HttpFrontEnd& f, RequestLog* l, ServerOptions o) : frontEnd(f), log(l), options(std::move(o)) {}

    // Counts one connection from its accept until its session ends.
    class Held {
    public:
        explicit Held(std::shared_ptr<std::size_t> count) : count_(std::move(count)) { ++*count_; }
        Held(Held&&) noexcept = default;
        Held& operator=(Held&&) = delete;
        ~Held() {
            if (count_) --*count_;
        }

    private:
        std::shared_ptr<std::size_t> count_;
    };

    ~Impl() {
        if (socketBound) ::unlink(options.socketPath.c_str());
    }

    void bindLocal() {
        namespace fs = std::filesystem;
        const fs::path path(options.socketPath);
        if (path.has_parent_path()) {
            std::error_code ec;
            fs::create_directories(path.parent_path(), ec);
        }
        if (fs::is_socket(fs::symlink_status(path))) {
            // A socket file left behind is removed, unless something still answers on it.
            Local::socket probe(io);
            boost::system::error_code ec;
            probe.connect(Local::endpoint(options.socketPath), ec);
            if (!ec) throw std::runtime_error(options.socketPath + ": another server is listening there");
            ::unlink(options.socketPath.c_str());
        }
        localAcceptor.emplace(io);
        boost::system::error_code ec;
        localAcceptor->open(Local(), ec);
        if (!ec) localAcceptor->bind(Local::endpoint(options.socketPath), ec);
        if (ec) throw std::runtime_error(options.socketPath + ": " + ec.message());
        socketBound = true;
        ::chmod(options.socketPath.c_str(), 0666);
        localAcceptor->listen(asio::socket_base::max_listen_connections, ec);
        if (ec) throw std::runtime_error(options.socketPath + ": " + ec.message());
    }

    void bindTcp() {
        boost::system::error_code ec;
        Tcp::resolver resolver(io);
        auto results = resolver.resolve(*options.httpsHost, std::to_string(options.httpsPort), ec);
        if (ec || results.empty())
            throw std::runtime_error(*options.httpsHost + ": cannot resolve: " + ec.message());
        const Tcp::endpoint endpoint = *results.begin();
        tcpAcceptor.emplace(io);
        tcpAcceptor->open(endpoint.protocol(), ec);
        if (!ec) tcpAcceptor->set_option(asio::socket_base::reuse_address(true), ec);
        if (!ec) tcpAcceptor->bind(endpoint, ec);
        if (!ec) tcpAcceptor->listen(asio::socket_base::max_listen_connections, ec);
        if (ec)
            throw std::runtime_error(*options.httpsHost + ":" + std::to_string(options.httpsPort) + ": " +
                                     ec.message());
        tls.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                        ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
        // Not left to the system's OpenSSL configuration, which may allow less.
        if (SSL_CTX_set_min_proto_version(tls.native_handle(), TLS1_2_VERSION) != 1)
            throw std::runtime_error("cannot require TLS 1.2");
        tls.use_certificate_chain(asio::buffer(options.tls.certificatePem));
        tls.use_private_key(asio::buffer(options.tls.privateKeyPem), ssl::context::pem);
    }

    // Whether bytes of the peer are held above the socket already: TLS reads
    // whole records, and the last handshake read may carry a request too.
    static bool holdsInput(LocalStream&) { return false; }
    static bool holdsInput(TlsStream& stream) {
        SSL* tls = stream.native_handle();
        return SSL_has_pending(tls) == 1 || BIO_ctrl_pending(SSL_get_rbio(tls)) > 0;
    }

    // Waits, at most the idle time-out, until bytes of a request can be
    // read; false when the connection was closed instead. While it waits,
    // the connection may be closed to make room for a new one. The wait
    // reads nothing, so bytes that have arrived stay visible to that choice.
    template <class Stream>
    awaitable<bool> awaitRequest(Stream& stream, std::uint64_t conn) {
        if (holdsInput(stream)) co_return true;
        auto& timed = beast::get_lowest_layer(stream);
        auto stillWaiting = std::make_shared<bool>(true);
        asio::steady_timer deadline(io, options.idleTimeout);
        deadline.async_wait([&timed, stillWaiting](const boost::system::error_code& ec) {
            if (!ec && *stillWaiting) timed.close();
        });
        const WaitKey key{std::chrono::steady_clock::now(), conn};
        waiting.emplace(key, [&timed] {
            boost::system::error_code ec;
            if (timed.socket().available(ec) != 0 || ec) return false;
            timed.close();
            return true;
        });
        boost::system::error_code ec;
        co_await timed.socket().async_wait(asio::socket_base::wait_read, asio::redirect_error(use_awaitable, ec));
        *stillWaiting = false;
        deadline.cancel();
        waiting.erase(key);
        co_return !ec && timed.socket().is_open();
    }

    // One connection: requests answered in order until the peer closes, a
    // request asks to close, a deadline passes, or a fault drops the connection.
    template <class Stream>
    awaitable<void> serve(Stream& stream, std::uint64_t conn, bool requireAuth) {
        auto& timed = beast::get_lowest_layer(stream);
        beast::flat_buffer buffer;
        asio::steady_timer timer(io);
        for (;;) {
            if (buffer.size() == 0 && !co_await awaitRequest(stream, conn)) co_return;
            timed.expires_after(options.requestTimeout);
            http::request_parser<http::string_body> parser;
            parser.body_limit(options.bodyLimit);
            parser.header_limit(64 * 1024);
            boost::system::error_code ec;
            co_await http::async_read_header(stream, buffer, parser, asio::redirect_error(use_awaitable, ec));
            if (!ec && beast::iequals(parser.get()[http::field::expect], "100-continue")) {
                // The client waits for this before it sends the body (curl does for larger bodies).
                http::response<http::empty_body> proceed{http::status::continue_, parser.get().version()};
                co_await http::async_write(stream, proceed, asio::redirect_error(use_awaitable, ec));
            }
            if (!ec) co_await http::async_read(stream, buffer, parser, asio::redirect_error(use_awaitable, ec));
            Reply reply;
            if (!ec) {
                reply = frontEnd.serve(parser.get(), conn, requireAuth);
            } else if (ec == http::error::body_limit) {
                reply = frontEnd.tooLarge(conn);
            } else if (ec.category() == http::make_error_code(http::error::bad_target).category() &&
                       ec != http::error::end_of_stream && ec != http::error::partial_message) {
                reply = frontEnd.badRequest(conn);  // bytes that are no HTTP request
            } else {
                co_return;  // closed, reset, or cut off mid-message: nothing to answer
            }
            if (log) log->write(reply.log);
            if (reply.delayMs) {
                timer.expires_after(std::chrono::milliseconds(reply.delayMs));
                co_await timer.async_wait(asio::redirect_error(use_awaitable, ec));
            }
            if (reply.drop) co_return;
            const bool keepAlive = reply.response.keep_alive();
            timed.expires_after(options.requestTimeout);
            co_await http::async_write(stream, reply.response, asio::redirect_error(use_awaitable, ec));
            if (ec || !keepAlive) co_return;
        }
    }

    awaitable<void> localSession(Local::socket socket, Held) {
        const std::uint64_t conn = ++connections;
        LocalStream stream(std::move(socket));
        try {
            co_await serve(stream, conn, false);
        } catch (const std::exception& e) {
            // Only this connection ends; the server goes on.
            std::fprintf(stderr, "kest-provider: connection %llu: %s\n", static_cast<unsigned long long>(conn), e.what());
        }
        boost::system::error_code ec;
        stream.socket().shutdown(Local::socket::shutdown_both, ec);
    }

    awaitable<void> tlsSession(Tcp::socket socket, Held) {
        const std::uint64_t conn = ++connections;
        TlsStream stream(beast::tcp_stream(std::move(socket)), tls);
        boost::system::error_code ec;
        beast::get_lowest_layer(stream).expires_after(options.requestTimeout);
        co_await stream.async_handshake(ssl::stream_base::server, asio::redirect_error(use_awaitable, ec));
        try {
            if (!ec) co_await serve(stream, conn, true);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kest-provider: connection %llu: %s\n", static_cast<unsigned long long>(conn), e.what());
        }
        beast::get_lowest_layer(stream).socket().shutdown(Tcp::socket::shutdown_both, ec);
    }

    // Returns when one more connection may be held. At the cap, the
    // connection that waits longest for a request, with nothing of one
    // arrived yet, is closed; the room is there once its session has ended,
    // which is looked for every few milliseconds (only while at the cap).
    awaitable<void> awaitRoom(asio::steady_timer& pause) {
        while (*held >= options.maxConnections) {
            for (auto it = waiting.begin(); it != waiting.end(); ++it) {
                if (it->second()) {
                    waiting.erase(it);
                    break;
                }
            }
            boost::system::error_code ec;
            pause.expires_after(std::chrono::milliseconds(5));
            co_await pause.async_wait(asio::redirect_error(use_awaitable, ec));
        }
    }

    template <class Acceptor, class Session>
    awaitable<void> accept(Acceptor& acceptor, Session session) {
        asio::steady_timer pause(io);
        for (;;) {
            co_await awaitRoom(pause);
            if (!acceptor.is_open()) co_return;
            boost::system::error_code ec;
            auto socket = co_await acceptor.async_accept(asio::redirect_error(use_awaitable, ec));
            if (ec == asio::error::operation_aborted || !acceptor.is_open()) co_return;
            if (ec) {  // e.g. out of file descriptors for a moment
                pause.expires_after(acceptBackOff);
                co_await pause.async_wait(asio::redirect_error(use_awaitable, ec));
                continue;
            }
            // Answers go out in several writes (TLS records, headers then
            // body); without this, Nagle's algorithm holds the last one back
            // until the client's delayed acknowledgement, some 40 ms.
            if constexpr (std::is_same_v<std::decay_t<decltype(socket)>, Tcp::socket>)
                socket.set_option(Tcp::no_delay(true), ec);
            // Counted before the session starts, so that the next turn of
            // this loop sees it.
            asio::co_spawn(io, (this->*session)(std::move(socket), Held(held)), asio::detached);
        }
    }
};

Server::Server(HttpFrontEnd& frontEnd, RequestLog* log, ServerOptions options)
    : impl_(std::make_unique<Impl>(frontEnd, log, std::move(options))) {}

Server::~Server() = default;

void Server::listen() {
    impl_->bindLocal();
    if (impl_->options.httpsHost) impl_->bindTcp();
}

unsigned short Server::httpsPort() const {
    return impl_->tcpAcceptor ? impl_->tcpAcceptor->local_endpoint().port() : 0;
}

void Server::run() {
    Impl& s = *impl_;
    std::signal(SIGPIPE, SIG_IGN);
    s.signals.async_wait([&s](const boost::system::error_code&, int) {
        boost::system::error_code ec;
        if (s.localAcceptor) s.localAcceptor->close(ec);
        if (s.tcpAcceptor) s.tcpAcceptor->close(ec);
        s.io.stop();
    });
    asio::co_spawn(s.io, s.accept(*s.localAcceptor, &Impl::localSession), asio::detached);
    if (s.tcpAcceptor) asio::co_spawn(s.io, s.accept(*s.tcpAcceptor, &Impl::tlsSession), asio::detached);
    s.io.run();
    if (s.socketBound) {
        ::unlink(s.options.socketPath.c_str());
        s.socketBound = false;
    }
}

}  // namespace kest
