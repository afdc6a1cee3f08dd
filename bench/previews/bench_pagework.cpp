// GUI-thread time of the phone page's list work with many phones: building
// the list (tree and cards), "全选", "反选" and the refresh label, each
// measured twice: the handler itself, and until the event queue is empty
// again (layout, deferred deletes, painting). The list comes from a local
// cloud (empty seed, four title series of N/4 phones); the request itself
// is timed apart, since it is the backend's wait, not the page's work.
// The cards on screen stream as they would; their decoding runs on the
// streaming library's threads.

#include "app/appevent.h"
#include "api/utils.h"
#include "phones/mainwindow.h"
#include "phones/phonedetail.h"
#include "phones/previewwatcher.h"
#include "resources/tarvixresources.h"
#include "tests/support/localcloud.h"
#include "tests/support/tempsettings.h"
#include "tests/support/waitfor.h"
#include "widgets/clickablelabel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

using TestSupport::waitFor;

// Processor time of the calling thread: what the GUI thread spent, apart
// from the time other processes of a shared machine took from it.
double threadMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct Timing
{
    double handlerMs = 0;
    double settledMs = 0;
    double wallMs = 0;
};

// The action, then every event it left behind (layout requests, deferred
// deletes, paints), on this thread.
Timing measure(const std::function<void()> &action)
{
    QElapsedTimer clock;
    clock.start();
    const double start = threadMs();
    action();
    Timing t;
    t.handlerMs = threadMs() - start;
    for (int i = 0; i < 6; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
    t.settledMs = threadMs() - start;
    t.wallMs = clock.nsecsElapsed() / 1e6;
    return t;
}

Timing median(std::vector<Timing> runs)
{
    std::sort(runs.begin(), runs.end(), [](const Timing &a, const Timing &b) { return a.settledMs < b.settledMs; });
    return runs.at(runs.size() / 2);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int phones = argc > 1 ? qMax(4, atoi(argv[1])) : 200;
    const int rounds = argc > 2 ? qMax(1, atoi(argv[2])) : 5;
    initTarvixResources();
    QFile sheet(QStringLiteral(":/style/style.css"));
    if (sheet.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromUtf8(sheet.readAll()));

    TestSupport::TempSettings settings;
    TestSupport::LocalCloud cloud({QStringLiteral("--seed"), QStringLiteral("empty")});
    if (!cloud.isReady()) {
        std::fprintf(stderr, "local cloud: %s\n", qPrintable(cloud.errorString()));
        return 1;
    }
    const QString owner = QStringLiteral("13700000200");
    for (const char *series : {"游戏", "办公", "测试", "直播"})
        cloud.addPhones(owner, QString::fromUtf8(series), phones / 4, 24 * 30);
    const QString token = cloud.signIn(owner);
    if (token.isEmpty()) {
        std::fprintf(stderr, "sign-in: %s\n", qPrintable(cloud.errorString()));
        return 1;
    }
    ServiceBases bases = Utils::compiledServiceBases();
    bases.api = cloud.apiBase();
    Utils::overrideServiceBases(bases);
    AppEvent::instance()->setPhone(owner);
    AppEvent::instance()->setToken(token);

    MainWindow *window = MainWindow::instance();
    window->show();
    const int listed = (phones / 4) * 4;
    if (!waitFor([&] { return window->phoneCards().size() == listed; }, 20000)) {
        std::fprintf(stderr, "the list did not load\n");
        return 1;
    }
    wait(1500);
    // Nothing moves: the watcher should not be looking.
    const int looksBefore = window->previewWatcher()->looks();
    wait(5000);
    const int idleLooks = window->previewWatcher()->looks() - looksBefore;

    auto *all = window->findChild<ClickableLabel *>(QStringLiteral("allSelectionBtn"));
    auto *invert = window->findChild<ClickableLabel *>(QStringLiteral("reverseSelectioBtn"));
    auto *none = window->findChild<ClickableLabel *>(QStringLiteral("cancelSelectionBtn"));
    auto *refresh = window->findChild<ClickableLabel *>(QStringLiteral("refreshBtn"));

    std::vector<Timing> request, build, selectAll, invertHalf, refreshRuns;
    for (int r = 0; r < rounds; ++r) {
        request.push_back(measure([] { Utils::instance()->serverList(); }));
        build.push_back(measure([&] { window->refreshPhoneList(false); }));
        wait(200);
        selectAll.push_back(measure([&] { emit all->clicked(); }));
        wait(200);
        // Half checked first, so "反选" changes every row.
        emit none->clicked();
        for (int i = 0; i < listed; i += 2)
            window->phoneCards().at(i)->setChecked(Qt::Checked);
        wait(200);
        invertHalf.push_back(measure([&] { emit invert->clicked(); }));
        wait(200);
        refreshRuns.push_back(measure([&] { emit refresh->clicked(); }));
        wait(1500); // the toast goes
    }

    const auto line = [](const char *what, const Timing &t) {
        std::printf("%-28s GUI thread: handler %7.1f ms, settled %7.1f ms (wall %7.1f ms)\n", what, t.handlerMs,
                    t.settledMs, t.wallMs);
    };
    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    std::printf("phones %d (4 title series), median of %d rounds, load average %.2f %.2f %.2f\n", listed, rounds,
                load[0], load[1], load[2]);
    std::printf("preview watcher: %d looks in 5 s at rest\n", idleLooks);
    line("list request (backend)", median(request));
    line("build (request included)", median(build));
    line("全选", median(selectAll));
    line("反选 (half checked)", median(invertHalf));
    line("refresh label", median(refreshRuns));
    std::fflush(stdout);
    cloud.stop();
    _exit(0);
}
