#include "cim/Client.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <netdb.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>

#include "cim/Codec.h"

namespace cim {

namespace {

// Answers larger than this are refused rather than buffered.
constexpr std::size_t kMaxResponseBytes = 64u << 20;

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
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

// Connects a stream socket to the address within timeoutMs; -1 with errno set on failure.
int connectWithTimeout(int family, const sockaddr* addr, socklen_t len, Uint32 timeoutMs) {
    int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int flags = ::fcntl(fd, F_GETFL, 0);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(fd, addr, len);
    if (rc < 0 && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        rc = ::poll(&p, 1, timeoutMs == 0 ? -1 : int(timeoutMs));
        if (rc == 0) {
            errno = ETIMEDOUT;
            rc = -1;
        } else if (rc > 0) {
            int err = 0;
            socklen_t errLen = sizeof err;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &errLen);
            if (err != 0) {
                errno = err;
                rc = -1;
            } else {
                rc = 0;
            }
        }
    }
    if (rc < 0) {
        int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    ::fcntl(fd, F_SETFL, flags);
    return fd;
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

}  // namespace

SSLContext::SSLContext(const String& trustStorePath, SSLCertificateVerifyFunction verifyCallback,
                       const String& randomFilePath)
    : trustStorePath_(trustStorePath), verifyCallback_(verifyCallback), randomFilePath_(randomFilePath) {}

struct CIMClient::Impl {
    enum class Mode { None, Local, Remote };

    CURL* curl = nullptr;
    Mode mode = Mode::None;
    Uint32 timeoutMs = 20000;
    String url;
    String socketPath;
    String host;
    Uint32 port = 0;
    String userName;
    String password;
    String trustStore;
    SSLCertificateVerifyFunction verifyCallback = nullptr;
    Uint64 messageId = 0;

    // A socket connected by connect()/connectLocal(), handed to libcurl for its first connection.
    int pendingFd = -1;
    bool handedOver = false;

    // Set while libcurl works on a request. A request made while another is
    // under way can only come from a signal handler that ends the process
    // (the release of the connection at exit); it gets a handle of its own.
    bool inPerform = false;

    // Per request.
    String responseBody;
    bool bodyTooLarge = false;
    long httpStatus = 0;
    std::vector<std::pair<String, String>> responseHeaders;  // names in lower case, trailers included
    String rawResponseHeaders;

    ~Impl() { close(); }

    void close() {
        // A handle interrupted in the middle of a request (the process is
        // ending from a signal handler) is left alone rather than torn down
        // under libcurl's feet.
        if (curl && !inPerform) curl_easy_cleanup(curl);
        curl = nullptr;
        if (pendingFd >= 0) ::close(pendingFd);
        pendingFd = -1;
        mode = Mode::None;
        std::fill(password.begin(), password.end(), '\0');
        password.clear();
    }

    static curl_socket_t openSocket(void* self, curlsocktype, curl_sockaddr* address) {
        auto* impl = static_cast<Impl*>(self);
        if (impl->pendingFd >= 0) {
            int fd = impl->pendingFd;
            impl->pendingFd = -1;
            impl->handedOver = true;
            return fd;
        }
        return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    }

