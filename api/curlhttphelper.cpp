#include "api/curlhttphelper.h"

#include "api/secretmask.h"
#include "app/logger.h"
#include "api/utils.h"

#include <QFile>

#include <curl/curl.h>

#include <mutex>

namespace {

// libcurl's global set-up is not safe to race; the first helper does it once.
void ensureCurlInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

constexpr long dnsCacheSeconds = 5000;

size_t appendToAnswer(char *data, size_t size, size_t count, void *target)
{
    const size_t bytes = size * count;
    if (!target || !data)
        return 0; // makes libcurl abort the transfer
    static_cast<QByteArray *>(target)->append(data, static_cast<int>(bytes));
    return bytes;
}

enum class Method { Post, Get };
enum class LogStyle { None, PostXToken, Post, Get };

QString text(const QByteArray &utf8)
{
    return QString::fromUtf8(utf8);
}

} // namespace

struct CurlHttpHelper::Request
{
    Method method;
    const QByteArray &url;
    const QByteArray &body;
    QByteArray contentType;
    QByteArray authorization; // full header line, or empty
    long connectSeconds;
    long totalSeconds;
    bool setDnsCacheTimeout;
    LogStyle log;
};

CurlHttpHelper::CurlHttpHelper()
{
    ensureCurlInitialised();
}

CurlHttpHelper::~CurlHttpHelper() = default;

int CurlHttpHelper::perform(const Request &request, QByteArray &answer)
{
    CURL *curl = curl_easy_init();
    if (!curl)
        return CURLE_FAILED_INIT;

    curl_slist *headers = curl_slist_append(nullptr, request.contentType.constData());
    if (!request.authorization.isEmpty())
        headers = curl_slist_append(headers, request.authorization.constData());

    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_URL, request.url.constData());
    if (request.method == Method::Post) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.constData());
    }
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, nullptr);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &appendToAnswer);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    // Worker threads call in too; libcurl must not use signals for timeouts.
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, request.connectSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, request.totalSeconds);
    // Peer and host verification stay libcurl's defaults (on); a build may
    // name one more authority to trust, such as the local cloud's.
    const QByteArray caFile = QFile::encodeName(Utils::instance()->caFile());
    if (!caFile.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.constData());
    if (request.setDnsCacheTimeout)
        curl_easy_setopt(curl, CURLOPT_DNS_CACHE_TIMEOUT, dnsCacheSeconds);

    const CURLcode result = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);

    // Answers may carry tokens and keys; the log file only sees them shortened.
    switch (request.log) {
    case LogStyle::None:
        break;
    case LogStyle::PostXToken:
        LOG_INFO() << "CurlHttpHelper>  Post url: " << text(request.url)
                   << " parmas: " << SecretMask::maskText(text(request.body))
                   << " result1: " << SecretMask::maskText(text(answer));
        LOG_INFO() << "---RES--- Post url:" << text(request.url) << "---res:" << int(result);
        break;
    case LogStyle::Post:
        LOG_INFO() << "CurlHttpHelper>  Post url: " << text(request.url)
                   << " parmas: " << SecretMask::maskText(text(request.body))
                   << " result: " << SecretMask::maskText(text(answer));
        break;
    case LogStyle::Get:
        LOG_INFO() << "CurlHttpHelper>  Get url: " << text(request.url)
                   << " result: " << SecretMask::maskText(text(answer));
        break;
    }
    return result;
}

namespace {

// Seconds. The API's requests are small forms and small JSON answers, and
// the windows wait for them: a server that takes the connection and never
// answers must not hold anyone for longer than apiTotal. Five seconds of
// connecting covers a SYN lost twice (Linux retries after 1 s and 3 s).
constexpr long apiConnect = 5;
constexpr long apiTotal = 10;
// The console's registrations and task orders belong to uploads, which run
// on their own worker threads and keep their long limits.
constexpr long consoleTimeout = 5000;
constexpr long getTimeout = 3;
const QByteArray formType = QByteArrayLiteral("Content-Type:application/x-www-form-urlencoded");
const QByteArray jsonType = QByteArrayLiteral("Content-Type:application/json; charset=utf-8");

// A line break in a token would end the header and start a forged one.
QByteArray headerSafe(QByteArray token)
{
    token.replace('\r', QByteArray()).replace('\n', QByteArray()).replace('\0', QByteArray());
    return token;
}

QByteArray xToken(const QByteArray &token)
{
    return QByteArrayLiteral("X-Token:Bearer ") + headerSafe(token);
}

QByteArray bearer(const QByteArray &token)
{
    return QByteArrayLiteral("Authorization:Bearer ") + headerSafe(token);
}

const QByteArray noBody;

} // namespace

int CurlHttpHelper::postForm(const QByteArray &url, const QByteArray &body, QByteArray &answer)
{
    return perform({Method::Post, url, body, formType, {}, apiConnect, apiTotal, true, LogStyle::None}, answer);
}

int CurlHttpHelper::postFormXToken(const QByteArray &url, const QByteArray &body, QByteArray &answer,
                                   const QByteArray &token)
{
    return perform({Method::Post, url, body, formType, xToken(token), apiConnect, apiTotal, true,
                    LogStyle::PostXToken},
                   answer);
}

int CurlHttpHelper::postFormBearer(const QByteArray &url, const QByteArray &body, QByteArray &answer,
                                   const QByteArray &token)
{
    return perform({Method::Post, url, body, formType, bearer(token), consoleTimeout, consoleTimeout, true,
                    LogStyle::Post}, answer);
}

int CurlHttpHelper::postJsonBearer(const QByteArray &url, const QByteArray &body, QByteArray &answer,
                                   const QByteArray &token)
{
    return perform({Method::Post, url, body, jsonType, bearer(token), consoleTimeout, consoleTimeout, true,
                    LogStyle::Post}, answer);
}

int CurlHttpHelper::getXToken(const QByteArray &url, QByteArray &answer, const QByteArray &token)
{
    return perform({Method::Get, url, noBody, formType, xToken(token), getTimeout, getTimeout, false, LogStyle::Get}, answer);
}

int CurlHttpHelper::getBearer(const QByteArray &url, QByteArray &answer, const QByteArray &token)
{
    return perform({Method::Get, url, noBody, formType, bearer(token), getTimeout, getTimeout, false, LogStyle::Get}, answer);
}
