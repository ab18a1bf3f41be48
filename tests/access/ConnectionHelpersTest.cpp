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

TEST(ConnectionHelpers, SplitProviderErrorTakesTheCodeAfterTheLastAtAndTheMessageAfterTheNextColon) {
    const struct { const char* text; int code; const char* message; } cases[] = {
        {"", 0, ""}, {"no code in this text: at all", 0, ""}, {"failure@17:", 17, ""},
        {"read lock@22:could not lock: retry later", 22, "could not lock: retry later"},
        {"user@host@11:password violation", 11, "password violation"}, {"first@1:message@2", 2, ""},
        {"digits then text@9z:m", 9, "m"}, {"text after the code@7 and later: the rest", 7, " the rest"},
        // Leading blanks and one sign are part of the number.
        {"blank@  4:m", 4, "m"}, {"minus@-3:m", -3, "m"}, {"plus@+8:m", 8, "m"}, {"no digits@:m", 0, "m"},
        {"sign without digits@-:m", 0, "m"}, {"@", 0, ""},
    };
    for (const auto& c : cases) {
        int code = 99;
        cim::String message = "left over";
        splitProviderError(c.text, code, message);
        EXPECT_EQ(code, c.code) << c.text;
        EXPECT_EQ(message, c.message) << c.text;
    }
}

TEST(ConnectionHelpers, SslFilePathJoinsWithForwardSlashes) {
    const struct { const char *directory, *fileName, *path; } cases[] = {
        {nullptr, "client.pem", "client.pem"}, {"", "client.pem", "client.pem"},
        {"/etc/kest", "client.pem", "/etc/kest/client.pem"}, {"/etc/kest/", "ssl.rnd", "/etc/kest/ssl.rnd"},
        {"C:\\Pegasus\\", "client.pem", "C:/Pegasus/client.pem"}, {"mixed\\dir/sub", "f", "mixed/dir/sub/f"},
        {"\\", "ssl.rnd", "/ssl.rnd"}, {"dir", nullptr, "dir/"}, {nullptr, "", ""}, {"dir", "sub\\f.pem", "dir/sub/f.pem"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(makeSslFilePath(c.directory, c.fileName), c.path) << (c.directory ? c.directory : "(none)");
}

// Before any open: the remote time-out and the kest namespace; opening sets
// the time-out of its kind.  Nothing listens on the socket or the address named.
TEST(ConnectionHelpers, OpeningTimeOutsAndTargets) {
    const ProviderConnection& connection = providerConnection();
    ASSERT_NE(connection.client, nullptr);
    EXPECT_EQ(connection.client->getTimeout(), 120000u);
    EXPECT_EQ(connection.nameSpace.getString(), "root/cimv2/kest");
    EXPECT_TRUE(connection.remoteComplexPath.getClassName().isNull());
    EXPECT_EQ(activeClient, nullptr);
    unsetenv("XK_CIM_TIMEOUT_MS");
    setenv("XK_CIM_SOCKET", "/nonexistent/kest/cimxml.socket", 1);
    const struct { const char *hostName, *address; unsigned timeout; std::string target; } cases[] = {
        {nullptr, nullptr, 180000, "<localhost>"},
        {nullptr, "127.1.99.199", 120000, "127.1.99.199"},
        {"kest-nowhere.invalid", nullptr, 120000, "kest-nowhere.invalid"},
    };
    for (const auto& c : cases) {
        clearCredentials();
        CommandOptions options{};
        options.platformCheck = true;
        options.remoteUser = options.hostGiven = c.hostName || c.address;
        if (c.hostName) credentials.hostName = strdup(c.hostName);
        if (c.address) credentials.hostIpAddress = strdup(c.address);
        if (options.remoteUser) {
            credentials.userName = strdup("admin");
            credentials.password = strdup("secret");
        }
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(openProviderConnection(options), 1) << c.target;
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.rfind("Error: Unable to connect to the Kest Provider on " + c.target + ".\n", 0), 0u) << err;
        EXPECT_EQ(activeClient, providerConnection().client);
        EXPECT_EQ(activeClient->getTimeout(), c.timeout) << c.target;
        EXPECT_TRUE(activeNameSpace.isNull()) << c.target << ": published only after a connection";
        EXPECT_EQ(options.remoteUser ? providerConnection().host : c.target, c.target);
    }
    clearCredentials();
}

}  // namespace
}  // namespace cmplxview
