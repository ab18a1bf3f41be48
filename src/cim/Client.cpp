#include "cim/Client.h"

#include <curl/curl.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
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
#include <mutex>

#include <boost/beast/http.hpp>

#include "cim/Codec.h"

namespace cim {

namespace {

// Answers larger than this are refused rather than buffered.
constexpr std::size_t kMaxResponseBytes = 64u << 20;

// libcurl, loaded when the first remote (HTTPS) connection is made. The
// local socket needs neither TLS nor name resolution, and libcurl brings
// some 37 shared libraries that take about 8 MiB of memory once loaded: a
// local run does without them.
struct CurlLibrary {
    CURLcode (*globalInit)(long flags) = nullptr;
    CURL* (*easyInit)() = nullptr;
    CURLcode (*easySetopt)(CURL*, CURLoption, ...) = nullptr;
    CURLcode (*easyPerform)(CURL*) = nullptr;
    CURLcode (*easyGetinfo)(CURL*, CURLINFO, ...) = nullptr;
    CURLcode (*easySend)(CURL*, const void*, size_t, size_t*) = nullptr;
    CURLcode (*easyRecv)(CURL*, void*, size_t, size_t*) = nullptr;
    void (*easyCleanup)(CURL*) = nullptr;
    const char* (*easyStrerror)(CURLcode) = nullptr;
};

// The library's ABI name: the one the curl/curl.h we build with describes.
constexpr const char* kCurlSoname = "libcurl.so.4";

// Throws CannotConnectException when libcurl cannot be loaded.
const CurlLibrary& curlLibrary() {
    static CurlLibrary lib;
    static String failure;
    static std::once_flag once;
    std::call_once(once, [] {
        // Lazy binding, as for a linked library: only the functions used
        // are looked up, not every one of libcurl's libraries' symbols.
        void* handle = ::dlopen(kCurlSoname, RTLD_LAZY | RTLD_LOCAL);
        if (!handle) {
            const char* why = ::dlerror();
            failure = why ? why : kCurlSoname;
            return;
        }
        auto load = [handle](auto& fn, const char* name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(::dlsym(handle, name));
            if (!fn && failure.empty()) failure = String(kCurlSoname) + " has no " + name;
        };
        load(lib.globalInit, "curl_global_init");
        load(lib.easyInit, "curl_easy_init");
        load(lib.easySetopt, "curl_easy_setopt");
        load(lib.easyPerform, "curl_easy_perform");
        load(lib.easyGetinfo, "curl_easy_getinfo");
        load(lib.easySend, "curl_easy_send");
        load(lib.easyRecv, "curl_easy_recv");
        load(lib.easyCleanup, "curl_easy_cleanup");
        load(lib.easyStrerror, "curl_easy_strerror");
        if (failure.empty()) lib.globalInit(CURL_GLOBAL_DEFAULT);
    });
    if (!failure.empty()) throw CannotConnectException("Cannot initialise the HTTP client: " + failure);
    return lib;
}

bool fileExists(const String& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

String lowerCase(std::string_view s) {
    String out(s);
    for (auto& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

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

// Hides the value of every property whose name mentions a password, so that
// a wire trace never shows one.
String maskPasswords(String body) {
    String lower = lowerCase(body);
    std::size_t pos = 0;
    while ((pos = lower.find("password\"", pos)) != String::npos) {
        std::size_t open = lower.find("<value>", pos);
        std::size_t next = lower.find("<property", pos);
        if (open == String::npos || (next != String::npos && next < open)) {
            pos += 9;
            continue;
        }
        open += 7;
        std::size_t close = lower.find("</value>", open);
        if (close == String::npos) break;
        body.replace(open, close - open, "****");
        lower.replace(open, close - open, "****");
        pos = open + 4;
    }
    return body;
}

// Overwrites a text that held a secret (a password, the encoded credentials,
// a request carrying them) before it is released; OPENSSL_cleanse is not
// optimised away as a store to memory about to be freed may be.
void wipe(String& text) {
    if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
}

}  // namespace

SSLContext::SSLContext(const String& trustStorePath, SSLCertificateVerifyFunction verifyCallback,
                       const String& randomFilePath)
    : trustStorePath_(trustStorePath), verifyCallback_(verifyCallback), randomFilePath_(randomFilePath) {}

// One connection to the server, made when the client connects, so that a
// server that is not there is found at connect time; the HTTP exchanges then
// run over it. A remote connection is libcurl's (name resolution, connect
// with a time-out, TLS with SNI and the certificate check, in connect-only
// mode); a local one is a non-blocking Unix-domain socket.
struct Connection {
    CURL* curl = nullptr;
    int fd = -1;
    bool used = false;  // a request has gone over it: the server may have closed it since

    enum class Io { Done, Again, Failed };

    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() { close(); }
    void close() {
        if (curl) curlLibrary().easyCleanup(curl);
        if (fd >= 0) ::close(fd);
        curl = nullptr;
        fd = -1;
        used = false;
    }
    // Forgets the connection without closing it (see ~Impl).
    void abandon() {
        curl = nullptr;
        fd = -1;
    }
    bool open() const { return curl != nullptr || fd >= 0; }

    int socket() const {
        if (fd >= 0) return fd;
        curl_socket_t sock = CURL_SOCKET_BAD;
        if (curl) curlLibrary().easyGetinfo(curl, CURLINFO_ACTIVESOCKET, &sock);
        return sock == CURL_SOCKET_BAD ? -1 : int(sock);
    }
    Io send(const char* data, std::size_t size, std::size_t& sent) {
        if (fd >= 0) return socketIo(::send(fd, data, size, MSG_NOSIGNAL), sent);
        return curlIo(curlLibrary().easySend(curl, data, size, &sent));
    }
    // Done with received == 0 means the server closed the connection.
    Io recv(char* buffer, std::size_t size, std::size_t& received) {
        if (fd >= 0) return socketIo(::recv(fd, buffer, size, 0), received);
        return curlIo(curlLibrary().easyRecv(curl, buffer, size, &received));
    }

private:
    static Io socketIo(ssize_t n, std::size_t& count) {
        count = n > 0 ? std::size_t(n) : 0;
        if (n >= 0) return Io::Done;
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? Io::Again : Io::Failed;
    }
    static Io curlIo(CURLcode rc) { return rc == CURLE_OK ? Io::Done : rc == CURLE_AGAIN ? Io::Again : Io::Failed; }
};

struct CIMClient::Impl {
    enum class Mode { None, Local, Remote };

    Connection connection;
    Mode mode = Mode::None;
    Uint32 timeoutMs = 20000;
    String socketPath;
    String host;
    Uint32 port = 0;
    String userName;
    String password;
    String trustStore;
    SSLCertificateVerifyFunction verifyCallback = nullptr;
    Uint64 messageId = 0;

    // Set while a request is under way. A request made meanwhile can only
    // come from a signal handler that ends the process (the release of the
    // connection at exit); it gets a connection of its own.
    bool busy = false;

    ~Impl() {
        close();
        // close() left an interrupted connection alone; so does the
        // destruction: its handle is abandoned, not cleaned up, for the
        // process is ending from a signal handler that interrupted a call
        // on it.
        if (busy) connection.abandon();
    }

    void close() {
        // A connection interrupted in the middle of a request (the process
        // is ending from a signal handler) is left alone.
        if (!busy) connection.close();
        mode = Mode::None;
        wipe(password);
        password.clear();
    }

    // The callback decides about the server's certificate; an accepted
    // certificate clears the verification error so libcurl's own check passes.
    static int verifyPeer(int preverifyOk, X509_STORE_CTX* store) {
        SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        SSL_CTX* sslCtx = ssl ? SSL_get_SSL_CTX(ssl) : nullptr;
        auto* impl = sslCtx ? static_cast<Impl*>(SSL_CTX_get_app_data(sslCtx)) : nullptr;
        if (!impl || !impl->verifyCallback) return preverifyOk;
        SSLCertificateInfo info;
        if (X509* cert = X509_STORE_CTX_get_current_cert(store)) {
            char buf[512];
            X509_NAME_oneline(X509_get_subject_name(cert), buf, sizeof buf);
            info.subjectName = buf;
            X509_NAME_oneline(X509_get_issuer_name(cert), buf, sizeof buf);
            info.issuerName = buf;
        }
        info.errorDepth = X509_STORE_CTX_get_error_depth(store);
        info.errorCode = X509_STORE_CTX_get_error(store);
        if (!impl->verifyCallback(info)) return 0;
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }

    static CURLcode onSslContext(CURL*, void* sslCtx, void* self) {
        auto* impl = static_cast<Impl*>(self);
        auto* ctx = static_cast<SSL_CTX*>(sslCtx);
        SSL_CTX_set_app_data(ctx, impl);
        if (impl->verifyCallback) SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, verifyPeer);
        return CURLE_OK;
    }

    // Establishes a connection; CannotConnectException when it cannot be had.
    void connect(Connection& c) {
        c.close();
        if (mode == Mode::Local) {
            connectLocal(c);
            return;
        }
        const CurlLibrary& curl = curlLibrary();
        c.curl = curl.easyInit();
        if (!c.curl) throw CannotConnectException("Cannot initialise the HTTP client");
        CURL* h = c.curl;
        curl.easySetopt(h, CURLOPT_NOSIGNAL, 1L);
        if (std::getenv("XK_CIM_CURL_VERBOSE")) curl.easySetopt(h, CURLOPT_VERBOSE, 1L);
        curl.easySetopt(h, CURLOPT_CONNECT_ONLY, 1L);
        curl.easySetopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(timeoutMs));
        curl.easySetopt(h, CURLOPT_TCP_NODELAY, 1L);
        curl.easySetopt(h, CURLOPT_PROTOCOLS_STR, "https");
        // IPv6 literals go in brackets in a URL.
        String urlHost = host.find(':') != String::npos ? "[" + host + "]" : host;
        String url = "https://" + urlHost + ":" + std::to_string(port) + "/cimom";
        // The certificate may be accepted by the callback, but nothing else
        // is relaxed: TLS 1.2 or later, the system's cipher defaults (no
        // cipher list is set), and libcurl sends a host name for SNI (an IP
        // address it does not, as RFC 6066 asks). tests/e2e/test_tls.py.
        curl.easySetopt(h, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
        curl.easySetopt(h, CURLOPT_SSL_CTX_FUNCTION, &Impl::onSslContext);
        curl.easySetopt(h, CURLOPT_SSL_CTX_DATA, this);
        curl.easySetopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
        // With a verification callback, the callback alone judges the certificate, its name included.
        curl.easySetopt(h, CURLOPT_SSL_VERIFYHOST, verifyCallback ? 0L : 2L);
        if (fileExists(trustStore)) {
            curl.easySetopt(h, CURLOPT_CAINFO, trustStore.c_str());
        } else if (verifyCallback) {
            // No trust store: the callback alone judges, so the system's
            // certificate bundle is not loaded (it costs about 30 ms and
            // 1 MiB and could not change the outcome).
            curl.easySetopt(h, CURLOPT_CAINFO, nullptr);
            curl.easySetopt(h, CURLOPT_CAPATH, nullptr);
        }
        curl.easySetopt(h, CURLOPT_URL, url.c_str());
        char error[CURL_ERROR_SIZE] = "";
        curl.easySetopt(h, CURLOPT_ERRORBUFFER, error);
        CURLcode rc = curl.easyPerform(h);
        curl.easySetopt(h, CURLOPT_ERRORBUFFER, nullptr);
        if (rc != CURLE_OK) {
            c.close();
            throw CannotConnectException("Cannot connect to " + host + ":" + std::to_string(port) +
                                         ". Connection failed: " +
                                         (*error ? String(error) : String(curl.easyStrerror(rc))));
        }
    }

    // Connects to the local server's Unix-domain socket within the time-out.
    void connectLocal(Connection& c) {
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
            // connections is full: then it waits for room, at most the send
            // time-out. Afterwards the socket is non-blocking: every read and
            // write waits in poll, against the request's deadline.
            timeval limit{time_t(timeoutMs / 1000), suseconds_t(timeoutMs % 1000 * 1000)};
            connected = ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) == 0 &&
                        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
        }
        if (connected) {
            c.fd = fd;
            return;
        }
        if (fd >= 0) ::close(fd);
        // The socket file tells more than the connect's error.
        struct stat st {};
        String why = ::stat(socketPath.c_str(), &st) != 0 ? std::strerror(errno)
                     : !S_ISSOCK(st.st_mode)            ? "not a socket"
                                                        : "nothing accepts connections there";
        throw CannotConnectException("Cannot connect to local CIM server at " + socketPath + ": " + why);
    }