    static int socketOptions(void* self, curl_socket_t, curlsocktype) {
        auto* impl = static_cast<Impl*>(self);
        if (impl->handedOver) {
            impl->handedOver = false;
            return CURL_SOCKOPT_ALREADY_CONNECTED;
        }
        return CURL_SOCKOPT_OK;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* self) {
        auto* impl = static_cast<Impl*>(self);
        size_t n = size * count;
        if (impl->responseBody.size() + n > kMaxResponseBytes) {
            impl->bodyTooLarge = true;
            return 0;  // aborts the transfer
        }
        impl->responseBody.append(data, n);
        return n;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* self) {
        auto* impl = static_cast<Impl*>(self);
        size_t n = size * count;
        std::string_view line(data, n);
        if (impl->rawResponseHeaders.size() < 65536) impl->rawResponseHeaders.append(line);
        if (line.rfind("HTTP/", 0) == 0) {
            // A new status line (after a redirect or 100 Continue) starts a new header block.
            impl->responseHeaders.clear();
            return n;
        }
        auto colon = line.find(':');
        if (colon != std::string_view::npos && impl->responseHeaders.size() < 256)
            impl->responseHeaders.emplace_back(lowerCase(trim(line.substr(0, colon))), trim(line.substr(colon + 1)));
        return n;
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

    void setUpHandle() {
        globalInit();
        if (curl) curl_easy_cleanup(curl);
        curl = curl_easy_init();
        if (!curl) throw CannotConnectException("Cannot initialise the HTTP client");
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &Impl::openSocket);
        curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, this);
        curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, &Impl::socketOptions);
        curl_easy_setopt(curl, CURLOPT_SOCKOPTDATA, this);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Impl::onBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_TCP_NODELAY, 1L);
        curl_easy_setopt(curl, CURLOPT_MAXCONNECTS, 1L);
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    }

    void configureTls() {
        curl_easy_setopt(curl, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &Impl::onSslContext);
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, this);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        // With a verification callback, the callback alone judges the certificate, its name included.
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, verifyCallback ? 0L : 2L);
        if (fileExists(trustStore)) curl_easy_setopt(curl, CURLOPT_CAINFO, trustStore.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC));
        curl_easy_setopt(curl, CURLOPT_USERNAME, userName.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
    }

    void trace(const String& text) const {
        const char* path = std::getenv("XK_CIM_TRACE");
        if (!path || !*path) return;
        std::ofstream out(path, std::ios::app | std::ios::binary);
        out << text;
    }

    String exchange(const xml::Request& request, const xml::RequestHeaders& extra, const String& body);
    xml::Response call(xml::Request request);
};

String CIMClient::Impl::exchange(const xml::Request& request, const xml::RequestHeaders& extra, const String& body) {
    if (mode == Mode::None || !curl) throw Exception("The CIM client is not connected");
    responseBody.clear();
    responseHeaders.clear();
    rawResponseHeaders.clear();
    bodyTooLarge = false;
    httpStatus = 0;

    // libcurl gets the exact header list; the Authorization header it adds itself.
    String headerLines[] = {
        "Content-Type: application/xml; charset=\"utf-8\"",
        "CIMOperation: MethodCall",
        "CIMMethod: " + extra.cimMethod,
        "CIMObject: " + extra.cimObject,
        "Accept:",
        "Expect:",
    };
    curl_slist* headers = nullptr;
    for (const auto& h : headerLines) headers = curl_slist_append(headers, h.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(timeoutMs));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(timeoutMs));

    if (std::getenv("XK_CIM_TRACE")) {
        String t = "==== request " + request.messageId + "\nPOST " + url + "\n";
        for (const auto& h : headerLines) t += h + "\n";
        if (mode == Mode::Remote) t += "Authorization: Basic ****\n";
        trace(t + "\n" + maskPasswords(body) + "\n");
    }

    CURL* handle = curl;
    if (inPerform) {
        handle = curl_easy_duphandle(curl);
        if (!handle) {
            curl_slist_free_all(headers);
            throw Exception("The CIM client is busy with another request");
        }
    }
    inPerform = true;
    CURLcode rc = curl_easy_perform(handle);
    inPerform = handle != curl;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &httpStatus);
    if (handle != curl) curl_easy_cleanup(handle);
    curl_slist_free_all(headers);

    if (std::getenv("XK_CIM_TRACE"))
        trace("==== response " + request.messageId + " (" + curl_easy_strerror(rc) + ")\n" + rawResponseHeaders +
              maskPasswords(responseBody) + "\n");

    if (bodyTooLarge) throw Exception("The CIM server's answer exceeds " + std::to_string(kMaxResponseBytes >> 20) + " MiB");
    switch (rc) {
        case CURLE_OK: break;
        case CURLE_OPERATION_TIMEDOUT:
            throw Exception("The CIM request timed out after " + std::to_string(timeoutMs) + " milliseconds");
        case CURLE_COULDNT_CONNECT:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
            throw CannotConnectException(String("Cannot connect to the CIM server: ") + curl_easy_strerror(rc));
        case CURLE_GOT_NOTHING:
            throw Exception("The CIM server closed the connection without answering");
        default:
            throw Exception(String("The CIM request failed: ") + curl_easy_strerror(rc));
    }
    return responseBody;
}

