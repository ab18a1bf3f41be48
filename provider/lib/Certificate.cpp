#include "Certificate.h"

#include <memory>
#include <stdexcept>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace kest {

namespace {

[[noreturn]] void fail(const char* what) {
    char buf[256] = "no detail";
    if (unsigned long e = ERR_get_error()) ERR_error_string_n(e, buf, sizeof buf);
    throw std::runtime_error(std::string("certificate: ") + what + ": " + buf);
}

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using Ext = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

std::string bioText(BIO* bio) {
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    return std::string(data, std::size_t(size));
}

bool isIpAddress(const std::string& host) {
    ASN1_OCTET_STRING* ip = a2i_IPADDRESS(host.c_str());
    if (!ip) return false;
    ASN1_OCTET_STRING_free(ip);
    return true;
}

void addExtension(X509* cert, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    Ext ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str()));
    if (!ext || !X509_add_ext(cert, ext.get(), -1)) fail("extension");
}

}  // namespace

CertificatePair makeSelfSignedCertificate(const std::string& host) {
    Key key(EVP_EC_gen("P-256"));
    if (!key) fail("key generation");

    Cert cert(X509_new());
    if (!cert) fail("X509_new");
    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) fail("serial number");
    serial[0] &= 0x7F;  // positive
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    if (!bn || !BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get()))) {
        BN_free(bn);
        fail("serial number");
    }
    BN_free(bn);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 365L * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("kest-provider"), -1,
                               -1, 0);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("cmplxview"), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);

    std::string san = "DNS:localhost,IP:127.0.0.1";
    if (!host.empty() && host != "localhost" && host != "127.0.0.1")
        san += (isIpAddress(host) ? ",IP:" : ",DNS:") + host;
    addExtension(cert.get(), NID_subject_alt_name, san);
    addExtension(cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert.get(), NID_subject_key_identifier, "hash");
    if (!X509_sign(cert.get(), key.get(), EVP_sha256())) fail("signing");

    CertificatePair out;
    Bio certBio(BIO_new(BIO_s_mem()));
    if (!certBio || !PEM_write_bio_X509(certBio.get(), cert.get())) fail("PEM certificate");
    out.certificatePem = bioText(certBio.get());
    Bio keyBio(BIO_new(BIO_s_mem()));
    if (!keyBio || !PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr))
        fail("PEM key");
    out.privateKeyPem = bioText(keyBio.get());
    return out;
}

}  // namespace kest
