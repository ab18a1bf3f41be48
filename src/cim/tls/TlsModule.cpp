// libcmplxview-tls.so: TLS over TCP for the client's remote connections, on
// Asio's OpenSSL stream. The client loads it at its first remote connection
// (see cim/Tls.h); nothing else in the program links OpenSSL's libraries.

#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/stat.h>

#include <type_traits>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>

#include "cim/Tls.h"

namespace cim::tls {

namespace {

namespace asio = boost::asio;
using asio::ip::tcp;

bool fileExists(const String& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

class TlsContext;

class TlsStream final : public Stream {
public:
    explicit TlsStream(const TlsContext& context);

    asio::io_context& context() override { return io_; }
    void poll() override {
        io_.restart();
        io_.poll();
    }
    void runOneUntil(std::chrono::steady_clock::time_point until) override { io_.run_one_until(until); }

    void asyncConnect(ConnectCompletion done) override;

    void asyncReadSome(asio::mutable_buffer buffer, Completion done) override {
        stream_.async_read_some(buffer, [done = std::move(done)](const ErrorCode& ec, std::size_t n) {
            done(ec == asio::ssl::error::stream_truncated ? ErrorCode(asio::error::eof) : ec, n);
        });
    }

    void asyncWriteSome(asio::const_buffer buffer, Completion done) override {
        stream_.async_write_some(buffer, std::move(done));
    }

    void close() override {
        ErrorCode ignored;
        stream_.lowest_layer().close(ignored);
        io_.restart();
        io_.run();
    }

private:
    void handshake(ConnectCompletion done);

    asio::io_context io_{1};
    const TlsContext& context_;
    asio::ssl::stream<tcp::socket> stream_;
};

// The TLS settings of the remote connections. With a verification callback
// the callback judges the server's certificate (told what OpenSSL found
// against the trust store), and its name is not checked; without one the
// certificate must verify against the trust store and name the host. Only
// the trust store is trusted: no system certificate bundle is loaded. TLS
// 1.2 or later, the system's cipher defaults (no cipher list is set).
class TlsContext final : public Context {
public:
    explicit TlsContext(const Settings& settings) : settings_(settings), ssl_(asio::ssl::context::tls_client) {}

    // False, with why set, when the trust store cannot be read.
    bool prepare(String& why) {
        if (fileExists(settings_.randomFile)) RAND_load_file(settings_.randomFile.c_str(), 1024);
        SSL_CTX* native = ssl_.native_handle();
        SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
        if (fileExists(settings_.trustStore) &&
            SSL_CTX_load_verify_locations(native, settings_.trustStore.c_str(), nullptr) != 1) {
            why = "cannot read the trusted certificates of " + settings_.trustStore;
            return false;
        }
        ssl_.set_verify_mode(asio::ssl::verify_peer);
        if (settings_.verifyCallback)
            ssl_.set_verify_callback([this](bool, asio::ssl::verify_context& v) { return judge(v.native_handle()); });
        return true;
    }

    std::unique_ptr<Stream> newStream() override { return std::make_unique<TlsStream>(*this); }

    const Settings& settings() const { return settings_; }
    asio::ssl::context& ssl() const { return ssl_; }

private:
    bool judge(X509_STORE_CTX* store) const {
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
        if (!settings_.verifyCallback(info)) return false;
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return true;
    }

    Settings settings_;
    mutable asio::ssl::context ssl_;
};

TlsStream::TlsStream(const TlsContext& context) : context_(context), stream_(io_, context.ssl()) {}

void TlsStream::asyncConnect(ConnectCompletion done) {
    const Settings& s = context_.settings();
    // Name resolution blocks in the system's resolver, bounded by its own
    // time-outs (an address is taken as it is); the rest keeps to the
    // client's deadline.
    tcp::resolver resolver(io_);
    ErrorCode ec;
    auto endpoints = resolver.resolve(s.host, std::to_string(s.port), asio::ip::resolver_base::numeric_service, ec);
    if (ec) {
        String why = "cannot resolve " + s.host + ": " + ec.message();
        asio::post(io_, [done = std::move(done), ec, why] { done(ec, why); });
        return;
    }
    asio::async_connect(stream_.next_layer(), endpoints,
                        [this, done = std::move(done)](const ErrorCode& connected, const tcp::endpoint&) mutable {
                            if (connected) return done(connected, connected.message());
                            handshake(std::move(done));
                        });
}

void TlsStream::handshake(ConnectCompletion done) {
    const Settings& s = context_.settings();
    ErrorCode ignored;
    stream_.next_layer().set_option(tcp::no_delay(true), ignored);
    SSL* ssl = stream_.native_handle();
    ErrorCode notAnAddress;
    asio::ip::make_address(s.host, notAnAddress);
    // A host name goes out for SNI; an IP address does not (RFC 6066).
    if (notAnAddress) SSL_set_tlsext_host_name(ssl, s.host.c_str());
    if (!s.verifyCallback) {
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
        if (notAnAddress)
            X509_VERIFY_PARAM_set1_host(param, s.host.c_str(), 0);
        else
            X509_VERIFY_PARAM_set1_ip_asc(param, s.host.c_str());
    }
    stream_.async_handshake(asio::ssl::stream_base::client, [ssl, done = std::move(done)](const ErrorCode& ec) {
        if (!ec) return done(ec, String());
        String why = ec.message();
        if (long verified = SSL_get_verify_result(ssl); verified != X509_V_OK)
            why += String(": ") + X509_verify_cert_error_string(verified);
        done(ec, why);
    });
}

}  // namespace

}  // namespace cim::tls

extern "C" __attribute__((visibility("default"))) cim::tls::Context* cmplxviewMakeTlsContext(
    const cim::tls::Settings& settings, cim::String& why) {
    try {
        auto context = std::make_unique<cim::tls::TlsContext>(settings);
        if (!context->prepare(why)) return nullptr;
        return context.release();
    } catch (const std::exception& e) {
        why = e.what();
        return nullptr;
    }
}

static_assert(std::is_same_v<decltype(&cmplxviewMakeTlsContext), cim::tls::MakeContext>);
