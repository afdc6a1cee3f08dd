#include "app/crashhandler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

// Everything the handler calls is async-signal-safe: no allocation, no
// locks, no stdio, no time-zone look-up (open, read, write, close, time,
// and backtrace after it was primed once at install time). The handler runs
// on a stack of its own, so a stack overflow still gets its report.

namespace {

const int HandledSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

const char *signalName(int sig)
{
    switch (sig) {
    case SIGSEGV: return "SIGSEGV, segmentation fault";
    case SIGBUS: return "SIGBUS, bus error";
    case SIGFPE: return "SIGFPE, arithmetic exception";
    case SIGILL: return "SIGILL, illegal instruction";
    case SIGABRT: return "SIGABRT, aborted";
    default: return "fatal signal";
    }
}

// The handler's own stack: the thread's stack may be the thing that ran out.
alignas(16) char g_altStack[128 * 1024];

// Local time without the time-zone machinery, which may lock or allocate:
// the offsets from UTC are worked out at install time, up to a few changes
// (daylight saving) ahead, and the handler only adds the right one.
struct OffsetChange
{
    time_t from;
    long offset;
};
OffsetChange g_offsets[8];
int g_offsetCount = 0;

long offsetAt(time_t t)
{
    struct tm local;
    if (!localtime_r(&t, &local))
        return 0;
    return local.tm_gmtoff;
}

void prepareLocalTime()
{
    const time_t now = time(nullptr);
    long current = offsetAt(now);
    g_offsets[0] = {0, current};
    g_offsetCount = 1;
    // Day by day for a little over a year; a change found between two days
    // is narrowed down to the second.
    const time_t day = 24 * 3600;
    for (time_t t = now + day; t < now + 400 * day && g_offsetCount < int(sizeof g_offsets / sizeof *g_offsets);
         t += day) {
        if (offsetAt(t) == current)
            continue;
        time_t low = t - day;
        time_t high = t;
        while (high - low > 1) {
            const time_t mid = low + (high - low) / 2;
            (offsetAt(mid) == current ? low : high) = mid;
        }
        current = offsetAt(high);
        g_offsets[g_offsetCount++] = {high, current};
    }
}

struct CivilTime
{
    long year;
    int month, day, hour, minute, second;
};

// Days since 1970-01-01 to a proleptic Gregorian date.
CivilTime civilFromSeconds(long long seconds)
{
    long long days = seconds / 86400;
    long long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long mp = (5 * dayOfYear + 2) / 153;
    CivilTime c;
    c.day = int(dayOfYear - (153 * mp + 2) / 5 + 1);
    c.month = int(mp < 10 ? mp + 3 : mp - 9);
    c.year = long(yearOfEra + era * 400 + (c.month <= 2 ? 1 : 0));
    c.hour = int(rest / 3600);
    c.minute = int(rest / 60 % 60);
    c.second = int(rest % 60);
    return c;
}

CivilTime localNow()
{
    const time_t now = time(nullptr);
    long offset = 0;
    for (int i = 0; i < g_offsetCount; ++i)
        if (now >= g_offsets[i].from)
            offset = g_offsets[i].offset;
    return civilFromSeconds((long long)now + offset);
}

size_t textLength(const char *text)
{
    size_t n = 0;
    while (text[n])
        ++n;
    return n;
}

const char *findText(const char *haystack, const char *needle)
{
    const size_t n = textLength(needle);
    for (; *haystack; ++haystack) {
        size_t i = 0;
        while (i < n && haystack[i] == needle[i])
            ++i;
        if (i == n)
            return haystack;
    }
    return nullptr;
}

void writeText(int fd, const char *text)
{
    size_t left = textLength(text);
    while (left > 0) {
        const ssize_t n = write(fd, text, left);
        if (n <= 0)
            return;
        text += n;
        left -= size_t(n);
    }
}

void writeNumber(int fd, long value)
{
    char digits[24];
    int i = sizeof digits - 1;
    digits[i] = '\0';
    const bool negative = value < 0;
    unsigned long v = negative ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    do {
        digits[--i] = char('0' + v % 10);
        v /= 10;
    } while (v && i > 1);
    if (negative)
        digits[--i] = '-';
    writeText(fd, digits + i);
}

// A debugger shows itself as a non-zero TracerPid.
bool debuggerAttached()
{
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0)
        return false;
    buf[n] = '\0';
    const char *p = findText(buf, "TracerPid:");
    if (!p)
        return false;
    p += 10;
    while (*p == ' ' || *p == '\t')
        ++p;
    return *p != '0';
}

