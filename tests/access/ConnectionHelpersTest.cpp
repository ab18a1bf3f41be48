// The connection's helpers that need no provider: taking a provider error
// text apart, the SSL file paths, and the time-outs a connection is opened
// with (too long to wait for in a whole run).  The diagnostics printed when no
// provider can be reached, and the certificate check, are checked end to end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "access/Instances.h"
#include "connection/ProviderConnection.h"

namespace cmplxview {
namespace {

TEST(SplitProviderError, CodeAfterLastAtAndMessageAfterNextColon) {
    const struct { const char* text; int code; const char* message; } cases[] = {
        {"", 0, ""}, {"no code in this text: at all", 0, ""}, {"failure@17:", 17, ""},
        {"No XK_KestPartition instance@16:The requested object does not exist", 16, "The requested object does not exist"},
        {"read lock@22:could not lock: retry later", 22, "could not lock: retry later"},
        // Only the last '@' counts, and the ':' must come after it.
        {"user@host@11:password violation", 11, "password violation"}, {"first@1:message@2", 2, ""},
        {"CIM_ERR_FAILED: wrapped: text@12:no MP", 12, "no MP"}, {"digits only@345", 345, ""},
        {"digits then text@9z:m", 9, "m"}, {"text after the code@7 and later: the rest", 7, " the rest"},
        // Leading blanks and one sign are part of the number.
        {"blank@  4:m", 4, "m"}, {"minus@-3:m", -3, "m"}, {"plus@+8:m", 8, "m"}, {"no digits@:m", 0, "m"},
        {"no digits and no colon@abc", 0, ""}, {"sign without digits@-:m", 0, "m"}, {"@5:", 5, ""}, {"@", 0, ""},
    };
    for (const auto& c : cases) {
        int code = 99;
        cim::String message = "left over";
        splitProviderError(c.text, code, message);
        EXPECT_EQ(code, c.code) << c.text;
        EXPECT_EQ(message, c.message) << c.text;
    }
}

TEST(MakeSslFilePath, DirectoryAndFileJoinedWithForwardSlashes) {
    const struct { const char* directory; const char* fileName; const char* path; } cases[] = {
        {nullptr, "client.pem", "client.pem"},       {"", "client.pem", "client.pem"},
        {"/etc/kest", "client.pem", "/etc/kest/client.pem"}, {"/etc/kest/", "ssl.rnd", "/etc/kest/ssl.rnd"},
        {"C:\\Pegasus\\", "client.pem", "C:/Pegasus/client.pem"}, {"C:\\Pegasus", "client.pem", "C:/Pegasus/client.pem"},
        {"mixed\\dir/sub", "client.pem", "mixed/dir/sub/client.pem"}, {"/", "ssl.rnd", "/ssl.rnd"},
        {"\\", "ssl.rnd", "/ssl.rnd"},                {"dir", "", "dir/"},
        {"dir", nullptr, "dir/"},                    {nullptr, "", ""},
        {"dir", "sub\\file.pem", "dir/sub/file.pem"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(makeSslFilePath(c.directory, c.fileName), c.path)
            << (c.directory ? c.directory : "(none)") << " + " << (c.fileName ? c.fileName : "(none)");
}

// The connection object as it stands before any open, and the time-outs
// that opening sets. The connections below fail on purpose: nothing listens
// on the socket or the address named.
class ProviderConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("XK_CIM_TIMEOUT_MS");
        setenv("XK_CIM_SOCKET", "/nonexistent/kest/cimxml.socket", 1);
        clearCredentials();
    }
    void TearDown() override { clearCredentials(); }
};

TEST_F(ProviderConnectionTest, CreatedBeforeMainWithTheRemoteTimeOutAndKestNamespace) {
    const ProviderConnection& connection = providerConnection();
    ASSERT_NE(connection.client, nullptr);
    EXPECT_EQ(connection.client->getTimeout(), 120000u);
    EXPECT_EQ(connection.nameSpace.getString(), "root/cimv2/kest");
    EXPECT_TRUE(connection.host.empty());
    EXPECT_TRUE(connection.remoteComplexPath.getClassName().isNull());
    EXPECT_EQ(activeClient, nullptr);
    EXPECT_TRUE(activeNameSpace.isNull());
}

TEST_F(ProviderConnectionTest, OpeningTimeOutsAndTargets) {
    const struct {
        const char* what;
        const char* hostName;
        const char* address;
        bool remoteUser;
        unsigned timeout;
        std::string target;  // of the diagnostics; the host kept for -u
    } cases[] = {
        {"local", nullptr, nullptr, false, 180000, "<localhost>"},
        {"-u to an address", nullptr, "127.1.99.199", true, 120000, "127.1.99.199"},
        {"-u to a host name", "kest-nowhere.invalid", nullptr, true, 120000, "kest-nowhere.invalid"},
    };
    for (const auto& c : cases) {
        clearCredentials();
        if (c.hostName) credentials.hostName = strdup(c.hostName);
        if (c.address) credentials.hostIpAddress = strdup(c.address);
        if (c.remoteUser) {
            credentials.userName = strdup("admin");
            credentials.password = strdup("secret");
        }
        CommandOptions options{};
        options.platformCheck = true;
        options.remoteUser = c.remoteUser;
        options.hostGiven = c.hostName || c.address;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(openProviderConnection(options), 1) << c.what;
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.rfind("Error: Unable to connect to the Kest Provider on " + c.target + ".\n", 0), 0u) << err;
        EXPECT_EQ(activeClient, providerConnection().client) << c.what;
        EXPECT_EQ(activeClient->getTimeout(), c.timeout) << c.what;
        EXPECT_TRUE(activeNameSpace.isNull()) << c.what << ": published only after a connection";
        if (c.remoteUser) {
            EXPECT_EQ(providerConnection().host, c.target) << c.what;
        }
    }
}

}  // namespace
}  // namespace cmplxview
