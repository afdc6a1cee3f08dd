// The phone page's cost with N phones: time from showing the window (as a
// sign-in does) until every card on screen paints a picture; CPU share and
// resident memory of the client idle and while the card area scrolls from
// top to bottom and back; the longest stall of the GUI thread meanwhile (how
// late a 10 ms timer fires); then a control window streaming at 30 fps
// beside the previews and how many of its frames never reach the screen.
// The client is the real phone page in this process; the phones are a local
// cloud's, in a process of their own, whose CPU share is given apart.

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
#include <QHash>
#include <QJsonArray>
#include <QDir>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
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

// User plus system time of a process (this one by default), in seconds.
double cpuSeconds(const QString &pid = QStringLiteral("self"))
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
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

// The local cloud's process: the one whose command line names its state folder.
QString cloudPid(const QString &stateDir)
{
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (pid.toInt() > 0 && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(stateDir.toLocal8Bit()))
            return pid;
    }
    return QString();
}

struct Share
{
    double client = 0;
    double farm = 0;
};

// Share of one core this process and the farm used while `during` ran for
// the given wall time.
Share cpuShare(int ms, const QString &farmPid, const std::function<void()> &during = {})
{
    const double before = cpuSeconds();
    const double farmBefore = farmPid.isEmpty() ? 0 : cpuSeconds(farmPid);
    QElapsedTimer clock;
    clock.start();
    if (during)
        during();
    else
        wait(ms);
    const double seconds = clock.elapsed() / 1000.0;
    Share share;
    share.client = 100.0 * (cpuSeconds() - before) / seconds;
    share.farm = farmPid.isEmpty() ? -1 : 100.0 * (cpuSeconds(farmPid) - farmBefore) / seconds;
    return share;
}

// The longest a 10 ms timer fired late while it ran: how long the GUI
// thread was busy with something else at a stretch.
class StallWatch
{
public:
    StallWatch()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            if (m_last > 0)
                m_longest = qMax(m_longest, now - m_last - 10'000'000);
            m_last = now;
        });
        m_clock.start();
        m_timer.start();
    }
    double longestMs() const { return m_longest / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

// Scrolls the card area from top to bottom and back in the given time, a
// step every 16 ms, as a wheel or a dragged scroll bar would.
void scrollDownAndBack(QScrollArea *area, int ms)
{
    QScrollBar *bar = area->verticalScrollBar();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        const double t = double(clock.elapsed()) / ms; // 0..1
        const double there = t < 0.5 ? t * 2 : (1 - t) * 2;
        bar->setValue(bar->minimum() + int(there * (bar->maximum() - bar->minimum())));
        wait(16);
    }
    bar->setValue(bar->minimum());
}

