#include "app/appevent.h"
#include "api/utils.h"
#include "tests/api/rawhttpserver.h"
#include "tests/support/tempsettings.h"

#include <QApplication>
#include <QSettings>
#include <QtTest>

#include <memory>
#include <vector>

// The phone and account operations against a scripted server: the answers a
// real backend would rarely give, the remaining-time text and the hand-over
// of the expiry sign-out to the GUI thread.
class TestPhoneApi final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.isValid());
        m_server = std::make_unique<RawHttpServer>();
        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = QString::fromUtf8(m_server->baseUrl());
        Utils::overrideServiceBases(bases);
        QCOMPARE(Utils::instance()->apiBaseUrl(), bases.api);
    }

    void init()
    {
        AppEvent::instance()->setToken(QStringLiteral("token-1"));
        m_server->clearRequests();
    }

    void remainingTimeText_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("one day") << 86400 << QStringLiteral("剩余1天0小时");
        QTest::newRow("days and hours") << 3 * 86400 + 5 * 3600 + 59 << QStringLiteral("剩余3天5小时");
        QTest::newRow("just under a day") << 86399 << QStringLiteral("剩余23小时");
        QTest::newRow("one hour") << 3600 << QStringLiteral("剩余1小时");
        QTest::newRow("just under an hour") << 3599 << QStringLiteral("剩余59分钟");
        QTest::newRow("one minute") << 60 << QStringLiteral("剩余1分钟");
        QTest::newRow("59 s") << 59 << QStringLiteral("即将到期");
        QTest::newRow("zero") << 0 << QStringLiteral("即将到期");
        QTest::newRow("expired") << -5000 << QStringLiteral("即将到期");
    }

    void remainingTimeText()
    {
        QFETCH(int, seconds);
        QFETCH(QString, text);
        QCOMPARE(Utils::remainingTimeText(seconds), text);
    }

    // Whatever arrives, the operation fails with its failure value and
    // leaves the connection slot alone.
    void oddAnswersFailCleanly_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("not JSON") << QByteArray("<html>502</html>");
        QTest::newRow("JSON array") << QByteArray("[1,2]");
        QTest::newRow("code as text") << QByteArray("{\"code\":\"200\",\"data\":{}}");
        QTest::newRow("no code") << QByteArray("{\"msg\":\"x\"}");
        QTest::newRow("code 200, no data") << QByteArray("{\"code\":200}");
        QTest::newRow("controlList not an array")
            << QByteArray("{\"code\":200,\"data\":{\"resultInfo\":{\"controlList\":{}}}}");
        QTest::newRow("controlInfoList empty")
            << QByteArray("{\"code\":200,\"data\":{\"resultInfo\":{\"sessionId\":\"s\",\"controlList\":[{\"controlInfoList\":[]}]}}}");
    }

    void oddAnswersFailCleanly()
    {
        QFETCH(QByteArray, answer);
        ControlInfo before;
        before.controlIp = QStringLiteral("10.0.0.1");
        before.sessionId = QStringLiteral("old");
        before.controlPort = 9000;
        before.userId = 3;
        before.padCode = QStringLiteral("PAD");
        AppEvent::instance()->setControlInfo(before);

        m_server->setAnswer(200, answer);
        ControlInfo out;
        QVERIFY(!Utils::instance()->fetchControlInfo(QStringLiteral("S1"), &out));
        QVERIFY(!out.isComplete());
        const ControlInfo after = AppEvent::instance()->controlInfo();
        QCOMPARE(after.sessionId, before.sessionId);
        QCOMPARE(after.controlPort, before.controlPort);
        QVERIFY(!Utils::instance()->fetchToken());
    }

    void flowTokenTakesTheFirstElements()
    {
        m_server->setAnswer(200, R"({"code":200,"data":{"padCode":"PAD-9","resultInfo":{"sessionId":"sess-9","userId":41,
            "controlList":[{"controlInfoList":[{"controlIp":"127.0.0.9","controlPort":7001},{"controlIp":"x","controlPort":1}]},
                           {"controlInfoList":[{"controlIp":"y","controlPort":2}]}]}}})");
        ControlInfo out;
        QVERIFY(Utils::instance()->fetchControlInfo(QStringLiteral("S9"), &out));
        QCOMPARE(out.controlIp, QStringLiteral("127.0.0.9"));
        QCOMPARE(out.controlPort, 7001);
        QCOMPARE(out.sessionId, QStringLiteral("sess-9"));
        QCOMPARE(out.userId, 41);
        QCOMPARE(out.padCode, QStringLiteral("PAD-9"));
        QCOMPARE(AppEvent::instance()->controlIp(), QStringLiteral("127.0.0.9"));
        QCOMPARE(RawHttpServer::bodyOf(m_server->lastRequest()),
                 QByteArray("client_type=android&idle_time=36000&server_sn=S9"));
        QVERIFY(m_server->lastRequest().contains("\r\nX-Token:Bearer token-1\r\n"));
    }

    void emptyOrderSendsNothing()
    {
        QVERIFY(!Utils::instance()->restartArmServer({}));
        QVERIFY(!Utils::instance()->resetArmServer({}));
        QVERIFY(m_server->requests().isEmpty());
    }

    // An expiry seen on a worker thread signs out on the GUI thread, once
    // for each expired answer.
    void expiryOnWorkerThreadSignsOutOnGuiThread()
    {
        QSettings *settings = Utils::instance()->settings();
        settings->setValue(QStringLiteral("user/token"), QStringLiteral("token-1"));
        settings->setValue(QStringLiteral("login/autologin"), true);
        settings->sync();

        QList<QThread *> emittedOn;
        auto connection = connect(AppEvent::instance(), &AppEvent::sessionExpired, this,
                                  [&emittedOn] { emittedOn << QThread::currentThread(); }, Qt::DirectConnection);
        m_server->setAnswer(200, "{\"code\":100,\"msg\":\"登录已过期\"}");
        bool result = true;
        std::unique_ptr<QThread> worker(QThread::create([&result] {
            ControlInfo out;
            result = Utils::instance()->fetchControlInfo(QStringLiteral("S1"), &out);
        }));
        worker->start();
        QVERIFY(worker->wait(10000));
        QVERIFY(!result);
        QTRY_COMPARE(emittedOn.size(), 1);
        QCOMPARE(emittedOn.first(), qApp->thread());
        QVERIFY(AppEvent::instance()->token().isEmpty());
        QVERIFY(!settings->contains(QStringLiteral("user/token")));
        QVERIFY(settings->value(QStringLiteral("login/autologin")).toBool());

        // A second expired answer signs out again, once more.
        AppEvent::instance()->setToken(QStringLiteral("token-2"));
        QVERIFY(Utils::instance()->serverList().isEmpty());
        QCOMPARE(emittedOn.size(), 2);
        QTest::qWait(50);
        QCOMPARE(emittedOn.size(), 2);
        disconnect(connection);
    }

    // A sign-in that stored nothing is never a success, whatever the server
    // left out of its answer.
    void refusalWithoutMessageIsAFailure_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("shown");
        QTest::newRow("refused, empty msg") << QByteArray("{\"code\":500,\"msg\":\"\"}") << QStringLiteral("登录失败");
        QTest::newRow("refused, no msg") << QByteArray("{\"code\":403}") << QStringLiteral("登录失败");
        QTest::newRow("accepted, no token")
            << QByteArray("{\"code\":200,\"msg\":\"\",\"data\":{\"phone\":\"1\"}}") << QStringLiteral("登录失败");
        QTest::newRow("refused, with msg") << QByteArray("{\"code\":500,\"msg\":\"验证码错误\"}")
                                           << QStringLiteral("验证码错误");
    }

    void refusalWithoutMessageIsAFailure()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, shown);
        AppEvent::instance()->setToken(QStringLiteral("before"));
        m_server->setAnswer(200, answer);
        QCOMPARE(Utils::instance()->login(QStringLiteral("13800138000"), QStringLiteral("123456")), shown);
        QCOMPARE(AppEvent::instance()->token(), QStringLiteral("before"));
    }

    // A code-100 answer to a request that left with an earlier session's
    // token arrives after a new sign-in: the new session stays.
    void lateExpiryOfAnEarlierSessionSignsOutNobody()
    {
        AppEvent::instance()->setToken(QStringLiteral("old-session"));
        m_server->setAnswer(200, "{\"code\":100,\"msg\":\"登录已过期\"}");
        m_server->setHolding(true);
        m_server->clearRequests();
        int expiries = 0;
        auto connection = connect(AppEvent::instance(), &AppEvent::sessionExpired, this, [&expiries] { ++expiries; });
        bool result = true;
        std::unique_ptr<QThread> worker(QThread::create([&result] {
            ControlInfo out;
            result = Utils::instance()->fetchControlInfo(QStringLiteral("S1"), &out);
        }));
        worker->start();
        QTRY_COMPARE(m_server->requests().size(), 1);
        QVERIFY(m_server->lastRequest().contains("X-Token:Bearer old-session"));

        AppEvent::instance()->setToken(QStringLiteral("new-session"));
        m_server->setHolding(false);
        m_server->releaseHeld();
        QVERIFY(worker->wait(10000));
        QVERIFY(!result);
        QTest::qWait(100);
        QCOMPARE(expiries, 0);
        QCOMPARE(AppEvent::instance()->token(), QStringLiteral("new-session"));

        // The same answer to the current session's request does sign out.
        QVERIFY(Utils::instance()->serverList().isEmpty());
        QCOMPARE(expiries, 1);
        QVERIFY(AppEvent::instance()->token().isEmpty());
        disconnect(connection);
    }

    // A server that takes the request and never answers: each operation
    // gives up within the request bound and takes its network-failure
    // result (run side by side, so the suite waits for one bound only).
    void timedOutRequestsFailLikeTheNetwork()
    {
        m_server->setSilent(true);
        QString signIn;
        bool codeSent = true;
        QString list = QStringLiteral("unset");
        bool flow = true;
        std::vector<std::unique_ptr<QThread>> calls;
        calls.emplace_back(QThread::create(
            [&] { signIn = Utils::instance()->login(QStringLiteral("13800138000"), QStringLiteral("123456")); }));
        calls.emplace_back(QThread::create([&] { codeSent = Utils::instance()->sendMsg(QStringLiteral("13800138000")); }));
        calls.emplace_back(QThread::create([&] { list = Utils::instance()->serverList(); }));
        calls.emplace_back(QThread::create([&] { flow = Utils::instance()->fetchFlowToken(QStringLiteral("S1")); }));
        for (auto &call : calls)
            call->start();
        for (auto &call : calls)
            QVERIFY(call->wait(30000));
        m_server->setSilent(false);
        QCOMPARE(signIn, QStringLiteral("网络异常"));
        QVERIFY(!codeSent);
        QCOMPARE(list, QString());
        QVERIFY(!flow);
        QCOMPARE(m_server->requests().size(), 4);
        QCOMPARE(AppEvent::instance()->token(), QStringLiteral("token-1"));
    }

    // Nobody is signed in yet while signing in: a 100 there is a refusal.
    void signInAnsweredWith100IsOnlyARefusal()
    {
        int expiries = 0;
        auto connection = connect(AppEvent::instance(), &AppEvent::sessionExpired, this, [&expiries] { ++expiries; });
        m_server->setAnswer(200, "{\"code\":100,\"msg\":\"账号已冻结\"}");
        QCOMPARE(Utils::instance()->login(QStringLiteral("13800138000"), QStringLiteral("123456")),
                 QStringLiteral("账号已冻结"));
        QTest::qWait(50);
        QCOMPARE(expiries, 0);
        QCOMPARE(AppEvent::instance()->token(), QStringLiteral("token-1"));
        disconnect(connection);
    }

private:
    TestSupport::TempSettings m_settings;
    std::unique_ptr<RawHttpServer> m_server;
};

QTEST_MAIN(TestPhoneApi)
#include "tst_phoneapi.moc"