xml::Response CIMClient::Impl::call(xml::Request request) {
    request.messageId = std::to_string(++messageId);
    String body = xml::encodeRequest(request);
    String answer = exchange(request, xml::requestHeaders(request), body);

    auto header = [this](const char* name) -> const String* {
        for (const auto& [k, v] : responseHeaders)
            if (k == name) return &v;
        return nullptr;
    };
    if (httpStatus == 401) {
        throw CIMException(CIM_ERR_ACCESS_DENIED, "Unauthorized: the CIM server rejected the user name or password");
    }
    // A CIM status in the headers or trailers (chunked answers carry errors there).
    if (const String* code = header("cimstatuscode"); code && httpStatus == 200) {
        char* end = nullptr;
        unsigned long n = std::strtoul(code->c_str(), &end, 10);
        if (end != code->c_str() && n != 0) {
            const String* description = header("cimstatuscodedescription");
            throw CIMException(Uint32(n), description ? uriDecode(*description) : String());
        }
    }
    if (httpStatus != 200) {
        String what = "The CIM server answered HTTP " + std::to_string(httpStatus);
        if (const String* cimError = header("cimerror")) what += " (CIMError: " + *cimError + ")";
        throw Exception(what);
    }
    xml::Response response;
    try {
        response = xml::decodeResponse(answer, request.operation);
    } catch (const ParseError& e) {
        throw Exception("Malformed answer from the CIM server: " + e.getMessage());
    }
    if (response.messageId != request.messageId)
        throw Exception("The CIM server answered message " + response.messageId + " to request " + request.messageId);
    if (response.errorCode) throw CIMException(*response.errorCode, response.errorDescription);
    return response;
}

CIMClient::CIMClient() : impl_(std::make_unique<Impl>()) { globalInit(); }

CIMClient::~CIMClient() = default;

void CIMClient::setTimeout(Uint32 timeoutMilliseconds) { impl_->timeoutMs = timeoutMilliseconds; }

Uint32 CIMClient::getTimeout() const { return impl_->timeoutMs; }

void CIMClient::connectLocal() {
    impl_->close();
    const char* env = std::getenv("XK_CIM_SOCKET");
    impl_->socketPath = env && *env ? env : kDefaultLocalSocket;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (impl_->socketPath.size() >= sizeof addr.sun_path)
        throw CannotConnectException("Cannot connect to local CIM server: socket path too long");
    std::memcpy(addr.sun_path, impl_->socketPath.c_str(), impl_->socketPath.size() + 1);
    int fd = connectWithTimeout(AF_UNIX, reinterpret_cast<sockaddr*>(&addr), sizeof addr, impl_->timeoutMs);
    if (fd < 0)
        throw CannotConnectException("Cannot connect to local CIM server. Connection failed: " +
                                     String(std::strerror(errno)) + " (" + impl_->socketPath + ")");
    impl_->setUpHandle();
    impl_->pendingFd = fd;
    impl_->url = "http://localhost/cimom";
    curl_easy_setopt(impl_->curl, CURLOPT_UNIX_SOCKET_PATH, impl_->socketPath.c_str());
    impl_->mode = Impl::Mode::Local;
}

void CIMClient::connect(const String& host, Uint32 portNumber, const SSLContext& sslContext, const String& userName,
                        const String& password) {
    impl_->close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    String port = std::to_string(portNumber);
    if (int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); rc != 0 || !found)
        throw CannotConnectException("Cannot connect to " + host + ":" + port + ": " + ::gai_strerror(rc));
    int fd = -1;
    int lastError = 0;
    for (addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = connectWithTimeout(a->ai_family, a->ai_addr, a->ai_addrlen, impl_->timeoutMs);
        if (fd < 0) lastError = errno;
    }
    ::freeaddrinfo(found);
    if (fd < 0)
        throw CannotConnectException("Cannot connect to " + host + ":" + port + ". Connection failed: " +
                                     std::strerror(lastError));
    if (const String& rnd = sslContext.getRandomFilePath(); fileExists(rnd)) RAND_load_file(rnd.c_str(), 1024);
    impl_->setUpHandle();
    impl_->pendingFd = fd;
    impl_->host = host;
    impl_->port = portNumber;
    impl_->userName = userName;
    impl_->password = password;
    impl_->trustStore = sslContext.getTrustStorePath();
    impl_->verifyCallback = sslContext.getVerifyCallback();
    // IPv6 literals go in brackets in a URL.
    String urlHost = host.find(':') != String::npos ? "[" + host + "]" : host;
    impl_->url = "https://" + urlHost + ":" + port + "/cimom";
    impl_->configureTls();
    impl_->mode = Impl::Mode::Remote;
}

