// The TLS side of the client's remote connections. It lives in a module of
// its own, libcmplxview-tls.so, that the client loads at its first remote
// connection: a run over the local socket never maps OpenSSL, whose two
// libraries take about 1.7 MiB of every process that links them (their
// relocation tables and the pages the relocations write). This header is
// the interface between the two; both sides are built from it and from the
// same Asio headers. Each side runs its own reactor: Asio keeps per-thread
// state in statics that a module does not share with the program, so a
// reactor is only ever run by the code that made it. Private to src/cim.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

#include <boost/asio/buffer.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/system/error_code.hpp>

#include "cim/Client.h"

namespace cim::tls {

using ErrorCode = boost::system::error_code;
// How a read or a write ended, and how many bytes it moved.
using Completion = std::function<void(const ErrorCode&, std::size_t)>;
// How a connect ended; on failure, the words that say why.
using ConnectCompletion = std::function<void(const ErrorCode&, const String& why)>;

// One TLS connection over TCP, on a reactor of its own.
class Stream {
public:
    virtual ~Stream() = default;
    // The reactor, for the executor of the operations made on the stream.
    // The client runs it only through poll, runOneUntil and close.
    virtual boost::asio::io_context& context() = 0;
    // Runs what is ready now.
    virtual void poll() = 0;
    // Runs one handler, waiting for it at most until the time given.
    virtual void runOneUntil(std::chrono::steady_clock::time_point until) = 0;
    // Connects to the server and shakes hands. The host name is resolved
    // first, blocking in the system's resolver; the rest is asynchronous.
    virtual void asyncConnect(ConnectCompletion done) = 0;
    // Reads or writes some bytes. A TLS connection closed without its
    // closing notice ends like a plain connection: with end of file.
    virtual void asyncReadSome(boost::asio::mutable_buffer buffer, Completion done) = 0;
    virtual void asyncWriteSome(boost::asio::const_buffer buffer, Completion done) = 0;
    // Closes the socket, then runs the handlers of the operations under way,
    // which end with operation_aborted.
    virtual void close() = 0;
};

struct Settings {
    String host;
    Uint32 port = 0;
    String trustStore;  // a PEM file, loaded when it exists
    SSLCertificateVerifyFunction verifyCallback = nullptr;
    String randomFile;  // seeds OpenSSL's generator when it exists
};

// The TLS settings of one client, made at its connect and kept for its reconnects.
class Context {
public:
    virtual ~Context() = default;
    virtual std::unique_ptr<Stream> newStream() = 0;
};

// The module's one entry point, looked up by this name: a context for the
// settings, or null with `why` telling what failed.
using MakeContext = Context* (*)(const Settings& settings, String& why);
inline constexpr const char* kModuleFile = "libcmplxview-tls.so";
inline constexpr const char* kEntryName = "cmplxviewMakeTlsContext";

}  // namespace cim::tls
