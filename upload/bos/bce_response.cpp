#include "upload/bos/bce_response.h"

#include "upload/bos/bce_log.h"

#include <json/json.h>

#include <memory>

namespace bos {

void BceResponse::set_error(int32_t status, const std::string &code, const std::string &message)
{
    m_status = status;
    m_error = BceError{code, m_request_id, message};
}

void BceResponse::handle_response()
{
    m_error.reset();
    m_status = 0;
    m_request_id = m_http_response.header("x-bce-request-id");
    m_debug_id = m_http_response.header("x-bce-debug-id");
    const int32_t http_status = m_http_response.status_code();
    if (http_status < 400) {
        parse_response();
        return;
    }
    m_status = http_status;
    const std::string &body = m_http_response.error_body();
    if (body.empty()) {
        m_error = BceError{"UnknownError", m_request_id, std::string()};
        return;
    }
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(body.data(), body.data() + body.size(), &root, &errors)) {
        BCE_LOG(BCE_ERROR, "malformed json: '" << body << "'");
        set_error(BCE_SERVICE_ERROR, "MalformedJson", std::string());
        return;
    }
    const Json::Value code = root.isObject() ? root["code"] : Json::Value();
    const Json::Value message = root.isObject() ? root["message"] : Json::Value();
    const Json::Value request_id = root.isObject() ? root["requestId"] : Json::Value();
    if (!code.isString() || !message.isString() || !request_id.isString()) {
        BCE_LOG(BCE_ERROR, "invalid response json content: " << body);
        set_error(BCE_SERVICE_ERROR, "MalformedJson", std::string());
        return;
    }
    m_error = BceError{code.asString(), request_id.asString(), message.asString()};
}

std::string PutObjectResponse::etag() const
{
    const std::string value = http_response().header("etag");
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

} // namespace bos
