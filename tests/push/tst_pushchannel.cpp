#include "app/appevent.h"
#include "api/utils.h"
#include "push/websocketclientandreconnect.h"
#include "push/websocketthread.h"
#include "tests/support/localcloud.h"
#include "tests/support/processmemory.h"
#include "tests/support/tempsettings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QMutex>
#include <QtTest>

#include <memory>

namespace {

using TestSupport::residentKiB;
using TestSupport::threadCount;

// connectInfo values with the time each was emitted, recorded on the
// network thread itself so queueing adds nothing.
class ConnectLog final
{
public:
    explicit ConnectLog(WebSocketThread *thread)
    {
        m_clock.start();
        QObject::connect(thread, &WebSocketThread::connectInfo, thread, [this](int info) {
            QMutexLocker lock(&m_mutex);
            m_entries.append({info, m_clock.elapsed()});
        }, Qt::DirectConnection);
    }
    QVector<QPair<int, qint64>> entries() const
    {
        QMutexLocker lock(&m_mutex);
        return m_entries;
    }
    int count(int info) const
    {
        int n = 0;
        for (const auto &entry : entries())
            n += entry.first == info ? 1 : 0;
        return n;
    }

private:
    mutable QMutex m_mutex;
    QElapsedTimer m_clock;
    QVector<QPair<int, qint64>> m_entries;
};

} // namespace

