// The phone page's cost: CPU share and resident memory of the client with
// N live card previews (one picture a second each), then with a control
// window streaming at 30 fps beside them, and how many of that window's
// frames never reach the screen. The client is the real phone page in this
// process; the phones are a local cloud's, in a process of their own, so
// its encoding is not counted.

#include "app/appevent.h"
#include "api/utils.h"
#include "phones/mainwindow.h"
#include "phones/phonedetail.h"
#include "resources/tarvixresources.h"
#include "stream/phonecontroller.h"
#include "stream/videorender.h"
#include "stream/videorendermini.h"
#include "tests/support/localcloud.h"
#include "tests/support/tempsettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QPushButton>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <functional>
#include <unistd.h>

namespace {

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (condition())
            return true;
        wait(100);
    }
    return condition();
}

// User plus system time of this process, in seconds.
double cpuSeconds()
{
    QFile file(QStringLiteral("/proc/self/stat"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = file.readAll();
    // Fields after the command name, which is in parentheses.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
    return ticks / double(sysconf(_SC_CLK_TCK));
}

double rssMiB()
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// Share of one core this process used over the given wall time.
double cpuShare(int ms)
{
    const double before = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    wait(ms);
    return 100.0 * (cpuSeconds() - before) / (clock.elapsed() / 1000.0);
}

double framesSentAt(const TestSupport::LocalCloud &cloud, const QString &serverSn, int frameRate)
{
    const QJsonArray sessions = cloud.phoneState(serverSn).value(QStringLiteral("sessions")).toArray();
    for (const QJsonValue &s : sessions) {
        if (s.toObject().value(QStringLiteral("frameRate")).toInt() == frameRate)
            return s.toObject().value(QStringLiteral("framesSent")).toDouble();
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int phones = argc > 1 ? qMax(1, atoi(argv[1])) : 24;
    const int seconds = argc > 2 ? qMax(5, atoi(argv[2])) : 30;
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
    const QString owner = QStringLiteral("13700000024");
    for (int i = 0; i < phones; ++i)
        cloud.addPhone(owner, QStringLiteral("预览%1").arg(i + 1, 2, 10, QLatin1Char('0')), 24 * 30);
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
    // The cards are built; their previews start a second later.
    const double rssCards = rssMiB();
    QElapsedTimer sinceList;
    sinceList.start();
    const QList<PhoneDetail *> cards = window->phoneCards();
    const bool allLive = waitFor(
        [&] {
            for (PhoneDetail *card : cards) {
                if (card->preview()->frameCounters().shown == 0)
                    return false;
            }
            return true;
        },
        90000);
    const qint64 allLiveMs = sinceList.elapsed();
    if (!allLive)
        std::fprintf(stderr, "not every preview showed a picture\n");
    wait(3000);
    quint64 shownBefore = 0;
    for (PhoneDetail *card : cards)
        shownBefore += card->preview()->frameCounters().shown;
    const double previewsCpu = cpuShare(seconds * 1000);
    quint64 shownAfter = 0;
    for (PhoneDetail *card : cards)
        shownAfter += card->preview()->frameCounters().shown;
    const double rssPreviews = rssMiB();

    // A control window from the first card, as a person opens it.
    cards.first()->findChild<QPushButton *>(QStringLiteral("enterBtn"))->click();
    PhoneController *control = cards.first()->controlWindow();
    const QString sn = cards.first()->serverSn();
    if (!control || !waitFor([&] { return control->videoRender()->frameCounters().shown > 0; }, 20000)) {
        std::fprintf(stderr, "the control window shows no picture\n");
        return 1;
    }
    // The phone sends a picture when its screen changes (and one a second
    // otherwise): a finger circling on it keeps the window at its full rate.
    VideoRender *view = control->videoRender();
    int step = 0;
    QTimer finger;
    finger.setInterval(16);
    QObject::connect(&finger, &QTimer::timeout, view, [view, &step] {
        int x = 360 + int(200 * std::cos(step / 20.0));
        int y = 640 + int(200 * std::sin(step / 20.0));
        float pressure = 0.0f;
        view->applyOperation(QStringLiteral("OnTouchEvent"), step == 0 ? 0 : 2, &x, &y, &pressure, QString());
        ++step;
    });
    finger.start();
    wait(3000);
    const VideoRender::FrameCounters c0 = control->videoRender()->frameCounters();
    const double sent0 = framesSentAt(cloud, sn, 30);
    const double controlCpu = cpuShare(seconds * 1000);
    const VideoRender::FrameCounters c1 = control->videoRender()->frameCounters();
    const double sent1 = framesSentAt(cloud, sn, 30);
    const double rssControl = rssMiB();
    finger.stop();

    const double sent = sent1 - sent0;
    const double shown = double(c1.shown - c0.shown);
    const double received = double(c1.received - c0.received);
    std::printf("phones %d, measured over %d s each\n", phones, seconds);
    std::printf("all previews showing a picture %.1f s after the list was built\n", allLiveMs / 1000.0);
    std::printf("previews: CPU %.1f %% of one core, %.2f pictures/s painted in all, RSS %.1f MiB "
                "(cards only %.1f MiB, %.2f MiB per preview)\n",
                previewsCpu, (shownAfter - shownBefore) / double(seconds), rssPreviews, rssCards,
                (rssPreviews - rssCards) / phones);
    std::printf("with a 30 fps control window: CPU %.1f %% of one core, RSS %.1f MiB; window frames sent %.0f "
                "(%.1f/s), received %.0f, painted %.0f, replaced before painting %llu, dropped %.2f %%\n",
                controlCpu, rssControl, sent, sent / seconds, received, shown,
                static_cast<unsigned long long>(c1.replaced - c0.replaced),
                sent > 0 ? 100.0 * qMax(0.0, sent - shown) / sent : 0.0);
    std::fflush(stdout);
    control->close();
    cloud.stop();
    // Quick exit: the process-wide windows are never torn down.
    _exit(0);
}
