// Push channel timings against a local cloud on free ports, with the
// client's real periods unless a case says otherwise:
//   heartbeat spacing (server log), reconnection after a drop, after a 20 s
//   refusal, after a server gone silent (short ping period), and threads and
//   resident memory over many reconnections.

#include "app/appevent.h"
#include "api/utils.h"
#include "push/websocketclientandreconnect.h"
#include "push/websocketthread.h"
#include "tests/support/localcloud.h"
#include "tests/support/tempsettings.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QMutex>
#include <QTest>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Milliseconds since the epoch at which the thread reported each state.
class States final
{
public:
    explicit States(WebSocketThread *thread)
    {
        QObject::connect(thread, &WebSocketThread::connectInfo, thread, [this](int info) {
            QMutexLocker lock(&m_mutex);
            m_list.append({info, QDateTime::currentMSecsSinceEpoch()});
        }, Qt::DirectConnection);
    }
    int count(int info) const
    {
        QMutexLocker lock(&m_mutex);
        int n = 0;
        for (const auto &e : m_list)
            n += e.first == info;
        return n;
    }
    qint64 lastAt(int info) const
    {
        QMutexLocker lock(&m_mutex);
        for (int i = m_list.size() - 1; i >= 0; --i)
            if (m_list[i].first == info)
                return m_list[i].second;
        return -1;
    }

private:
    mutable QMutex m_mutex;
    QVector<QPair<int, qint64>> m_list;
};

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(2);
    }
    return true;
}

std::unique_ptr<WebsocketClientAndReConnect> client(const WebSocketThread::Periods &periods = {})
{
    WebSocketThread::setPeriods(periods);
    return std::make_unique<WebsocketClientAndReConnect>();
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int reconnects = argc > 1 ? QByteArray(argv[1]).toInt() : 200;
    TestSupport::TempSettings settings;
    TestSupport::LocalCloud cloud;
    if (!cloud.isReady() || cloud.signIn(TestSupport::LocalCloud::demoPhone()).isEmpty()) {
        std::fprintf(stderr, "no local cloud: %s\n", qPrintable(cloud.errorString()));
        return 1;
    }
    ServiceBases bases = Utils::compiledServiceBases();
    bases.api = cloud.apiBase();
    bases.push = cloud.pushBase();
    Utils::overrideServiceBases(bases);
    AppEvent::instance()->setWssToken(cloud.lastWssToken());

    {
        // Heartbeats: spacing of five in the server's log.
        auto c = client();
        const qint64 start = cloud.lastEventId();
        waitFor([&] { return cloud.pushLog(QStringLiteral("heartbeat"), start).size() >= 5; }, 40000);
        const QJsonArray beats = cloud.pushLog(QStringLiteral("heartbeat"), start);
        QStringList gaps;
        for (int i = 1; i < beats.size(); ++i) {
            const auto at = [&](int k) {
                return QDateTime::fromString(beats[k].toObject().value(QStringLiteral("time")).toString(), Qt::ISODateWithMs)
                    .toMSecsSinceEpoch();
            };
            gaps << QString::number(at(i) - at(i - 1));
        }
        std::printf("heartbeat gaps (ms): %s\n", qPrintable(gaps.join(QLatin1Char(' '))));

        // Drop: time from the drop to connected again, five times.
        States states(c->networkThread());
        QStringList times;
        for (int i = 0; i < 5; ++i) {
            const int before = states.count(0);
            const qint64 dropAt = QDateTime::currentMSecsSinceEpoch();
            cloud.pushDrop();
            waitFor([&] { return states.count(0) > before; }, 10000);
            times << QString::number(states.lastAt(0) - dropAt);
        }
        std::printf("reconnected after a drop (ms): %s\n", qPrintable(times.join(QLatin1Char(' '))));

        // Refusal of 20 s: time from accepting again to connected, three times.
        QStringList afterRefusal;
        for (int i = 0; i < 3; ++i) {
            const int before = states.count(0);
            const qint64 mark = cloud.lastEventId();
            cloud.pushRefuse(20);
            cloud.pushDrop();
            waitFor([&] { return states.count(0) > before; }, 40000);
            qint64 acceptedAt = 0;
            for (const QJsonValue &e : cloud.pushLog(QStringLiteral("accepting"), mark))
                acceptedAt = QDateTime::fromString(e.toObject().value(QStringLiteral("time")).toString(), Qt::ISODateWithMs)
                                 .toMSecsSinceEpoch();
            afterRefusal << QString::number(states.lastAt(0) - acceptedAt);
        }
        std::printf("reconnected after a 20 s refusal (ms after accepting again): %s\n",
                    qPrintable(afterRefusal.join(QLatin1Char(' '))));
    }
    {
        // Silent server, ping period 1 s: connected to given up.
        WebSocketThread::Periods periods;
        periods.pingMs = 1000;
        cloud.pushSilent(true);
        auto c = client(periods);
        States states(c->networkThread());
        waitFor([&] { return states.count(0) >= 1; }, 10000);
        const qint64 connectedAt = states.lastAt(0);
        waitFor([&] { return states.count(1) >= 1; }, 30000);
        std::printf("silent server, ping period 1000 ms: given up after %lld ms\n",
                    static_cast<long long>(states.lastAt(1) - connectedAt));
        cloud.pushSilent(false);
    }
    {
        // Many reconnections, with a short pause so the run stays short.
        WebSocketThread::Periods periods;
        periods.reconnectDelayMs = 5;
        auto c = client(periods);
        States states(c->networkThread());
        waitFor([&] { return states.count(0) >= 1; }, 10000);
        const auto loop = [&](int times) {
            for (int i = 0; i < times; ++i) {
                const int before = states.count(0);
                cloud.pushDrop();
                if (!waitFor([&] { return states.count(0) > before; }, 10000))
                    return false;
            }
            return true;
        };
        loop(20);
        const int threads = threadCount();
        const qint64 rss = residentKiB();
        QElapsedTimer clock;
        clock.start();
        const bool ok = loop(reconnects);
        std::printf("%d reconnects %s in %lld ms: threads %d -> %d, resident %lld -> %lld KiB\n", reconnects,
                    ok ? "done" : "STALLED", static_cast<long long>(clock.elapsed()), threads, threadCount(),
                    static_cast<long long>(rss), static_cast<long long>(residentKiB()));
    }
    return 0;
}
