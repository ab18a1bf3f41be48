// A small splitter of raw HTTP/1.1 responses as recorded in the interop
// corpus: status line, header fields, a Content-Length or chunked body, and
// the trailer fields of a chunked body. Test-only.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cimtest {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct HttpResponse {
    int status = 0;
    std::string reason;
    Fields headers;
    bool chunked = false;
    std::string body;
    Fields trailers;
};

// Throws std::runtime_error when the bytes are not one complete response.
HttpResponse splitHttpResponse(std::string_view raw);

// The value of a field by case-insensitive name, "" when absent.
std::string field(const Fields& fields, std::string_view name);

// Decodes %XX escapes.
std::string uriDecode(std::string_view text);

}  // namespace cimtest
