// The HTTP side of a request without sockets: method and header checks,
// Basic authentication, body decoding, fault transports and the log entry.
#include <gtest/gtest.h>

#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <pugixml.hpp>

#include "Certificate.h"

#include "Fixtures.h"
#include "HttpFrontEnd.h"

namespace kest::test {
namespace {

using cim::xml::Operation;

HttpRequest httpFor(const cim::xml::Request& r) {
    HttpRequest req{http::verb::post, "/cimom", 11};
    const auto headers = cim::xml::requestHeaders(r);
    req.set(http::field::content_type, "application/xml; charset=\"utf-8\"");
    req.set("CIMOperation", "MethodCall");
    req.set("CIMMethod", headers.cimMethod);
    req.set("CIMObject", headers.cimObject);
    req.body() = cim::xml::encodeRequest(r);
    req.prepare_payload();
    return req;
}

std::string basic(const std::string& credentials) {
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < credentials.size(); i += 3) {
        unsigned v = unsigned(static_cast<unsigned char>(credentials[i])) << 16 |
                     unsigned(static_cast<unsigned char>(credentials[i + 1])) << 8 | static_cast<unsigned char>(credentials[i + 2]);
        for (int k = 18; k >= 0; k -= 6) out += alphabet[v >> k & 63];
    }
    if (credentials.size() - i == 1) {
        unsigned v = unsigned(static_cast<unsigned char>(credentials[i])) << 16;
        out += alphabet[v >> 18 & 63];
        out += alphabet[v >> 12 & 63];
        out += "==";
    } else if (credentials.size() - i == 2) {
        unsigned v = unsigned(static_cast<unsigned char>(credentials[i])) << 16 | unsigned(static_cast<unsigned char>(credentials[i + 1])) << 8;
        out += alphabet[v >> 18 & 63];
        out += alphabet[v >> 12 & 63];
        out += alphabet[v >> 6 & 63];
        out += '=';
    }
    return "Basic " + out;
}

// ---------------------------------------------------------------- Basic authentication

struct AuthCase {
    std::string header;
    std::optional<std::string> user;
};

TEST(HttpAuth, BasicCredentialsOfKnownUsers) {
    const AuthCase cases[] = {
        {basic("admin:secret"), "admin"},
        {"basic " + basic("admin:secret").substr(6), "admin"},
        {basic("viewer:p@ss:word"), "viewer"},  // the password may hold ':'
        {basic("admin:wrong"), std::nullopt},
        {basic("admin:secret "), std::nullopt},
        {basic("Admin:secret"), std::nullopt},
        {basic("adminsecret"), std::nullopt},
        {basic("nobody:secret"), std::nullopt},
        {basic(":"), std::nullopt},
        {"Basic", std::nullopt},
        {"Basic !!!!", std::nullopt},
        {"Basic YWRtaW46c2VjcmV0", "admin"},
        {"Basic YWRtaW46c2VjcmV0=", std::nullopt},  // not a multiple of four
        {"Basic YW=RtaW46c2VjcmV0", std::nullopt},  // padding in the middle
        {"Bearer YWRtaW46c2VjcmV0", std::nullopt},
        {"", std::nullopt},
    };
    const auto users = testComplex().users;
    for (const auto& c : cases) EXPECT_EQ(authenticatedUser(c.header, users), c.user) << c.header;
}

// ---------------------------------------------------------------- request checks

struct HttpCase {
    const char* name;
    std::function<HttpRequest()> make;
    bool requireAuth;
    unsigned status;
    const char* cimError;  // the CIMError header expected, or nullptr
    std::string logResult;
};

HttpRequest enumerateCells() { return httpFor(request(Operation::EnumerateInstances, "XK_KestCell")); }

TEST(HttpFrontEnd, MethodHeadersAuthenticationAndBody) {
    const HttpCase cases[] = {
        {"plain request", enumerateCells, false, 200, nullptr, "ok"},
        {"any path", [] { auto r = enumerateCells(); r.target("/"); return r; }, false, 200, nullptr, "ok"},
        {"credentials needed", enumerateCells, true, 401, nullptr, "http 401"},
        {"wrong credentials", [] { auto r = enumerateCells(); r.set(http::field::authorization, basic("admin:x")); return r; },
         true, 401, nullptr, "http 401"},
        {"right credentials", [] { auto r = enumerateCells(); r.set(http::field::authorization, basic("admin:secret")); return r; },
         true, 200, nullptr, "ok"},
        {"credentials ignored on the socket", [] { auto r = enumerateCells(); r.set(http::field::authorization, basic("admin:x")); return r; },
         false, 200, nullptr, "ok"},
        {"GET", [] { auto r = enumerateCells(); r.method(http::verb::get); return r; }, false, 405, nullptr, "http 405"},
        {"M-POST", [] { auto r = enumerateCells(); r.method_string("M-POST"); return r; }, false, 501, nullptr, "http 501"},
        {"no CIMOperation", [] { auto r = enumerateCells(); r.erase("CIMOperation"); return r; }, false, 400,
         "unsupported-operation", "http 400"},
        {"CIMOperation of a response", [] { auto r = enumerateCells(); r.set("CIMOperation", "MethodResponse"); return r; },
         false, 400, "unsupported-operation", "http 400"},
        {"CIMOperation without case", [] { auto r = enumerateCells(); r.set("cimoperation", "methodcall"); return r; },
         false, 200, nullptr, "ok"},
        {"body not XML", [] { auto r = enumerateCells(); r.body() = "hello"; r.prepare_payload(); return r; }, false, 400,
         "request-not-well-formed", "http 400"},
        {"empty body", [] { auto r = enumerateCells(); r.body() = ""; r.prepare_payload(); return r; }, false, 400,
         "request-not-well-formed", "http 400"},
        {"XML cut off", [] { auto r = enumerateCells(); r.body().resize(r.body().size() / 2); r.prepare_payload(); return r; },
         false, 400, "request-not-well-formed", "http 400"},
        {"CIMMethod names another operation", [] { auto r = enumerateCells(); r.set("CIMMethod", "GetClass"); return r; },
         false, 400, "header-mismatch", "http 400"},
        {"CIMMethod without case", [] { auto r = enumerateCells(); r.set("CIMMethod", "enumerateinstances"); return r; },
         false, 200, nullptr, "ok"},
        {"no CIMMethod", [] { auto r = enumerateCells(); r.erase("CIMMethod"); return r; }, false, 200, nullptr, "ok"},
    };
    Provider provider = testProvider();
    HttpFrontEnd frontEnd(provider);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reply reply = frontEnd.serve(c.make(), 1, c.requireAuth);
        EXPECT_FALSE(reply.drop);
        EXPECT_EQ(reply.response.result_int(), c.status);
        EXPECT_EQ(reply.log.result, c.logResult);
        if (c.cimError) {
            EXPECT_EQ(reply.response["CIMError"], c.cimError);
        } else {
            EXPECT_EQ(reply.response.find("CIMError"), reply.response.end());
        }
        if (c.status == 401) {
            EXPECT_EQ(reply.response[http::field::www_authenticate], "Basic realm=\"kest\"");
        }
        if (c.status == 200) {
            EXPECT_EQ(reply.response[http::field::content_type], "application/xml; charset=\"utf-8\"");
            EXPECT_EQ(reply.response["CIMOperation"], "MethodResponse");
            auto decoded = cim::xml::decodeResponse(reply.response.body(), Operation::EnumerateInstances);
            EXPECT_EQ(decoded.instances.size(), 3u);
        }
        EXPECT_EQ(reply.response[http::field::content_length], std::to_string(reply.response.body().size()));
    }
}

