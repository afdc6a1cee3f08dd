#include "upload/bos/client_impl.h"

#include "upload/bos/bce_log.h"
#include "upload/bos/http_client.h"
#include "upload/bos/stream.h"

#include <cstdio>
#include <random>

namespace bos {

namespace {

bool ends_with(const std::string &text, const std::string &suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The host name without its port, so endpoints with a port still count as
// the store's own.
std::string host_name(const std::string &host)
{
    const size_t colon = host.rfind(':');
    if (colon == std::string::npos || host.find(']', colon) != std::string::npos)
        return host;
    return host.substr(0, colon);
}

bool in_service_domain(const std::string &host)
{
    const std::string name = host_name(host);
    return name == ServiceDomain || ends_with(name, std::string(".") + ServiceDomain);
}

UploadRequest *upload_part(BceRequest &request)
{
    return dynamic_cast<UploadRequest *>(&request);
}

} // namespace

Destination resolve_destination(const ClientOptions &options, const std::string &bucket)
{
    Destination destination;
    const std::string &endpoint = options.endpoint;
    const size_t separator = endpoint.find("://", 1);
    if (separator != std::string::npos && separator > 0) {
        destination.scheme = endpoint.substr(0, separator);
        destination.host = endpoint.substr(separator + 3);
    } else {
        destination.scheme = "http";
        destination.host = endpoint;
    }
    const size_t slash = destination.host.find('/');
    if (slash != std::string::npos)
        destination.host.resize(slash);

    if (options.bucket_in_host) {
        destination.bucket_in_host = true;
    } else if (!options.use_virtual_host || bucket.empty()) {
        destination.bucket_in_host = false;
    } else if (in_service_domain(destination.host)) {
        // A host that already names the bucket is not prefixed again.
        if (destination.host.compare(0, bucket.size() + 1, bucket + ".") != 0)
            destination.host = bucket + "." + destination.host;
        destination.bucket_in_host = true;
    }
    return destination;
}

std::string generate_request_id()
{
    std::random_device device;
    unsigned char bytes[16];
    for (int i = 0; i < 16; i += 4) {
        const unsigned int word = device();
        bytes[i] = (unsigned char)(word);
        bytes[i + 1] = (unsigned char)(word >> 8);
        bytes[i + 2] = (unsigned char)(word >> 16);
        bytes[i + 3] = (unsigned char)(word >> 24);
    }
    const unsigned long data1 = (unsigned long)bytes[0] << 24 | (unsigned long)bytes[1] << 16 | bytes[2] << 8 | bytes[3];
    const unsigned int data2 = bytes[4] << 8 | bytes[5];
    const unsigned int data3 = bytes[6] << 8 | bytes[7];
    char text[40];
    std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", data1, data2, data3, bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

ClientImpl::ClientImpl(const BceCredentials &credentials, const ClientOptions &options)
    : m_options(options)
    , m_signer(std::make_unique<DefaultSigner>(credentials, options.sign_expire_seconds))
{
    if (m_options.user_agent.empty())
        m_options.user_agent = DefaultUserAgent;
}

ClientImpl::~ClientImpl() = default;

int ClientImpl::build_http_request(BceRequest &request, HttpRequest &http_request)
{
    const Destination destination = resolve_destination(m_options, request.bucket());
    http_request.set_scheme(destination.scheme);
    http_request.set_host(destination.host);
    http_request.set_timeout(m_options.timeout);
    http_request.set_header("Host", destination.host);
    http_request.set_header("User-Agent", m_options.user_agent);
    const int result = request.fill_http_request(http_request);
    if (result != 0)
        return result;
    if (request.request_id().empty())
        request.set_request_id(generate_request_id());
    http_request.set_header("x-bce-request-id", request.request_id());
    http_request.set_path(request.path(destination.bucket_in_host));
    for (const auto &header : request.extra_headers())
        http_request.set_header(header.first, header.second);
    http_request.set_header("x-bce-date", utc_timestamp());
    m_signer->sign(http_request);
    return 0;
}

int ClientImpl::put_object(PutObjectRequest &request, PutObjectResponse &response)
{
    return send_request(request, response);
}

int ClientImpl::send_request(BceRequest &request, BceResponse &response)
{
    {
        HttpRequest scratch;
        const int result = build_http_request(request, scratch);
        if (result != 0) {
            BCE_LOG(BCE_ERROR, "build http request failed, ret:" << result);
            return result;
        }
    }
    UploadRequest *upload = upload_part(request);
    HttpClient client;
    int attempts_left = m_options.max_retry + 1 > 0 ? m_options.max_retry + 1 : 1;
    while (true) {
        --attempts_left;
        HttpRequest http_request;
        const int result = build_http_request(request, http_request);
        if (result != 0) {
            BCE_LOG(BCE_ERROR, "build http request failed, ret:" << result);
            return result;
        }
        if (response.progress_callback())
            response.http_response().set_progress_callback(response.progress_callback(), response.user_data());

        const int executed = client.execute(http_request, response.http_response());
        // A transfer stopped by the cancel flag ends the request; one that
        // completed before the flag was seen keeps its result.
        if (executed != 0 && upload && upload->cancelled()) {
            response.set_error(BCE_CLIENT_ERROR, "Cancelled", "the upload was cancelled");
            return BCE_CLIENT_ERROR;
        }
        if (executed != 0) {
            response.set_error(BCE_CLIENT_ERROR, "HttpExecuteFailure", std::string());
            BCE_LOG(BCE_WARN, "http execute error: (" << executed << ")" << error_name(executed));
        } else {
            response.handle_response();
        }
        if (response.is_ok())
            return 0;

        const int status = response.status();
        if (status < 500 || status == 501 || attempts_left <= 0)
            return status;
        if (upload && upload->cancelled()) {
            response.set_error(BCE_CLIENT_ERROR, "Cancelled", "the upload was cancelled");
            return BCE_CLIENT_ERROR;
        }
        if (upload && upload->stream() && upload->stream()->seek(0) != 0) {
            BCE_LOG(BCE_ERROR, "cannot rewind the body for another attempt");
            return status;
        }
        response.http_response().reset();
        BCE_LOG(BCE_WARN, "send_request do retry. last ret status:" << status << " retry count:" << attempts_left);
    }
}

} // namespace bos
