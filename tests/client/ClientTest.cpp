// CIMClient against scripted peers: connection set-up and reuse, the ways a
// request can fail, and the recorded answers of an independent CIM server
// replayed through the real HTTP path.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "FakeServer.h"
#include "cim/Client.h"
#include "cim/Codec.h"

using namespace cim;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + p.string());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A socket path of this test's own, so tests can run in parallel.
std::string socketPath() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    for (auto& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '-';
    return (fs::temp_directory_path() / ("cimclient-" + std::to_string(::getpid()) + "-" + name.substr(0, 60)))
        .string();
}

struct ScopedEnv {
    ScopedEnv(const char* name, const std::string& value) : name_(name) { ::setenv(name, value.c_str(), 1); }
    ~ScopedEnv() { ::unsetenv(name_); }
    const char* name_;
};

std::string http(const std::string& status, const std::string& body, const std::string& extra = "") {
    return "HTTP/1.1 " + status + "\r\nContent-Type: application/xml; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nCIMOperation: MethodResponse\r\n" + extra + "\r\n" + body;
}

// An answer to the request with the given result filled in.
FakeServer::Step answerWith(std::function<void(xml::Response&)> fill, bool closeAfter = false) {
    return {[fill](const ReceivedRequest& r) {
                xml::Request request = xml::decodeRequest(r.body);
                xml::Response response;
                response.messageId = request.messageId;
                response.operation = request.operation;
                response.methodName = request.methodName;
                fill(response);
                return http("200 OK", xml::encodeResponse(response));
            },
            closeAfter};
}

FakeServer::Step names(int count, bool closeAfter = false) {
    return answerWith(
        [count](xml::Response& r) {
            for (int i = 0; i < count; ++i)
                r.instanceNames.push_back(CIMObjectPath("XK_KestCellSlot.ID=" + std::to_string(i)));
        },
        closeAfter);
}

FakeServer::Step raw(std::string bytes, bool closeAfter = false) {
    return {[bytes](const ReceivedRequest&) { return bytes; }, closeAfter};
}

const CIMNamespaceName kNs("root/cimv2/kest");

}  // namespace

TEST(ClientConnect, LocalWithNothingListeningThrowsCannotConnectAtConnectTime) {
    ScopedEnv env("XK_CIM_SOCKET", socketPath() + "-absent");
    CIMClient client;
    EXPECT_THROW(client.connectLocal(), CannotConnectException);
}

TEST(ClientConnect, RemoteWithNothingListeningThrowsCannotConnect) {
    CIMClient client;
    client.setTimeout(2000);
    SSLContext ssl("", nullptr);
    // Port 1 on a loopback address: nothing listens there.
    EXPECT_THROW(client.connect("127.0.0.1", 1, ssl, "u", "p"), CannotConnectException);
}

TEST(ClientConnect, UnknownHostThrowsCannotConnect) {
    CIMClient client;
    SSLContext ssl("", nullptr);
    EXPECT_THROW(client.connect("no-such-host.invalid", 5989, ssl, "u", "p"), CannotConnectException);
}

TEST(ClientConnect, DisconnectWithoutConnectIsHarmlessAndRequestsThenFail) {
    CIMClient client;
    client.disconnect();
    client.disconnect();
    try {
        client.enumerateInstanceNames(kNs, "XK_KestCellSlot");
        FAIL() << "a request without a connection must throw";
    } catch (const CannotConnectException&) {
        FAIL() << "not connected is not a failed connection attempt";
    } catch (const Exception& e) {
        EXPECT_NE(e.getMessage().find("not connected"), std::string::npos) << e.getMessage();
    }
}

TEST(ClientConnection, RequestsShareOneKeptAliveConnection) {
    FakeServer server(socketPath());
    server.run({names(1), names(2), names(3)});
    ScopedEnv env("XK_CIM_SOCKET", server.path());
    {
        CIMClient client;
        client.connectLocal();
        for (int i = 1; i <= 3; ++i) EXPECT_EQ(client.enumerateInstanceNames(kNs, "XK_KestCellSlot").size(), i);
    }
    EXPECT_EQ(server.connections(), 1);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_NE(requests[0].head.find("CIMOperation: MethodCall"), std::string::npos);
    EXPECT_NE(requests[0].head.find("CIMMethod: EnumerateInstanceNames"), std::string::npos);
    EXPECT_NE(requests[0].head.find("CIMObject: root/cimv2/kest"), std::string::npos);
    EXPECT_EQ(requests[0].head.find("Authorization"), std::string::npos);
}

