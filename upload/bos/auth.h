#pragma once

#include <cstdint>
#include <string>

namespace bos {

class HttpRequest;

// Temporary credentials; an empty token means nothing token-related is
// signed or sent.
struct BceCredentials
{
    std::string access_key_id;
    std::string secret_access_key;
    std::string security_token;
};

class Signer
{
public:
    virtual ~Signer() = default;
    // The whole "Authorization" value; may add the token header.
    virtual std::string generate_auth(HttpRequest &request, int32_t expiration_seconds) = 0;
    virtual void sign(HttpRequest &request) = 0;
};

// bce-auth-v1 over the method, path, query, host and security token.
class DefaultSigner final : public Signer
{
public:
    DefaultSigner(const BceCredentials &credentials, int32_t expiration_seconds);

    std::string generate_auth(HttpRequest &request, int32_t expiration_seconds) override;
    void sign(HttpRequest &request) override;

    // The canonical request for that request and token, as signed.
    static std::string canonical_request(const HttpRequest &request, const std::string &security_token);
    // The authorization value for a fixed timestamp; generate_auth reads the clock.
    static std::string authorization(const HttpRequest &request, const BceCredentials &credentials,
                                     const std::string &timestamp, int32_t expiration_seconds);

private:
    int32_t m_expiration_seconds;
    BceCredentials m_credentials;
};

// Now, UTC, whole seconds: "2023-03-30T21:49:00Z".
std::string utc_timestamp();
// 32 raw bytes, or empty when the digest fails.
std::string hmac_sha256(const std::string &key, const std::string &message);
// Two lower-case digits per byte, high nibble first.
std::string to_hex(const std::string &bytes);

} // namespace bos
