#pragma once

#include "upload/bos/http_request.h"

#include <cstdint>
#include <map>
#include <string>

namespace bos {

class OutputStream;

// The HTTP side of an answer, filled line by line as it arrives.
class HttpResponse
{
public:
    // Error bodies beyond this are cut: an answer to a refused upload is a
    // short text, and a misbehaving server must not fill memory.
    static constexpr size_t MaxErrorBody = 1024 * 1024;

    void set_progress_callback(ProgressCallback callback, void *user_data)
    {
        m_progress = callback;
        m_user_data = user_data;
        m_bytes_received = 0;
    }

    void set_output_stream(OutputStream *stream) { m_output = stream; }
    OutputStream *output_stream() const { return m_output; }

    // One header line without CR LF. false: the line breaks the rules and
    // the transfer must stop.
    bool parse_line(const std::string &line);
    // "name: value" into the header map; false when there is no ":".
    bool parse_header_line(const std::string &line);
    // Body bytes; returns how many were handled.
    size_t write_body(const char *data, size_t size);

    // Before another attempt: status, headers and bodies forgotten.
    void reset();

    const std::string &http_version() const { return m_version; }
    int32_t status_code() const { return m_status; }
    const std::string &reason() const { return m_reason; }
    const std::map<std::string, std::string> &headers() const { return m_headers; }
    std::string header(const std::string &lower_case_name) const;
    const std::string &error_body() const { return m_error_body; }
    int64_t content_length() const { return m_content_length; }

private:
    bool parse_status_line(const std::string &line);

    ProgressCallback m_progress = nullptr;
    void *m_user_data = nullptr;
    int64_t m_bytes_received = 0;
    int64_t m_content_length = -1;
    OutputStream *m_output = nullptr;
    std::string m_error_body;
    std::string m_version;
    int32_t m_status = 0;
    std::string m_reason;
    std::map<std::string, std::string> m_headers;
    bool m_status_line_seen = false;
};

} // namespace bos
