// The local cloud's push service, through a plain WebSocket and the codec.

#include "platform/wss/wss.h"
#include "tests/support/localcloud.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QWebSocket>

#include <memory>

using TestSupport::LocalCloud;

namespace {

QByteArray pack(const QByteArray &json)
{
    char *out = nullptr;
    const int length = PackEncode(json.constData(), json.size(), &out);
    return QByteArray(out, length);
}

QJsonObject unpack(const QByteArray &frame)
{
    char *out = nullptr;
    const QByteArray text(frame);
    PackDecode(text.constData(), &out);
    return QJsonDocument::fromJson(QByteArray(out)).object();
}

// A push connection as any client would make it, keeping what it receives.
class RawClient final
{
public:
    RawClient()
    {
        QObject::connect(&m_socket, &QWebSocket::binaryMessageReceived,
                         [this](const QByteArray &frame) { m_received.append(unpack(frame)); });
    }

    // True once connected; false when the server refused or closed at once.
    bool open(const QString &base, const QString &token)
    {
        QSignalSpy connected(&m_socket, &QWebSocket::connected);
        QSignalSpy disconnected(&m_socket, &QWebSocket::disconnected);
        QSignalSpy failed(&m_socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error));
        m_socket.open(QUrl(base + QStringLiteral("?token=") + token));
        for (int waited = 0; connected.isEmpty() && disconnected.isEmpty() && failed.isEmpty() && waited < 5000; waited += 20)
            QTest::qWait(20);
        // A refused token is closed right after the handshake.
        QTest::qWait(100);
        return m_socket.state() == QAbstractSocket::ConnectedState;
    }

    void send(const QByteArray &json) { m_socket.sendBinaryMessage(pack(json)); }
    QWebSocket &socket() { return m_socket; }
    QList<QJsonObject> &received() { return m_received; }

private:
    QWebSocket m_socket;
    QList<QJsonObject> m_received;
};

} // namespace

class TestLocalCloudPush final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<LocalCloud> m_cloud;
    QString m_wss;

    QJsonArray log(const QString &type, qint64 after) const { return m_cloud->pushLog(type, after); }