TEST(ClientConnection, ReconnectsOnceWhenTheServerClosedBetweenRequests) {
    FakeServer server(socketPath());
    server.run({names(1, /*closeAfter=*/true), names(2)});
    ScopedEnv env("XK_CIM_SOCKET", server.path());
    CIMClient client;
    client.connectLocal();
    EXPECT_EQ(client.enumerateInstanceNames(kNs, "XK_KestCellSlot").size(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(client.enumerateInstanceNames(kNs, "XK_KestCellSlot").size(), 2u);
    client.disconnect();
    EXPECT_EQ(server.connections(), 2);
}

// A raised interrupt flag: a request does not start, and a wait for an
// answer ends within moments, not at the time-out; once the flag is no
// longer watched, the same client talks to the server again.
TEST(ClientConnection, WatchedFlagCutsRequestsShortAndTheClientGoesOnAfterwards) {
    FakeServer server(socketPath());
    server.run({FakeServer::Step{nullptr, false, 8000}, names(2)});
    ScopedEnv env("XK_CIM_SOCKET", server.path());
    static volatile std::sig_atomic_t flag = 0;
    flag = 1;
    watchInterruptFlag(&flag);
    CIMClient client;
    client.setTimeout(20000);
    client.connectLocal();
    EXPECT_THROW(client.enumerateInstanceNames(kNs, "XK_KestCellSlot"), Interrupted);
    EXPECT_TRUE(server.requests().empty());
    flag = 0;
    std::thread raiser([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        flag = 1;
    });
    auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(client.enumerateInstanceNames(kNs, "XK_KestCellSlot"), Interrupted);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(5000));
    raiser.join();
    watchInterruptFlag(nullptr);
    EXPECT_EQ(client.enumerateInstanceNames(kNs, "XK_KestCellSlot").size(), 2u);
    EXPECT_EQ(server.connections(), 2);
}

// Each row: what the server sends back, and what the client must throw.
struct FailureCase {
    const char* name;
    std::vector<FakeServer::Step> script;
    enum Kind { Plain, Cim } kind;
    Uint32 code;             // for Cim
    const char* messagePart;  // must occur in getMessage()
};

class ClientFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ClientFailure, ThrowsTheRightException) {
    const FailureCase& c = GetParam();
    FakeServer server(socketPath());
    server.run(c.script);
    ScopedEnv env("XK_CIM_SOCKET", server.path());
    CIMClient client;
    client.setTimeout(1500);
    client.connectLocal();
    try {
        client.enumerateInstanceNames(kNs, "XK_KestCellSlot");
        FAIL() << "no exception";
    } catch (const CIMException& e) {
        EXPECT_EQ(c.kind, FailureCase::Cim) << e.getMessage();
        EXPECT_EQ(e.getCode(), c.code);
        EXPECT_NE(e.getMessage().find(c.messagePart), std::string::npos) << e.getMessage();
    } catch (const CannotConnectException& e) {
        FAIL() << "a broken request is not a failed connect: " << e.getMessage();
    } catch (const Exception& e) {
        EXPECT_EQ(c.kind, FailureCase::Plain) << e.getMessage();
        EXPECT_NE(e.getMessage().find(c.messagePart), std::string::npos) << e.getMessage();
    }
    client.disconnect();
}

