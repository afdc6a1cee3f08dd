#include "platform/swplay/swlog.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <sys/stat.h>
#include <sys/time.h>

namespace swlog {
namespace {

std::mutex g_mutex;
int g_level = 0;
std::string g_dir;
std::string g_day;
FILE *g_file = nullptr;

const char *levelName(int level)
{
    switch (level) {
    case 1: return "ERROR";
    case 2: return "WARN";
    case 3: return "INFO";
    default: return "DEBUG";
    }
}

void makeDirs(const std::string &dir)
{
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i == dir.size() || dir[i] == '/')
            ::mkdir(dir.substr(0, i).c_str(), 0755);
    }
}

} // namespace

void open(int level, const std::string &dir)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_level = level;
    if (dir != g_dir && g_file) {
        std::fclose(g_file);
        g_file = nullptr;
    }
    g_dir = dir;
    if (level > 0 && !dir.empty())
        makeDirs(dir);
}

void close()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_file)
        std::fclose(g_file);
    g_file = nullptr;
    g_level = 0;
}

void write(int level, const char *format, ...)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (level > g_level || g_dir.empty())
        return;
    timeval tv;
    gettimeofday(&tv, nullptr);
    tm local;
    localtime_r(&tv.tv_sec, &local);
    char day[16];
    std::strftime(day, sizeof day, "%Y-%m-%d", &local);
    if (!g_file || g_day != day) {
        if (g_file)
            std::fclose(g_file);
        g_day = day;
        g_file = std::fopen((g_dir + "/swplay-" + g_day + ".txt").c_str(), "a");
        if (!g_file)
            return;
    }
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::fprintf(g_file, "%s %s.%03d ", levelName(level), stamp, int(tv.tv_usec / 1000));
    va_list args;
    va_start(args, format);
    std::vfprintf(g_file, format, args);
    va_end(args);
    std::fputc('\n', g_file);
    std::fflush(g_file);
}

std::string mask(const std::string &secret)
{
    if (secret.size() <= 6)
        return std::string(secret.size(), '*');
    return secret.substr(0, 2) + "***" + secret.substr(secret.size() - 2);
}

} // namespace swlog
