// The HTTP side of one CIM-XML request, without sockets: checks the method,
// the headers and (over HTTPS) the Basic credentials, decodes the body,
// lets the Provider answer, and builds the HTTP response together with what
// the connection must do (send, wait first, or drop) and the log entry.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <boost/beast/http.hpp>

#include "Complex.h"
#include "Provider.h"
#include "RequestLog.h"

namespace kest {

namespace http = boost::beast::http;
using HttpRequest = http::request<http::string_body>;
using HttpResponse = http::response<http::string_body>;

struct Reply {
    bool drop = false;      // close the connection without answering
    unsigned delayMs = 0;   // wait this long before answering
    HttpResponse response;  // keep_alive() tells whether the connection stays open
    LogEntry log;
};

// The user name when the Authorization header holds Basic credentials of one
// of the users, else nothing.
std::optional<std::string> authenticatedUser(std::string_view authorization, const std::vector<User>& users);

// The error answer for a well-formed request of an operation this provider
// does not know (DSP0200 wants CIM_ERR_NOT_SUPPORTED for it), or nothing
// when the body is not such a request.
std::optional<std::string> unsupportedOperationAnswer(std::string_view body, std::string* operationName);

// A body that is not well-formed XML, sent by the "malformed" fault.
std::string malformedBody(const cim::xml::Request& request);

class HttpFrontEnd {
public:
    explicit HttpFrontEnd(Provider& provider) : provider_(provider) {}

    // requireAuth: the connection came in over HTTPS and needs Basic credentials.
    Reply serve(const HttpRequest& request, std::uint64_t conn, bool requireAuth);
    // The answer to a request whose body exceeded the size limit.
    Reply tooLarge(std::uint64_t conn);
    // The answer to bytes that are not an HTTP request.
    Reply badRequest(std::uint64_t conn);

private:
    std::uint64_t nextSeq() { return ++seq_; }
    Provider& provider_;
    std::atomic<std::uint64_t> seq_{0};
};

}  // namespace kest
