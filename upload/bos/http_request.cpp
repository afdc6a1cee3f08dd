#include "upload/bos/http_request.h"

#include <cctype>

namespace bos {

const char *method_name(int32_t method)
{
    switch (method) {
    case HTTP_METHOD_PUT:
        return "PUT";
    case HTTP_METHOD_GET:
        return "GET";
    case HTTP_METHOD_POST:
        return "POST";
    case HTTP_METHOD_HEAD:
        return "HEAD";
    case HTTP_METHOD_DELETE:
        return "DELETE";
    default:
        return "UNKNOWN";
    }
}

std::string uri_encode(const std::string &text, bool encode_slash)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (const char ch : text) {
        const unsigned char byte = static_cast<unsigned char>(ch);
        const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9')
                           || byte == '-' || byte == '.' || byte == '_' || byte == '~' || (byte == '/' && !encode_slash);
        if (plain) {
            out += ch;
        } else {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 0x0f];
        }
    }
    return out;
}

std::string trim(const std::string &text)
{
    static const char blanks[] = " \n\t\r\v\f";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    const size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

void HttpRequest::set_header(const std::string &name, const std::string &value)
{
    if (value.empty())
        m_headers.push_back(name + ";");
    else
        m_headers.push_back(name + ":" + value);
}

void HttpRequest::set_header(const std::string &name, int64_t value)
{
    set_header(name, std::to_string(value));
}

std::string HttpRequest::header(const std::string &name) const
{
    for (const std::string &line : m_headers) {
        if (line.size() <= name.size())
            continue;
        const char separator = line[name.size()];
        if (separator != ':' && separator != ';')
            continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(line[i])) == std::tolower(static_cast<unsigned char>(name[i]));
        if (same)
            return separator == ':' ? line.substr(name.size() + 1) : std::string();
    }
    return std::string();
}

std::string HttpRequest::url() const
{
    std::string url = m_scheme + "://" + m_host + uri_encode(m_path, false);
    bool first = true;
    for (const auto &param : m_query) {
        url += first ? '?' : '&';
        first = false;
        url += param.first;
        if (!param.second.empty())
            url += "=" + uri_encode(param.second, true);
    }
    return url;
}

} // namespace bos