std::string errorBody(const char* id, int code, const char* description) {
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">"
                       "<MESSAGE ID=\"") +
           id +
           "\" PROTOCOLVERSION=\"1.0\"><SIMPLERSP><IMETHODRESPONSE NAME=\"EnumerateInstanceNames\"><ERROR CODE=\"" +
           std::to_string(code) + "\" DESCRIPTION=\"" + description +
           "\"/></IMETHODRESPONSE></SIMPLERSP></MESSAGE></CIM>\n";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClientFailure,
    ::testing::Values(
        FailureCase{"CimErrorKeepsDescriptionAtTheEnd",
                    {raw(http("200 OK", errorBody("1", 6, "no such slot@17:gone")))},
                    FailureCase::Cim, 6, "CIM_ERR_NOT_FOUND: no such slot@17:gone"},
        FailureCase{"Http401IsAccessDenied",
                    {raw("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\nContent-Length: 0\r\n\r\n")},
                    FailureCase::Cim, 2, "Unauthorized"},
        FailureCase{"Http500", {raw(http("500 Internal Server Error", ""))}, FailureCase::Plain, 0, "HTTP 500"},
        FailureCase{"MalformedBody", {raw(http("200 OK", "<CIM><MESSAGE"))}, FailureCase::Plain, 0, "Malformed"},
        FailureCase{"NotCimXml", {raw(http("200 OK", "hello"))}, FailureCase::Plain, 0, "Malformed"},
        FailureCase{"WrongMessageId", {raw(http("200 OK", errorBody("77", 1, "x")))}, FailureCase::Plain, 0,
                    "message 77"},
        FailureCase{"TruncatedBody",
                    {raw("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n<?xml version=\"1.0\"?><CIM", true)},
                    FailureCase::Plain, 0, "in the middle of its answer"},
        FailureCase{"ClosedWithoutAnswerEvenAfterReconnect",
                    {raw("", true), raw("", true), raw("", true)}, FailureCase::Plain, 0, "without answering"},
        FailureCase{"SlowAnswerTimesOut", {FakeServer::Step{nullptr, false, 3000}}, FailureCase::Plain, 0,
                    "timed out"},
        FailureCase{"ErrorInTrailers",
                    {raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTrailer: CIMStatusCode, "
                         "CIMStatusCodeDescription\r\n\r\n0\r\nCIMStatusCode: 5\r\nCIMStatusCodeDescription: "
                         "no%20class%3A%20X\r\n\r\n")},
                    FailureCase::Cim, 5, "CIM_ERR_INVALID_CLASS: no class: X"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ClientLimits, AnswerOverTheSizeCapIsRefused) {
    FakeServer server(socketPath());
    std::string huge(65u << 20, 'x');
    server.run({raw(http("200 OK", huge), true)});
    ScopedEnv env("XK_CIM_SOCKET", server.path());
    CIMClient client;
    client.connectLocal();
    try {
        client.enumerateInstanceNames(kNs, "XK_KestCellSlot");
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_NE(e.getMessage().find("exceeds 64 MiB"), std::string::npos) << e.getMessage();
    }
}

TEST(ClientTrace, TraceFileHoldsRequestAndAnswerWithPasswordsMasked) {
    FakeServer server(socketPath());
    server.run({answerWith([](xml::Response& r) {
        r.instanceName = CIMObjectPath("XK_KestRemoteComplex.Address=\"10.1.1.1\"");
    })});
    ScopedEnv env("XK_CIM_SOCKET", server.path());
    std::string tracePath = socketPath() + ".trace";
    fs::remove(tracePath);
    ScopedEnv trace("XK_CIM_TRACE", tracePath);
    CIMClient client;
    client.connectLocal();
    CIMInstance instance("XK_KestRemoteComplex");
    instance.addProperty(CIMProperty("Address", CIMValue(String("10.1.1.1"))));
    instance.addProperty(CIMProperty("Password", CIMValue(String("hunter2-secret"))));
    CIMObjectPath path = client.createInstance(kNs, instance);
    EXPECT_EQ(path.toString(), "XK_KestRemoteComplex.Address=\"10.1.1.1\"");
    client.disconnect();
    std::string text = readFile(tracePath);
    EXPECT_NE(text.find("CIMMethod: CreateInstance"), std::string::npos);
    EXPECT_NE(text.find("10.1.1.1"), std::string::npos);
    EXPECT_NE(text.find("HTTP/1.1 200 OK"), std::string::npos);
    EXPECT_EQ(text.find("hunter2-secret"), std::string::npos);
    // The server did get the password.
    EXPECT_NE(server.requests().at(0).body.find("hunter2-secret"), std::string::npos);
    fs::remove(tracePath);
}

