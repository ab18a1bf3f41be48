// CIMClient against scripted peers: connection set-up and reuse, the watched
// interrupt flag, the trace file, and the ways a request can fail.
#include <gtest/gtest.h>

#include <csignal>

#include "FakeServer.h"
#include "cim/Client.h"
#include "cim/Codec.h"

using namespace cim;
namespace fs = std::filesystem;

namespace {

std::string http(const std::string& status, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: application/xml; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nCIMOperation: MethodResponse\r\n\r\n" + body;
}

// An answer to the request with the given result filled in.
FakeServer::Step answerWith(std::function<void(xml::Response&)> fill, bool closeAfter = false) {
    return {[fill](const ReceivedRequest& r) {
                xml::Request request = xml::decodeRequest(r.body);
                xml::Response response;
                response.messageId = request.messageId;
                response.operation = request.operation;
                fill(response);
                return http("200 OK", xml::encodeResponse(response));
            },
            closeAfter};
}

FakeServer::Step names(int count, bool closeAfter = false) {
    return answerWith(
        [count](xml::Response& r) {
            for (int i = 0; i < count; ++i) r.instanceNames.push_back(CIMObjectPath("XK_KestCellSlot.ID=" + std::to_string(i)));
        },
        closeAfter);
}

FakeServer::Step raw(std::string bytes, bool closeAfter = false) {
    return {[bytes](const ReceivedRequest&) { return bytes; }, closeAfter};
}

const CIMNamespaceName kNs("root/cimv2/kest");

std::size_t countNames(CIMClient& client) { return client.enumerateInstanceNames(kNs, "XK_KestCellSlot").size(); }

}  // namespace

TEST(ClientConnect, NothingThereThrowsCannotConnect) {
    const std::function<void(CIMClient&)> attempts[] = {
        [](CIMClient& c) {
            ScopedEnv env("XK_CIM_SOCKET", socketPath() + "-absent");
            c.connectLocal();  // at connect time, not at the first request
        },
        [](CIMClient& c) { c.connect("127.0.0.1", 1, SSLContext("", nullptr), "u", "p"); },  // nothing listens on port 1
        [](CIMClient& c) { c.connect("no-such-host.invalid", 5989, SSLContext("", nullptr), "u", "p"); },
    };
    for (const auto& attempt : attempts) {
        CIMClient client;
        client.setTimeout(2000);
        EXPECT_THROW(attempt(client), CannotConnectException);
    }
}

TEST(ClientConnect, RequestsWithoutAConnectionFail) {
    CIMClient client;
    client.disconnect();  // harmless without a connection
    try {
        countNames(client);
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
        for (std::size_t i = 1; i <= 3; ++i) EXPECT_EQ(countNames(client), i);
    }
    EXPECT_EQ(server.connections(), 1);
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const char* field : {"CIMOperation: MethodCall", "CIMMethod: EnumerateInstanceNames", "CIMObject: root/cimv2/kest"})
        EXPECT_NE(requests[0].head.find(field), std::string::npos) << field;
    EXPECT_EQ(requests[0].head.find("Authorization"), std::string::npos);
}

TEST(ClientConnection, ReconnectsOnceWhenTheServerClosedBetweenRequests) {
    FakeServer server(socketPath());
    server.run({names(1, /*closeAfter=*/true), names(2)});
    ScopedEnv env("XK_CIM_SOCKET", server.path());
    CIMClient client;
    client.connectLocal();
    EXPECT_EQ(countNames(client), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(countNames(client), 2u);
    client.disconnect();
    EXPECT_EQ(server.connections(), 2);
}

// Instances handed on as they are read: in order, with their paths, and
// only from the answer to the request made.
TEST(ClientConnection, EnumerationHandsOnInstancesOfItsOwnAnswer) {
    auto cells = [](const char* id) {
        return answerWith([id](xml::Response& r) {
            if (*id) r.messageId = id;
            for (int i = 0; i < 3; ++i) {
                CIMInstance cell("XK_KestCell");
                cell.addProperty(CIMProperty("SlotID", CIMValue(Uint32(i))));
                cell.setPath(CIMObjectPath("XK_KestCell.SlotID=" + std::to_string(i)));
                r.instances.push_back(cell);
            }
        });
    };
    FakeServer server(socketPath());
    server.run({cells(""), cells("77"), cells("")});
    ScopedEnv env("XK_CIM_SOCKET", server.path());
    CIMClient client;
    client.connectLocal();
    std::vector<std::string> paths;
    auto each = [&paths](CIMInstance&& instance) { paths.push_back(instance.getPath().toString()); };
    client.enumerateInstances(kNs, "XK_KestCell", false, false, true, false, CIMPropertyList(), each);
    EXPECT_EQ(paths, (std::vector<std::string>{"XK_KestCell.SlotID=0", "XK_KestCell.SlotID=1", "XK_KestCell.SlotID=2"}));
    paths.clear();
    try {
        client.enumerateInstances(kNs, "XK_KestCell", false, false, true, false, CIMPropertyList(), each);
        ADD_FAILURE() << "an answer to another message was taken";
    } catch (const Exception& e) {
        EXPECT_NE(e.getMessage().find("message 77"), std::string::npos) << e.getMessage();
    }
    EXPECT_TRUE(paths.empty());
    EXPECT_EQ(client.enumerateInstances(kNs, "XK_KestCell").size(), 3u);  // on a new connection
    client.disconnect();
    EXPECT_EQ(server.connections(), 2);
}

// A raised interrupt flag: a request does not start, and a wait for an
// answer ends soon, not at the time-out; once the flag is no longer watched,
// the same client talks to the server again.
TEST(ClientConnection, WatchedFlagCutsRequestsShortAndTheClientGoesOnAfterwards) {
    FakeServer server(socketPath());
    server.run({FakeServer::Step{nullptr, false, 8000}, names(2)});
    ScopedEnv env("XK_CIM_SOCKET", server.path());
    static volatile std::sig_atomic_t flag = 0;
    flag = 1;
    watchInterruptFlag(&flag);
    CIMClient client;
    client.setTimeout(60000);
    client.connectLocal();
    EXPECT_THROW(countNames(client), Interrupted);
    EXPECT_TRUE(server.requests().empty());
    flag = 0;
    std::thread raiser([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        flag = 1;
    });
    auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(countNames(client), Interrupted);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));  // the time-out is 60 s
    raiser.join();
    watchInterruptFlag(nullptr);
    EXPECT_EQ(countNames(client), 2u);
    EXPECT_EQ(server.connections(), 2);
}