    // The head of a request. With forTrace the Authorization header shows
    // "****". Otherwise the head holds the encoded credentials: the caller
    // wipes it after use, and no other copy of them is left behind (the
    // buffers are sized up front, so none is reallocated with them inside).
    String requestHead(const xml::RequestHeaders& extra, std::size_t bodyLength, bool forTrace) const {
        String head = "POST /cimom HTTP/1.1\r\nHost: " + (mode == Mode::Local ? String("localhost") : host) +
                      "\r\nContent-Type: application/xml; charset=\"utf-8\"\r\nContent-Length: " +
                      std::to_string(bodyLength) + "\r\nCIMOperation: MethodCall\r\nCIMMethod: " + extra.cimMethod +
                      "\r\nCIMObject: " + extra.cimObject + "\r\n";
        if (mode == Mode::Remote) {
            if (forTrace) {
                head += "Authorization: Basic ****\r\n";
            } else {
                String credentials;
                credentials.reserve(userName.size() + 1 + password.size());
                credentials.append(userName).append(":").append(password);
                String encoded(4 * ((credentials.size() + 2) / 3) + 1, '\0');
                int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                        reinterpret_cast<const unsigned char*>(credentials.data()),
                                        int(credentials.size()));
                wipe(credentials);
                head.reserve(head.size() + 23 + std::size_t(n) + 4);
                head.append("Authorization: Basic ").append(encoded.data(), std::size_t(n)).append("\r\n");
                wipe(encoded);
            }
        }
        head += "\r\n";
        return head;
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