// ---- Replay of the recorded exchanges through the client's HTTP path ----

namespace {

struct RecordedAnswer {
    std::string statusLine;
    std::vector<std::string> headers;  // without framing headers
    bool chunked = false;
    std::string body;
    std::string trailers;  // raw trailer lines, each ending in CRLF
};

RecordedAnswer splitRecorded(const std::string& raw) {
    RecordedAnswer a;
    auto headEnd = raw.find("\r\n\r\n");
    std::istringstream head(raw.substr(0, headEnd));
    std::string line;
    std::getline(head, line);
    a.statusLine = line.substr(0, line.size() - 1);
    while (std::getline(head, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string lower = line;
        for (auto& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (lower.rfind("transfer-encoding:", 0) == 0) {
            a.chunked = true;
        } else if (lower.rfind("content-length:", 0) != 0) {
            a.headers.push_back(line);
        }
    }
    std::string rest = raw.substr(headEnd + 4);
    if (!a.chunked) {
        a.body = rest;
        return a;
    }
    std::size_t pos = 0;
    for (;;) {
        auto eol = rest.find("\r\n", pos);
        std::size_t size = std::stoul(rest.substr(pos, eol - pos), nullptr, 16);
        pos = eol + 2;
        if (size == 0) break;
        a.body += rest.substr(pos, size);
        pos += size + 2;
    }
    a.trailers = rest.substr(pos, rest.size() - pos - 2);
    return a;
}

std::string reframe(const RecordedAnswer& a, const std::string& body) {
    std::string out = a.statusLine + "\r\n";
    for (const auto& h : a.headers) out += h + "\r\n";
    if (!a.chunked) return out + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    std::ostringstream size;
    size << std::hex << body.size();
    out += "Transfer-Encoding: chunked\r\n\r\n";
    if (!body.empty()) out += size.str() + "\r\n" + body + "\r\n";
    return out + "0\r\n" + a.trailers + "\r\n";
}

fs::path interopDir() { return fs::path(CMPLXVIEW_INTEROP_DIR); }

}  // namespace

class InteropReplay : public ::testing::TestWithParam<std::string> {};

TEST_P(InteropReplay, ClientSendsTheSameRequestAndDecodesTheRecordedAnswer) {
    const fs::path dir = interopDir();
    ASSERT_TRUE(fs::is_directory(dir)) << "interop corpus missing or unreadable: " << dir;
    const std::string name = GetParam();
    const xml::Request recorded = xml::decodeRequest(readFile(dir / (name + ".request.xml")));
    const RecordedAnswer answer = splitRecorded(readFile(dir / (name + ".response.http")));
    const nlohmann::json expected = nlohmann::json::parse(readFile(dir / (name + ".expected.json")));
    const std::string recordedId = expected["response"]["message_id"];

    FakeServer server(socketPath());
    server.run({{[&](const ReceivedRequest& r) {
        std::string id = xml::decodeRequest(r.body).messageId;
        std::string body = std::regex_replace(answer.body, std::regex("MESSAGE ID=\"" + recordedId + "\""),
                                              "MESSAGE ID=\"" + id + "\"");
        return reframe(answer, body);
    }}});
    ScopedEnv env("XK_CIM_SOCKET", server.path());
    CIMClient client;
    client.connectLocal();

    xml::Response got;
    got.operation = recorded.operation;
    std::optional<CIMException> error;
    try {
        switch (recorded.operation) {
            case xml::Operation::EnumerateInstanceNames:
                got.instanceNames = client.enumerateInstanceNames(recorded.nameSpace, recorded.className);
                break;
            case xml::Operation::EnumerateInstances:
                got.instances = client.enumerateInstances(recorded.nameSpace, recorded.className,
                                                          recorded.deepInheritance, recorded.localOnly,
                                                          recorded.includeQualifiers, recorded.includeClassOrigin,
                                                          recorded.propertyList);
                break;
            case xml::Operation::GetInstance:
                got.instance = client.getInstance(recorded.nameSpace, recorded.instanceName, recorded.localOnly,
                                                  recorded.includeQualifiers, recorded.includeClassOrigin,
                                                  recorded.propertyList);
                break;
            case xml::Operation::GetClass:
                got.cimClass = client.getClass(recorded.nameSpace, recorded.className, recorded.localOnly,
                                               recorded.includeQualifiers, recorded.includeClassOrigin,
                                               recorded.propertyList);
                break;
            case xml::Operation::CreateInstance:
                got.instanceName = client.createInstance(recorded.nameSpace, recorded.newInstance);
                break;
            case xml::Operation::DeleteInstance:
                client.deleteInstance(recorded.nameSpace, recorded.instanceName);
                break;
            case xml::Operation::InvokeMethod:
                got.returnValue = client.invokeMethod(recorded.nameSpace, recorded.instanceName,
                                                      recorded.methodName, recorded.inParams, got.outParams);
                break;
        }
    } catch (const CIMException& e) {
        error = e;
    }
    client.disconnect();

    // The request the client sent means the same as the recorded one.
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    xml::Request sent = xml::decodeRequest(requests[0].body);
    EXPECT_EQ(sent.operation, recorded.operation);
    EXPECT_EQ(sent.nameSpace, recorded.nameSpace);
    EXPECT_EQ(sent.className, recorded.className);
    EXPECT_EQ(sent.instanceName, recorded.instanceName);
    EXPECT_EQ(sent.newInstance, recorded.newInstance);
    EXPECT_EQ(sent.methodName, recorded.methodName);
    EXPECT_EQ(sent.inParams, recorded.inParams);
    EXPECT_EQ(sent.deepInheritance, recorded.deepInheritance);
    EXPECT_EQ(sent.localOnly, recorded.localOnly);
    EXPECT_EQ(sent.includeQualifiers, recorded.includeQualifiers);
    EXPECT_EQ(sent.includeClassOrigin, recorded.includeClassOrigin);

    const auto& result = expected["result"];
    if (result["kind"] == "error") {
        ASSERT_TRUE(error.has_value()) << "expected a CIM error";
        EXPECT_EQ(error->getCode(), result["error"]["code"].get<Uint32>());
        EXPECT_EQ(error->getDescription(), result["error"]["description"].get<std::string>());
        return;
    }
    ASSERT_FALSE(error.has_value()) << error->getMessage();
    // What came through the client equals what the codec makes of the body alone.
    xml::Response direct = xml::decodeResponse(answer.body, recorded.operation);
    EXPECT_EQ(got.instanceNames, direct.instanceNames);
    EXPECT_EQ(got.instances, direct.instances);
    if (recorded.operation == xml::Operation::GetInstance) {
        // The client names the instance by the path it asked for.
        EXPECT_EQ(got.instance.getPath(), recorded.instanceName);
        direct.instance.setPath(got.instance.getPath());
        EXPECT_EQ(got.instance, direct.instance);
    }
    EXPECT_EQ(got.cimClass, direct.cimClass);
    EXPECT_EQ(got.instanceName, direct.instanceName);
    EXPECT_EQ(got.returnValue, direct.returnValue);
    if (result.contains("instances")) {
        EXPECT_EQ(got.instances.size(), result["instances"].size());
    }
    if (result.contains("instance_names")) {
        EXPECT_EQ(got.instanceNames.size(), result["instance_names"].size());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Recorded, InteropReplay,
    ::testing::ValuesIn([] {
        // A missing or unreadable corpus yields one case that fails and names
        // the folder, rather than an exception that aborts test discovery.
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(interopDir(), ec)) {
            std::string f = e.path().filename().string();
            const std::string suffix = ".response.http";
            if (f.size() > suffix.size() && f.compare(f.size() - suffix.size(), suffix.size(), suffix) == 0)
                names.push_back(f.substr(0, f.size() - suffix.size()));
        }
        std::sort(names.begin(), names.end());
        if (names.empty()) names.push_back("missing corpus");
        return names;
    }()),
    [](const auto& info) {
        std::string n = info.param;
        for (auto& c : n)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return n;
    });
