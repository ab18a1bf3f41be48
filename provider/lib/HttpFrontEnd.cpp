#include "HttpFrontEnd.h"

#include <pugixml.hpp>

#include "cim/Codec.h"

namespace kest {

namespace {

std::string_view sv(boost::beast::string_view v) { return {v.data(), v.size()}; }

constexpr const char* kXmlContentType = "application/xml; charset=\"utf-8\"";

HttpResponse plain(http::status status, const HttpRequest& request) {
    HttpResponse r{status, request.version()};
    r.set(http::field::server, "kest-provider");
    r.keep_alive(request.keep_alive());
    return r;
}

HttpResponse cimXml(const HttpRequest& request, std::string body) {
    HttpResponse r = plain(http::status::ok, request);
    r.set(http::field::content_type, kXmlContentType);
    r.set("CIMOperation", "MethodResponse");
    r.body() = std::move(body);
    r.prepare_payload();
    return r;
}

HttpResponse cimErrorHeader(const HttpRequest& request, http::status status, const char* cimError) {
    HttpResponse r = plain(status, request);
    r.set("CIMError", cimError);
    r.prepare_payload();
    return r;
}

// Strict base64 (RFC 4648, with padding): nothing for a text that is not base64.
std::optional<std::string> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    auto sextet = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int v[4];
        int pad = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=' && last && k >= 2) {
                ++pad;
                v[k] = 0;
                continue;
            }
            if (pad) return std::nullopt;  // data after padding
            v[k] = sextet(c);
            if (v[k] < 0) return std::nullopt;
        }
        const unsigned bits = unsigned(v[0]) << 18 | unsigned(v[1]) << 12 | unsigned(v[2]) << 6 | unsigned(v[3]);
        out += char(bits >> 16 & 0xFF);
        if (pad < 2) out += char(bits >> 8 & 0xFF);
        if (pad < 1) out += char(bits & 0xFF);
    }
    return out;
}

}  // namespace

std::optional<std::string> authenticatedUser(std::string_view authorization, const std::vector<User>& users) {
    while (!authorization.empty() && authorization.front() == ' ') authorization.remove_prefix(1);
    if (authorization.size() < 6 || !equalNoCase(authorization.substr(0, 6), "Basic ")) return std::nullopt;
    std::string_view encoded = authorization.substr(6);
    while (!encoded.empty() && encoded.front() == ' ') encoded.remove_prefix(1);
    while (!encoded.empty() && encoded.back() == ' ') encoded.remove_suffix(1);
    const auto maybe = base64Decode(encoded);
    if (!maybe) return std::nullopt;
    const std::string& decoded = *maybe;
    const auto colon = decoded.find(':');
    if (colon == std::string::npos) return std::nullopt;
    const std::string name = decoded.substr(0, colon);
    const std::string password = decoded.substr(colon + 1);
    for (const auto& u : users)
        if (u.name == name && u.password == password) return name;
    return std::nullopt;
}

std::optional<std::string> unsupportedOperationAnswer(std::string_view body, std::string* operationName) {
    pugi::xml_document doc;
    if (!doc.load_buffer(body.data(), body.size())) return std::nullopt;
    pugi::xml_node message = doc.child("CIM").child("MESSAGE");
    pugi::xml_node call = message.child("SIMPLEREQ").child("IMETHODCALL");
    if (!call) return std::nullopt;
    const std::string name = call.attribute("NAME").value();
    if (name.empty() || cim::xml::operationFromName(name)) return std::nullopt;
    if (operationName) *operationName = name;
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">") +
           "<MESSAGE ID=\"" + cim::xml::escapeText(message.attribute("ID").value()) +
           "\" PROTOCOLVERSION=\"1.0\"><SIMPLERSP><IMETHODRESPONSE NAME=\"" + cim::xml::escapeText(name) +
           "\"><ERROR CODE=\"7\" DESCRIPTION=\"" +
           cim::xml::escapeText("The operation " + name + " is not supported") +
           "\"/></IMETHODRESPONSE></SIMPLERSP></MESSAGE></CIM>\n";
}

std::string malformedBody(const cim::xml::Request& request) {
    // Crossed end tags and a bare '&': no XML parser accepts this.
    return "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE ID=\"" +
           cim::xml::escapeText(request.messageId) + "\" PROTOCOLVERSION=\"1.0\"><SIMPLERSP><IMETHODRESPONSE NAME=\"" +
           operationText(request.operation) + "\"><IRETURNVALUE>& </SIMPLERSP></IRETURNVALUE></MESSAGE>";
}

namespace {

Reply closingReply(std::uint64_t conn, std::uint64_t seq, http::status status) {
    Reply reply;
    reply.response = HttpResponse{status, 11};
    reply.response.set(http::field::server, "kest-provider");
    reply.response.keep_alive(false);
    reply.response.prepare_payload();
    reply.log.conn = conn;
    reply.log.seq = seq;
    reply.log.result = "http " + std::to_string(unsigned(status));
    return reply;
}

}  // namespace

