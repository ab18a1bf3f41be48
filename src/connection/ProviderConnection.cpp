#include "connection/ProviderConnection.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "access/Instances.h"
#include "cim/Secret.h"

namespace cmplxview {

using namespace cim;

CIMClient* activeClient = nullptr;
CIMNamespaceName activeNameSpace;

namespace {

constexpr Uint32 createTimeoutMs = 120000;
constexpr Uint32 localTimeoutMs = 180000;
constexpr Uint32 remoteTimeoutMs = 120000;
constexpr Uint32 secureWbemPort = 5989;
constexpr const char* localhostTarget = "<localhost>";

ProviderConnection* createConnection() {
    auto* connection = new ProviderConnection;
    connection->client = new (std::nothrow) CIMClient;
    if (connection->client) connection->client->setTimeout(createTimeoutMs);
    std::atexit(releaseConnection);
    return connection;
}

// The connection exists before main runs, so every way out of the process
// releases it.
const bool connectionCreatedAtStart = (providerConnection(), true);

void printMessage(const Exception& e) { std::fprintf(stderr, "%s\n", e.getMessage().c_str()); }

bool isProviderMissing(Uint32 code) {
    return code == CIM_ERR_NOT_FOUND || code == CIM_ERR_INVALID_NAMESPACE || code == CIM_ERR_INVALID_CLASS;
}

const char* failedToConnect = "Error: Failed to connect to target partition or complex.\n";
const char* credentialViolation = "Error: Remote user or IPMI password violation.\n";

// Which failures of a connect step mean rejected credentials.
enum class CredentialCheck {
    None,        // connecting only: credentials are not looked at yet
    IpmiCode,    // the provider's code 11 (-g)
    UserOrIpmi,  // "Unauthorized" in the message, or code 11 (the probe)
};

// Runs one step of connecting. A library exception is reported by its kind:
// rejected credentials, the provider-not-reachable diagnostics (for the
// target that creds and mode name), or a plain failure; then the library's
// message. Returns 0, or 1 after the report.
template <class Step>
int runConnectStep(Step step, const Credentials* creds, int mode, CredentialCheck check) {
    try {
        step();
        return 0;
    } catch (const CIMException& e) {
        int code = 0;
        String message;
        splitProviderError(e.getMessage(), code, message);
        bool unauthorized = e.getMessage().find("Unauthorized") != String::npos;
        if ((check == CredentialCheck::IpmiCode && code == 11) ||
            (check == CredentialCheck::UserOrIpmi && (unauthorized || code == 11)))
            std::fputs(credentialViolation, stderr);
        else if (isProviderMissing(e.getCode()))
            reportConnectFailure(creds, mode);
        else
            std::fputs(failedToConnect, stderr);
        printMessage(e);
    } catch (const CannotConnectException& e) {
        reportConnectFailure(creds, mode);
        printMessage(e);
    } catch (const Exception& e) {
        std::fputs(failedToConnect, stderr);
        printMessage(e);
    }
    return 1;
}

}  // namespace

ProviderConnection& providerConnection() {
    static ProviderConnection* connection = createConnection();
    return *connection;
}

int openProviderConnection(CommandOptions options) {
    ProviderConnection& connection = providerConnection();
    (void)connectionCreatedAtStart;
    activeClient = connection.client;
    if (!activeClient) {
        std::fputs(failedToConnect, stderr);
        return 1;
    }
    activeClient->setTimeout(localTimeoutMs);
    int mode = options.remoteUser ? 'u' : options.remoteMP ? 'g' : 0;
    int result = connectToProvider(connection, mode, credentials);
    // The client keeps what it needs for later requests; the command line's
    // copy of the password is of no further use.
    forgetPassword();
    if (result != 0) return 1;
    activeNameSpace = connection.nameSpace;
    return 0;
}

int connectToProvider(ProviderConnection& connection, int mode, const Credentials& creds) {
    if (!creds.hostName && !creds.hostIpAddress) return connectLocally(connection);
    connection.client->setTimeout(remoteTimeoutMs);
    int result = mode == 'u' ? connectOverSsl(connection, creds) : connectThroughMP(connection, creds);
    if (result != 0) return result;
    // The probe: the first request a remote provider has to answer in the
    // namespace in use, so rejected credentials and a missing provider or
    // namespace show up here.
    return runConnectStep(
        [&] { connection.client->enumerateInstanceNames(connection.nameSpace, CIMName("XK_KestCellSlot")); }, &creds,
        mode, CredentialCheck::UserOrIpmi);
}

int connectLocally(ProviderConnection& connection) {
    return runConnectStep([&] { connection.client->connectLocal(); }, nullptr, 0, CredentialCheck::None);
}

int connectOverSsl(ProviderConnection& connection, const Credentials& creds) {
    connection.host = creds.hostName ? creds.hostName : (creds.hostIpAddress ? creds.hostIpAddress : "");
    const char* directory = std::getenv("XK_SSL_SHARE");
    if (!directory) directory = std::getenv("PEGASUS_HOME");
    String trustStore = makeSslFilePath(directory, "client.pem");
    String randomFile = makeSslFilePath(directory, "ssl.rnd");
    // Every server certificate is accepted, unless XK_SSL_VERIFY=strict asks
    // the client to check it against the trust store and the host name: a
    // refused one fails the connection before the credentials are sent.
    const char* verify = std::getenv("XK_SSL_VERIFY");
    bool strict = verify && String(verify) == "strict";
    return runConnectStep(
        [&] {
            SSLContext context(trustStore, strict ? nullptr : acceptAnyCertificate, randomFile);
            const PlainSecret password(creds.password ? creds.password : "");
            connection.client->connect(connection.host, secureWbemPort, context,
                                       creds.userName ? creds.userName : "", password);
        },
        &creds, 'u', CredentialCheck::None);
}

int connectThroughMP(ProviderConnection& connection, const Credentials& creds) {
    String address = creds.hostName ? creds.hostName : (creds.hostIpAddress ? creds.hostIpAddress : "");
    CIMInstance instance(CIMName("XK_KestRemoteComplex"));
    instance.addProperty(CIMProperty(CIMName("Address"), CIMValue(address)));
    instance.addProperty(CIMProperty(CIMName("Password"), CIMValue(String(creds.password ? creds.password : ""))));
    // XK_KestRemoteComplex.Address="<address>"
    instance.setPath(CIMObjectPath(String(), CIMNamespaceName(), CIMName("XK_KestRemoteComplex"),
                                   {CIMKeyBinding(CIMName("Address"), address, CIMKeyBinding::STRING)}));
    int result = runConnectStep(
        [&] {
            connection.client->connectLocal();
            std::fputs("Note: The -g option may require up to 2 minutes to complete.  Please wait...\n", stdout);
            std::fflush(stdout);
            // A creation that fails in any way (refused, or its answer lost)
            // leaves the path empty: nothing is deleted at exit. One cut
            // short by a signal may have been made all the same: the path it
            // was asked under is deleted at exit, without a word if it was not.
            try {
                connection.remoteComplexPath = connection.client->createInstance(connection.nameSpace, instance);
            } catch (const Interrupted&) {
                connection.remoteComplexPath = instance.getPath();
                connection.remoteComplexUncertain = true;
                throw;
            }
        },
        &creds, 'g', CredentialCheck::IpmiCode);
    if (result != 0) return result;
    String nameSpace = queryRemoteNameSpace(connection, connection.remoteComplexPath);
    if (nameSpace.empty()) {
        std::fputs(failedToConnect, stderr);
        return 1;
    }
    connection.nameSpace = CIMNamespaceName(nameSpace);
    return 0;
}

String queryRemoteNameSpace(ProviderConnection& connection, const CIMObjectPath& path) {
    try {
        Array<CIMParamValue> in, out;
        CIMValue value = connection.client->invokeMethod(connection.nameSpace, path, CIMName("NameSpaceName"), in, out);
        String text;
        value.get(text);
        return text;
    } catch (const Exception& e) {
        printMessage(e);
        return String();
    }
}

void reportConnectFailure(const Credentials* creds, int mode) {
    String target = localhostTarget;
    if (creds && mode != 'g') {
        const char* text = creds->hostName ? creds->hostName : creds->hostIpAddress;
        if (text) target = String(text).substr(0, 63);
    }
    const char* t = target.c_str();
    std::fprintf(stderr, "Error: Unable to connect to the Kest Provider on %s.\n", t);
    std::fprintf(stderr, "1. Verify that the XK Kest Provider (WMIKestProvider on Windows) is installed and running on %s.\n", t);
    std::fprintf(stderr,
                 "2. Verify that you are logged-in to the correct account (or have provided the correct username & "
                 "password) to access the provider on %s.\n",
                 t);
    if (target != localhostTarget)
        std::fprintf(stderr,
                     "3. Verify that you have copied the server's SSL certificate from %s to the trusted certificate "
                     "store on the local machine (see man/help/readme).\n",
                     t);
}

String makeSslFilePath(const char* directory, const char* fileName) {
    String path;
    if (directory && *directory) {
        path = directory;
        if (path.back() != '/' && path.back() != '\\') path += '/';
    }
    if (fileName && *fileName) path += fileName;
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

bool acceptAnyCertificate(SSLCertificateInfo&) { return true; }

void releaseConnection() {
    static bool released = false;
    if (released) return;
    released = true;
    ProviderConnection& connection = providerConnection();
    if (!connection.client) return;
    if (!connection.remoteComplexPath.getClassName().isNull()) {
        try {
            connection.client->deleteInstance(connection.nameSpace, connection.remoteComplexPath);
        } catch (const Exception& e) {
            if (!connection.remoteComplexUncertain) printMessage(e);
        }
    }
    connection.client->disconnect();
    delete connection.client;
    connection.client = nullptr;
    activeClient = nullptr;
}

}  // namespace cmplxview