void CIMClient::disconnect() { impl_->close(); }

Array<CIMObjectPath> CIMClient::enumerateInstanceNames(const CIMNamespaceName& nameSpace, const CIMName& className) {
    xml::Request r;
    r.operation = xml::Operation::EnumerateInstanceNames;
    r.nameSpace = nameSpace;
    r.className = className;
    return impl_->call(std::move(r)).instanceNames;
}

Array<CIMInstance> CIMClient::enumerateInstances(const CIMNamespaceName& nameSpace, const CIMName& className,
                                                 bool deepInheritance, bool localOnly, bool includeQualifiers,
                                                 bool includeClassOrigin, const CIMPropertyList& propertyList) {
    xml::Request r;
    r.operation = xml::Operation::EnumerateInstances;
    r.nameSpace = nameSpace;
    r.className = className;
    r.deepInheritance = deepInheritance;
    r.localOnly = localOnly;
    r.includeQualifiers = includeQualifiers;
    r.includeClassOrigin = includeClassOrigin;
    r.propertyList = propertyList;
    return impl_->call(std::move(r)).instances;
}

CIMInstance CIMClient::getInstance(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                                   bool localOnly, bool includeQualifiers, bool includeClassOrigin,
                                   const CIMPropertyList& propertyList) {
    xml::Request r;
    r.operation = xml::Operation::GetInstance;
    r.nameSpace = nameSpace;
    r.instanceName = instanceName;
    r.localOnly = localOnly;
    r.includeQualifiers = includeQualifiers;
    r.includeClassOrigin = includeClassOrigin;
    r.propertyList = propertyList;
    CIMInstance instance = impl_->call(std::move(r)).instance;
    if (instance.getPath().getClassName().isNull()) instance.setPath(instanceName);
    return instance;
}

CIMClass CIMClient::getClass(const CIMNamespaceName& nameSpace, const CIMName& className, bool localOnly,
                             bool includeQualifiers, bool includeClassOrigin, const CIMPropertyList& propertyList) {
    xml::Request r;
    r.operation = xml::Operation::GetClass;
    r.nameSpace = nameSpace;
    r.className = className;
    r.localOnly = localOnly;
    r.includeQualifiers = includeQualifiers;
    r.includeClassOrigin = includeClassOrigin;
    r.propertyList = propertyList;
    return impl_->call(std::move(r)).cimClass;
}

CIMValue CIMClient::invokeMethod(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                                 const CIMName& methodName, const Array<CIMParamValue>& inParameters,
                                 Array<CIMParamValue>& outParameters) {
    xml::Request r;
    r.operation = xml::Operation::InvokeMethod;
    r.nameSpace = nameSpace;
    r.instanceName = instanceName;
    r.methodName = methodName.getString();
    r.inParams = inParameters;
    xml::Response response = impl_->call(std::move(r));
    outParameters = std::move(response.outParams);
    return response.returnValue;
}

CIMObjectPath CIMClient::createInstance(const CIMNamespaceName& nameSpace, const CIMInstance& newInstance) {
    xml::Request r;
    r.operation = xml::Operation::CreateInstance;
    r.nameSpace = nameSpace;
    r.newInstance = newInstance;
    return impl_->call(std::move(r)).instanceName;
}

void CIMClient::deleteInstance(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName) {
    xml::Request r;
    r.operation = xml::Operation::DeleteInstance;
    r.nameSpace = nameSpace;
    r.instanceName = instanceName;
    impl_->call(std::move(r));
}

}  // namespace cim
