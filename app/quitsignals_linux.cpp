#include "app/quitsignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The handler only writes one byte; the event loop reads it and quits.
int g_wakeFds[2] = {-1, -1};

void onTerminationSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_wakeFds[0], &byte, 1);
    errno = saved;
}

} // namespace

void quitOnTerminationSignals(QCoreApplication *app)
{
    if (g_wakeFds[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_wakeFds) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_wakeFds[1], QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, app, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(g_wakeFds[1], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = &onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(number, &action, nullptr);
}
