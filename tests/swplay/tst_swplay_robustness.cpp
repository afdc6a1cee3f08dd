// The library against phones that misbehave: nothing listening, silence,
// garbage, corrupt or truncated video, and owners that go away mid-stream.

#include "localcloud/phonefarm/phonefarm.h"
#include "platform/swplay/swprotocol.h"
#include "tests/swplay/testview.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

QByteArray bytes(const std::string &s)
{
    return QByteArray(s.data(), int(s.size()));
}

QByteArray acceptMessage()
{
    swp::Accept a;
    a.screenWidth = 720;
    a.screenHeight = 1280;
    a.level = 1;
    a.frameRate = 30;
    return bytes(swp::encodeAccept(a));
}

QByteArray noise(int size, quint32 seed)
{
    QByteArray out(size, '\0');
    QRandomGenerator rng(seed);
    for (char &c : out)
        c = char(rng.bounded(256));
    return out;
}

// A phone stand-in: answers every connection with the given bytes, sent as
// soon as the client has said anything (or at once).
class FakePhone final : public QObject
{
public:
    FakePhone(QByteArray reply, bool waitForHello)
        : m_reply(std::move(reply))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this, waitForHello] {
            while (QTcpSocket *s = m_server.nextPendingConnection()) {
                ++connections;
                s->setParent(this);
                if (!waitForHello) {
                    s->write(m_reply);
                    continue;
                }
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    s->readAll();
                    if (!s->property("answered").toBool()) {
                        s->setProperty("answered", true);
                        s->write(m_reply);
                    }
                });
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    int connections = 0;

private:
    QTcpServer m_server;
    QByteArray m_reply;
};

// Sits between the library and a real farm and spoils video messages.
class SpoilingProxy final : public QObject
{
public:
    explicit SpoilingProxy(quint16 farmPort)
        : m_farmPort(farmPort)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *client = m_server.nextPendingConnection()) {
                client->setParent(this);
                auto *farm = new QTcpSocket(this);
                farm->connectToHost(QHostAddress::LocalHost, m_farmPort);
                auto deframer = std::make_shared<swp::Deframer>();
                connect(client, &QTcpSocket::readyRead, farm, [client, farm] { farm->write(client->readAll()); });
                connect(farm, &QTcpSocket::readyRead, client, [this, client, farm, deframer] {
                    const QByteArray data = farm->readAll();
                    deframer->append(data.constData(), size_t(data.size()));
                    swp::Type type;
                    std::string body;
                    while (deframer->next(type, body) == swp::Deframer::Result::Message)
                        client->write(spoil(type, body));
                });
                connect(client, &QTcpSocket::disconnected, farm, &QTcpSocket::disconnectFromHost);
                connect(farm, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
            }
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    // Spoils the video messages numbered from..to (counting from 1).
    void spoil(int from, int to)
    {
        m_from = from;
        m_to = to;
    }
    int videos = 0;

private:
    QByteArray spoil(swp::Type type, std::string body)
    {
        if (type == swp::Type::Video) {
            ++videos;
            if (videos >= m_from && videos <= m_to && body.size() > 40) {
                switch (videos % 3) {
                case 0: // flipped bits in the picture data
                    for (size_t i = 20; i < body.size(); i += 7)
                        body[i] = char(body[i] ^ 0x5A);
                    break;
                case 1: // the access unit cut in half
                    body.resize(body.size() / 2);
                    break;
                default: // the header cut short
                    body.resize(6);
                    break;
                }
            }
        }
        swp::Writer w(type);
        w.raw(body.data(), body.size());
        return bytes(w.finish());
    }

    QTcpServer m_server;
    quint16 m_farmPort;
    int m_from = 0;
    int m_to = -1;
};

// Counts every call the library makes into it, in a counter that outlives it.
class CountingView final : public VideoDisplayWinBase, public SWDataSourceListener
{
public:
    explicit CountingView(std::shared_ptr<std::atomic<int>> calls)
        : m_calls(std::move(calls))
    {
        setDstFormat(-1, 720, 1280, 0);
    }
    void onFrameReady() override { ++*m_calls; }
    void onConnected() override { ++*m_calls; }
    void onReconnecting(int) override { ++*m_calls; }
    void onDisconnected(int) override { ++*m_calls; }
    void onDisconnected(int, const char *) override { ++*m_calls; }
    void onStatistics(const char *) override { ++*m_calls; }

private:
    std::shared_ptr<std::atomic<int>> m_calls;
};

} // namespace

class TestSwplayRobustness final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void nothingListening();
    void silentPeer();
    void garbageFromPhone_data();
    void garbageFromPhone();
    void badVideoThenDisconnect();
    void recoversFromSpoiledVideo();
    void ownerGoesAwayMidStream();
    void inputBeforeConnectionIsRefused();
    void protocolVersions();
    void versionOnePhoneTakesNoText();
};

void TestSwplayRobustness::initTestCase()
{
    SWRuntime::getInstance()->setTimeouts(1000, 600, 1500, 100);
}

