#include "upload/bos/http_client.h"

#include "upload/bos/bce_log.h"
#include "upload/bos/http_request.h"
#include "upload/bos/http_response.h"
#include "upload/bos/stream.h"

#include <curl/curl.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

namespace bos {

namespace {

// libcurl's global state, set up by the first request of the process.
bool global_init()
{
    static std::once_flag once;
    static CURLcode result = CURLE_OK;
    std::call_once(once, [] {
        result = curl_global_init(CURL_GLOBAL_ALL);
        if (result != CURLE_OK) {
            char line[160];
            std::snprintf(line, sizeof line, "%s:%d curl_global_init failed with flags: %d, code: %d",
                          source_basename(__FILE__), __LINE__, int(CURL_GLOBAL_ALL), int(result));
            bce_log(BCE_FATAL, line);
        }
    });
    return result == CURLE_OK;
}

// DNS answers and TLS sessions shared by the exchanges of one thread. Only
// the owning thread uses it, so no lock callbacks; it goes with the thread.
class ThreadShare
{
public:
    ThreadShare()
        : m_share(curl_share_init())
    {
        if (!m_share) {
            BCE_LOG(BCE_ERROR, "curl init share failed!");
            return;
        }
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    ~ThreadShare()
    {
        if (m_share)
            curl_share_cleanup(m_share);
    }
    ThreadShare(const ThreadShare &) = delete;
    ThreadShare &operator=(const ThreadShare &) = delete;
    CURLSH *handle() const { return m_share; }

private:
    CURLSH *m_share;
};

CURLSH *thread_share()
{
    thread_local ThreadShare share;
    return share.handle();
}

struct Exchange
{
    HttpRequest *request;
    HttpResponse *response;
    bool header_error = false;
    bool cancelled = false;
};

size_t read_body(char *buffer, size_t size, size_t count, void *data)
{
    auto *exchange = static_cast<Exchange *>(data);
    HttpRequest *request = exchange ? exchange->request : nullptr;
    if (!request || !request->body())
        return 0;
    if (request->cancelled()) {
        exchange->cancelled = true;
        return CURL_READFUNC_ABORT;
    }
    const int64_t wanted = int64_t(size * count);
    const int64_t got = request->body()->read(buffer, wanted);
    if (got <= 0 && request->bytes_sent() < request->body_size()) {
        // A body that ends early would leave the server waiting for bytes
        // that never come: stop the exchange instead.
        BCE_LOG(BCE_ERROR, "read body failed at " << request->bytes_sent() << " of " << request->body_size()
                                                   << " bytes, error:" << request->body()->error_code() << " "
                                                   << request->body()->error_text());
        return CURL_READFUNC_ABORT;
    }
    request->add_bytes_sent(got);
    if (request->progress_callback())
        request->progress_callback()(got, request->bytes_sent(), request->body_size(), request->user_data());
    return size_t(got);
}

// Also called while waiting for the answer, when no body is read.
int check_cancel(void *data, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto *exchange = static_cast<Exchange *>(data);
    if (exchange->request->cancelled()) {
        exchange->cancelled = true;
        return 1;
    }
    return 0;
}

size_t write_body(char *data, size_t size, size_t count, void *target)
{
    return static_cast<HttpResponse *>(target)->write_body(data, size * count);
}

size_t read_header(char *data, size_t size, size_t count, void *target)
{
    auto *exchange = static_cast<Exchange *>(target);
    const size_t length = size * count;
    std::string line(data, length);
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
        line.resize(line.size() - 2);
    else if (!line.empty() && line.back() == '\n')
        line.pop_back();
    if (!exchange->response->parse_line(line)) {
        exchange->header_error = true;
        return 0;
    }
    return length;
}

// Header lines that carry secrets are shortened before they are logged.
std::string masked_headers(const char *data, size_t size)
{
    std::string text(data, size);
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            for (char &c : name)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            if (name == "authorization" || name == "x-bce-security-token")
                line = line.substr(0, colon + 1) + " " + mask_secret(trim(line.substr(colon + 1)));
        }
        if (!line.empty()) {
            if (!out.empty())
                out += "\n";
            out += line;
        }
        start = end + 1;
    }
    return out;
}

int trace(CURL *handle, curl_infotype type, char *data, size_t size, void *)
{
    const char *what = nullptr;
    switch (type) {
    case CURLINFO_TEXT:
        what = "== Info";
        break;
    case CURLINFO_HEADER_IN:
        what = "<= Recv header";
        break;
    case CURLINFO_HEADER_OUT:
        what = "=> Send header";
        break;
    default:
        return 0;
    }
    BCE_LOG(BCE_DEBUG, "curl:" << static_cast<void *>(handle) << " " << what << ", " << masked_headers(data, size));
    return 0;
}

long long now_ms()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

int HttpClient::execute(HttpRequest &request, HttpResponse &response)
{
    const long long started = now_ms();
    if (!global_init())
        return BCE_INIT_CURL_FAILED;
    CURL *curl = curl_easy_init();
    if (!curl)
        return BCE_INIT_CURL_FAILED;

    Exchange exchange{&request, &response};
    const std::string url = request.url();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, write_body);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &exchange);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, read_header);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, long(request.timeout()));
    if (CURLSH *share = thread_share())
        curl_easy_setopt(curl, CURLOPT_SHARE, share);
    curl_easy_setopt(curl, CURLOPT_IPRESOLVE, CURL_IPRESOLVE_V4);
    // The transfer's progress hook only watches the cancel flag.
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, check_cancel);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &exchange);
    if (bce_log_level() >= BCE_DEBUG) {
        curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, trace);
        curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    }

    if (request.body())
        request.set_body_size(request.body()->size());
    switch (request.method()) {
    case HTTP_METHOD_PUT:
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, read_body);
        curl_easy_setopt(curl, CURLOPT_READDATA, &exchange);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(request.body_size()));
        curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, UploadChunkSize);
        break;
    case HTTP_METHOD_POST:
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body_size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, nullptr);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, read_body);
        curl_easy_setopt(curl, CURLOPT_READDATA, &exchange);
        break;
    case HTTP_METHOD_HEAD:
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        break;
    case HTTP_METHOD_DELETE:
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "DELETE");
        break;
    default:
        break;
    }

    curl_slist *headers = nullptr;
    bool headers_ok = true;
    for (const std::string &line : request.headers()) {
        curl_slist *grown = curl_slist_append(headers, line.c_str());
        if (!grown) {
            headers_ok = false;
            break;
        }
        headers = grown;
    }
    if (headers_ok) {
        // Never ask for an interim 100 answer.
        if (curl_slist *grown = curl_slist_append(headers, "Expect:"))
            headers = grown;
        else
            headers_ok = false;
    }
    if (!headers_ok) {
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
        return BCE_INIT_CURL_FAILED;
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);

    const CURLcode code = curl_easy_perform(curl);
    const int saved_errno = errno;
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    const long long cost = now_ms() - started;

    if (code == CURLE_OK) {
        BCE_LOG(BCE_INFO, "curl:" << static_cast<void *>(curl) << " request finished, " << method_name(request.method())
                                  << " " << url << " status:" << response.status_code() << " cost:" << cost << "ms");
        return BCE_OK;
    }
    BCE_LOG(BCE_WARN, "curl:" << static_cast<void *>(curl) << " request failed, returns:(" << int(code) << ")"
                              << curl_easy_strerror(code) << (exchange.cancelled ? " (cancelled)" : "") << " "
                              << method_name(request.method()) << " " << url << " cost:" << cost
                              << " errno:" << saved_errno);
    return BCE_CLIENT_ERROR;
}

} // namespace bos