private slots:
    void initTestCase()
    {
        m_cloud = std::make_unique<LocalCloud>(
            QStringList{QStringLiteral("--seed"), QStringLiteral("demo"), QStringLiteral("--push-resend-after"), QStringLiteral("1")});
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
        QVERIFY(!m_cloud->signIn(LocalCloud::demoPhone()).isEmpty());
        m_wss = m_cloud->lastWssToken();
        QVERIFY(!m_wss.isEmpty());
    }

    void init()
    {
        m_cloud->pushSilent(false);
        m_cloud->pushRefuse(0);
        m_cloud->pushDrop();
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            qWarning().noquote() << m_cloud->consoleLog().right(4000);
    }

    void readyLineNamesThePushPort()
    {
        QVERIFY(m_cloud->consoleLog().contains(QStringLiteral("\"push\":%1").arg(m_cloud->pushPort())));
    }

    void refusesUnknownAndExpiredTokens()
    {
        RawClient unknown;
        QVERIFY(!unknown.open(m_cloud->pushBase(), QStringLiteral("nope")));
        QCOMPARE(int(unknown.socket().closeCode()), 1008);
        QVERIFY(!unknown.socket().closeReason().isEmpty());

        const QString other = QStringLiteral("13900000077");
        QVERIFY(!m_cloud->signIn(other).isEmpty());
        const QString token = m_cloud->lastWssToken();
        RawClient before;
        QVERIFY(before.open(m_cloud->pushBase(), token));
        QVERIFY(m_cloud->expireToken(other) > 0);
        RawClient after;
        QVERIFY(!after.open(m_cloud->pushBase(), token));
        QCOMPARE(int(after.socket().closeCode()), 1008);
    }

    void recordsHeartbeatsAndAcknowledgements()
    {
        const qint64 start = m_cloud->lastEventId();
        RawClient client;
        QVERIFY(client.open(m_cloud->pushBase(), m_wss));
        client.send(R"({"cmd":"heart","data":{},"ext":{}})");
        client.send(R"({"cmd":"msgAck","data":{},"ext":{"msgId":42}})");
        client.socket().sendBinaryMessage(QByteArray("WS\x01\x00", 4) + "!!not base64!!");
        QTRY_COMPARE(log(QStringLiteral("ack"), start).size(), 1);
        QCOMPARE(log(QStringLiteral("heartbeat"), start).size(), 1);
        QCOMPARE(log(QStringLiteral("ack"), start).first().toObject().value(QStringLiteral("msgId")).toInt(), 42);
        QTRY_COMPARE(log(QStringLiteral("frame"), start).size(), 1);
        const QJsonArray connections = m_cloud->pushConnections();
        QCOMPARE(connections.size(), 1);
        QCOMPARE(connections.first().toObject().value(QStringLiteral("heartbeats")).toInt(), 1);
        QVERIFY(!connections.first().toObject().value(QStringLiteral("last_heartbeat")).toString().isEmpty());
    }

    void noticesAsTheAdminGivesThem_data()
    {
        QTest::addColumn<QJsonValue>("txt");
        QTest::newRow("text") << QJsonValue(QStringLiteral("到期了"));
        QTest::newRow("null") << QJsonValue(QJsonValue::Null);
        QTest::newRow("absent") << QJsonValue(QJsonValue::Undefined);
    }

    void noticesAsTheAdminGivesThem()
    {
        QFETCH(QJsonValue, txt);
        RawClient first;
        RawClient second;
        QVERIFY(first.open(m_cloud->pushBase(), m_wss));
        QVERIFY(second.open(m_cloud->pushBase(), m_wss));
        QCOMPARE(m_cloud->pushNotice(LocalCloud::demoPhone(), QStringLiteral("server_is_expired"), txt, 9), 9);
        QTRY_COMPARE(first.received().size(), 1);
        QTRY_COMPARE(second.received().size(), 1);
        const QJsonObject notice = first.received().first();
        QCOMPARE(notice.value(QStringLiteral("cmd")).toString(), QStringLiteral("server"));
        QCOMPARE(notice.value(QStringLiteral("ext")).toObject().value(QStringLiteral("msgId")).toInt(), 9);
        const QJsonObject package = notice.value(QStringLiteral("data")).toObject().value(QStringLiteral("package")).toObject();
        QCOMPARE(package.value(QStringLiteral("type")).toString(), QStringLiteral("server_is_expired"));
        const QJsonObject data = package.value(QStringLiteral("data")).toObject();
        QCOMPARE(data.contains(QStringLiteral("txt")), !txt.isUndefined());
        QCOMPARE(data.value(QStringLiteral("txt")), txt);
    }

    void expiryIsAnnouncedAndResentUntilAcknowledged()
    {
        const QJsonObject phone = m_cloud->addPhone(LocalCloud::demoPhone(), QStringLiteral("推送"), 24);
        const QString serverSn = phone.value(QStringLiteral("server_sn")).toString();
        qint64 msgId = 0;
        {
            RawClient client;
            QVERIFY(client.open(m_cloud->pushBase(), m_wss));
            QVERIFY(m_cloud->setEndTime(serverSn, QDateTime::currentDateTime()));
            QTRY_COMPARE_WITH_TIMEOUT(client.received().size(), 1, 5000);
            const QJsonObject package =
                client.received().first().value(QStringLiteral("data")).toObject().value(QStringLiteral("package")).toObject();
            QCOMPARE(package.value(QStringLiteral("type")).toString(), QStringLiteral("server_is_expired"));
            QVERIFY(package.value(QStringLiteral("data")).toObject().value(QStringLiteral("txt")).toString().contains(QStringLiteral("推送")));
            msgId = qint64(client.received().first().value(QStringLiteral("ext")).toObject().value(QStringLiteral("msgId")).toDouble());
            // Announced once, not at every check.
            QTest::qWait(1200);
            QCOMPARE(client.received().size(), 1);
        }
        QTest::qWait(1100); // past the resend period of this suite's cloud
        {
            RawClient again;
            QVERIFY(again.open(m_cloud->pushBase(), m_wss));
            QTRY_COMPARE_WITH_TIMEOUT(again.received().size(), 1, 5000);
            QCOMPARE(qint64(again.received().first().value(QStringLiteral("ext")).toObject().value(QStringLiteral("msgId")).toDouble()),
                     msgId);
            again.send(QStringLiteral("{\"cmd\":\"msgAck\",\"data\":{},\"ext\":{\"msgId\":%1}}").arg(msgId).toUtf8());
            QTRY_VERIFY(!log(QStringLiteral("ack"), 0).isEmpty());
        }
        QTest::qWait(1100);
        const qint64 start = m_cloud->lastEventId();
        RawClient acknowledged;
        QVERIFY(acknowledged.open(m_cloud->pushBase(), m_wss));
        acknowledged.send(R"({"cmd":"heart","data":{},"ext":{}})");
        QTRY_COMPARE(log(QStringLiteral("heartbeat"), start).size(), 1);
        QTest::qWait(200);
        QCOMPARE(acknowledged.received().size(), 0);
    }

    void silentKeepsTheSocketButAnswersNothing()
    {
        RawClient client;
        QVERIFY(client.open(m_cloud->pushBase(), m_wss));
        QSignalSpy pongs(&client.socket(), &QWebSocket::pong);
        client.socket().ping("ping");
        QTRY_COMPARE(pongs.size(), 1);

        QVERIFY(m_cloud->pushSilent(true));
        client.socket().ping("ping");
        QTest::qWait(1000);
        QCOMPARE(pongs.size(), 1);
        QCOMPARE(client.socket().state(), QAbstractSocket::ConnectedState);
        QCOMPARE(m_cloud->pushConnections().size(), 1);

        QVERIFY(m_cloud->pushSilent(false));
        client.socket().ping("ping");
        QTRY_COMPARE(pongs.size(), 3);
    }

    void refusesForAWhileAndDrops()
    {
        RawClient connected;
        QVERIFY(connected.open(m_cloud->pushBase(), m_wss));
        QSignalSpy dropped(&connected.socket(), &QWebSocket::disconnected);
        QVERIFY(m_cloud->pushRefuse(2));
        QCOMPARE(m_cloud->pushConnections().size(), 1); // kept
        RawClient refused;
        QVERIFY(!refused.open(m_cloud->pushBase(), m_wss));
        QCOMPARE(refused.socket().error(), QAbstractSocket::ConnectionRefusedError);
        QCOMPARE(m_cloud->pushDrop(), 1);
        QTRY_COMPARE(dropped.size(), 1);
        QTest::qWait(2200);
        RawClient accepted;
        QVERIFY(accepted.open(m_cloud->pushBase(), m_wss));
    }
};

QTEST_GUILESS_MAIN(TestLocalCloudPush)
#include "tst_localcloud_push.moc"