    using Clock = std::chrono::steady_clock;

    [[noreturn]] void timedOut() const {
        throw Exception("The CIM request timed out after " + std::to_string(timeoutMs) + " milliseconds");
    }

    // Waits until the connection's socket is ready for reading or writing.
    void waitFor(Connection& c, bool forWrite, Clock::time_point deadline) const {
        int sock = c.socket();
        if (sock < 0) throw Exception("The connection to the CIM server was lost");
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) timedOut();
            pollfd p{sock, short(forWrite ? POLLOUT : POLLIN), 0};
            int rc = ::poll(&p, 1, int(std::min<long long>(left, 1000)));
            if (rc > 0) return;
            if (rc < 0 && errno != EINTR) throw Exception("The connection to the CIM server failed while waiting");
        }
    }

    Outcome exchangeOn(Connection& c, const String& bytes, Answer& answer, Clock::time_point deadline) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            size_t n = 0;
            Connection::Io io = c.send(bytes.data() + sent, bytes.size() - sent, n);
            if (io == Connection::Io::Again) {
                waitFor(c, true, deadline);
                continue;
            }
            if (io != Connection::Io::Done) return Outcome::ClosedBeforeAnswer;
            sent += n;
        }
        namespace http = boost::beast::http;
        http::response_parser<http::string_body> parser;
        parser.body_limit(kMaxResponseBytes);
        parser.header_limit(64 * 1024);
        parser.eager(true);
        bool anything = false;
        char buf[65536];
        while (!parser.is_done()) {
            size_t n = 0;
            Connection::Io io = c.recv(buf, sizeof buf, n);
            if (io == Connection::Io::Again) {
                waitFor(c, false, deadline);
                continue;
            }
            if (io != Connection::Io::Done || n == 0) {
                if (!anything) return Outcome::ClosedBeforeAnswer;
                // An answer without a length ends with the connection.
                boost::beast::error_code ec;
                parser.put_eof(ec);
                if (!ec && parser.is_done()) break;
                throw Exception("The CIM server closed the connection in the middle of its answer");
            }
            anything = true;
            boost::asio::const_buffer data(buf, n);
            while (data.size() > 0 && !parser.is_done()) {
                boost::beast::error_code ec;
                std::size_t used = parser.put(data, ec);
                if (ec == http::error::need_more) break;
                if (ec == http::error::body_limit)
                    throw Exception("The CIM server's answer exceeds " + std::to_string(kMaxResponseBytes >> 20) +
                                    " MiB");
                if (ec) throw Exception("Malformed HTTP answer from the CIM server: " + ec.message());
                data += used;
                // The parser's own limit does not cover every framing: check the
                // announced length and what has arrived.
                auto announced = parser.content_length();
                if ((announced && *announced > kMaxResponseBytes) || parser.get().body().size() > kMaxResponseBytes)
                    throw Exception("The CIM server's answer exceeds " + std::to_string(kMaxResponseBytes >> 20) +
                                    " MiB");
            }
        }
        auto& message = parser.get();
        answer.status = message.result_int();
        answer.statusLine = "HTTP/" + std::to_string(message.version() / 10) + "." + std::to_string(message.version() % 10) +
                            " " + std::to_string(answer.status) + " " + String(message.reason());
        answer.keepAlive = message.keep_alive();
        for (const auto& field : message)
            answer.headers.emplace_back(lowerCase(std::string_view(field.name_string().data(), field.name_string().size())),
                                        trim(std::string_view(field.value().data(), field.value().size())));
        answer.body = std::move(message.body());
        return Outcome::Answered;
    }

    Answer exchange(const xml::Request& request, const String& body) {
        if (mode == Mode::None) throw Exception("The CIM client is not connected");
        auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        String bytes;
        {
            String head = requestHead(xml::requestHeaders(request), body.size(), false);
            bytes.reserve(head.size() + body.size());
            bytes.append(head).append(body);
            wipe(head);
        }
        if (std::getenv("XK_CIM_TRACE"))
            trace("==== request " + request.messageId + "\n" +
                  requestHead(xml::requestHeaders(request), body.size(), true) + maskPasswords(body) + "\n");

        // A request made while another is under way gets a connection of its own.
        Connection spare;
        Connection& c = busy ? spare : connection;
        struct BusyFlag {
            bool& flag;
            bool old;
            explicit BusyFlag(bool& f) : flag(f), old(f) { flag = true; }
            ~BusyFlag() { flag = old; }
        } busyFlag(busy);

        Answer answer;
        for (int attempt = 0;; ++attempt) {
            if (!c.open()) connect(c);
            bool reused = c.used;
            c.used = true;
            Outcome outcome = Outcome::ClosedBeforeAnswer;
            try {
                outcome = exchangeOn(c, bytes, answer, deadline);
            } catch (...) {
                // A request that timed out or failed in the middle of its
                // answer leaves the connection out of step: the rest of that
                // answer would be read as the answer to the next request.
                c.close();
                wipe(bytes);
                throw;
            }
            if (outcome == Outcome::Answered) break;
            c.close();
            // The server may close a kept-alive connection between requests:
            // try once more on a new one.
            if (!reused || attempt > 0) {
                wipe(bytes);
                throw Exception("The CIM server closed the connection without answering");
            }
        }
        wipe(bytes);
        if (!answer.keepAlive) c.close();
        if (std::getenv("XK_CIM_TRACE")) {
            String t = "==== response " + request.messageId + "\n" + answer.statusLine + "\n";
            for (const auto& [k, v] : answer.headers) t += k + ": " + v + "\n";
            trace(t + "\n" + maskPasswords(answer.body) + "\n");
        }
        return answer;
    }

    xml::Response call(xml::Request request);
};

