// The one connection to the partition provider: opened locally, to a remote
// host over WBEM with SSL (-u), or through the complex's management processor
// (-g); its failure diagnostics; and its release at process exit.
#pragma once

#include "cim/Client.h"
#include "driver/Arguments.h"
#include "driver/CommandOptions.h"

namespace cmplxview {

struct ProviderConnection {
    cim::CIMClient* client = nullptr;  // owned; null only when it could not be allocated
    cim::CIMNamespaceName nameSpace{"root/cimv2/kest"};
    cim::String host;
    cim::CIMObjectPath remoteComplexPath;  // the XK_KestRemoteComplex instance made for -g
    bool remoteComplexUncertain = false;   // its creation was cut short by a signal
};

// Created during start-up, before the command line is read, and released at exit.
ProviderConnection& providerConnection();

// Used by every request once a connection is open.
extern cim::CIMClient* activeClient;
extern cim::CIMNamespaceName activeNameSpace;

int openProviderConnection(CommandOptions options);
int connectToProvider(ProviderConnection& connection, int mode, const Credentials& credentials);
int connectLocally(ProviderConnection& connection);
int connectOverSsl(ProviderConnection& connection, const Credentials& credentials);
int connectThroughMP(ProviderConnection& connection, const Credentials& credentials);
cim::String queryRemoteNameSpace(ProviderConnection& connection, const cim::CIMObjectPath& path);
void reportConnectFailure(const Credentials* credentials, int mode);
cim::String makeSslFilePath(const char* directory, const char* fileName);
bool acceptAnyCertificate(cim::SSLCertificateInfo& certificateInfo);
void releaseConnection();

}  // namespace cmplxview