TEST(HttpFrontEnd, UnknownOperationIsNotSupported) {
    Provider provider = testProvider();
    HttpFrontEnd frontEnd(provider);
    HttpRequest req = enumerateCells();
    req.body() = R"(<?xml version="1.0"?><CIM CIMVERSION="2.0" DTDVERSION="2.0"><MESSAGE ID="77" PROTOCOLVERSION="1.0">)"
                 R"(<SIMPLEREQ><IMETHODCALL NAME="EnumerateClasses"><LOCALNAMESPACEPATH><NAMESPACE NAME="root"/>)"
                 R"(</LOCALNAMESPACEPATH></IMETHODCALL></SIMPLEREQ></MESSAGE></CIM>)";
    req.erase("CIMMethod");
    req.prepare_payload();
    Reply reply = frontEnd.serve(req, 1, false);
    ASSERT_EQ(reply.response.result_int(), 200u);
    EXPECT_EQ(reply.log.op, "EnumerateClasses");
    EXPECT_EQ(reply.log.result, "cim-error 7");
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(reply.response.body().c_str()));
    auto message = doc.child("CIM").child("MESSAGE");
    EXPECT_STREQ(message.attribute("ID").value(), "77");
    auto error = message.child("SIMPLERSP").child("IMETHODRESPONSE").child("ERROR");
    EXPECT_STREQ(message.child("SIMPLERSP").child("IMETHODRESPONSE").attribute("NAME").value(), "EnumerateClasses");
    EXPECT_STREQ(error.attribute("CODE").value(), "7");
}