xml::Response CIMClient::Impl::call(xml::Request request) {
    request.messageId = std::to_string(++messageId);
    String body = xml::encodeRequest(request);
    Answer answer = exchange(request, body);
    wipe(body);

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
    xml::Response response;
    try {
        response = xml::decodeResponse(std::move(answer.body), request.operation);
    } catch (const ParseError& e) {
        throw Exception("Malformed answer from the CIM server: " + e.getMessage());
    }
    if (response.messageId != request.messageId) {
        // An answer to another request: the connection is out of step, so
        // the next request starts on a new one. (A request made from the
        // exit-time release while another was under way used a connection
        // of its own, which is gone already.)
        if (!busy) connection.close();
        throw Exception("The CIM server answered message " + response.messageId + " to request " + request.messageId);
    }
    if (response.errorCode) throw CIMException(*response.errorCode, response.errorDescription);
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
        impl_->connect(impl_->connection);
    } catch (...) {
        impl_->mode = Impl::Mode::None;
        throw;
    }
}

void CIMClient::connect(const String& host, Uint32 portNumber, const SSLContext& sslContext, const String& userName,
                        const String& password) {
    impl_->close();
    if (const String& rnd = sslContext.getRandomFilePath(); fileExists(rnd)) RAND_load_file(rnd.c_str(), 1024);
    impl_->host = host;
    impl_->port = portNumber;
    impl_->userName = userName;
    impl_->password = password;
    impl_->trustStore = sslContext.getTrustStorePath();
    impl_->verifyCallback = sslContext.getVerifyCallback();
    impl_->mode = Impl::Mode::Remote;
    try {
        impl_->connect(impl_->connection);
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
