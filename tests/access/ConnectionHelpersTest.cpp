// The connection's helpers that need no provider: taking a provider error
// text apart, the SSL file paths, the certificate callback and the block of
// diagnostics printed when no provider can be reached.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "access/Instances.h"
#include "connection/ProviderConnection.h"

namespace cmplxview {
namespace {

TEST(SplitProviderError, CodeAfterLastAtAndMessageAfterNextColon) {
    const struct {
        const char* text;
        int code;
        const char* message;
    } cases[] = {
        {"", 0, ""},
        {"no code in this text: at all", 0, ""},
        {"No XK_KestPartition instance@16:The requested object does not exist", 16,
         "The requested object does not exist"},
        {"failure@17:", 17, ""},
        {"read lock@22:could not lock: retry later", 22, "could not lock: retry later"},
        // Only the last '@' counts, and the ':' must come after it.
        {"user@host@11:password violation", 11, "password violation"},
        {"first@1:message@2", 2, ""},
        {"CIM_ERR_FAILED: wrapped: text@12:no MP", 12, "no MP"},
        {"digits only@345", 345, ""},
        {"digits then text@9z:m", 9, "m"},
        {"text after the code@7 and later: the rest", 7, " the rest"},
        // Leading blanks and one sign are part of the number.
        {"blank@  4:m", 4, "m"},
        {"minus@-3:m", -3, "m"},
        {"plus@+8:m", 8, "m"},
        {"no digits@:m", 0, "m"},
        {"no digits and no colon@abc", 0, ""},
        {"sign without digits@-:m", 0, "m"},
        {"@5:", 5, ""},
        {"@", 0, ""},
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
    const struct {
        const char* directory;
        const char* fileName;
        const char* path;
    } cases[] = {
        {nullptr, "client.pem", "client.pem"},
        {nullptr, "ssl.rnd", "ssl.rnd"},
        {"", "client.pem", "client.pem"},
        {"/etc/kest", "client.pem", "/etc/kest/client.pem"},
        {"/etc/kest/", "ssl.rnd", "/etc/kest/ssl.rnd"},
        {"C:\\Pegasus\\", "client.pem", "C:/Pegasus/client.pem"},
        {"C:\\Pegasus", "client.pem", "C:/Pegasus/client.pem"},
        {"mixed\\dir/sub", "client.pem", "mixed/dir/sub/client.pem"},
        {"/", "ssl.rnd", "/ssl.rnd"},
        {"\\", "ssl.rnd", "/ssl.rnd"},
        {"dir", "", "dir/"},
        {"dir", nullptr, "dir/"},
        {nullptr, "", ""},
        {"dir", "sub\\file.pem", "dir/sub/file.pem"},
        {"relative", "client.pem", "relative/client.pem"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(makeSslFilePath(c.directory, c.fileName), c.path)
            << (c.directory ? c.directory : "(none)") << " + " << (c.fileName ? c.fileName : "(none)");
}

TEST(AcceptAnyCertificate, EveryCertificateIsAccepted) {
    const struct {
        int depth;
        int error;
    } cases[] = {{0, 0}, {0, 18}, {1, 20}, {3, 10}};
    for (const auto& c : cases) {
        cim::SSLCertificateInfo info;
        info.subjectName = "/CN=kest";
        info.errorDepth = c.depth;
        info.errorCode = c.error;
        EXPECT_TRUE(acceptAnyCertificate(info)) << c.depth << "/" << c.error;
    }
}

std::string block(const std::string& target) {
    std::string text = "Error: Unable to connect to the Kest Provider on " + target + ".\n" +
                       "1. Verify that the XK Kest Provider (WMIKestProvider on Windows) is installed and running on " +
                       target + ".\n" +
                       "2. Verify that you are logged-in to the correct account (or have provided the correct "
                       "username & password) to access the provider on " +
                       target + ".\n";
    if (target != "<localhost>")
        text += "3. Verify that you have copied the server's SSL certificate from " + target +
                " to the trusted certificate store on the local machine (see man/help/readme).\n";
    return text;
}

TEST(ReportConnectFailure, TargetChosenFromCredentialsAndMode) {
    // Host names of a given length: a run of 'k' before a domain.
    auto hostOfLength = [](std::size_t n) { return std::string(n - 4, 'k') + ".net"; };
    std::string name70 = hostOfLength(70), name63 = hostOfLength(63), name64 = hostOfLength(64);
    char hostName[] = "kestrel.example";
    char address[] = "192.0.2.17";
    const struct {
        const char* hostName;
        const char* address;
        bool withCredentials;
        int mode;
        std::string target;
    } cases[] = {
        {nullptr, nullptr, false, 0, "<localhost>"},
        {nullptr, nullptr, true, 0, "<localhost>"},
        {nullptr, nullptr, true, 'u', "<localhost>"},
        {hostName, nullptr, true, 'u', "kestrel.example"},
        {nullptr, address, true, 'u', "192.0.2.17"},
        {hostName, address, true, 'u', "kestrel.example"},
        // Through the MP the provider reached is the local one.
        {hostName, address, true, 'g', "<localhost>"},
        {nullptr, address, true, 'g', "<localhost>"},
        {name70.c_str(), nullptr, true, 'u', name70.substr(0, 63)},
        {name63.c_str(), nullptr, true, 'u', name63},
        {name64.c_str(), nullptr, true, 'u', name64.substr(0, 63)},
        {name70.c_str(), address, true, 'u', name70.substr(0, 63)},
    };
    for (const auto& c : cases) {
        Credentials creds{};
        creds.hostName = const_cast<char*>(c.hostName);
        creds.hostIpAddress = const_cast<char*>(c.address);
        ::testing::internal::CaptureStderr();
        reportConnectFailure(c.withCredentials ? &creds : nullptr, c.mode);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), block(c.target))
            << (c.hostName ? c.hostName : "-") << " " << (c.address ? c.address : "-") << " mode " << c.mode;
    }
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
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(err.substr(0, block(c.target).size()), block(c.target)) << c.what;
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
