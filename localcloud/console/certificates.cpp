#include "localcloud/console/certificates.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;

KeyPtr newKey()
{
    return KeyPtr(EVP_EC_gen("P-256"), &EVP_PKEY_free);
}

bool addExtension(X509 *cert, X509 *issuer, int nid, const char *value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        return false;
    const bool ok = X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return ok;
}

CertPtr newCertificate(EVP_PKEY *key, const char *commonName, long serial, long days)
{
    CertPtr cert(X509_new(), &X509_free);
    if (!cert)
        return cert;
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), days * 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME *name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("Tarvix local cloud"),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>(commonName), -1,
                               -1, 0);
    return cert;
}

bool writePem(const QString &path, const std::function<int(FILE *)> &write, bool secret)
{
    const QByteArray native = QFile::encodeName(path);
    FILE *file = std::fopen(native.constData(), "wb");
    if (!file)
        return false;
    const bool ok = write(file) == 1;
    const bool closed = std::fclose(file) == 0;
    if (secret)
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return ok && closed;
}

bool make(const ConsoleCertificates &files, QString *error)
{
    KeyPtr caKey = newKey();
    KeyPtr serverKey = newKey();
    if (!caKey || !serverKey) {
        *error = QStringLiteral("cannot make key pairs for the console");
        return false;
    }
    const long serial = long(QDateTime::currentSecsSinceEpoch() & 0x7fffffff);
    CertPtr ca = newCertificate(caKey.get(), "Tarvix local cloud CA", serial, 3650);
    CertPtr server = newCertificate(serverKey.get(), "127.0.0.1", serial + 1, 825);
    if (!ca || !server) {
        *error = QStringLiteral("cannot make the console's certificates");
        return false;
    }
    X509_set_issuer_name(ca.get(), X509_get_subject_name(ca.get()));
    X509_set_issuer_name(server.get(), X509_get_subject_name(ca.get()));
    const bool extensionsOk =
        addExtension(ca.get(), ca.get(), NID_basic_constraints, "critical,CA:TRUE,pathlen:0")
        && addExtension(ca.get(), ca.get(), NID_key_usage, "critical,keyCertSign,cRLSign")
        && addExtension(ca.get(), ca.get(), NID_subject_key_identifier, "hash")
        && addExtension(server.get(), ca.get(), NID_basic_constraints, "critical,CA:FALSE")
        && addExtension(server.get(), ca.get(), NID_key_usage, "critical,digitalSignature")
        && addExtension(server.get(), ca.get(), NID_ext_key_usage, "serverAuth")
        && addExtension(server.get(), ca.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost")
        && addExtension(server.get(), ca.get(), NID_authority_key_identifier, "keyid:always");
    if (!extensionsOk || X509_sign(ca.get(), caKey.get(), EVP_sha256()) <= 0
        || X509_sign(server.get(), caKey.get(), EVP_sha256()) <= 0) {
        *error = QStringLiteral("cannot sign the console's certificates");
        return false;
    }
    // The CA's key is not kept: nothing else is ever signed with it.
    const bool written =
        writePem(files.serverKeyFile,
                 [&](FILE *f) { return PEM_write_PrivateKey(f, serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr); },
                 true)
        && writePem(files.serverCertFile, [&](FILE *f) { return PEM_write_X509(f, server.get()); }, false)
        && writePem(files.caCertFile, [&](FILE *f) { return PEM_write_X509(f, ca.get()); }, false);
    if (!written)
        *error = QStringLiteral("cannot write the console's certificates into %1")
                     .arg(QFileInfo(files.caCertFile).absolutePath());
    return written;
}

} // namespace

bool ConsoleCertificates::ensure(const QString &dir, ConsoleCertificates *out, QString *error)
{
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot make %1").arg(dir);
        return false;
    }
    ConsoleCertificates files;
    files.caCertFile = dir + QStringLiteral("/ca.pem");
    files.serverCertFile = dir + QStringLiteral("/server.pem");
    files.serverKeyFile = dir + QStringLiteral("/server.key");
    const bool present = QFileInfo::exists(files.caCertFile) && QFileInfo::exists(files.serverCertFile)
                         && QFileInfo::exists(files.serverKeyFile);
    if (!present && !make(files, error))
        return false;
    *out = files;
    return true;
}
