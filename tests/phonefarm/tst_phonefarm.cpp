// The phone farm against clients that misbehave, and its admin view of a phone.

#include "localcloud/phonefarm/phonefarm.h"
#include "platform/swplay/swprotocol.h"
#include "tests/swplay/testview.h"

#include <QJsonArray>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kPad = QStringLiteral("PADF001");

QByteArray bytes(const std::string &s)
{
    return QByteArray(s.data(), int(s.size()));
}

swp::Hello helloFor(const QString &session)
{
    swp::Hello h;
    h.userId = 7;
    h.sessionId = session.toStdString();
    h.padCode = kPad.toStdString();
    h.play = {-1, 0, 0, 30, 30, 512, 0, -1, -1, 3, 1, 0};
    for (const VideoLevel &l : standardLevels()) {
        swp::LevelFields f;
        std::memcpy(f.data(), &l, sizeof l);
        h.levels.push_back(f);
    }
    h.level = 4;
    return h;
}

// Reads messages until one of the given type arrives (or the time is up).
bool waitFor(QTcpSocket &socket, swp::Deframer &deframer, swp::Type wanted, std::string &body, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        swp::Type type;
        for (;;) {
            const auto r = deframer.next(type, body);
            if (r != swp::Deframer::Result::Message)
                break;
            if (type == wanted)
                return true;
        }
        if (!socket.waitForReadyRead(200) && socket.state() != QAbstractSocket::ConnectedState)
            return false;
        const QByteArray data = socket.readAll();
        deframer.append(data.constData(), size_t(data.size()));
    }
    return false;
}

} // namespace

class TestPhoneFarm final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void garbageInsteadOfHello_data();
    void garbageInsteadOfHello();
    void malformedInputEndsSession();
    void silentClientsDoNotBlockOthers();
    void connectAndDropFlood();
    void storageAppsAndReset();
    void unknownPhone();
    void idleScreenIsNotEncoded();

private:
    QString authorize();
    void verifyServesStream();

    std::unique_ptr<PhoneFarm> m_farm;
    int m_sessions = 0;
};

void TestPhoneFarm::initTestCase()
{
    m_farm = std::make_unique<PhoneFarm>();
    QVERIFY(m_farm->listen(QHostAddress::LocalHost, 0));
    m_farm->addPhone(kPad, QStringLiteral("Farm test"));
    m_farm->setBootMillis(300);
}

QString TestPhoneFarm::authorize()
{
    const QString id = QStringLiteral("farm-session-%1").arg(++m_sessions);
    m_farm->authorizeSession(id, kPad, 7, 3600, QStringLiteral("android"));
    return id;
}

void TestPhoneFarm::verifyServesStream()
{
    TestStream s;
    s.start(m_farm->port(), authorize().toLatin1(), kPad.toLatin1(), 7);
    QTRY_VERIFY_WITH_TIMEOUT(s.view.frames > 0, 5000);
}

void TestPhoneFarm::garbageInsteadOfHello_data()
{
    QTest::addColumn<QByteArray>("data");
    QByteArray noise(4096, '\0');
    QRandomGenerator rng(1234);
    for (char &c : noise)
        c = char(rng.bounded(256));
    const QByteArray hello = bytes(swp::encodeHello(helloFor(QStringLiteral("x"))));
    QByteArray wrongMagic = hello;
    wrongMagic[5] = 'X';
    QByteArray cut = hello.left(hello.size() - 9);
    const quint32 shorter = quint32(cut.size() - 4);
    cut[0] = char(shorter >> 24);
    cut[1] = char(shorter >> 16);
    cut[2] = char(shorter >> 8);
    cut[3] = char(shorter);
    QTest::newRow("random bytes") << noise;
    QTest::newRow("huge length") << QByteArray("\xff\xff\xff\xff\x01", 5);
    QTest::newRow("zero length") << QByteArray("\0\0\0\0", 4);
    QTest::newRow("wrong magic") << wrongMagic;
    QTest::newRow("truncated hello") << cut;
    QTest::newRow("touch before hello") << bytes(swp::encodeKey(3, 29));
    QTest::newRow("http request") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
}

void TestPhoneFarm::garbageInsteadOfHello()
{
    QFETCH(QByteArray, data);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_farm->port());
    QVERIFY(socket.waitForConnected(3000));
    socket.write(data);
    QVERIFY(socket.waitForBytesWritten(3000));
    // The farm hangs up (at the latest when the hello time is over) and never
    // accepts the connection.
    swp::Deframer deframer;
    std::string body;
    QVERIFY(!waitFor(socket, deframer, swp::Type::Accept, body, 7000));
    QCOMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    verifyServesStream();
}

