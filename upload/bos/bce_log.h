#pragma once

#include <sstream>
#include <string>

namespace bos {

// The object-store client's own log, written to the standard error stream.
// A line is written when the threshold is at least its level.
enum BceLogLevel { BCE_FATAL = 0, BCE_ERROR = 1, BCE_WARN = 3, BCE_INFO = 7, BCE_DEBUG = 15 };

// Process-wide threshold, 15 at start. Set it before clients are built.
void set_bce_log_level(int level);
int bce_log_level();

// "[LEVEL]yyyymmdd hh:mm:ss.ms message\n", flushed.
void bce_log(int level, const std::string &message);
std::string bce_log_line(int level, const std::string &message);

// Names of the client's result codes (0, 1000, 1001, 1003...).
const char *error_name(int code);

// "abcd***": enough to tell secrets apart, too little to use one.
std::string mask_secret(const std::string &secret);

// Result codes of the client besides HTTP statuses.
enum BceCode {
    BCE_OK = 0,
    BCE_SERVICE_ERROR = 1000,
    BCE_CLIENT_ERROR = 1001,
    BCE_INIT_CURL_FAILED = 1003,
    BCE_GEN_AUTH_FAILED = 1004,
    BCE_SIGN_FAILED = 1005,
    BCE_AUTH_PREFIX = 1006,
    BCE_ILLEGAL_ARGUMENT = 1007,
    BCE_LOAD_MULTIPART_CACHE = 1008,
    BCE_INVALID_FILE = 1009,
    BCE_ILLEGAL_OPERATION = 1010,
};

const char *source_basename(const char *path);

} // namespace bos

// Every message starts with the place that logs it; the message is only
// composed when the threshold lets the line through.
#define BCE_LOG(level, expr)                                                                                \
    do {                                                                                                   \
        if (::bos::bce_log_level() >= (level)) {                                                           \
            std::ostringstream bce_log_stream_;                                                            \
            bce_log_stream_ << ::bos::source_basename(__FILE__) << ":" << __LINE__ << " " << expr;         \
            ::bos::bce_log((level), bce_log_stream_.str());                                                \
        }                                                                                                  \
    } while (0)