void TestSwplayRobustness::nothingListening()
{
    quint16 port;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    TestStream s;
    s.start(port, "s", "PAD");
    QTRY_VERIFY_WITH_TIMEOUT(!s.view.last("disconnected").isEmpty(), 10000);
    QCOMPARE(s.view.events(), (QStringList{"reconnecting:1", "reconnecting:2", "reconnecting:3",
                                           QStringLiteral("disconnected:%1").arg(swp::kCodeConnectFailed)}));
}

void TestSwplayRobustness::silentPeer()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    TestStream s;
    s.start(silent.serverPort(), "s", "PAD");
    QTRY_VERIFY_WITH_TIMEOUT(!s.view.last("disconnected").isEmpty(), 10000);
    QCOMPARE(s.view.last("disconnected"), QStringLiteral("disconnected:%1").arg(swp::kCodeConnectionLost));
    QVERIFY(s.view.has("reconnecting:3"));
    QVERIFY(!s.view.has("connected"));
}

void TestSwplayRobustness::garbageFromPhone_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("waitForHello");
    QTest::newRow("noise at once") << noise(8192, 7) << false;
    QTest::newRow("noise after hello") << noise(8192, 8) << true;
    QTest::newRow("huge length") << QByteArray("\x7f\xff\xff\xff\x02", 5) << true;
    QTest::newRow("video before accept") << bytes(swp::encodeVideo(swp::Video{1, true, 720, 1280, "xx"})) << true;
    QTest::newRow("accept cut short") << acceptMessage().left(7) << true;
    QTest::newRow("malformed accept") << bytes(swp::Writer(swp::Type::Accept).u8(1).finish()) << true;
}

void TestSwplayRobustness::garbageFromPhone()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, waitForHello);
    FakePhone phone(reply, waitForHello);
    TestStream s;
    s.start(phone.port(), "s", "PAD");
    QTRY_VERIFY_WITH_TIMEOUT(!s.view.last("disconnected").isEmpty(), 10000);
    const QString end = s.view.last("disconnected");
    QVERIFY2(end == QStringLiteral("disconnected:%1").arg(swp::kCodeBadServer)
                 || end == QStringLiteral("disconnected:%1").arg(swp::kCodeConnectionLost),
             qPrintable(end));
    QCOMPARE(s.view.frames.load(), 0);
    QCOMPARE(phone.connections, 4);
}

void TestSwplayRobustness::badVideoThenDisconnect()
{
    // Accepted, then nothing but broken video, then a reason: the library
    // shows nothing, asks for key frames, and reports the reason.
    QByteArray reply = acceptMessage();
    reply += bytes(swp::encodeVideo(swp::Video{1, true, 720, 1280, noise(20000, 1).toStdString()}));
    reply += bytes(swp::Writer(swp::Type::Video).u32(5).finish()); // header cut short
    reply += bytes(swp::encodeVideo(swp::Video{2, true, 720, 1280, std::string("\0\0\0\1\x67", 5)}));
    reply += bytes(swp::encodeVideo(swp::Video{3, true, 65535, 65535, noise(5000, 2).toStdString()}));
    reply += bytes(swp::encodeVideo(swp::Video{4, false, 720, 1280, noise(3000, 3).toStdString()}));
    reply += bytes(swp::encodeReason(swp::Type::Disconnect, swp::Reason{196613, "kicked"}));
    FakePhone phone(reply, true);
    TestStream s;
    s.start(phone.port(), "s", "PAD");
    QTRY_VERIFY_WITH_TIMEOUT(!s.view.last("disconnected").isEmpty(), 10000);
    QCOMPARE(s.view.events(), (QStringList{"connected", "disconnected:196613:kicked"}));
    QCOMPARE(s.view.frames.load(), 0);
}