TEST(HttpFrontEnd, KeepAliveFollowsTheRequest) {
    Provider provider = testProvider();
    HttpFrontEnd frontEnd(provider);
    HttpRequest req = enumerateCells();
    EXPECT_TRUE(frontEnd.serve(req, 1, false).response.keep_alive());
    req.keep_alive(false);
    EXPECT_FALSE(frontEnd.serve(req, 1, false).response.keep_alive());
    req.version(10);
    EXPECT_FALSE(frontEnd.serve(req, 1, false).response.keep_alive());  // HTTP/1.0 closes by default
    req.keep_alive(true);  // Connection: keep-alive
    EXPECT_TRUE(frontEnd.serve(req, 1, false).response.keep_alive());
    EXPECT_FALSE(frontEnd.tooLarge(1).response.keep_alive());
    EXPECT_EQ(frontEnd.tooLarge(1).response.result_int(), 413u);
    EXPECT_EQ(frontEnd.badRequest(1).response.result_int(), 400u);
}

// ---------------------------------------------------------------- faults on the wire

Provider withFaults(const std::string& faultsJson) {
    std::ifstream in(dataPath("complex.json"));
    auto json = nlohmann::ordered_json::parse(in);
    json["faults"] = nlohmann::ordered_json::parse(faultsJson);
    return Provider(testSchema(), Complex::parse(json.dump(), testSchema(), "complex.json"));
}

struct WireFaultCase {
    const char* faults;
    std::function<void(const Reply&, const std::string& normalBody)> check;
};