void TestPhoneFarm::malformedInputEndsSession()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_farm->port());
    QVERIFY(socket.waitForConnected(3000));
    socket.write(bytes(swp::encodeHello(helloFor(authorize()))));
    swp::Deframer deframer;
    std::string body;
    QVERIFY(waitFor(socket, deframer, swp::Type::Accept, body));
    // A touch with no pointer.
    socket.write(QByteArray("\0\0\0\x06\x20\0\0\0\0\0", 10));
    QVERIFY(waitFor(socket, deframer, swp::Type::Disconnect, body));
    swp::Reason reason;
    QVERIFY(swp::decodeReason(body, reason));
    QCOMPARE(reason.code, swp::kCodeProtocol);
    verifyServesStream();
}

void TestPhoneFarm::silentClientsDoNotBlockOthers()
{
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    for (int i = 0; i < 20; ++i) {
        silent.push_back(std::make_unique<QTcpSocket>());
        silent.back()->connectToHost(QHostAddress::LocalHost, m_farm->port());
        QVERIFY(silent.back()->waitForConnected(3000));
    }
    verifyServesStream();
    // They are hung up on once the hello time is over.
    QTRY_VERIFY_WITH_TIMEOUT(silent.back()->state() == QAbstractSocket::UnconnectedState, 8000);
}