void TestSwplayRobustness::recoversFromSpoiledVideo()
{
    PhoneFarm farm;
    QVERIFY(farm.listen(QHostAddress::LocalHost, 0));
    farm.addPhone("PADR", "Robust");
    farm.authorizeSession("rs", "PADR", 42, 3600, "android");
    SpoilingProxy proxy(farm.port());
    proxy.spoil(2, 12);
    TestStream s;
    s.start(proxy.port(), "rs", "PADR");
    QTRY_VERIFY_WITH_TIMEOUT(s.view.frames > 0, 5000);
    // Drive the phone so it keeps sending pictures through the spoiled run.
    const int x = 600;
    const float pressure = 0.0f;
    for (int y = 300; proxy.videos < 14 && y < 1100; y += 20) {
        QCOMPARE(s.source->sendTouchEvent(0, 1, &x, &y, &pressure), 0);
        QTest::qWait(40);
    }
    QVERIFY(proxy.videos >= 14);
    const int before = s.view.frames;
    const int y = 1000;
    QCOMPARE(s.source->sendTouchEvent(0, 1, &x, &y, &pressure), 0);
    QTRY_VERIFY_WITH_TIMEOUT(s.view.frames > before, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(s.view.statistics().contains("\"errors\":") && !s.view.statistics().contains("\"errors\":0,"),
                             5000);
    QVERIFY(s.view.last("disconnected").isEmpty());
}

void TestSwplayRobustness::ownerGoesAwayMidStream()
{
    PhoneFarm farm;
    QVERIFY(farm.listen(QHostAddress::LocalHost, 0));
    farm.addPhone("PADO", "Owner");
    farm.authorizeSession("os", "PADO", 42, 3600, "android");
    auto calls = std::make_shared<std::atomic<int>>(0);
    auto view = std::make_unique<CountingView>(calls);
    auto player = std::make_shared<SWPlayer>();
    auto source = std::make_shared<SWDataSource>(player->getId(), view.get());
    source->setLoginParams("127.0.0.1", farm.port(), 42, "os", "PADO", 0);
    source->setPlayParams("", -1, 0, 0, 30, 30, 512, 0, -1, -1, 3, 1, 0);
    player->setDataSource(source);
    player->setDisplay(view.get());
    player->start();
    QTRY_VERIFY_WITH_TIMEOUT(*calls > 1, 5000);
    // The display and listener die first; the stream keeps running into
    // nothing until it is stopped: input still reaches the phone, but no
    // frame or notification (the reboot's boot screen, the dropped
    // connection) reaches the dead owner.
    view.reset();
    const int callsAtDeath = calls->load();
    int x = 100;
    float pressure = 0.0f;
    QCOMPARE(source->sendTouchEvent(0, 1, &x, &x, &pressure), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!farm.phoneState("PADO").value("touches").toArray().isEmpty(), 5000);
    farm.reboot("PADO");
    QTest::qWait(500);
    QCOMPARE(calls->load(), callsAtDeath);
    QCOMPARE(player->stop(), 0);
    player.reset();
    source.reset();
}

void TestSwplayRobustness::inputBeforeConnectionIsRefused()
{
    TestView view;
    auto player = std::make_shared<SWPlayer>();
    auto source = std::make_shared<SWDataSource>(player->getId(), &view);
    const int x = 1;
    const float pressure = 0.0f;
    QCOMPARE(source->sendTouchEvent(0, 1, &x, &x, &pressure), -1);
    QCOMPARE(source->sendTouchEvent(0, 0, &x, &x, &pressure), -2);
    QCOMPARE(source->sendTouchEvent(0, 1, nullptr, &x, &pressure), -2);
    QCOMPARE(source->sendKeyEvent(3, 29), -1);
    QCOMPARE(source->copyToRemote("a", 1), -1);
    QCOMPARE(source->copyToRemote(nullptr, 5), -2);
    // A data source made for another player is refused.
    SWPlayer other;
    QCOMPARE(other.setDataSource(source), -1);
    QCOMPARE(other.start(), -1);
}

QTEST_MAIN(TestSwplayRobustness)
#include "tst_swplay_robustness.moc"

void TestSwplayRobustness::protocolVersions()
{
    // A version-1 hello still decodes; one newer than this side is refused.
    for (uint16_t version : {uint16_t(1), uint16_t(2), uint16_t(3)}) {
        swp::Hello h;
        h.version = version;
        h.sessionId = "s";
        const std::string message = swp::encodeHello(h);
        swp::Hello back;
        QCOMPARE(swp::decodeHello(message.substr(5), back), version <= swp::kVersion);
        if (version <= swp::kVersion)
            QCOMPARE(int(back.version), int(version));
    }
    // A version-1 accept keeps its old layout; version 2 adds the field.
    swp::Accept a;
    a.screenWidth = 720;
    a.screenHeight = 1280;
    const std::string v1 = swp::encodeAccept(a);
    QCOMPARE(v1.size(), size_t(4 + 1 + 2 + 2 + 1 + 4 + 4));
    a.version = 2;
    const std::string v2 = swp::encodeAccept(a);
    QCOMPARE(v2.size(), v1.size() + 2);
    swp::Accept back;
    QVERIFY(swp::decodeAccept(v1.substr(5), back));
    QCOMPARE(int(back.version), 1);
    QVERIFY(swp::decodeAccept(v2.substr(5), back));
    QCOMPARE(int(back.version), 2);
}

void TestSwplayRobustness::versionOnePhoneTakesNoText()
{
    // A phone of the first version accepts without naming a version: text
    // is refused on this side rather than sent into the void; keys still go.
    FakePhone phone(acceptMessage(), true);
    TestStream s;
    s.start(phone.port(), "s", "PAD");
    QTRY_VERIFY_WITH_TIMEOUT(s.view.has("connected"), 10000);
    const QByteArray text = QStringLiteral("你好").toUtf8();
    QCOMPARE(s.source->sendText(text.constData(), text.size()), -3);
    QCOMPARE(s.source->sendKeyEvent(3, 29), 0);
}
