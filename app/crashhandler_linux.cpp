#include "app/crashhandler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

// Everything below runs inside a signal handler: no allocation, no locks,
// only calls that are safe there (open, read, write, close, backtrace after
// it was primed once at install time).

namespace {

const int HandledSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

void writeText(int fd, const char *text)
{
    size_t left = strlen(text);
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
    const char *p = strstr(buf, "TracerPid:");
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
        const time_t now = time(nullptr);
        struct tm local;
        localtime_r(&now, &local);
        char name[64];
        crashDumpFileName(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                          local.tm_sec, name, sizeof name);
        // Always created: a second crash in the same second overwrites it.
        const int fd = open(name, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            writeText(fd, "Tarvix crash report\nsignal: ");
            writeNumber(fd, sig);
            writeText(fd, " (");
            writeText(fd, strsignal(sig));
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

const char *crashDumpFileName(int year, int month, int day, int hour, int minute, int second, char *buffer,
                              int bufferSize)
{
    snprintf(buffer, size_t(bufferSize), "%s-%04d%02d%02d-%02d%02d%02d.dmp", "DumpFile", year, month, day, hour,
             minute, second);
    return buffer;
}

void installCrashHandler()
{
    // backtrace() loads libgcc on first use, which must not happen in the handler.
    void *prime[1];
    backtrace(prime, 1);

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int sig : HandledSignals)
        sigaction(sig, &action, nullptr);
}