Reply HttpFrontEnd::tooLarge(std::uint64_t conn) { return closingReply(conn, nextSeq(), http::status::payload_too_large); }

Reply HttpFrontEnd::badRequest(std::uint64_t conn) { return closingReply(conn, nextSeq(), http::status::bad_request); }

Reply HttpFrontEnd::serve(const HttpRequest& request, std::uint64_t conn, bool requireAuth) {
    Reply reply;
    reply.log.conn = conn;
    reply.log.seq = nextSeq();
    auto answerHttp = [&](HttpResponse r) {
        reply.log.result = "http " + std::to_string(r.result_int());
        reply.response = std::move(r);
        return reply;
    };

    if (requireAuth) {
        auto user = authenticatedUser(sv(request[http::field::authorization]), provider_.complex().users);
        if (!user) {
            HttpResponse r = plain(http::status::unauthorized, request);
            r.set(http::field::www_authenticate, "Basic realm=\"kest\"");
            r.prepare_payload();
            return answerHttp(std::move(r));
        }
        reply.log.user = *user;
    }
    if (request.method_string() == "M-POST") {
        // Extension-framework requests are not supported; DSP0200 clients retry with POST.
        HttpResponse r = plain(http::status::not_implemented, request);
        r.prepare_payload();
        return answerHttp(std::move(r));
    }
    if (request.method() != http::verb::post) {
        HttpResponse r = plain(http::status::method_not_allowed, request);
        r.set(http::field::allow, "POST");
        r.prepare_payload();
        return answerHttp(std::move(r));
    }
    if (!equalNoCase(sv(request["CIMOperation"]), "MethodCall"))
        return answerHttp(cimErrorHeader(request, http::status::bad_request, "unsupported-operation"));

    cim::xml::Request cimRequest;
    try {
        cimRequest = cim::xml::decodeRequest(request.body());
    } catch (const cim::Exception&) {
        std::string name;
        if (auto body = unsupportedOperationAnswer(request.body(), &name)) {
            reply.log.op = name;
            reply.log.result = "cim-error 7";
            reply.response = cimXml(request, std::move(*body));
            return reply;
        }
        return answerHttp(cimErrorHeader(request, http::status::bad_request, "request-not-well-formed"));
    }

    const RequestFacts facts = factsOf(cimRequest, reply.log.seq);
    reply.log.op = facts.operation;
    reply.log.ns = facts.nameSpace;
    reply.log.className = facts.className;
    reply.log.key = facts.key;
    reply.log.method = facts.method;
    if (cimRequest.operation == cim::xml::Operation::CreateInstance)
        reply.log.properties = loggedProperties(cimRequest.newInstance);

    // The CIMMethod header must name what the body asks for.
    const std::string expected =
        cimRequest.operation == cim::xml::Operation::InvokeMethod ? cimRequest.methodName : facts.operation;
    auto cimMethod = request.find("CIMMethod");
    if (cimMethod != request.end() && !equalNoCase(sv(cimMethod->value()), expected))
        return answerHttp(cimErrorHeader(request, http::status::bad_request, "header-mismatch"));

    // Nothing below is expected to throw; if it does, the client gets a 500, not a dead server.
    bool failed = false;
    try {
        Outcome outcome = provider_.handle(cimRequest, reply.log.seq);
        reply.log.result = outcome.result;
        reply.log.fault = outcome.fault;
        reply.delayMs = outcome.delayMs;
        switch (outcome.transport) {
            case Outcome::Transport::Drop: reply.drop = true; break;
            case Outcome::Transport::HttpStatus: {
                HttpResponse r{http::status(outcome.httpStatus), request.version()};
                r.set(http::field::server, "kest-provider");
                r.keep_alive(request.keep_alive());
                if (outcome.httpStatus == 401) r.set(http::field::www_authenticate, "Basic realm=\"kest\"");
                r.prepare_payload();
                reply.response = std::move(r);
                break;
            }
            case Outcome::Transport::Normal:
                reply.response = cimXml(request, cim::xml::encodeResponse(*outcome.response));
                break;
            case Outcome::Transport::Truncated: {
                std::string body = cim::xml::encodeResponse(*outcome.response);
                body.resize(body.size() / 2);
                reply.response = cimXml(request, std::move(body));
                break;
            }
            case Outcome::Transport::Malformed: reply.response = cimXml(request, malformedBody(cimRequest)); break;
        }
    } catch (const std::exception&) {
        failed = true;
    } catch (const cim::Exception&) {
        failed = true;
    }
    if (failed) {
        reply.drop = false;
        reply.delayMs = 0;
        reply.log.fault.reset();
        return answerHttp(cimErrorHeader(request, http::status::internal_server_error, "request-not-valid"));
    }
    return reply;
}

}  // namespace kest
