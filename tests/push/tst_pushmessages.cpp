#include "app/appevent.h"
#include "api/utils.h"
#include "push/websocketclientandreconnect.h"
#include "push/websocketthread.h"
#include "tests/support/tempsettings.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QtTest>

#include <memory>

// The push client's own texts and its handling of whatever a server may
// send, without a server: every frame goes straight to the handler.
class TestPushMessages final : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    std::unique_ptr<WebsocketClientAndReConnect> m_client;
    int m_reloads = 0;

    static QByteArray frameOf(const QByteArray &json)
    {
        const QByteArray packed = Utils::instance()->packEncode(QString::fromUtf8(json));
        return QByteArray(packed.constData(), packed.size());
    }

private slots:
    void initTestCase()
    {
        ServiceBases bases = Utils::compiledServiceBases();
        bases.push = QStringLiteral("ws://127.0.0.1:9/"); // nothing answers there
        Utils::overrideServiceBases(bases);
        QVERIFY(Utils::instance()->loadCodecLibrary());
        AppEvent::instance()->setWssToken(QStringLiteral("t0ken"));
        m_client = std::make_unique<WebsocketClientAndReConnect>();
        m_client->setExpiryHandler([this](const std::optional<QString> &) { ++m_reloads; });
    }

    void cleanupTestCase() { m_client.reset(); }

    void texts()
    {
        QCOMPARE(WebsocketClientAndReConnect::heartbeatText(), QStringLiteral("{\"cmd\":\"heart\",\"data\":{},\"ext\":{}}"));
        QCOMPARE(WebsocketClientAndReConnect::heartbeatText().size(), 34);
        QCOMPARE(WebsocketClientAndReConnect::acknowledgementText(42),
                 QStringLiteral("{\"cmd\":\"msgAck\",\"data\":{},\"ext\":{\"msgId\":42}}"));
        // Both are what a JSON writer would make of them, key order kept.
        const QJsonDocument ack = QJsonDocument::fromJson(WebsocketClientAndReConnect::acknowledgementText(7).toUtf8());
        QCOMPARE(ack.object().value(QStringLiteral("ext")).toObject().value(QStringLiteral("msgId")).toInt(), 7);
    }

    void notConnectedDropsFrames()
    {
        QVERIFY(!m_client->networkThread()->isConnected());
        QVERIFY(!m_client->sendHeartbeat());
        QCOMPARE(m_client->networkThread()->queuedFrames(), 0);
    }

    void messages_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("reloads");
        const auto notice = [](const QByteArray &json) { return frameOf(json); };
        QTest::newRow("notice") << notice(R"({"cmd":"server","data":{"package":{"type":"server_is_expired","data":{"txt":"到期"}}},"ext":{"msgId":1}})") << 1;
        QTest::newRow("no msgId") << notice(R"({"cmd":"server","data":{"package":{"type":"server_is_expired","data":{}}},"ext":{}})") << 1;
        QTest::newRow("txt a number") << notice(R"({"cmd":"server","data":{"package":{"type":"server_is_expired","data":{"txt":5}}},"ext":{"msgId":"x"}})") << 1;
        QTest::newRow("package data absent") << notice(R"({"cmd":"server","data":{"package":{"type":"server_is_expired"}}})") << 1;
        QTest::newRow("other cmd") << notice(R"({"cmd":"heart","data":{"package":{"type":"server_is_expired"}}})") << 0;
        QTest::newRow("data an array") << notice(R"({"cmd":"server","data":[1,2]})") << 0;
        QTest::newRow("package an array") << notice(R"({"cmd":"server","data":{"package":[]}})") << 0;
        QTest::newRow("type a number") << notice(R"({"cmd":"server","data":{"package":{"type":7}}})") << 0;
        QTest::newRow("json array") << notice(R"([1,2,3])") << 0;
        QTest::newRow("not json") << notice("server_is_expired") << 0;
        QTest::newRow("truncated json") << notice(R"({"cmd":"server","data":{"package":)") << 0;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("three bytes") << QByteArray("WS\x01", 3) << 0;
        QTest::newRow("header only") << QByteArray("WS\x01\x00", 4) << 0;
        QTest::newRow("not base64") << QByteArray("WS\x01\x00{\"cmd\":\"server\"}", 21) << 0;
        QTest::newRow("high bytes") << QByteArray("WS\x01\x00\xff\xfe\x80\x81", 8) << 0;
        QTest::newRow("nul inside") << QByteArray("WS\x01\x00" "ab\0cd", 9) << 0;
    }

    void messages()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, reloads);
        m_reloads = 0;
        m_client->handleBinaryMessage(frame);
        QCOMPARE(m_reloads, reloads);
    }

    void randomFramesAreIgnored()
    {
        QRandomGenerator random(20261210);
        m_reloads = 0;
        for (int i = 0; i < 20000; ++i) {
            QByteArray frame(int(random.bounded(64)), Qt::Uninitialized);
            for (char &c : frame)
                c = char(random.bounded(256));
            // Half of them carry our header, so the codec itself is fed junk.
            if (i % 2 && frame.size() >= 4)
                frame.replace(0, 4, QByteArray("WS\x01\x00", 4));
            // And some are well-formed frames of random text.
            if (i % 7 == 0)
                frame = frameOf(frame);
            m_client->handleBinaryMessage(frame);
        }
        QCOMPARE(m_reloads, 0);
    }

    // Last: nothing runs a deferred delete once the application quits, so
    // the client ends its thread itself.
    void quittingEndsTheThread()
    {
        QVERIFY(m_client->networkThread()->isRunning());
        QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection));
        QVERIFY(m_client->networkThread()->isFinished());
    }
};

QTEST_MAIN(TestPushMessages)
#include "tst_pushmessages.moc"
