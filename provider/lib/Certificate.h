// A self-signed TLS certificate made at start-up, so that HTTPS works
// without certificate files; --write-cert hands it to clients.
#pragma once

#include <string>

namespace kest {

struct CertificatePair {
    std::string certificatePem;
    std::string privateKeyPem;
};

// An EC P-256 key and a certificate for it, valid from an hour ago for one
// year, subject CN=kest-provider, with the subject alternative names
// "localhost", 127.0.0.1 and host (an IP address or a DNS name; may be
// empty). Throws std::runtime_error when OpenSSL fails.
CertificatePair makeSelfSignedCertificate(const std::string& host);

}  // namespace kest