TEST(HttpFrontEnd, FaultTransports) {
    const WireFaultCase cases[] = {
        {R"([{"action": "truncated"}])",
         [](const Reply& r, const std::string& normal) {
             EXPECT_EQ(r.response.body(), normal.substr(0, normal.size() / 2));
             EXPECT_EQ(r.response[http::field::content_length], std::to_string(normal.size() / 2));
             EXPECT_EQ(r.log.result, "truncated");
         }},
        {R"([{"action": "malformed"}])",
         [](const Reply& r, const std::string&) {
             pugi::xml_document doc;
             EXPECT_FALSE(doc.load_string(r.response.body().c_str()));
             EXPECT_EQ(r.response.result_int(), 200u);
             EXPECT_EQ(r.response["CIMOperation"], "MethodResponse");
             EXPECT_THROW(cim::xml::decodeResponse(r.response.body(), Operation::EnumerateInstances), cim::ParseError);
         }},
        {R"([{"action": "httpStatus", "status": 503}])",
         [](const Reply& r, const std::string&) {
             EXPECT_EQ(r.response.result_int(), 503u);
             EXPECT_TRUE(r.response.body().empty());
             EXPECT_EQ(r.log.result, "http 503");
             EXPECT_EQ(r.log.fault, "httpStatus");
         }},
        {R"([{"action": "httpStatus", "status": 401}])",
         [](const Reply& r, const std::string&) {
             EXPECT_EQ(r.response[http::field::www_authenticate], "Basic realm=\"kest\"");
         }},
        {R"([{"action": "drop"}])", [](const Reply& r, const std::string&) {
             EXPECT_TRUE(r.drop);
             EXPECT_EQ(r.log.result, "drop");
         }},
        {R"([{"action": "delay", "ms": 1500}])",
         [](const Reply& r, const std::string& normal) {
             EXPECT_EQ(r.delayMs, 1500u);
             EXPECT_EQ(r.response.body(), normal);
         }},
        {R"([{"action": "cimError", "code": 6, "description": "gone@16:no such thing"}])",
         [](const Reply& r, const std::string&) {
             auto decoded = cim::xml::decodeResponse(r.response.body(), Operation::EnumerateInstances);
             EXPECT_EQ(decoded.errorCode, 6u);
             EXPECT_EQ(decoded.errorDescription, "gone@16:no such thing");
         }},
    };
    Provider plain = testProvider();
    HttpFrontEnd plainFrontEnd(plain);
    const std::string normal = plainFrontEnd.serve(enumerateCells(), 1, false).response.body();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.faults);
        Provider provider = withFaults(c.faults);
        HttpFrontEnd frontEnd(provider);
        c.check(frontEnd.serve(enumerateCells(), 1, false), normal);
    }
}

// ---------------------------------------------------------------- the log entry

TEST(HttpFrontEnd, LogEntriesNameTheRequest) {
    Provider provider = testProvider();
    HttpFrontEnd frontEnd(provider);
    auto call = method("XK_KestCellSlot.ID=17", "MakeID",
                       {cim::CIMParamValue("CabinetID", cim::Uint8(1)), cim::CIMParamValue("SlotNumber", cim::Uint8(1))});
    HttpRequest req = httpFor(call);
    req.set(http::field::authorization, basic("admin:secret"));
    Reply first = frontEnd.serve(req, 3, true);
    EXPECT_EQ(formatLogEntry(first.log),
              R"({"conn":3,"seq":1,"op":"InvokeMethod","ns":"root/cimv2/kest","class":"XK_KestCellSlot","key":"17",)"
              R"("method":"MakeID","user":"admin","result":"ok","fault":null})");
    Reply second = frontEnd.serve(httpFor(request(Operation::GetClass, "Nope")), 4, false);
    EXPECT_EQ(formatLogEntry(second.log),
              R"({"conn":4,"seq":2,"op":"GetClass","ns":"root/cimv2/kest","class":"Nope","key":null,)"
              R"("method":null,"user":null,"result":"cim-error 5","fault":null})");
    Reply third = frontEnd.serve(httpFor(request(Operation::GetClass, "Nope")), 4, true);
    EXPECT_EQ(formatLogEntry(third.log),
              R"({"conn":4,"seq":3,"op":null,"ns":null,"class":null,"key":null,"method":null,"user":null,)"
              R"("result":"http 401","fault":null})");
}

TEST(HttpFrontEnd, LogEntryEscapesAndReplacesBadText) {
    LogEntry e;
    e.conn = 1;
    e.seq = 2;
    e.className = std::string("a\"b\\c\n\xff");
    e.result = "ok";
    EXPECT_EQ(formatLogEntry(e),
              "{\"conn\":1,\"seq\":2,\"op\":null,\"ns\":null,\"class\":\"a\\\"b\\\\c\\n\xEF\xBF\xBD\",\"key\":null,"
              "\"method\":null,\"user\":null,\"result\":\"ok\",\"fault\":null}");
}

