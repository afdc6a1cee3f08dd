#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace bos {

class InputStream;

enum HttpMethod : int32_t { HTTP_METHOD_PUT = 1, HTTP_METHOD_GET, HTTP_METHOD_POST, HTTP_METHOD_HEAD, HTTP_METHOD_DELETE };

const char *method_name(int32_t method);

// (bytes in this chunk, bytes so far in this exchange, total, user data).
// Runs on the transfer's thread.
using ProgressCallback = void (*)(int64_t chunk, int64_t done, int64_t total, void *user_data);

// Letters, digits and "-._~" stay; "/" stays unless encode_slash; every
// other byte becomes %XX with upper-case digits.
std::string uri_encode(const std::string &text, bool encode_slash);

// Space, \n, \t, \r, \v and \f off both ends.
std::string trim(const std::string &text);

// One HTTP exchange as the client wants it sent.
class HttpRequest
{
public:
    HttpRequest() = default;

    void set_progress_callback(ProgressCallback callback, void *user_data)
    {
        m_progress = callback;
        m_user_data = user_data;
    }
    ProgressCallback progress_callback() const { return m_progress; }
    void *user_data() const { return m_user_data; }

    // Checked before every chunk of the body; set from any thread to stop.
    void set_cancel_flag(const std::atomic<bool> *flag) { m_cancel = flag; }
    bool cancelled() const { return m_cancel && m_cancel->load(std::memory_order_relaxed); }

    void add_bytes_sent(int64_t count) { m_bytes_sent += count; }
    int64_t bytes_sent() const { return m_bytes_sent; }
    void set_body_size(int64_t size) { m_body_size = size; }
    int64_t body_size() const { return m_body_size; }
    void set_body(InputStream *stream) { m_body = stream; }
    InputStream *body() const { return m_body; }

    void set_scheme(const std::string &scheme) { m_scheme = scheme; }
    const std::string &scheme() const { return m_scheme; }
    void set_host(const std::string &host) { m_host = host; }
    const std::string &host() const { return m_host; }
    void set_path(const std::string &path) { m_path = path; }
    const std::string &path() const { return m_path; }

    // Appends "name:value", or "name;" for an empty value (sent empty).
    void set_header(const std::string &name, const std::string &value);
    void set_header(const std::string &name, int64_t value);
    const std::vector<std::string> &headers() const { return m_headers; }
    // Value of the first line with that name (case-insensitive), empty if none.
    std::string header(const std::string &name) const;

    void add_query(const std::string &name, const std::string &value) { m_query[name] = value; }
    const std::map<std::string, std::string> &query() const { return m_query; }

    void set_method(int32_t method) { m_method = method; }
    int32_t method() const { return m_method; }
    void set_timeout(int32_t seconds) { m_timeout = seconds; }
    int32_t timeout() const { return m_timeout; }

    std::string url() const;

private:
    ProgressCallback m_progress = nullptr;
    void *m_user_data = nullptr;
    const std::atomic<bool> *m_cancel = nullptr;
    int64_t m_bytes_sent = 0;
    int64_t m_body_size = 0;
    InputStream *m_body = nullptr;
    std::string m_scheme = "http";
    std::string m_host;
    std::string m_path;
    std::vector<std::string> m_headers;
    std::map<std::string, std::string> m_query;
    int32_t m_method = 0;
    int32_t m_timeout = 30;
};

} // namespace bos