void copyFile(int out, const char *path)
{
    const int in = open(path, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return;
    char buf[4096];
    ssize_t n;
    while ((n = read(in, buf, sizeof buf)) > 0)
        if (write(out, buf, size_t(n)) != n)
            break;
    close(in);
}

void onFatalSignal(int sig, siginfo_t *info, void *)
{
    if (!debuggerAttached()) {
        const CivilTime local = localNow();
        char name[64];
        crashDumpFileName(int(local.year), local.month, local.day, local.hour, local.minute, local.second, name,
                          sizeof name);
        // Always created: a second crash in the same second overwrites it.
        const int fd = open(name, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            writeText(fd, "Tarvix crash report\nsignal: ");
            writeNumber(fd, sig);
            writeText(fd, " (");
            writeText(fd, signalName(sig));
            writeText(fd, ")\npid: ");
            writeNumber(fd, getpid());
            writeText(fd, "\nfault address: 0x");
            char hex[2 * sizeof(void *) + 1];
            unsigned long addr = info ? reinterpret_cast<unsigned long>(info->si_addr) : 0;
            for (int i = int(sizeof hex) - 2; i >= 0; --i, addr >>= 4)
                hex[i] = "0123456789abcdef"[addr & 0xf];
            hex[sizeof hex - 1] = '\0';
            writeText(fd, hex);
            writeText(fd, "\n\nbacktrace:\n");
            void *frames[64];
            const int count = backtrace(frames, 64);
            backtrace_symbols_fd(frames, count, fd);
            writeText(fd, "\nmemory map:\n");
            copyFile(fd, "/proc/self/maps");
            close(fd);
        }
    }
    // Hand the signal on with the default action: the process ends as it
    // would have, and a debugger or core dump sees the original fault.
    signal(sig, SIG_DFL);
    raise(sig);
}

} // namespace

namespace {

// Appends value zero-padded to width digits (more when it needs them).
char *putNumber(char *out, char *end, int value, int width)
{
    char digits[12];
    int n = 0;
    unsigned v = value < 0 ? 0u : unsigned(value);
    do {
        digits[n++] = char('0' + v % 10);
        v /= 10;
    } while (v && n < int(sizeof digits));
    while (n < width && n < int(sizeof digits))
        digits[n++] = '0';
    while (n > 0 && out < end)
        *out++ = digits[--n];
    return out;
}

char *putText(char *out, char *end, const char *text)
{
    while (*text && out < end)
        *out++ = *text++;
    return out;
}

} // namespace

const char *crashDumpFileName(int year, int month, int day, int hour, int minute, int second, char *buffer,
                              int bufferSize)
{
    // By hand: the crash handler calls this, and snprintf is not safe there.
    if (!buffer || bufferSize <= 0)
        return buffer;
    char *out = buffer;
    char *const end = buffer + bufferSize - 1;
    out = putText(out, end, "DumpFile-");
    out = putNumber(out, end, year, 4);
    out = putNumber(out, end, month, 2);
    out = putNumber(out, end, day, 2);
    out = putText(out, end, "-");
    out = putNumber(out, end, hour, 2);
    out = putNumber(out, end, minute, 2);
    out = putNumber(out, end, second, 2);
    out = putText(out, end, ".dmp");
    *out = '\0';
    return buffer;
}

void installCrashHandler()
{
    // backtrace() loads libgcc on first use, which must not happen in the handler.
    void *prime[1];
    backtrace(prime, 1);
    prepareLocalTime();

    // The alternate stack serves the thread that installs the handler: the
    // GUI thread, where the client's own deep call chains run.
    stack_t stack;
    memset(&stack, 0, sizeof stack);
    stack.ss_sp = g_altStack;
    stack.ss_size = sizeof g_altStack;
    sigaltstack(&stack, nullptr);

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_RESETHAND | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int sig : HandledSignals)
        sigaction(sig, &action, nullptr);
}
