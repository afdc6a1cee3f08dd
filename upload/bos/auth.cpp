#include "upload/bos/auth.h"

#include "upload/bos/bce_log.h"
#include "upload/bos/http_request.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QMessageAuthenticationCode>

#include <ctime>
#include <set>

namespace bos {

namespace {

const char *const TokenHeader = "x-bce-security-token";

} // namespace

std::string utc_timestamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc = {};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string hmac_sha256(const std::string &key, const std::string &message)
{
    const QByteArray digest = QMessageAuthenticationCode::hash(
        QByteArray::fromRawData(message.data(), int(message.size())),
        QByteArray::fromRawData(key.data(), int(key.size())), QCryptographicHash::Sha256);
    return digest.toStdString();
}

std::string to_hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char ch : bytes) {
        const unsigned char byte = static_cast<unsigned char>(ch);
        out += digits[byte >> 4];
        out += digits[byte & 0x0f];
    }
    return out;
}

DefaultSigner::DefaultSigner(const BceCredentials &credentials, int32_t expiration_seconds)
    : m_expiration_seconds(expiration_seconds)
    , m_credentials(credentials)
{
}

std::string DefaultSigner::canonical_request(const HttpRequest &request, const std::string &security_token)
{
    std::set<std::string> params;
    for (const auto &param : request.query())
        params.insert(uri_encode(trim(param.first), true) + "=" + uri_encode(trim(param.second), true));
    std::string query;
    for (const std::string &param : params) {
        if (!query.empty())
            query += '&';
        query += param;
    }
    std::string canonical = std::string(method_name(request.method())) + "\n" + uri_encode(request.path(), false) + "\n"
                            + query + "\n" + "host:" + uri_encode(request.host(), true);
    if (!security_token.empty())
        canonical += std::string("\n") + TokenHeader + ":" + uri_encode(security_token, true);
    return canonical;
}

std::string DefaultSigner::authorization(const HttpRequest &request, const BceCredentials &credentials,
                                         const std::string &timestamp, int32_t expiration_seconds)
{
    const std::string prefix =
        "bce-auth-v1/" + credentials.access_key_id + "/" + timestamp + "/" + std::to_string(expiration_seconds);
    const std::string signing_key = to_hex(hmac_sha256(credentials.secret_access_key, prefix));
    const std::string canonical = canonical_request(request, credentials.security_token);
    if (bce_log_level() >= BCE_DEBUG) {
        // The token line is signed in clear but never logged in clear.
        std::string shown = canonical;
        if (!credentials.security_token.empty()) {
            const size_t line = shown.rfind(std::string("\n") + TokenHeader + ":");
            if (line != std::string::npos)
                shown = shown.substr(0, line) + "\n" + TokenHeader + ":" + mask_secret(credentials.security_token);
        }
        BCE_LOG(BCE_DEBUG, "canonical request: [" << shown << "]");
    }
    const std::string signature = to_hex(hmac_sha256(signing_key, canonical));
    std::string signed_headers = "host";
    if (!credentials.security_token.empty())
        signed_headers += std::string(";") + TokenHeader;
    return prefix + "/" + signed_headers + "/" + signature;
}

std::string DefaultSigner::generate_auth(HttpRequest &request, int32_t expiration_seconds)
{
    const std::string auth = authorization(request, m_credentials, utc_timestamp(), expiration_seconds);
    if (!m_credentials.security_token.empty())
        request.set_header(TokenHeader, m_credentials.security_token);
    return auth;
}

void DefaultSigner::sign(HttpRequest &request)
{
    const std::string auth = generate_auth(request, m_expiration_seconds);
    request.set_header("Authorization", auth);
}

} // namespace bos
