// Time from starting the client process to its login window being mapped on
// the X server. Each run starts tarvix-testhost (from beside this program)
// with a fresh settings folder, so the login window is what it shows, and
// all runs share a private temporary folder, so the single-instance guard
// meets no other client. The API points at a closed port: the version check comes 100 ms
// after the window and plays no part in the time measured.

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <limits.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

std::string ownDir(const char *argv0)
{
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    std::string self = n > 0 ? std::string(path, size_t(n)) : std::string(argv0);
    return self.substr(0, self.rfind('/'));
}

std::string makeTempDir(const char *tag)
{
    std::string pattern = std::string("/tmp/bench-startup-") + tag + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    return mkdtemp(buffer.data()) ? std::string(buffer.data()) : std::string();
}

std::string windowName(Display *display, Window window)
{
    const Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char *data = nullptr;
    std::string name;
    if (XGetWindowProperty(display, window, netWmName, 0, 256, False, utf8, &type, &format, &count, &after, &data)
            == Success
        && data) {
        name.assign(reinterpret_cast<char *>(data), count);
        XFree(data);
    }
    return name;
}

// Milliseconds until a window titled "登录" maps, or -1 after 20 s.
double oneRun(Display *display, const std::string &client, const std::string &tmp)
{
    const std::string data = makeTempDir("data");
    const std::string cwd = makeTempDir("cwd");

    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, True);

    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("XDG_DATA_HOME", data.c_str(), 1);
        setenv("TMPDIR", tmp.c_str(), 1);
        setenv("TARVIX_TEST_API_BASE", "http://127.0.0.1:9", 1);
        if (chdir(cwd.c_str()) != 0)
            _exit(126);
        execl(client.c_str(), client.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }

    // Every mapped window with its map time; the title is looked up until
    // one turns out to be the login window.
    std::vector<std::pair<Window, double>> mapped;
    double ms = -1;
    const Clock::time_point deadline = start + std::chrono::seconds(20);
    while (Clock::now() < deadline && ms < 0) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify)
                mapped.emplace_back(event.xmap.window,
                                    std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        for (const auto &window : mapped) {
            if (windowName(display, window.first) == "登录") {
                ms = window.second;
                break;
            }
        }
        if (ms < 0)
            usleep(200);
    }

    if (ms < 0) {
        for (const auto &window : mapped)
            std::fprintf(stderr, "  mapped \"%s\" at %.1f ms\n", windowName(display, window.first).c_str(), window.second);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    XSelectInput(display, DefaultRootWindow(display), NoEventMask);
    std::string cleanup = "rm -rf '" + data + "' '" + cwd + "'";
    if (std::system(cleanup.c_str()) != 0)
        std::fprintf(stderr, "could not remove the run's folders\n");
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const std::string client = ownDir(argv[0]) + "/tarvix-testhost";
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no X display (run under xvfb-run -a)\n");
        return 1;
    }

    // One private temporary folder for all runs, as one machine has one:
    // each run meets the guard that the killed run before it left behind.
    const std::string tmp = makeTempDir("tmp");
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double ms = oneRun(display, client, tmp);
        std::printf("run %2d: %s\n", i + 1, ms < 0 ? "no login window within 20 s" : (std::to_string(ms) + " ms").c_str());
        std::fflush(stdout);
        if (ms >= 0)
            times.push_back(ms);
        usleep(300 * 1000);
    }
    XCloseDisplay(display);
    if (std::system(("rm -rf '" + tmp + "'").c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", tmp.c_str());
    if (times.empty())
        return 1;
    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    std::printf("start to login window shown: first %.1f ms, median %.1f ms, min %.1f ms, max %.1f ms (%zu runs)\n",
                times.front(), sorted[sorted.size() / 2], sorted.front(), sorted.back(), sorted.size());
    return 0;
}
