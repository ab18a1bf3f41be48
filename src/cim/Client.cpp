#include "cim/Client.h"

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>

#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/beast/core/detail/base64.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include "cim/Codec.h"
#include "cim/Secret.h"
#include "cim/Tls.h"

namespace cim {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using boost::system::error_code;
using Clock = std::chrono::steady_clock;

namespace {

// Answers larger than this are refused rather than buffered.
constexpr std::size_t kMaxResponseBytes = 64u << 20;
constexpr std::size_t kReadBufferBytes = 64u << 10;

// A signal does not end a wait of the reactor (it retries a wait that a
// signal cut short), so a wait looks at the watched flag this often.
constexpr auto kInterruptCheck = std::chrono::milliseconds(20);

const volatile std::sig_atomic_t* interruptFlag = nullptr;

bool interrupted() { return interruptFlag != nullptr && *interruptFlag != 0; }

std::string_view view(beast::string_view s) { return {s.data(), s.size()}; }

String trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return String(s.substr(b, e - b));
}

// Decodes %XX escapes (trailer values are URI-encoded).
String uriDecode(std::string_view s) {
    String out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            out += char(std::stoi(String(s.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Where `what` (lower case) occurs in `text` from `from` on, in any case.
std::size_t findNoCase(std::string_view text, std::string_view what, std::size_t from) {
    if (from > text.size()) return String::npos;
    auto it = std::search(text.begin() + std::ptrdiff_t(from), text.end(), what.begin(), what.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
    return it == text.end() ? String::npos : std::size_t(it - text.begin());
}

// A copy of a body with the value of every property whose name mentions a
// password shown as "****", so that a wire trace never shows one. The
// secret parts are skipped, never copied.
String maskPasswords(std::string_view body) {
    String out;
    std::size_t copied = 0, pos = 0;
    while ((pos = findNoCase(body, "password\"", pos)) != String::npos) {
        std::size_t open = findNoCase(body, "<value>", pos);
        std::size_t next = findNoCase(body, "<property", pos);
        if (open == String::npos || (next != String::npos && next < open)) {
            pos += 9;
            continue;
        }
        open += 7;
        std::size_t close = findNoCase(body, "</value>", open);
        if (close == String::npos) break;
        out.append(body.substr(copied, open - copied)).append("****");
        copied = pos = close;
    }
    return out.append(body.substr(copied));
}

// An HTTP request whose buffers are wiped when released: its body may carry
// a password (-g), its headers the encoded credentials (-u). Request bodies
// are never short enough to live inside the string object.
using SecretBody = http::basic_string_body<char, std::char_traits<char>, WipingAllocator<char>>;
using SecretFields = http::basic_fields<WipingAllocator<char>>;
using RequestMessage = http::request<SecretBody, SecretFields>;

}  // namespace

void watchInterruptFlag(const volatile std::sig_atomic_t* flag) { interruptFlag = flag; }

void throwIfInterrupted() {
    if (interrupted()) throw Interrupted();
}

SSLContext::SSLContext(const String& trustStorePath, SSLCertificateVerifyFunction verifyCallback,
                       const String& randomFilePath)
    : trustStorePath_(trustStorePath), verifyCallback_(verifyCallback), randomFilePath_(randomFilePath) {}

namespace {

// Beast reads and writes a remote connection through this: an asynchronous
// stream whose reads and writes the TLS module carries out, on the module's
// reactor. Reads and writes may move fewer bytes than offered.
class RemoteStream {
public:
    using executor_type = asio::io_context::executor_type;

    explicit RemoteStream(std::unique_ptr<tls::Stream> stream) : stream_(std::move(stream)) {}
    executor_type get_executor() { return stream_->context().get_executor(); }
    tls::Stream& tls() { return *stream_; }

    template <class Buffers, class Token>
    auto async_read_some(const Buffers& buffers, Token&& token) {
        return asio::async_initiate<Token, void(error_code, std::size_t)>(
            [this](auto handler, asio::mutable_buffer buffer) { stream_->asyncReadSome(buffer, held(std::move(handler))); },
            token, first<asio::mutable_buffer>(buffers));
    }

    // The pieces Beast writes (a message's header is many small ones) are
    // first gathered into one buffer, up to the size of a TLS record, as
    // Asio's own TLS stream does: one record and one send for the lot, not
    // one each. The buffer holds request bytes, credentials among them, so
    // it wipes itself.
    template <class Buffers, class Token>
    auto async_write_some(const Buffers& buffers, Token&& token) {
        if (gathered_.empty()) gathered_.resize(kTlsRecordBytes);
        std::size_t size = asio::buffer_copy(asio::buffer(gathered_), buffers);
        return asio::async_initiate<Token, void(error_code, std::size_t)>(
            [this](auto handler, asio::const_buffer buffer) { stream_->asyncWriteSome(buffer, held(std::move(handler))); },
            token, asio::const_buffer(gathered_.data(), size));
    }

private:
    template <class Buffer, class Buffers>
    static Buffer first(const Buffers& buffers) {
        for (auto it = asio::buffer_sequence_begin(buffers); it != asio::buffer_sequence_end(buffers); ++it)
            if (Buffer b(*it); b.size() > 0) return b;
        return Buffer();
    }

    // The module takes a copyable function; Beast's handlers may only move.
    template <class Handler>
    static tls::Completion held(Handler handler) {
        auto shared = std::make_shared<Handler>(std::move(handler));
        return [shared](const error_code& ec, std::size_t n) { (*shared)(ec, n); };
    }

    static constexpr std::size_t kTlsRecordBytes = 16 * 1024;
    std::unique_ptr<tls::Stream> stream_;
    std::vector<char, WipingAllocator<char>> gathered_;
};

// Opens the TLS module from the first directory of the program's library
// search path (its run path first, $ORIGIN expanded) that has it. dlopen is
// given the full path rather than left to search: it would search the run
// path of its caller, and a sanitizer's interposed dlopen is the caller then.
void* openTlsModule() {
    void* self = ::dlopen(nullptr, RTLD_NOW);
    Dl_serinfo size{};
    if (self && ::dlinfo(self, RTLD_DI_SERINFOSIZE, &size) == 0) {
        std::unique_ptr<Dl_serinfo, void (*)(void*)> paths(static_cast<Dl_serinfo*>(std::malloc(size.dls_size)),
                                                           std::free);
        if (paths && ::dlinfo(self, RTLD_DI_SERINFOSIZE, paths.get()) == 0 &&
            ::dlinfo(self, RTLD_DI_SERINFO, paths.get()) == 0) {
            for (unsigned i = 0; i < paths->dls_cnt; ++i) {
                String file = String(paths->dls_serpath[i].dls_name) + "/" + tls::kModuleFile;
                struct stat st {};
                if (::stat(file.c_str(), &st) == 0) return ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
            }
        }
    }
    // Not on the search path: dlopen's own search then names what it missed.
    return ::dlopen(tls::kModuleFile, RTLD_NOW | RTLD_LOCAL);
}

// The entry point of the TLS module, loaded at the first remote connection
// and kept until the process ends; null, with why set, when it cannot be had.
tls::MakeContext tlsModule(String& why) {
    static tls::MakeContext entry = nullptr;
    static String failure;
    if (!entry && failure.empty()) {
        void* module = openTlsModule();
        if (module) entry = reinterpret_cast<tls::MakeContext>(::dlsym(module, tls::kEntryName));
        if (!entry) {
            const char* error = ::dlerror();
            failure = String("TLS support cannot be loaded: ") + (error ? error : tls::kModuleFile);
        }
    }
    why = failure;
    return entry;
}

}  // namespace

// One connection to the server, made when the client connects, so that a
// server that is not there is found at connect time; the HTTP exchanges then
// run over it. Local: a Unix-domain stream socket; remote: TLS over TCP.
// Each has its reactor (a remote one's is the TLS module's), run only while
// the client waits for one operation.
struct Connection {
    asio::io_context io{1};
    asio::local::stream_protocol::socket local{io};
    std::optional<RemoteStream> remote;
    beast::flat_buffer buffer;  // what was read beyond the last answer
    bool used = false;          // a request has gone over it: the server may have closed it since

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { close(); }

    bool open() const { return local.is_open() || remote.has_value(); }

    // An operation cut short ends with operation_aborted: it is let end
    // before its stream goes.
    void close() {
        error_code ignored;
        local.close(ignored);
        io.restart();
        io.run();
        if (remote) remote->tls().close();
        remote.reset();
        buffer.clear();
        used = false;
    }

    // Runs what is ready on the connection's reactor.
    void poll() {
        if (remote) {
            remote->tls().poll();
        } else {
            io.restart();
            io.poll();
        }
    }

    // Runs one handler of the connection's reactor, waiting at most until `until`.
    void runOneUntil(Clock::time_point until) {
        if (remote)
            remote->tls().runOneUntil(until);
        else
            io.run_one_until(until);
    }

    // Runs `use` on whichever stream the connection has.
    template <class Use>
    void withStream(Use&& use) {
        if (remote)
            use(*remote);
        else
            use(local);
    }
};

struct CIMClient::Impl {
    enum class Mode { None, Local, Remote };

    Connection connection;
    Mode mode = Mode::None;
    Uint32 timeoutMs = 20000;
    String socketPath;
    tls::Settings server;  // of a remote connection
    String userName;
    Secret password;
    std::unique_ptr<tls::Context> tlsContext;  // made by connect(), kept for reconnects
    Uint64 messageId = 0;

    ~Impl() { close(); }

    void close() {
        connection.close();
        mode = Mode::None;
        password.clear();
        tlsContext.reset();
    }

    Clock::time_point deadlineFromNow() const { return Clock::now() + std::chrono::milliseconds(timeoutMs); }

    [[noreturn]] void timedOut() const {
        throw Exception("The CIM request timed out after " + std::to_string(timeoutMs) + " milliseconds");
    }

    // Starts one operation on the connection (`start` is given its
    // completion handler) and runs the reactor until it has completed. When
    // the deadline passes or the watched flag is raised first, the
    // connection is closed, which ends the operation, and the wait throws.
    template <class Start>
    error_code await(Connection& c, Clock::time_point deadline, Start&& start) {
        error_code result;
        bool done = false;
        start([&result, &done](error_code ec, auto&&...) {
            result = ec;
            done = true;
        });
        // What is ready at once (a write the socket takes whole, an answer
        // already arrived) completes without a wait.
        c.poll();
        while (!done) {
            bool cut = interrupted();
            if (cut || Clock::now() >= deadline) {
                c.close();
                if (cut) throw Interrupted();
                timedOut();
            }
            c.runOneUntil(std::min(deadline, Clock::now() + kInterruptCheck));
        }
        return result;
    }

    // The TLS settings of the remote connections, made by the TLS module.
    void makeTlsContext() {
        String why;
        tls::MakeContext make = tlsModule(why);
        if (make) tlsContext.reset(make(server, why));
        if (!tlsContext) throw connectFailure(why);
    }

    CannotConnectException connectFailure(const String& why) const {
        return CannotConnectException("Cannot connect to " + server.host + ":" + std::to_string(server.port) +
                                      ". Connection failed: " + why);
    }

    // Establishes a connection by the deadline; CannotConnectException when
    // it cannot be had.
    void connect(Connection& c, Clock::time_point deadline) {
        c.close();
        // Reads take what has arrived, up to the buffer's room: without room
        // reserved, they would go 512 bytes at a time.
        c.buffer.reserve(kReadBufferBytes);
        if (mode == Mode::Local)
            connectLocal(c, deadline);
        else
            connectRemote(c, deadline);
    }

    void connectRemote(Connection& c, Clock::time_point deadline) {
        if (!tlsContext) makeTlsContext();
        auto& stream = c.remote.emplace(tlsContext->newStream());
        String why;
        error_code ec;
        try {
            ec = await(c, deadline, [&](auto handler) {
                stream.tls().asyncConnect([handler, &why](const error_code& result, const String& failure) mutable {
                    why = failure;
                    handler(result);
                });
            });
        } catch (...) {
            c.close();
            throw;
        }
        if (ec) {
            c.close();
            throw connectFailure(why);
        }
    }

    // Connects to the local server's Unix-domain socket by the deadline.
    void connectLocal(Connection& c, Clock::time_point deadline) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        bool connected = false;
        int fd = -1;
        if (!socketPath.empty() && socketPath.size() < sizeof address.sun_path) {
            std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
            fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        }
        if (fd >= 0) {
            // A local connect completes at once, unless the server's queue of
            // connections is full: then it waits for room, at most until the
            // deadline (the send time-out) or a signal that raises the flag.
            auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
            left = std::max<long long>(left, 1);
            timeval limit{time_t(left / 1000000), suseconds_t(left % 1000000)};
            if (::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0) {
                int rc;
                while ((rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address)) != 0 &&
                       errno == EINTR && !interrupted()) {
                }
                connected = rc == 0;
            }
        }
        if (connected) {
            error_code ec;
            c.local.assign(asio::local::stream_protocol(), fd, ec);
            if (!ec) return;
        }
        if (fd >= 0) ::close(fd);
        if (interrupted()) throw Interrupted();
        // The socket file tells more than the connect's error.
        struct stat st {};
        String why = ::stat(socketPath.c_str(), &st) != 0 ? std::strerror(errno)
                     : !S_ISSOCK(st.st_mode)            ? "not a socket"
                                                        : "nothing accepts connections there";
        throw CannotConnectException("Cannot connect to local CIM server at " + socketPath + ": " + why);
    }

    // The request of an operation: the body and the headers, the
    // Authorization header with the encoded credentials for a remote server.
    RequestMessage makeRequest(const xml::Request& request) const {
        RequestMessage message(http::verb::post, "/cimom", 11);
        {
            const Secret body(xml::encodeRequest(request));
            message.body().assign(body.c_str(), body.size());
        }
        xml::RequestHeaders extra = xml::requestHeaders(request);
        message.insert(http::field::host, mode == Mode::Local ? String("localhost") : server.host);
        message.insert(http::field::content_type, "application/xml; charset=\"utf-8\"");
        message.insert(http::field::content_length, std::to_string(message.body().size()));
        message.insert("CIMOperation", "MethodCall");
        message.insert("CIMMethod", extra.cimMethod);
        message.insert("CIMObject", extra.cimObject);
        if (mode == Mode::Remote) {
            Secret credentials;
            credentials.reserve(userName.size() + 1 + password.size());
            credentials.append(userName).append(":").append(password.view());
            constexpr std::string_view scheme = "Basic ";
            Secret value;
            value.resize(scheme.size() + beast::detail::base64::encoded_size(credentials.size()));
            std::memcpy(value.data(), scheme.data(), scheme.size());
            std::size_t n = beast::detail::base64::encode(value.data() + scheme.size(), credentials.c_str(),
                                                          credentials.size());
            value.resize(scheme.size() + n);
            message.insert(http::field::authorization, beast::string_view(value.data(), value.size()));
        }
        return message;
    }

    // The request as the trace shows it: the credentials and passwords masked.
    static String traceText(const RequestMessage& message) {
        String text = "POST /cimom HTTP/1.1\r\n";
        for (const auto& field : message) {
            bool secret = field.name() == http::field::authorization;
            text.append(view(field.name_string())).append(": ").append(secret ? "Basic ****" : view(field.value())).append("\r\n");
        }
        const auto& body = message.body();
        return text + "\r\n" + maskPasswords(std::string_view(body.data(), body.size())) + "\n";
    }

    void trace(const String& text) const {
        const char* path = std::getenv("XK_CIM_TRACE");
        if (!path || !*path) return;
        std::ofstream out(path, std::ios::app | std::ios::binary);
        out << text;
    }

    // What one exchange gave: the parsed answer, or how it failed.
    struct Answer {
        unsigned status = 0;
        String statusLine;
        std::vector<std::pair<String, String>> headers;  // names in lower case, trailers included
        String body;
        bool keepAlive = true;
    };
    enum class Outcome { Answered, ClosedBeforeAnswer };

    // A read error that is the parser's refusal of what arrived, not the end
    // of the connection.
    static bool refusedByParser(const error_code& ec) {
        const auto& parserErrors = http::make_error_code(http::error::partial_message).category();
        return ec.category() == parserErrors && ec != http::error::partial_message && ec != http::error::end_of_stream;
    }

    [[noreturn]] static void tooLarge() {
        throw Exception("The CIM server's answer exceeds " + std::to_string(kMaxResponseBytes >> 20) + " MiB");
    }

    Outcome exchangeOn(Connection& c, RequestMessage& message, Answer& answer, Clock::time_point deadline) {
        error_code ec = await(c, deadline, [&](auto handler) {
            c.withStream([&](auto& stream) { http::async_write(stream, message, handler); });
        });
        if (ec) return Outcome::ClosedBeforeAnswer;
        http::response_parser<http::string_body> parser;
        parser.body_limit(kMaxResponseBytes);
        parser.header_limit(64 * 1024);
        // The header first: an announced length over the cap is refused
        // before any of the body is read.
        ec = await(c, deadline, [&](auto handler) {
            c.withStream([&](auto& stream) { http::async_read_header(stream, c.buffer, parser, handler); });
        });
        if (!ec) {
            if (auto announced = parser.content_length(); announced && *announced > kMaxResponseBytes) tooLarge();
            ec = await(c, deadline, [&](auto handler) {
                c.withStream([&](auto& stream) { http::async_read(stream, c.buffer, parser, handler); });
            });
        }
        if (ec == http::error::body_limit) tooLarge();
        if (ec && !parser.got_some()) return Outcome::ClosedBeforeAnswer;
        if (ec && refusedByParser(ec)) throw Exception("Malformed HTTP answer from the CIM server: " + ec.message());
        if (ec) throw Exception("The CIM server closed the connection in the middle of its answer");
        auto& response = parser.get();
        answer.status = response.result_int();
        answer.statusLine = "HTTP/" + std::to_string(response.version() / 10) + "." +
                            std::to_string(response.version() % 10) + " " + std::to_string(answer.status) + " " +
                            String(response.reason());
        answer.keepAlive = response.keep_alive();
        for (const auto& field : response)
            answer.headers.emplace_back(lowerCase(view(field.name_string())), trim(view(field.value())));
        answer.body = std::move(response.body());
        return Outcome::Answered;
    }

    // Sends the request and reads its answer, all by one deadline. When the
    // server had closed a kept-alive connection since the last request, the
    // request goes once more over a new connection, by the same deadline.
    Answer exchange(const xml::Request& request) {
        if (mode == Mode::None) throw Exception("The CIM client is not connected");
        if (interrupted()) throw Interrupted();
        auto deadline = deadlineFromNow();
        RequestMessage message = makeRequest(request);
        if (std::getenv("XK_CIM_TRACE")) trace("==== request " + request.messageId + "\n" + traceText(message));
        Connection& c = connection;
        Answer answer;
        for (int attempt = 0;; ++attempt) {
            if (!c.open()) connect(c, deadline);
            bool reused = c.used;
            c.used = true;
            Outcome outcome = Outcome::ClosedBeforeAnswer;
            try {
                outcome = exchangeOn(c, message, answer, deadline);
            } catch (...) {
                // A request that timed out or failed in the middle of its
                // answer leaves the connection out of step: the rest of that
                // answer would be read as the answer to the next request.
                c.close();
                throw;
            }
            if (outcome == Outcome::Answered) break;
            c.close();
            if (!reused || attempt > 0) throw Exception("The CIM server closed the connection without answering");
        }
        if (!answer.keepAlive) c.close();
        if (std::getenv("XK_CIM_TRACE")) {
            String t = "==== response " + request.messageId + "\n" + answer.statusLine + "\n";
            for (const auto& [k, v] : answer.headers) t += k + ": " + v + "\n";
            trace(t + "\n" + maskPasswords(answer.body) + "\n");
        }
        return answer;
    }

    xml::Response call(xml::Request request, const std::function<void(CIMInstance&&)>& each = {});
};

xml::Response CIMClient::Impl::call(xml::Request request, const std::function<void(CIMInstance&&)>& each) {
    request.messageId = std::to_string(++messageId);
    Answer answer = exchange(request);

    auto header = [&answer](const char* name) -> const String* {
        for (const auto& [k, v] : answer.headers)
            if (k == name) return &v;
        return nullptr;
    };
    if (answer.status == 401)
        throw CIMException(CIM_ERR_ACCESS_DENIED, "Unauthorized: the CIM server rejected the user name or password");
    // A CIM status in the headers or trailers (chunked answers carry errors there).
    if (const String* code = header("cimstatuscode"); code && answer.status == 200) {
        char* end = nullptr;
        unsigned long n = std::strtoul(code->c_str(), &end, 10);
        if (end != code->c_str() && n != 0) {
            const String* description = header("cimstatuscodedescription");
            throw CIMException(Uint32(n), description ? uriDecode(*description) : String());
        }
    }
    if (answer.status != 200) {
        String what = "The CIM server answered HTTP " + std::to_string(answer.status);
        if (const String* cimError = header("cimerror")) what += " (CIMError: " + *cimError + ")";
        throw Exception(what);
    }
    auto checkAnswer = [&](const xml::Response& r) {
        if (r.messageId != request.messageId) {
            // An answer to another request: the connection is out of step, so
            // the next request starts on a new one.
            connection.close();
            throw Exception("The CIM server answered message " + r.messageId + " to request " + request.messageId);
        }
        if (r.errorCode) throw CIMException(*r.errorCode, r.errorDescription);
    };
    // Instances handed on as they are read come from the answer asked for.
    xml::InstanceSink sink;
    if (each)
        sink = [&](const xml::Response& head, CIMInstance&& instance) {
            checkAnswer(head);
            each(std::move(instance));
        };
    xml::Response response;
    try {
        response = xml::decodeResponse(std::move(answer.body), request.operation, sink);
    } catch (const ParseError& e) {
        throw Exception("Malformed answer from the CIM server: " + e.getMessage());
    }
    checkAnswer(response);
    return response;
}

CIMClient::CIMClient() : impl_(std::make_unique<Impl>()) {}

CIMClient::~CIMClient() = default;

// XK_CIM_TIMEOUT_MS, a test and diagnostic aid, caps every time-out set here
// (a positive decimal number of milliseconds; anything else is ignored), so
// that a test can make a slow provider time out without waiting minutes.
void CIMClient::setTimeout(Uint32 timeoutMilliseconds) {
    if (const char* cap = std::getenv("XK_CIM_TIMEOUT_MS"); cap && *cap) {
        char* end = nullptr;
        errno = 0;
        unsigned long long limit = std::strtoull(cap, &end, 10);
        if (errno == 0 && *end == '\0' && *cap != '-' && limit > 0 && limit < timeoutMilliseconds)
            timeoutMilliseconds = Uint32(limit);
    }
    impl_->timeoutMs = timeoutMilliseconds;
}

Uint32 CIMClient::getTimeout() const { return impl_->timeoutMs; }

void CIMClient::connectLocal() {
    impl_->close();
    const char* env = std::getenv("XK_CIM_SOCKET");
    impl_->socketPath = env && *env ? env : kDefaultLocalSocket;
    impl_->mode = Impl::Mode::Local;
    try {
        impl_->connect(impl_->connection, impl_->deadlineFromNow());
    } catch (...) {
        impl_->mode = Impl::Mode::None;
        throw;
    }
}

void CIMClient::connect(const String& host, Uint32 portNumber, const SSLContext& sslContext, const String& userName,
                        const String& password) {
    impl_->close();
    impl_->server = {host, portNumber, sslContext.getTrustStorePath(), sslContext.getVerifyCallback(),
                     sslContext.getRandomFilePath()};
    impl_->userName = userName;
    impl_->password = password;
    impl_->mode = Impl::Mode::Remote;
    try {
        impl_->connect(impl_->connection, impl_->deadlineFromNow());
    } catch (...) {
        impl_->close();
        throw;
    }
}

void CIMClient::disconnect() { impl_->close(); }

namespace {

// The request every operation starts from.
xml::Request newRequest(xml::Operation operation, const CIMNamespaceName& nameSpace) {
    xml::Request r;
    r.operation = operation;
    r.nameSpace = nameSpace;
    return r;
}

// The flags and property list shared by the operations that read objects.
void setReadOptions(xml::Request& r, bool localOnly, bool includeQualifiers, bool includeClassOrigin,
                    const CIMPropertyList& propertyList) {
    r.localOnly = localOnly;
    r.includeQualifiers = includeQualifiers;
    r.includeClassOrigin = includeClassOrigin;
    r.propertyList = propertyList;
}

}  // namespace

Array<CIMObjectPath> CIMClient::enumerateInstanceNames(const CIMNamespaceName& nameSpace, const CIMName& className) {
    xml::Request r = newRequest(xml::Operation::EnumerateInstanceNames, nameSpace);
    r.className = className;
    return impl_->call(std::move(r)).instanceNames;
}

Array<CIMInstance> CIMClient::enumerateInstances(const CIMNamespaceName& nameSpace, const CIMName& className,
                                                 bool deepInheritance, bool localOnly, bool includeQualifiers,
                                                 bool includeClassOrigin, const CIMPropertyList& propertyList) {
    xml::Request r = newRequest(xml::Operation::EnumerateInstances, nameSpace);
    r.className = className;
    r.deepInheritance = deepInheritance;
    setReadOptions(r, localOnly, includeQualifiers, includeClassOrigin, propertyList);
    return impl_->call(std::move(r)).instances;
}

void CIMClient::enumerateInstances(const CIMNamespaceName& nameSpace, const CIMName& className, bool deepInheritance,
                                   bool localOnly, bool includeQualifiers, bool includeClassOrigin,
                                   const CIMPropertyList& propertyList,
                                   const std::function<void(CIMInstance&&)>& each) {
    xml::Request r = newRequest(xml::Operation::EnumerateInstances, nameSpace);
    r.className = className;
    r.deepInheritance = deepInheritance;
    setReadOptions(r, localOnly, includeQualifiers, includeClassOrigin, propertyList);
    impl_->call(std::move(r), each);
}

CIMInstance CIMClient::getInstance(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                                   bool localOnly, bool includeQualifiers, bool includeClassOrigin,
                                   const CIMPropertyList& propertyList) {
    xml::Request r = newRequest(xml::Operation::GetInstance, nameSpace);
    r.instanceName = instanceName;
    setReadOptions(r, localOnly, includeQualifiers, includeClassOrigin, propertyList);
    CIMInstance instance = impl_->call(std::move(r)).instance;
    if (instance.getPath().getClassName().isNull()) instance.setPath(instanceName);
    return instance;
}

CIMClass CIMClient::getClass(const CIMNamespaceName& nameSpace, const CIMName& className, bool localOnly,
                             bool includeQualifiers, bool includeClassOrigin, const CIMPropertyList& propertyList) {
    xml::Request r = newRequest(xml::Operation::GetClass, nameSpace);
    r.className = className;
    setReadOptions(r, localOnly, includeQualifiers, includeClassOrigin, propertyList);
    return impl_->call(std::move(r)).cimClass;
}

CIMValue CIMClient::invokeMethod(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                                 const CIMName& methodName, const Array<CIMParamValue>& inParameters,
                                 Array<CIMParamValue>& outParameters) {
    xml::Request r = newRequest(xml::Operation::InvokeMethod, nameSpace);
    r.instanceName = instanceName;
    r.methodName = methodName.getString();
    r.inParams = inParameters;
    xml::Response response = impl_->call(std::move(r));
    outParameters = std::move(response.outParams);
    return response.returnValue;
}

CIMObjectPath CIMClient::createInstance(const CIMNamespaceName& nameSpace, const CIMInstance& newInstance) {
    xml::Request r = newRequest(xml::Operation::CreateInstance, nameSpace);
    r.newInstance = newInstance;
    return impl_->call(std::move(r)).instanceName;
}

void CIMClient::deleteInstance(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName) {
    xml::Request r = newRequest(xml::Operation::DeleteInstance, nameSpace);
    r.instanceName = instanceName;
    impl_->call(std::move(r));
}

}  // namespace cim
