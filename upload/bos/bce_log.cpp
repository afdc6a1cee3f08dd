#include "upload/bos/bce_log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace bos {

namespace {

std::atomic<int> g_threshold{BCE_DEBUG};

const char *level_name(int level)
{
    switch (level) {
    case BCE_FATAL:
        return "FATAL";
    case BCE_ERROR:
        return "ERROR";
    case BCE_WARN:
        return "WARN";
    case BCE_INFO:
        return "INFO";
    default:
        return "DEBUG";
    }
}

} // namespace

void set_bce_log_level(int level)
{
    g_threshold.store(level, std::memory_order_relaxed);
}

int bce_log_level()
{
    return g_threshold.load(std::memory_order_relaxed);
}

std::string bce_log_line(int level, const std::string &message)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long long millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local = {};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d %H:%M:%S.", &local);
    std::string line;
    line.reserve(message.size() + 48);
    line += '[';
    line += level_name(level);
    line += ']';
    line += stamp;
    line += std::to_string(millis);
    line += ' ';
    line += message;
    line += '\n';
    return line;
}

void bce_log(int level, const std::string &message)
{
    if (bce_log_level() < level)
        return;
    const std::string line = bce_log_line(level, message);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

const char *error_name(int code)
{
    switch (code) {
    case BCE_OK:
        return "OK";
    case BCE_SERVICE_ERROR:
        return "BOS service occurs error";
    case BCE_CLIENT_ERROR:
        return "BOS client occurs error";
    case BCE_INIT_CURL_FAILED:
        return "Init CURL Net handle failed";
    case BCE_GEN_AUTH_FAILED:
        return "Generate auth string failed";
    case BCE_SIGN_FAILED:
        return "signature for auth string failed";
    case BCE_AUTH_PREFIX:
        return "bce auth with wrong prefix";
    case BCE_ILLEGAL_ARGUMENT:
        return "argument is illegal";
    case BCE_LOAD_MULTIPART_CACHE:
        return "load multipart cache fail";
    case BCE_INVALID_FILE:
        return "file pointer is invalid";
    case BCE_ILLEGAL_OPERATION:
        return "operation is illegal";
    default:
        return "Unknown Error";
    }
}

std::string mask_secret(const std::string &secret)
{
    if (secret.size() <= 8)
        return "***";
    return secret.substr(0, 4) + "***";
}

const char *source_basename(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

} // namespace bos
