#pragma once

#include "upload/bos/http_response.h"
#include "upload/bos/upload_request.h"

#include <optional>
#include <string>

namespace bos {

struct BceError
{
    std::string code; // the store's code, or HttpExecuteFailure, MalformedJson, UnknownError, Cancelled
    std::string request_id;
    std::string message;
};

class BceResponse : public ServiceRequest
{
public:
    ~BceResponse() override = default;

    // Success parse; nothing here.
    virtual void parse_response() {}

    // After a completed exchange: ids, status and error from the answer.
    void handle_response();
    void set_error(int32_t status, const std::string &code, const std::string &message);

    bool is_ok() const { return !m_error.has_value(); }
    bool is_fail() const { return m_error.has_value(); }
    int32_t status() const { return m_status; }
    BceError error() const { return m_error.value_or(BceError{}); }
    const std::string &request_id() const { return m_request_id; }
    const std::string &debug_id() const { return m_debug_id; }
    HttpResponse &http_response() { return m_http_response; }
    const HttpResponse &http_response() const { return m_http_response; }

private:
    std::string m_request_id;
    std::string m_debug_id;
    int32_t m_status = 0;
    std::optional<BceError> m_error;
    HttpResponse m_http_response;
};

class PutObjectResponse final : public BceResponse
{
public:
    // "etag" without its surrounding double quotes.
    std::string etag() const;
};

} // namespace bos