void TestPhoneFarm::connectAndDropFlood()
{
    // Plain non-blocking sockets, many in flight: a connect now and then
    // waits for a SYN retransmission here, and those waits should overlap.
    constexpr int kTotal = 2000;
    constexpr int kInFlight = 64;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_farm->port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<pollfd> flight;
    int started = 0;
    int connected = 0;
    QElapsedTimer clock;
    clock.start();
    while ((started < kTotal || !flight.empty()) && clock.elapsed() < 120000) {
        while (started < kTotal && int(flight.size()) < kInFlight) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            QVERIFY(fd >= 0);
            ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
            flight.push_back(pollfd{fd, POLLOUT, 0});
            ++started;
        }
        ::poll(flight.data(), flight.size(), 100);
        for (auto it = flight.begin(); it != flight.end();) {
            if (it->revents) {
                int error = 0;
                socklen_t len = sizeof error;
                ::getsockopt(it->fd, SOL_SOCKET, SO_ERROR, &error, &len);
                if (error == 0) {
                    ++connected;
                    if (connected % 2)
                        ::send(it->fd, "\0\0\0\x40\x01SWP1", 9, MSG_NOSIGNAL); // half a hello
                }
                ::close(it->fd);
                it = flight.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const pollfd &p : flight)
        ::close(p.fd);
    QCOMPARE(started, kTotal);
    QVERIFY2(connected > kTotal * 9 / 10, qPrintable(QString::number(connected)));
    verifyServesStream();
}

void TestPhoneFarm::storageAppsAndReset()
{
    m_farm->pushFile(kPad, QStringLiteral("/sdcard/Download/notes.txt"), QByteArray("hello"));
    m_farm->installApp(kPad, QStringLiteral("com.example.game"), QStringLiteral("Game"));
    QJsonObject state = m_farm->phoneState(kPad);
    const QJsonObject file = state.value("files").toArray().at(0).toObject();
    QCOMPARE(file.value("path").toString(), QStringLiteral("/sdcard/Download/notes.txt"));
    QCOMPARE(file.value("size").toInt(), 5);
    QCOMPARE(file.value("md5").toString(), QStringLiteral("5d41402abc4b2a76b9719d911017c592"));
    QCOMPARE(state.value("apps").toArray().at(0).toObject().value("label").toString(), QStringLiteral("Game"));

    m_farm->reboot(kPad);
    QVERIFY(m_farm->phoneState(kPad).value("booting").toBool());
    QTRY_VERIFY(!m_farm->phoneState(kPad).value("booting").toBool());
    QCOMPARE(m_farm->phoneState(kPad).value("files").toArray().size(), 1);

    m_farm->reset(kPad);
    state = m_farm->phoneState(kPad);
    QVERIFY(state.value("files").toArray().isEmpty());
    QVERIFY(state.value("apps").toArray().isEmpty());
    QTRY_VERIFY(!m_farm->phoneState(kPad).value("booting").toBool());
}

void TestPhoneFarm::unknownPhone()
{
    QVERIFY(m_farm->phoneState(QStringLiteral("NOPE")).isEmpty());
    m_farm->kick(QStringLiteral("NOPE"));
    m_farm->reboot(QStringLiteral("NOPE"));
    m_farm->pushFile(QStringLiteral("NOPE"), QStringLiteral("a"), QByteArray("b"));
    verifyServesStream();
}

// A phone without a session draws and encodes nothing; a session on a
// screen that does not change gets its key frame at once and then repeats of
// it that are not encoded, and they decode to the same picture. Idle long
// enough, the session lets its encoder go and starts a new one on a change.
void TestPhoneFarm::idleScreenIsNotEncoded()
{
    // The status bar clock changes the screen once a minute: stay clear of it.
    if (QTime::currentTime().second() >= 35)
        QTest::qWait((61 - QTime::currentTime().second()) * 1000);
    const QString pad = QStringLiteral("PADF002");
    m_farm->addPhone(pad, QStringLiteral("Idle"));
    QTest::qWait(1500);
    QCOMPARE(m_farm->phoneState(pad).value("encodes").toInt(), 0);
    QCOMPARE(m_farm->phoneState(pad).value("renders").toInt(), 0);

    const QString session = QStringLiteral("idle-session");
    m_farm->authorizeSession(session, pad, 7, 3600, QStringLiteral("android"));
    {
        TestStream s;
        s.start(m_farm->port(), session.toLatin1(), pad.toLatin1(), 7, 30, 1);
        QTRY_VERIFY_WITH_TIMEOUT(s.view.frames >= 1, 5000);
        const QImage first = s.view.lastFrame();
        QTRY_VERIFY_WITH_TIMEOUT(s.view.frames >= 4, 8000);
        QCOMPARE(s.view.lastFrame(), first);
        const QJsonObject state = m_farm->phoneState(pad);
        QCOMPARE(state.value("encodes").toInt(), 1);
        QCOMPARE(state.value("renders").toInt(), 1);
        const QJsonObject info = state.value("sessions").toArray().at(0).toObject();
        QCOMPARE(info.value("encodes").toInt(), 1);
        QVERIFY(info.value("framesSent").toInt() >= 4);
        QTRY_VERIFY_WITH_TIMEOUT(s.view.statistics().contains("\"decoded\""), 8000);
        QVERIFY2(s.view.statistics().contains("\"errors\":0,"), qPrintable(s.view.statistics()));

        // Left alone, the session gives its encoder back; a change starts a
        // new one, and its pictures and the repeats after them decode cleanly.
        auto sessionInfo = [&] { return m_farm->phoneState(pad).value("sessions").toArray().at(0).toObject(); };
        QTRY_VERIFY_WITH_TIMEOUT(sessionInfo().value("encoderSuspended").toBool(), 8000);
        int x = 360, y = 700;
        float pressure = 0.0f;
        QCOMPARE(s.source->sendTouchEvent(0, 1, &x, &y, &pressure), 0);
        QTRY_VERIFY(sessionInfo().value("encodes").toInt() >= 2);
        QVERIFY(!sessionInfo().value("encoderSuspended").toBool());
        QCOMPARE(s.source->sendTouchEvent(1, 1, &x, &y, &pressure), 0);
        // The touch mark goes after a moment; then the screen is idle again.
        QTest::qWait(600);
        const int encodes = sessionInfo().value("encodes").toInt();
        int frames = s.view.frames;
        QTRY_VERIFY_WITH_TIMEOUT(s.view.frames > frames, 5000);
        const QImage settled = s.view.lastFrame();
        frames = s.view.frames;
        QTRY_VERIFY_WITH_TIMEOUT(s.view.frames >= frames + 2, 5000);
        QCOMPARE(sessionInfo().value("encodes").toInt(), encodes);
        QCOMPARE(s.view.lastFrame(), settled);
        QTest::qWait(2100); // a statistics period with the repeats in it
        QVERIFY2(s.view.statistics().contains("\"errors\":0,"), qPrintable(s.view.statistics()));
    }
    QTRY_COMPARE(m_farm->phoneState(pad).value("sessions").toArray().size(), 0);
    const int encodes = m_farm->phoneState(pad).value("encodes").toInt();
    QTest::qWait(1500);
    QCOMPARE(m_farm->phoneState(pad).value("encodes").toInt(), encodes);
}

QTEST_MAIN(TestPhoneFarm)
#include "tst_phonefarm.moc"