QList<PhoneDetail *> cardsInView(MainWindow *window, QScrollArea *area)
{
    QList<PhoneDetail *> in;
    QWidget *viewport = area->viewport();
    for (PhoneDetail *card : window->phoneCards()) {
        if (QRect(card->mapTo(viewport, QPoint(0, 0)), card->size()).intersects(viewport->rect()))
            in << card;
    }
    return in;
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
    cloud.addPhones(owner, QStringLiteral("预览"), phones, 24 * 30);
    const QString farmPid = cloudPid(cloud.stateDir());
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

    // From here on it is what a sign-in does: the window shows and loads
    // the list.
    QElapsedTimer sinceSignIn;
    sinceSignIn.start();
    MainWindow *window = MainWindow::instance();
    window->show();
    if (!waitFor([&] { return window->phoneCards().size() == phones; }, 20000)) {
        std::fprintf(stderr, "the list did not load\n");
        return 1;
    }
    const qint64 listMs = sinceSignIn.elapsed();
    // The cards are built; their previews start a second later.
    const double rssCards = rssMiB();
    auto *area = window->findChild<QScrollArea *>(QStringLiteral("scrollArea"));
    const QList<PhoneDetail *> cards = window->phoneCards();
    const QList<PhoneDetail *> onScreen = cardsInView(window, area);
    const auto allPainted = [](const QList<PhoneDetail *> &these) {
        for (PhoneDetail *card : these) {
            if (card->preview()->frameCounters().shown == 0)
                return false;
        }
        return true;
    };
    const bool allLive = waitFor([&] { return allPainted(onScreen); }, 90000);
    const qint64 allLiveMs = sinceSignIn.elapsed();
    if (!allLive)
        std::fprintf(stderr, "not every preview on screen showed a picture\n");
    wait(3000);
    quint64 shownBefore = 0;
    for (PhoneDetail *card : cards)
        shownBefore += card->preview()->frameCounters().shown;
    const Share idle = cpuShare(seconds * 1000, farmPid);
    quint64 shownAfter = 0;
    int streaming = 0;
    for (PhoneDetail *card : cards) {
        shownAfter += card->preview()->frameCounters().shown;
        streaming += card->preview()->hasStream() ? 1 : 0;
    }
    const double rssPreviews = rssMiB();

    // Top to bottom and back, then the same at rest again.
    double stall = 0;
    const Share scrolling = cpuShare(20000, farmPid, [&] {
        StallWatch watch;
        scrollDownAndBack(area, 20000);
        stall = watch.longestMs();
    });
    const double rssScrolled = rssMiB();
    // Back at the top: how long until every card on screen paints a new
    // picture (those stopped on the way down show their last one meanwhile).
    QHash<PhoneDetail *, quint64> shownAtEnd;
    for (PhoneDetail *card : cards)
        shownAtEnd.insert(card, card->preview()->frameCounters().shown);
    QElapsedTimer sinceBack;
    sinceBack.start();
    const bool liveAgain = waitFor(
        [&] {
            for (PhoneDetail *card : cardsInView(window, area)) {
                if (card->preview()->frameCounters().shown <= shownAtEnd.value(card))
                    return false;
            }
            return true;
        },
        10000);
    const qint64 liveAgainMs = sinceBack.elapsed();
    wait(3000);
    int streamingAfter = 0;
    for (PhoneDetail *card : cards)
        streamingAfter += card->preview()->hasStream() ? 1 : 0;

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
    const double controlCpu = cpuShare(seconds * 1000, farmPid).client;
    const VideoRender::FrameCounters c1 = control->videoRender()->frameCounters();
    const double sent1 = framesSentAt(cloud, sn, 30);
    const double rssControl = rssMiB();
    finger.stop();

    const double sent = sent1 - sent0;
    const double shown = double(c1.shown - c0.shown);
    const double received = double(c1.received - c0.received);
    double load[3] = {0, 0, 0};
    getloadavg(load, 3);
    std::printf("phones %d, measured over %d s each; load average at the end %.2f %.2f %.2f\n", phones, seconds,
                load[0], load[1], load[2]);
    std::printf("list built %.1f s after the window showed; %d cards on screen, all painting %.1f s after it showed\n",
                listMs / 1000.0, int(onScreen.size()), allLiveMs / 1000.0);
    std::printf("idle: %d previews streaming, CPU %.1f %% of one core (farm %.1f %%), %.2f pictures/s painted in all, "
                "RSS %.1f MiB (cards only %.1f MiB)\n",
                streaming, idle.client, idle.farm, (shownAfter - shownBefore) / double(seconds), rssPreviews, rssCards);
    std::printf("scrolling down and back over 20 s: CPU %.1f %% (farm %.1f %%), RSS %.1f MiB, longest GUI stall %.1f ms; "
                "back at the top every card on screen painted a new picture %s %.1f s after the scroll ended; "
                "3 s later %d streaming\n",
                scrolling.client, scrolling.farm, rssScrolled, stall, liveAgain ? "" : "NOT", liveAgainMs / 1000.0,
                streamingAfter);
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