TEST(ClientTrace, TraceFileHoldsRequestAndAnswerWithPasswordsMasked) {
    FakeServer server(socketPath());
    server.run({answerWith([](xml::Response& r) { r.instanceName = CIMObjectPath("XK_KestRemoteComplex.Address=\"10.1.1.1\""); })});
    ScopedEnv env("XK_CIM_SOCKET", server.path());
    const std::string tracePath = socketPath() + ".trace";
    fs::remove(tracePath);
    ScopedEnv trace("XK_CIM_TRACE", tracePath);
    CIMClient client;
    client.connectLocal();
    CIMInstance instance("XK_KestRemoteComplex");
    instance.addProperty(CIMProperty("Address", CIMValue(String("10.1.1.1"))));
    instance.addProperty(CIMProperty("Password", CIMValue(String("hunter2-secret"))));
    EXPECT_EQ(client.createInstance(kNs, instance).toString(), "XK_KestRemoteComplex.Address=\"10.1.1.1\"");
    client.disconnect();
    const std::string text = readFile(tracePath);
    for (const char* part : {"CIMMethod: CreateInstance", "10.1.1.1", "HTTP/1.1 200 OK"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
    EXPECT_EQ(text.find("hunter2-secret"), std::string::npos);
    EXPECT_NE(server.requests().at(0).body.find("hunter2-secret"), std::string::npos);  // the server did get it
    fs::remove(tracePath);
}

// Each row: what the server sends back, and what the client must throw.
struct FailureCase {
    const char* name;
    std::vector<FakeServer::Step> script;
    Uint32 cimCode;           // 0: a plain Exception, not a CIMException
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
        countNames(client);
        FAIL() << "no exception";
    } catch (const CIMException& e) {
        EXPECT_EQ(e.getCode(), c.cimCode) << e.getMessage();
        EXPECT_NE(e.getMessage().find(c.messagePart), std::string::npos) << e.getMessage();
    } catch (const CannotConnectException& e) {
        FAIL() << "a broken request is not a failed connect: " << e.getMessage();
    } catch (const Exception& e) {
        EXPECT_EQ(c.cimCode, 0u) << e.getMessage();
        EXPECT_NE(e.getMessage().find(c.messagePart), std::string::npos) << e.getMessage();
    }
    client.disconnect();
}

std::string errorBody(const char* id, int code, const char* description) {
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE ID=\"") +
           id + "\" PROTOCOLVERSION=\"1.0\"><SIMPLERSP><IMETHODRESPONSE NAME=\"EnumerateInstanceNames\"><ERROR CODE=\"" +
           std::to_string(code) + "\" DESCRIPTION=\"" + description + "\"/></IMETHODRESPONSE></SIMPLERSP></MESSAGE></CIM>\n";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClientFailure,
    ::testing::Values(
        FailureCase{"CimErrorKeepsDescriptionAtTheEnd", {raw(http("200 OK", errorBody("1", 6, "no such slot@17:gone")))},
                    6, "CIM_ERR_NOT_FOUND: no such slot@17:gone"},
        FailureCase{"Http401IsAccessDenied",
                    {raw("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\nContent-Length: 0\r\n\r\n")},
                    2, "Unauthorized"},
        FailureCase{"Http500", {raw(http("500 Internal Server Error", ""))}, 0, "HTTP 500"},
        FailureCase{"MalformedBody", {raw(http("200 OK", "<CIM><MESSAGE"))}, 0, "Malformed"},
        FailureCase{"NotCimXml", {raw(http("200 OK", "hello"))}, 0, "Malformed"},
        FailureCase{"WrongMessageId", {raw(http("200 OK", errorBody("77", 1, "x")))}, 0, "message 77"},
        FailureCase{"TruncatedBody", {raw("HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n<?xml version=\"1.0\"?><CIM", true)},
                    0, "in the middle of its answer"},
        FailureCase{"ClosedWithoutAnswerEvenAfterReconnect", {raw("", true), raw("", true), raw("", true)}, 0,
                    "without answering"},
        FailureCase{"SlowAnswerTimesOut", {FakeServer::Step{nullptr, false, 3000}}, 0, "timed out"},
        FailureCase{"ErrorInTrailers",
                    {raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nTrailer: CIMStatusCode, "
                         "CIMStatusCodeDescription\r\n\r\n0\r\nCIMStatusCode: 5\r\nCIMStatusCodeDescription: "
                         "no%20class%3A%20X\r\n\r\n")},
                    5, "CIM_ERR_INVALID_CLASS: no class: X"},
        FailureCase{"AnswerOverTheSizeCap",
                    {{[](const ReceivedRequest&) { return http("200 OK", std::string(65u << 20, 'x')); }, true}}, 0,
                    "exceeds 64 MiB"}),
    [](const auto& info) { return std::string(info.param.name); });
