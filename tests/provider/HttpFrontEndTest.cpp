// The HTTP side of a request without sockets, and the self-signed certificate.
#include <gtest/gtest.h>

#include <openssl/pem.h>
#include <openssl/x509v3.h>

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

HttpRequest enumerateCells() { return httpFor(request(Operation::EnumerateInstances, "XK_KestCell")); }

const char* kAdmin = "Basic YWRtaW46c2VjcmV0";  // admin:secret
const char* kAdminWrong = "Basic YWRtaW46eA==";  // admin:x

TEST(HttpAuth, BasicCredentialsOfKnownUsers) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {kAdmin, "admin"},
        {"basic YWRtaW46c2VjcmV0", "admin"},
        {"Basic dmlld2VyOnBAc3M6d29yZA==", "viewer"},  // viewer:p@ss:word, the password may hold ':'
        {kAdminWrong, std::nullopt},
        {"Basic YWRtaW46c2VjcmV0IA==", std::nullopt},  // admin:secret with a blank
        {"Basic QWRtaW46c2VjcmV0", std::nullopt},      // Admin:secret
        {"Basic YWRtaW5zZWNyZXQ=", std::nullopt},      // adminsecret
        {"Basic bm9ib2R5OnNlY3JldA==", std::nullopt},  // nobody:secret
        {"Basic Og==", std::nullopt},                  // :
        {"Basic", std::nullopt},
        {"Basic !!!!", std::nullopt},
        {"Basic YWRtaW46c2VjcmV0=", std::nullopt},  // not a multiple of four
        {"Basic YW=RtaW46c2VjcmV0", std::nullopt},  // padding in the middle
        {"Bearer YWRtaW46c2VjcmV0", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [header, user] : cases) EXPECT_EQ(authenticatedUser(header, testComplex().users), user) << header;
}

