// Group control's cost: how long a master's input takes to reach the last
// controlled phone (the phone farm's own record of the touch), and the
// client's CPU share while a finger moves continuously in the master window.
// The client is the real phone page in this process; the phones are a local
// cloud's, in a process of their own.

#include "api/utils.h"
#include "app/appevent.h"
#include "phones/mainwindow.h"
#include "phones/model/phonechecks.h"
#include "phones/phonedetail.h"
#include "resources/tarvixresources.h"
#include "stream/phonecontroller.h"
#include "stream/videorender.h"
#include "stream/videorendermini.h"
#include "tests/support/localcloud.h"
#include "tests/support/tempsettings.h"
#include "tests/support/waitfor.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>

using TestSupport::waitFor;

namespace {

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double cpuSeconds()
{
    QFile file(QStringLiteral("/proc/self/stat"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = file.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// The newest touch with this action the phone recorded at or after `since`
// (ms since the epoch), or -1.
qint64 touchTime(const TestSupport::LocalCloud &cloud, const QString &sn, int action, int x, qint64 since)
{
    const QJsonArray touches = cloud.phoneState(sn).value(QStringLiteral("touches")).toArray();
    for (int i = touches.size() - 1; i >= 0; --i) {
        const QJsonObject t = touches.at(i).toObject();
        const qint64 time = qint64(t.value(QStringLiteral("time")).toDouble());
        if (time < since)
            break;
        if (t.value(QStringLiteral("action")).toInt() == action && t.value(QStringLiteral("x")).toInt() == x)
            return time;
    }
    return -1;
}

void mouse(QWidget *view, QEvent::Type type, const QPoint &pos)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, pos, view->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(view, &event);
}

double percentile(QVector<double> v, double p)
{
    if (v.isEmpty())
        return -1;
    std::sort(v.begin(), v.end());
    const int i = qBound(0, int(std::ceil(p * v.size())) - 1, v.size() - 1);
    return v.at(i);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int controlled = argc > 1 ? qMax(1, atoi(argv[1])) : 24;
    const int seconds = argc > 2 ? qMax(5, atoi(argv[2])) : 20;
    const int samples = 40;
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
    const QString owner = QStringLiteral("13700000025");
    const int phones = controlled + 1;
    for (int i = 0; i < phones; ++i)
        cloud.addPhone(owner, QStringLiteral("群控%1").arg(i + 1, 2, 10, QLatin1Char('0')), 24 * 30);
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
    if (!waitFor([&] { return window->phoneCards().size() == phones; }, 20000)) {
        std::fprintf(stderr, "the list did not load\n");
        return 1;
    }
    const QList<PhoneDetail *> cards = window->phoneCards();
    const auto allLive = [&] {
        for (PhoneDetail *card : cards) {
            if (!card->preview()->isLive() || card->preview()->frameCounters().shown == 0)
                return false;
        }
        return true;
    };
    // Only the cards on screen stream until group control keeps every
    // checked phone's stream up.
    if (!waitFor([&] { return cards.first()->preview()->isLive(); }, 60000)) {
        std::fprintf(stderr, "no preview is live\n");
        return 1;
    }
    window->phoneChecks()->selectAll();

    cards.first()->findChild<QPushButton *>(QStringLiteral("enterBtn"))->click();
    PhoneController *master = cards.first()->controlWindow();
    if (!master || !waitFor([&] { return master->videoRender()->frameCounters().shown > 0; }, 20000)) {
        std::fprintf(stderr, "the control window shows no picture\n");
        return 1;
    }
    wait(1500);
    window->toggleGroupControl();
    if (window->masterPhone() != cards.first()->serverSn() || master->controlStatus() != 2) {
        std::fprintf(stderr, "group control did not start with the first phone as master\n");
        return 1;
    }
    if (!waitFor(allLive, 120000)) {
        std::fprintf(stderr, "not every preview is live\n");
        return 1;
    }
    VideoRender *view = master->videoRender();
    wait(1000);

    // Fan-out: a press in the master window, then the farm's record of it on
    // every controlled phone; the latest of those counts.
    QVector<double> fanout;
    // The press's own handling: the master's send and the relay to every
    // controlled phone's stream, all inside the one call.
    QVector<double> relayCall;
    int lost = 0;
    for (int s = 0; s < samples; ++s) {
        const QPoint pos(20 + (s * 7) % (view->width() - 40), 100 + (s * 13) % (view->height() - 200));
        const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
        QElapsedTimer call;
        call.start();
        mouse(view, QEvent::MouseButtonPress, pos);
        relayCall << call.nsecsElapsed() / 1e6;
        // The phone x the press maps to, as the farm records it.
        const int px = int(720 * (float(pos.x()) / float(view->width())));
        // The farm's own times are what count; its admin answers run on the
        // thread that records the touches, so it is asked only afterwards.
        wait(300);
        qint64 last = -1;
        const bool all = waitFor(
            [&] {
                qint64 latest = 0;
                for (int i = 1; i < cards.size(); ++i) {
                    const qint64 t = touchTime(cloud, cards.at(i)->serverSn(), 0, px, t0);
                    if (t < 0)
                        return false;
                    latest = qMax(latest, t);
                }
                last = latest;
                return true;
            },
            5000);
        mouse(view, QEvent::MouseButtonRelease, pos);
        if (all)
            fanout << double(last - t0);
        else
            ++lost;
        wait(150);
    }

    // A finger moving without pause: a press, then a move every 8 ms (a
    // 125 Hz mouse) for the whole measurement.
    const QPoint centre(view->width() / 2, view->height() / 2);
    mouse(view, QEvent::MouseButtonPress, centre);
    int step = 0;
    QTimer finger;
    finger.setInterval(8);
    QObject::connect(&finger, &QTimer::timeout, view, [&] {
        const QPoint p(centre.x() + int(120 * std::cos(step / 25.0)), centre.y() + int(120 * std::sin(step / 25.0)));
        mouse(view, QEvent::MouseMove, p);
        ++step;
    });
    const double idleBefore = cpuSeconds();
    QElapsedTimer idleClock;
    idleClock.start();
    wait(seconds * 1000 / 2);
    const double idleCpu = 100.0 * (cpuSeconds() - idleBefore) / (idleClock.elapsed() / 1000.0);
    finger.start();
    const double before = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    wait(seconds * 1000);
    const double movingCpu = 100.0 * (cpuSeconds() - before) / (clock.elapsed() / 1000.0);
    finger.stop();
    mouse(view, QEvent::MouseButtonRelease, centre);
    const QString reach = master->findChild<QWidget *>(QStringLiteral("mcl"))->toolTip();

    std::printf("controlled phones %d (%d samples, %d never complete)\n", controlled, samples, lost);
    std::printf("fan-out master press -> last controlled phone's touch: median %.0f ms, p95 %.0f ms, max %.0f ms\n",
                percentile(fanout, 0.5), percentile(fanout, 0.95), percentile(fanout, 1.0));
    std::printf("press handled (own send + relay to %d streams): median %.2f ms, p95 %.2f ms\n", controlled,
                percentile(relayCall, 0.5), percentile(relayCall, 0.95));
    std::printf("client CPU: %.1f %% of one core held still, %.1f %% while the finger moves (%d moves in %d s, "
                "%.0f/s); master tooltip \"%s\"\n",
                idleCpu, movingCpu, step, seconds, step / (clock.elapsed() / 1000.0), qPrintable(reach));
    std::fflush(stdout);
    cloud.stop();
    _exit(0);
}