TEST(HttpFrontEnd, CreateInstanceLogsThePropertiesButNoPassword) {
    Provider provider = testProvider();
    HttpFrontEnd frontEnd(provider);
    Reply wrong = frontEnd.serve(httpFor(createRemote("10.1.1.1", "guess<&>")), 1, false);
    EXPECT_EQ(formatLogEntry(wrong.log),
              R"({"conn":1,"seq":1,"op":"CreateInstance","ns":"root/cimv2/kest","class":"XK_KestRemoteComplex",)"
              R"("key":null,"method":null,"user":null,"result":"cim-error 2","fault":null,"properties":[)"
              R"({"name":"Address","type":"string","array":false,"value":"10.1.1.1"},)"
              R"({"name":"Password","type":"string","array":false,"value":"****"}]})");
    // A null password shows as null, a missing one not at all.
    auto nullPassword = createRemote("10.1.1.1", "", false);
    nullPassword.newInstance.addProperty(cim::CIMProperty("Password", cim::CIMValue(cim::CIMType::String, false)));
    const std::string withNull = formatLogEntry(frontEnd.serve(httpFor(nullPassword), 1, false).log);
    EXPECT_NE(withNull.find(R"({"name":"Password","type":"string","array":false,"value":null})"), std::string::npos)
        << withNull;
    const std::string without = formatLogEntry(frontEnd.serve(httpFor(createRemote("10.1.1.1", "", false)), 1, false).log);
    EXPECT_EQ(without.find("Password"), std::string::npos) << without;
    Reply right = frontEnd.serve(httpFor(createRemote("10.1.1.1", "ipmi-secret")), 2, false);
    const std::string line = formatLogEntry(right.log);
    EXPECT_EQ(line.find("ipmi-secret"), std::string::npos) << line;
    EXPECT_NE(line.find(R"("result":"ok")"), std::string::npos) << line;
    // Other operations carry no property list.
    EXPECT_EQ(formatLogEntry(frontEnd.serve(enumerateCells(), 2, false).log).find("properties"), std::string::npos);
}

// ---------------------------------------------------------------- self-signed certificate

struct CertificateCase {
    std::string host;
    const char* ipMatch;   // an address the certificate must name, or nullptr
    const char* dnsMatch;  // a host name it must name, or nullptr
    const char* notNamed;  // a name it must not cover
};

TEST(Certificate, SelfSignedCertificateNamesTheListeningAddress) {
    const CertificateCase cases[] = {
        {"127.0.0.5", "127.0.0.5", "localhost", "other.example"},
        {"", "127.0.0.1", "localhost", "127.0.0.5"},
        {"kest.test", "127.0.0.1", "kest.test", "127.0.0.5"},
        {"::1", "::1", "localhost", "10.0.0.1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        const CertificatePair pair = makeSelfSignedCertificate(c.host);
        BIO* certBio = BIO_new_mem_buf(pair.certificatePem.data(), int(pair.certificatePem.size()));
        X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
        BIO* keyBio = BIO_new_mem_buf(pair.privateKeyPem.data(), int(pair.privateKeyPem.size()));
        EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
        ASSERT_NE(cert, nullptr);
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(X509_check_private_key(cert, key), 1);
        EXPECT_EQ(X509_verify(cert, key), 1);  // self-signed with that key
        EXPECT_EQ(X509_check_ip_asc(cert, c.ipMatch, 0), 1);
        EXPECT_EQ(X509_check_host(cert, c.dnsMatch, 0, 0, nullptr), 1);
        EXPECT_NE(X509_check_host(cert, c.notNamed, 0, 0, nullptr), 1);
        EXPECT_NE(X509_check_ip_asc(cert, c.notNamed, 0), 1);
        EXPECT_LT(X509_cmp_current_time(X509_get0_notBefore(cert)), 0);
        EXPECT_GT(X509_cmp_current_time(X509_get0_notAfter(cert)), 0);
        EVP_PKEY_free(key);
        X509_free(cert);
        BIO_free(keyBio);
        BIO_free(certBio);
    }
    // Two certificates differ in key and serial number.
    EXPECT_NE(makeSelfSignedCertificate("").privateKeyPem, makeSelfSignedCertificate("").privateKeyPem);
}

}  // namespace
}  // namespace kest::test
