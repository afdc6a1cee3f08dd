#pragma once

#include "upload/bos/auth.h"
#include "upload/bos/bce_response.h"
#include "upload/bos/upload_request.h"

#include <cstdint>
#include <memory>
#include <string>

namespace bos {

// The store's public endpoints all end with this domain; *.localhost
// resolves to this machine, where the local store answers.
constexpr const char *ServiceDomain = "bos.localhost";
constexpr const char *DefaultEndpoint = "http://bj.bos.localhost";
constexpr const char *DefaultUserAgent = "mervane-bos-client/0.8.6";

struct ClientOptions
{
    // [scheme://]host[:port][/ignored path]
    std::string endpoint = DefaultEndpoint;
    std::string user_agent;
    int32_t sign_expire_seconds = 1200;
    int32_t timeout = 120; // whole transfer of one attempt, seconds
    int32_t max_retry = 2; // extra attempts after the first
    bool bucket_in_host = false;
    bool use_virtual_host = true;
};

// Where a request for a bucket goes: scheme, host and whether the bucket
// is in the host name.
struct Destination
{
    std::string scheme;
    std::string host;
    bool bucket_in_host = false;
};
Destination resolve_destination(const ClientOptions &options, const std::string &bucket);

class ClientImpl
{
public:
    ClientImpl(const BceCredentials &credentials, const ClientOptions &options);
    virtual ~ClientImpl();
    ClientImpl(const ClientImpl &) = delete;
    ClientImpl &operator=(const ClientImpl &) = delete;

    // 0 on success; otherwise an HTTP status of 400 or more, 1000 for an
    // unreadable error answer, 1001 for a failed (or cancelled) transfer.
    int put_object(PutObjectRequest &request, PutObjectResponse &response);
    int send_request(BceRequest &request, BceResponse &response);
    int build_http_request(BceRequest &request, HttpRequest &http_request);

private:
    ClientOptions m_options;
    std::unique_ptr<DefaultSigner> m_signer;
};

// 36 lower-case characters from 128 random bits.
std::string generate_request_id();

} // namespace bos
