// CIMClient: the one object of the layer that talks to the network. It sends
// CIM-XML operations over HTTP, on a Unix-domain socket to the local provider
// or over HTTPS with Basic authentication to a remote one, on one kept-alive
// connection per client object.
#pragma once

#include <csignal>
#include <functional>
#include <memory>

#include "cim/Object.h"

namespace cim {

// What a certificate verification callback is told about the server's certificate.
struct SSLCertificateInfo {
    String subjectName;
    String issuerName;
    int errorDepth = 0;
    int errorCode = 0;  // the OpenSSL verification result so far (0 = ok)
};
using SSLCertificateVerifyFunction = bool (*)(SSLCertificateInfo& certificateInfo);

// TLS settings of a connect() call. The callback decides whether the server's
// certificate is accepted (it is told what the check against the trust store
// found); without one, the certificate must verify against the trust store
// and name the host it was asked for. A trust store file that exists is
// loaded (PEM); one that does not exist is no error (without a callback,
// every certificate is then refused). No other certificate is trusted. The
// random file is read to seed OpenSSL's generator when it exists.
class SSLContext {
public:
    SSLContext(const String& trustStorePath, SSLCertificateVerifyFunction verifyCallback,
               const String& randomFilePath = String());
    const String& getTrustStorePath() const { return trustStorePath_; }
    const String& getRandomFilePath() const { return randomFilePath_; }
    SSLCertificateVerifyFunction getVerifyCallback() const { return verifyCallback_; }

private:
    String trustStorePath_;
    SSLCertificateVerifyFunction verifyCallback_;
    String randomFilePath_;
};

// A program that ends on a signal gives the client the flag its handler
// raises (null: none). While the flag is raised, a request does not start and
// a wait on the network ends at once, its connection closed: the request
// throws Interrupted. Stop watching before talking to the server again.
void watchInterruptFlag(const volatile std::sig_atomic_t* flag);
// Not a cim::Exception: code that handles failed requests lets it pass, on
// its way to the program's entry, which ends the run.
struct Interrupted {};
// For work between requests (a report printing its lines): throws
// Interrupted while the watched flag is raised.
void throwIfInterrupted();

// The Unix-domain socket of the local provider: XK_CIM_SOCKET, or this default.
inline constexpr const char* kDefaultLocalSocket = "/run/xk-kest/cimxml.socket";

class CIMClient {
public:
    CIMClient();
    ~CIMClient();
    CIMClient(const CIMClient&) = delete;
    CIMClient& operator=(const CIMClient&) = delete;

    // Every later request must be answered within timeoutMilliseconds of its
    // start, a reconnect on the way included; every later connect call must
    // connect within it too. The name of a remote host is resolved by the
    // system's resolver, within its own time-outs.
    void setTimeout(Uint32 timeoutMilliseconds);
    Uint32 getTimeout() const;

    // Both connect calls really connect: CannotConnectException when no
    // connection can be established.
    void connectLocal();
    void connect(const String& host, Uint32 portNumber, const SSLContext& sslContext, const String& userName,
                 const String& password);
    // Closes the connection; harmless when not connected.
    void disconnect();

    Array<CIMObjectPath> enumerateInstanceNames(const CIMNamespaceName& nameSpace, const CIMName& className);
    Array<CIMInstance> enumerateInstances(const CIMNamespaceName& nameSpace, const CIMName& className,
                                          bool deepInheritance = true, bool localOnly = true,
                                          bool includeQualifiers = false, bool includeClassOrigin = false,
                                          const CIMPropertyList& propertyList = CIMPropertyList());
    // The same, handing each instance (with its path) to `each` as it is
    // read instead of returning them all, so that the instances of a large
    // answer are never all in memory at once. When it throws, `each` may have
    // been given some of them already.
    void enumerateInstances(const CIMNamespaceName& nameSpace, const CIMName& className, bool deepInheritance,
                            bool localOnly, bool includeQualifiers, bool includeClassOrigin,
                            const CIMPropertyList& propertyList, const std::function<void(CIMInstance&&)>& each);
    CIMInstance getInstance(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                            bool localOnly = true, bool includeQualifiers = false, bool includeClassOrigin = false,
                            const CIMPropertyList& propertyList = CIMPropertyList());
    CIMClass getClass(const CIMNamespaceName& nameSpace, const CIMName& className, bool localOnly = true,
                      bool includeQualifiers = true, bool includeClassOrigin = false,
                      const CIMPropertyList& propertyList = CIMPropertyList());
    CIMValue invokeMethod(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName,
                          const CIMName& methodName, const Array<CIMParamValue>& inParameters,
                          Array<CIMParamValue>& outParameters);
    CIMObjectPath createInstance(const CIMNamespaceName& nameSpace, const CIMInstance& newInstance);
    void deleteInstance(const CIMNamespaceName& nameSpace, const CIMObjectPath& instanceName);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace cim