// The push client against the local cloud's push service, over a real
// WebSocket on loopback.
class TestPushChannel final : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    std::unique_ptr<TestSupport::LocalCloud> m_cloud;
    int m_reloads = 0;
    // What each handled expiry notice asked to show.
    QList<std::optional<QString>> m_shown;

    std::unique_ptr<WebsocketClientAndReConnect> makeClient(const WebSocketThread::Periods &periods = {})
    {
        WebSocketThread::setPeriods(periods);
        auto client = std::make_unique<WebsocketClientAndReConnect>();
        client->setExpiryHandler([this](const std::optional<QString> &text) {
            ++m_reloads;
            m_shown.append(text);
        });
        return client;
    }

    bool waitForConnections(int count, int timeoutMs = 10000)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            if (m_cloud->pushConnections().size() == count)
                return true;
            QTest::qWait(30);
        }
        return false;
    }

    // The acknowledgement of msgId after the given event, waiting for it.
    QJsonObject waitForAck(qint64 msgId, qint64 afterId, int timeoutMs = 10000)
    {
        QElapsedTimer clock;
        clock.start();
        do {
            for (const QJsonValue &event : m_cloud->pushLog(QStringLiteral("push_ack"), afterId)) {
                if (qint64(event.toObject().value(QStringLiteral("msgId")).toDouble()) == msgId)
                    return event.toObject();
            }
            QTest::qWait(30);
        } while (clock.elapsed() < timeoutMs);
        return QJsonObject();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.isValid());
        m_cloud = std::make_unique<TestSupport::LocalCloud>();
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
        QVERIFY2(!m_cloud->signIn(TestSupport::LocalCloud::demoPhone()).isEmpty(), qPrintable(m_cloud->errorString()));
        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = m_cloud->apiBase();
        bases.push = m_cloud->pushBase();
        Utils::overrideServiceBases(bases);
        QVERIFY(Utils::instance()->loadCodecLibrary());
        AppEvent::instance()->setWssToken(m_cloud->lastWssToken());
    }

    void init()
    {
        m_reloads = 0;
        m_shown.clear();
        m_cloud->pushSilent(false);
        m_cloud->pushRefuse(0);
        QVERIFY(waitForConnections(0));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            qWarning().noquote() << m_cloud->consoleLog().right(4000);
    }

    void heartbeatsArriveWithTheirText()
    {
        const qint64 start = m_cloud->lastEventId();
        auto client = makeClient();
        QVERIFY(waitForConnections(1));
        QTRY_VERIFY_WITH_TIMEOUT(m_cloud->pushLog(QStringLiteral("push_heartbeat"), start).size() >= 2, 20000);
        const QJsonArray beats = m_cloud->pushLog(QStringLiteral("push_heartbeat"), start);
        for (const QJsonValue &beat : beats) {
            const QString text = beat.toObject().value(QStringLiteral("text")).toString();
            QCOMPARE(text, QStringLiteral("{\"cmd\":\"heart\",\"data\":{},\"ext\":{}}"));
            QCOMPARE(text.size(), 34);
        }
        const QJsonObject connection = m_cloud->pushConnections().first().toObject();
        QVERIFY(!connection.value(QStringLiteral("last_heartbeat")).toString().isEmpty());
        QCOMPARE(connection.value(QStringLiteral("phone")).toString(), TestSupport::LocalCloud::demoPhone());
    }

    void notices_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QJsonValue>("txt");
        QTest::addColumn<bool>("toast");
        QTest::addColumn<bool>("acted");
        QTest::newRow("text") << "server_is_expired" << QJsonValue(QStringLiteral("您的云手机已到期")) << true << true;
        QTest::newRow("null") << "server_is_expired" << QJsonValue(QJsonValue::Null) << false << true;
        QTest::newRow("absent") << "server_is_expired" << QJsonValue(QJsonValue::Undefined) << true << true;
        QTest::newRow("other type") << "server_is_renewed" << QJsonValue(QStringLiteral("续费成功")) << false << false;
        QTest::newRow("type case") << "Server_Is_Expired" << QJsonValue(QStringLiteral("x")) << false << false;
    }

    void notices()
    {
        QFETCH(QString, type);
        QFETCH(QJsonValue, txt);
        QFETCH(bool, toast);
        QFETCH(bool, acted);
        auto client = makeClient();
        QVERIFY(waitForConnections(1));
        QTRY_VERIFY(client->networkThread()->isConnected());
        const qint64 start = m_cloud->lastEventId();
        QCOMPARE(m_cloud->pushNotice(TestSupport::LocalCloud::demoPhone(), type, txt, 4200), 4200);
        // A silent notice behind it (no toast): once its acknowledgement is
        // in, the one under test has been handled too.
        QCOMPARE(m_cloud->pushNotice(TestSupport::LocalCloud::demoPhone(), QStringLiteral("server_is_expired"),
                                     QJsonValue(QJsonValue::Null), 4201),
                 4201);
        QVERIFY(!waitForAck(4201, start).isEmpty());

        const QJsonObject ack = waitForAck(4200, start, 0);
        QCOMPARE(!ack.isEmpty(), acted);
        if (acted)
            QCOMPARE(ack.value(QStringLiteral("text")).toString(),
                     QStringLiteral("{\"cmd\":\"msgAck\",\"data\":{},\"ext\":{\"msgId\":4200}}"));
        QCOMPARE(m_reloads, acted ? 2 : 1);
        // The silent notice behind it asked to show nothing.
        QCOMPARE(m_shown.last(), std::optional<QString>());
        if (acted)
            QCOMPARE(m_shown.first(), toast ? std::optional<QString>(txt.toString()) : std::optional<QString>());
    }

    void expiryNoticeComesByItself()
    {
        auto client = makeClient();
        QVERIFY(waitForConnections(1));
        const qint64 start = m_cloud->lastEventId();
        const QJsonObject phone = m_cloud->addPhone(TestSupport::LocalCloud::demoPhone(), QStringLiteral("将到期"), 24);
        const QString serverSn = phone.value(QStringLiteral("server_sn")).toString();
        QVERIFY(m_cloud->setEndTime(serverSn, QDateTime::currentDateTime()));
        QJsonObject notice;
        QTRY_VERIFY_WITH_TIMEOUT(!(notice = [&] {
                                      for (const QJsonValue &e : m_cloud->pushLog(QStringLiteral("push_notice"), start))
                                          if (e.toObject().value(QStringLiteral("server_sn")).toString() == serverSn)
                                              return e.toObject();
                                      return QJsonObject();
                                  }()).isEmpty(),
                                 10000);
        QVERIFY(notice.value(QStringLiteral("automatic")).toBool());
        const qint64 msgId = qint64(notice.value(QStringLiteral("msgId")).toDouble());
        QVERIFY(!waitForAck(msgId, start).isEmpty());
        QCOMPARE(m_reloads, 1);
        QVERIFY(m_shown.value(0).value_or(QString()).contains(QStringLiteral("将到期")));
        // The list the reload fetches shows the phone expired.
        for (const QJsonValue &entry : m_cloud->phones()) {
            if (entry.toObject().value(QStringLiteral("server_sn")).toString() == serverSn)
                QVERIFY(entry.toObject().value(QStringLiteral("expired")).toBool());
        }
    }

    void reconnectsAfterDrop_data()
    {
        QTest::addColumn<bool>("close");
        QTest::newRow("cut") << false;
        QTest::newRow("closed") << true;
    }

    void reconnectsAfterDrop()
    {
        QFETCH(bool, close);
        auto client = makeClient();
        ConnectLog log(client->networkThread());
        QVERIFY(waitForConnections(1));
        const int firstId = m_cloud->pushConnections().first().toObject().value(QStringLiteral("connection")).toInt();
        QCOMPARE(m_cloud->pushDrop(close), 1);
        QTRY_VERIFY_WITH_TIMEOUT(log.count(0) == 2, 10000);
        QVERIFY(waitForConnections(1));
        QVERIFY(m_cloud->pushConnections().first().toObject().value(QStringLiteral("connection")).toInt() != firstId);
        QCOMPARE(log.count(1), 1);
    }

    void reconnectsWhenRefusalEnds()
    {
        auto client = makeClient();
        ConnectLog log(client->networkThread());
        QVERIFY(waitForConnections(1));
        QVERIFY(m_cloud->pushRefuse(3));
        m_cloud->pushDrop();
        // Attempts fail while refused: reported as failed attempts (2).
        QTRY_VERIFY_WITH_TIMEOUT(log.count(2) >= 1, 10000);
        QVERIFY(!client->networkThread()->isConnected());
        QTRY_VERIFY_WITH_TIMEOUT(log.count(0) == 2, 15000);
        QVERIFY(waitForConnections(1));
    }

    void silentServerLosesTheConnectionOnTheSeventhPingTick()
    {
        WebSocketThread::Periods periods;
        periods.pingMs = 300;
        periods.reconnectDelayMs = 100;
        auto client = makeClient(periods);
        ConnectLog log(client->networkThread());
        QVERIFY(waitForConnections(1));
        // Answered pings keep it open well past seven periods.
        QTest::qWait(12 * periods.pingMs);
        QCOMPARE(log.count(1), 0);

        QVERIFY(m_cloud->pushSilent(true));
        m_cloud->pushDrop();
        QTRY_VERIFY_WITH_TIMEOUT(log.count(0) == 2, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(log.count(1) == 2, 20000);
        const auto entries = log.entries();
        qint64 connectedAt = -1;
        qint64 lostAt = -1;
        int connects = 0;
        for (const auto &entry : entries) {
            if (entry.first == 0 && ++connects == 2)
                connectedAt = entry.second;
            else if (entry.first == 1 && connectedAt >= 0 && lostAt < 0)
                lostAt = entry.second;
        }
        QVERIFY(connectedAt >= 0 && lostAt > connectedAt);
        // Six pings go out unanswered; only the seventh tick gives up.
        QVERIFY2(lostAt - connectedAt >= 6.5 * periods.pingMs,
                 qPrintable(QStringLiteral("lost after %1 ms").arg(lostAt - connectedAt)));
        QVERIFY(m_cloud->pushSilent(false));
        QTRY_VERIFY_WITH_TIMEOUT(log.count(0) >= 3, 10000);
    }

    void queueHoldsFiveFrames()
    {
        WebSocketThread::Periods periods;
        periods.pumpMs = 600000; // nothing leaves during the test
        periods.heartbeatMs = 600000;
        auto client = makeClient(periods);
        QVERIFY(!client->sendHeartbeat()); // not connected yet
        QVERIFY(waitForConnections(1));
        QTRY_VERIFY(client->networkThread()->isConnected());
        for (int i = 0; i < WebSocketThread::MaxQueuedFrames; ++i)
            QVERIFY(client->sendHeartbeat());
        QVERIFY(!client->sendHeartbeat());
        QVERIFY(!client->sendAcknowledgement(5));
        QCOMPARE(client->networkThread()->queuedFrames(), 5);
    }

    void framesWhileDisconnectedAreDropped()
    {
        auto client = makeClient();
        ConnectLog log(client->networkThread());
        QVERIFY(waitForConnections(1));
        QVERIFY(m_cloud->pushRefuse(30));
        m_cloud->pushDrop();
        QTRY_VERIFY_WITH_TIMEOUT(log.count(1) == 1, 10000);
        QVERIFY(!client->sendHeartbeat());
        QCOMPARE(client->networkThread()->queuedFrames(), 0);
    }

    void releasedWhileWaitingToReconnectEndsAtOnce()
    {
        WebSocketThread::Periods periods;
        periods.reconnectDelayMs = 120000;
        auto client = makeClient(periods);
        ConnectLog log(client->networkThread());
        QVERIFY(waitForConnections(1));
        m_cloud->pushDrop();
        QTRY_VERIFY_WITH_TIMEOUT(log.count(1) == 1, 10000);
        QElapsedTimer clock;
        clock.start();
        client.reset();
        // Far below the pause it was in.
        QVERIFY2(clock.elapsed() < periods.reconnectDelayMs / 4, qPrintable(QString::number(clock.elapsed())));
    }

    void releaseClosesNormally()
    {
        auto client = makeClient();
        QVERIFY(waitForConnections(1));
        const qint64 start = m_cloud->lastEventId();
        client.reset();
        QVERIFY(waitForConnections(0));
        const QJsonArray gone = m_cloud->pushLog(QStringLiteral("push_disconnect"), start);
        QCOMPARE(gone.size(), 1);
        QCOMPARE(gone.first().toObject().value(QStringLiteral("close_code")).toInt(), 1000);
    }

    void unknownTokenIsRefusedAndTriedAgain()
    {
        const QString token = AppEvent::instance()->wssToken();
        AppEvent::instance()->setWssToken(QStringLiteral("not-a-token"));
        const qint64 start = m_cloud->lastEventId();
        WebSocketThread::Periods periods;
        periods.reconnectDelayMs = 100;
        auto client = makeClient(periods);
        AppEvent::instance()->setWssToken(token);
        QTRY_VERIFY_WITH_TIMEOUT(m_cloud->pushLog(QStringLiteral("push_refused"), start).size() >= 2, 10000);
        QCOMPARE(m_cloud->pushLog(QStringLiteral("push_refused"), start).first().toObject().value(QStringLiteral("close_code")).toInt(),
                 1008);
        QCOMPARE(m_cloud->pushConnections().size(), 0);
    }

    void manyReconnectsLeaveThreadsAndMemoryFlat()
    {
        WebSocketThread::Periods periods;
        periods.reconnectDelayMs = 5;
        auto client = makeClient(periods);
        ConnectLog log(client->networkThread());
        QVERIFY(waitForConnections(1));
        const auto reconnect = [&](int times) {
            for (int i = 0; i < times; ++i) {
                const int before = log.count(0);
                m_cloud->pushDrop();
                QElapsedTimer clock;
                clock.start();
                while (log.count(0) == before && clock.elapsed() < 10000)
                    QTest::qWait(2);
                if (log.count(0) == before)
                    return false;
            }
            return true;
        };
        QVERIFY(reconnect(20));
        const int threadsBefore = threadCount();
        const qint64 rssBefore = residentKiB();
        QVERIFY(reconnect(200));
        QTest::qWait(100);
        const int threadsAfter = threadCount();
        const qint64 rssAfter = residentKiB();
        qInfo("threads %d -> %d, resident %lld -> %lld KiB", threadsBefore, threadsAfter, rssBefore, rssAfter);
        QVERIFY(threadsAfter <= threadsBefore + 1);
        if (TestSupport::residentMemoryIsMeaningful())
            QVERIFY(rssAfter - rssBefore < 16 * 1024);

        // Whole clients made and released: their threads go with them.
        client.reset();
        const int baseline = threadCount();
        for (int i = 0; i < 30; ++i) {
            auto another = makeClient(periods);
            QTRY_VERIFY(another->networkThread()->isConnected());
        }
        QVERIFY(threadCount() <= baseline + 1);
    }
};

QTEST_MAIN(TestPushChannel)
#include "tst_pushchannel.moc"
