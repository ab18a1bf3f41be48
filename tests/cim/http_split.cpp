#include "http_split.h"

#include <cctype>
#include <charconv>
#include <stdexcept>

namespace cimtest {

namespace {

std::string_view takeLine(std::string_view& rest) {
    auto end = rest.find("\r\n");
    if (end == std::string_view::npos) throw std::runtime_error("HTTP: line without CRLF");
    auto line = rest.substr(0, end);
    rest.remove_prefix(end + 2);
    return line;
}

std::string trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return std::string(s);
}

// Header or trailer fields up to the empty line.
Fields takeFields(std::string_view& rest) {
    Fields fields;
    for (auto line = takeLine(rest); !line.empty(); line = takeLine(rest)) {
        auto colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) throw std::runtime_error("HTTP: bad field line");
        fields.emplace_back(std::string(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    return fields;
}

std::size_t number(std::string_view text, int base) {
    std::size_t n = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), n, base);
    if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size())
        throw std::runtime_error("HTTP: bad number " + std::string(text));
    return n;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

std::string field(const Fields& fields, std::string_view name) {
    for (const auto& [n, v] : fields)
        if (equalNoCase(n, name)) return v;
    return "";
}

HttpResponse splitHttpResponse(std::string_view raw) {
    HttpResponse r;
    std::string_view rest = raw;
    auto status = takeLine(rest);
    if (status.substr(0, 9) != "HTTP/1.1 " || status.size() < 13 || status[12] != ' ')
        throw std::runtime_error("HTTP: bad status line");
    r.status = int(number(status.substr(9, 3), 10));
    r.reason = std::string(status.substr(13));
    r.headers = takeFields(rest);
    r.chunked = equalNoCase(field(r.headers, "Transfer-Encoding"), "chunked");
    if (r.chunked) {
        for (;;) {
            auto sizeLine = takeLine(rest);
            std::size_t size = number(sizeLine.substr(0, sizeLine.find(';')), 16);
            if (size == 0) break;
            if (rest.size() < size + 2 || rest.substr(size, 2) != "\r\n") throw std::runtime_error("HTTP: bad chunk");
            r.body += rest.substr(0, size);
            rest.remove_prefix(size + 2);
        }
        r.trailers = takeFields(rest);
    } else {
        std::size_t length = number(field(r.headers, "Content-Length"), 10);
        if (rest.size() < length) throw std::runtime_error("HTTP: body shorter than Content-Length");
        r.body = std::string(rest.substr(0, length));
        rest.remove_prefix(length);
    }
    if (!rest.empty()) throw std::runtime_error("HTTP: bytes after the response");
    return r;
}

std::string uriDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 2 >= text.size()) throw std::runtime_error("URI escape cut short");
            out += char(number(text.substr(i + 1, 2), 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace cimtest
