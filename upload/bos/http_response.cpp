#include "upload/bos/http_response.h"

#include "upload/bos/bce_log.h"
#include "upload/bos/stream.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace bos {

namespace {

bool parse_decimal(const std::string &text, long long *value)
{
    if (text.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size())
        return false;
    *value = parsed;
    return true;
}

} // namespace

bool HttpResponse::parse_line(const std::string &line)
{
    if (line.empty())
        return true;
    // An interim 1xx answer is followed by the real status line.
    const bool interim_over = m_status_line_seen && m_status >= 100 && m_status < 200 && line.compare(0, 5, "HTTP/") == 0;
    if (!m_status_line_seen || interim_over) {
        if (!parse_status_line(line)) {
            BCE_LOG(BCE_ERROR, "status_line format error, status_line: '" << line << "'");
            return false;
        }
        m_status_line_seen = true;
        return true;
    }
    if (!parse_header_line(line)) {
        BCE_LOG(BCE_ERROR, "parse_header_line error, header_line: '" << line << "'");
        return false;
    }
    return true;
}

bool HttpResponse::parse_status_line(const std::string &line)
{
    const size_t first = line.find(' ');
    if (first == std::string::npos)
        return false;
    const size_t second = line.find(' ', first + 1);
    if (second == std::string::npos)
        return false;
    long long status = 0;
    const std::string status_text = line.substr(first + 1, second - first - 1);
    if (!parse_decimal(status_text, &status) || status < 0 || status > 999)
        return false;
    m_version = trim(line.substr(0, first));
    m_status = int32_t(status);
    m_reason = trim(line.substr(second + 1));
    m_headers.clear();
    return true;
}

bool HttpResponse::parse_header_line(const std::string &line)
{
    const size_t colon = line.find(':');
    if (colon == std::string::npos)
        return false;
    std::string name = trim(line.substr(0, colon));
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    const std::string value = trim(line.substr(colon + 1));
    if (name == "content-length" && m_output) {
        long long length = 0;
        if (!parse_decimal(value, &length) || m_output->reserve(length) != 0) {
            BCE_LOG(BCE_ERROR, "BOS client occurs error");
            return true;
        }
        m_content_length = length;
    }
    m_headers[name] = value;
    return true;
}

size_t HttpResponse::write_body(const char *data, size_t size)
{
    size_t handled = size;
    if (m_status < 400) {
        if (m_output) {
            const int64_t written = m_output->write(data, int64_t(size));
            handled = written > 0 ? size_t(written) : 0;
        }
    } else if (m_error_body.size() < MaxErrorBody) {
        m_error_body.append(data, std::min(size, MaxErrorBody - m_error_body.size()));
    }
    m_bytes_received += int64_t(handled);
    if (m_progress)
        m_progress(int64_t(handled), m_bytes_received, m_content_length, m_user_data);
    return handled;
}

void HttpResponse::reset()
{
    m_status_line_seen = false;
    m_status = 0;
    m_version.clear();
    m_reason.clear();
    m_headers.clear();
    m_error_body.clear();
    m_content_length = -1;
    m_bytes_received = 0;
    if (m_output)
        m_output->seek(0);
}

std::string HttpResponse::header(const std::string &lower_case_name) const
{
    const auto it = m_headers.find(lower_case_name);
    return it == m_headers.end() ? std::string() : it->second;
}

} // namespace bos