TEST(HttpFrontEnd, MethodHeadersAuthenticationAndBody) {
    using R = HttpRequest&;
    // name, a change to a good request, whether credentials are needed, status, CIMError header or nullptr
    const std::tuple<const char*, std::function<void(HttpRequest&)>, bool, unsigned, const char*> cases[] = {
        {"plain request", [](R) {}, false, 200, nullptr},
        {"any path", [](R r) { r.target("/"); }, false, 200, nullptr},
        {"credentials needed", [](R) {}, true, 401, nullptr},
        {"wrong credentials", [](R r) { r.set(http::field::authorization, kAdminWrong); }, true, 401, nullptr},
        {"right credentials", [](R r) { r.set(http::field::authorization, kAdmin); }, true, 200, nullptr},
        {"credentials ignored on the socket", [](R r) { r.set(http::field::authorization, kAdminWrong); }, false, 200, nullptr},
        {"GET", [](R r) { r.method(http::verb::get); }, false, 405, nullptr},
        {"M-POST", [](R r) { r.method_string("M-POST"); }, false, 501, nullptr},
        {"no CIMOperation", [](R r) { r.erase("CIMOperation"); }, false, 400, "unsupported-operation"},
        {"CIMOperation of a response", [](R r) { r.set("CIMOperation", "MethodResponse"); }, false, 400, "unsupported-operation"},
        {"CIMOperation without case", [](R r) { r.set("cimoperation", "methodcall"); }, false, 200, nullptr},
        {"body not XML", [](R r) { r.body() = "hello"; }, false, 400, "request-not-well-formed"},
        {"empty body", [](R r) { r.body() = ""; }, false, 400, "request-not-well-formed"},
        {"XML cut off", [](R r) { r.body().resize(r.body().size() / 2); }, false, 400, "request-not-well-formed"},
        {"CIMMethod names another operation", [](R r) { r.set("CIMMethod", "GetClass"); }, false, 400, "header-mismatch"},
        {"CIMMethod without case", [](R r) { r.set("CIMMethod", "enumerateinstances"); }, false, 200, nullptr},
        {"no CIMMethod", [](R r) { r.erase("CIMMethod"); }, false, 200, nullptr},
    };
    Provider provider = testProvider();
    HttpFrontEnd frontEnd(provider);
    for (const auto& [name, change, requireAuth, status, cimError] : cases) {
        SCOPED_TRACE(name);
        HttpRequest req = enumerateCells();
        change(req);
        req.prepare_payload();
        Reply reply = frontEnd.serve(req, 1, requireAuth);
        const auto& res = reply.response;
        EXPECT_FALSE(reply.drop);
        EXPECT_EQ(res.result_int(), status);
        EXPECT_EQ(reply.log.result, status == 200 ? "ok" : "http " + std::to_string(status));
        EXPECT_EQ(res["CIMError"], cimError ? cimError : "");
        EXPECT_EQ(res[http::field::www_authenticate], status == 401 ? "Basic realm=\"kest\"" : "");
        EXPECT_EQ(res[http::field::content_length], std::to_string(res.body().size()));
        if (status == 200) {
            EXPECT_EQ(res[http::field::content_type], "application/xml; charset=\"utf-8\"");
            EXPECT_EQ(res["CIMOperation"], "MethodResponse");
            EXPECT_EQ(cim::xml::decodeResponse(res.body(), Operation::EnumerateInstances).instances.size(), 3u);
        }
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
    EXPECT_EQ(reply.response.result_int(), 200u);
    EXPECT_EQ(reply.log.op, "EnumerateClasses");
    EXPECT_EQ(reply.log.result, "cim-error 7");
    for (const char* part : {"<MESSAGE ID=\"77\"", "<IMETHODRESPONSE NAME=\"EnumerateClasses\"><ERROR CODE=\"7\""})
        EXPECT_NE(reply.response.body().find(part), std::string::npos) << part << " in " << reply.response.body();
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
    req.keep_alive(true);                                                // Connection: keep-alive
    EXPECT_TRUE(frontEnd.serve(req, 1, false).response.keep_alive());
    EXPECT_FALSE(frontEnd.tooLarge(1).response.keep_alive());
}

TEST(HttpFrontEnd, FaultTransports) {
    // fault rules, status, log result, body: "half" or "all" of the normal answer, "" for none, "bad" XML,
    // the error code, or nullptr when nothing is sent
    const std::tuple<const char*, unsigned, const char*, const char*> cases[] = {
        {R"([{"action": "truncated"}])", 200, "truncated", "half"},
        {R"([{"action": "malformed"}])", 200, "malformed", "bad"},
        {R"([{"action": "httpStatus", "status": 503}])", 503, "http 503", ""},
        {R"([{"action": "httpStatus", "status": 401}])", 401, "http 401", ""},
        {R"([{"action": "drop"}])", 0, "drop", nullptr},
        {R"([{"action": "delay", "ms": 1500}])", 200, "delay", "all"},
        {R"([{"action": "cimError", "code": 6, "description": "gone@16:no such thing"}])", 200, "cim-error 6", "6"},
    };
    Provider plain = testProvider();
    HttpFrontEnd plainFrontEnd(plain);
    const std::string normal = plainFrontEnd.serve(enumerateCells(), 1, false).response.body();
    for (const auto& [faults, status, result, wanted] : cases) {
        SCOPED_TRACE(faults);
        Provider provider = withFaults(faults);
        HttpFrontEnd frontEnd(provider);
        const Reply r = frontEnd.serve(enumerateCells(), 1, false);
        const std::string action = nlohmann::json::parse(faults)[0]["action"];
        EXPECT_EQ(r.log.result, result);
        EXPECT_EQ(r.log.fault, action);
        EXPECT_EQ(r.drop, action == "drop");
        EXPECT_EQ(r.delayMs, action == "delay" ? 1500u : 0u);
        if (!wanted) continue;
        const std::string body(wanted);
        EXPECT_EQ(r.response.result_int(), status);
        EXPECT_EQ(r.response[http::field::www_authenticate], status == 401 ? "Basic realm=\"kest\"" : "");
        EXPECT_EQ(r.response[http::field::content_length], std::to_string(r.response.body().size()));
        EXPECT_EQ(r.response["CIMOperation"], status == 200 ? "MethodResponse" : "");
        if (body == "bad") {
            EXPECT_THROW(cim::xml::decodeResponse(r.response.body(), Operation::EnumerateInstances), cim::ParseError);
        } else if (body == "6") {
            const auto decoded = cim::xml::decodeResponse(r.response.body(), Operation::EnumerateInstances);
            EXPECT_EQ(answer(decoded) + decoded.errorDescription, "6 @16:gone@16:no such thing");
        } else {
            EXPECT_EQ(r.response.body(), body.empty() ? "" : body == "all" ? normal : normal.substr(0, normal.size() / 2));
        }
    }
}

TEST(HttpFrontEnd, LogEntries) {
    Provider provider = testProvider();
    HttpFrontEnd frontEnd(provider);
    HttpRequest makeId = httpFor(method("XK_KestCellSlot.ID=17", "MakeID",
                                        {cim::CIMParamValue("CabinetID", cim::Uint8(1)), cim::CIMParamValue("SlotNumber", cim::Uint8(1))}));
    makeId.set(http::field::authorization, kAdmin);
    const auto nope = httpFor(request(Operation::GetClass, "Nope"));
    const std::string kest = R"("ns":"root/cimv2/kest","class":"XK_KestRemoteComplex","key":null,"method":null,"user":null,)";
    const std::string address = R"(,"properties":[{"name":"Address","type":"string","array":false,"value":"10.1.1.1"})";
    const std::tuple<HttpRequest, bool, std::string> cases[] = {
        {makeId, true,
         R"({"conn":3,"seq":1,"op":"InvokeMethod","ns":"root/cimv2/kest","class":"XK_KestCellSlot","key":"17",)"
         R"("method":"MakeID","user":"admin","result":"ok","fault":null})"},
        {nope, false,
         R"({"conn":3,"seq":2,"op":"GetClass","ns":"root/cimv2/kest","class":"Nope","key":null,)"
         R"("method":null,"user":null,"result":"cim-error 5","fault":null})"},
        {nope, true,  // nothing of the request is taken before it is authenticated
         R"({"conn":3,"seq":3,"op":null,"ns":null,"class":null,"key":null,"method":null,"user":null,)"
         R"("result":"http 401","fault":null})"},
        {httpFor(createRemote("10.1.1.1", "", false)), false,
         R"({"conn":3,"seq":4,"op":"CreateInstance",)" + kest + R"("result":"cim-error 2","fault":null)" + address + "]}"},
    };
    for (const auto& [req, auth, line] : cases) EXPECT_EQ(formatLogEntry(frontEnd.serve(req, 3, auth).log), line);

    LogEntry e;  // escapes and replaces text that is not UTF-8
    e.conn = 1, e.seq = 2, e.className = std::string("a\"b\\c\n\xff"), e.result = "ok";
    EXPECT_EQ(formatLogEntry(e),
              "{\"conn\":1,\"seq\":2,\"op\":null,\"ns\":null,\"class\":\"a\\\"b\\\\c\\n\xEF\xBF\xBD\",\"key\":null,"
              "\"method\":null,\"user\":null,\"result\":\"ok\",\"fault\":null}");
}

TEST(Certificate, SelfSignedCertificateNamesTheListeningAddress) {
    // host, an address it must name, a host name it must name, a name it must not cover
    const std::tuple<std::string, const char*, const char*, const char*> cases[] = {
        {"127.0.0.5", "127.0.0.5", "localhost", "other.example"},
        {"", "127.0.0.1", "localhost", "127.0.0.5"},
        {"kest.test", "127.0.0.1", "kest.test", "127.0.0.5"},
        {"::1", "::1", "localhost", "10.0.0.1"},
    };
    for (const auto& [host, ip, dns, notNamed] : cases) {
        SCOPED_TRACE(host);
        const CertificatePair pair = makeSelfSignedCertificate(host);
        auto read = [](const std::string& pem, auto reader) {
            BIO* bio = BIO_new_mem_buf(pem.data(), int(pem.size()));
            auto* object = reader(bio, nullptr, nullptr, nullptr);
            BIO_free(bio);
            return object;
        };
        X509* cert = read(pair.certificatePem, PEM_read_bio_X509);
        EVP_PKEY* key = read(pair.privateKeyPem, PEM_read_bio_PrivateKey);
        ASSERT_TRUE(cert && key);
        EXPECT_EQ(X509_verify(cert, key), 1);  // self-signed with that key
        EXPECT_EQ(X509_check_ip_asc(cert, ip, 0), 1);
        EXPECT_EQ(X509_check_host(cert, dns, 0, 0, nullptr), 1);
        EXPECT_NE(X509_check_host(cert, notNamed, 0, 0, nullptr), 1);
        EXPECT_NE(X509_check_ip_asc(cert, notNamed, 0), 1);
        EXPECT_LT(X509_cmp_current_time(X509_get0_notBefore(cert)), 0);
        EXPECT_GT(X509_cmp_current_time(X509_get0_notAfter(cert)), 0);
        EVP_PKEY_free(key);
        X509_free(cert);
    }
    EXPECT_NE(makeSelfSignedCertificate("").privateKeyPem, makeSelfSignedCertificate("").privateKeyPem);
}

}  // namespace
}  // namespace kest::test
