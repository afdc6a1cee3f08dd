// The local cloud's own rules, through plain HTTP against the real binary.

#include "tests/support/localcloud.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>
#include <QUrl>

#include <memory>

using TestSupport::LocalCloud;

namespace {

const QByteArray LoginFields = "appkey=7a3f19c2e4b8d6051f9e2c7d4a6b8e01&channel_code=qelvane_pc_official&platform=pc";

int codeOf(const LocalCloud::Reply &reply)
{
    return reply.json().value(QStringLiteral("code")).toInt(-1);
}

QString msgOf(const LocalCloud::Reply &reply)
{
    return reply.json().value(QStringLiteral("msg")).toString();
}

bool hasChinese(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x4e00 && c.unicode() <= 0x9fff)
            return true;
    }
    return false;
}

} // namespace

class TestLocalCloudApi final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void phoneListHasEveryKeyAndTheDemoPeriods();
    void codeRequestsAreRateLimited();
    void signInRefusals_data();
    void signInRefusals();
    void codesExpireAndMayBeResent();
    void unknownOrExpiredTokensAnswer100_data();
    void unknownOrExpiredTokensAnswer100();
    void flowTokenOpensASessionOfAnOwnPhone();
    void flowTokenRefusals_data();
    void flowTokenRefusals();
    void rebootAndResetRefuseAForeignSerialWhole_data();
    void rebootAndResetRefuseAForeignSerialWhole();
    void formBodiesAreDecoded();
    void versionAnnouncement();
    void restartKeepsUsersAndTokens();
    void agreementPages();
    void purchasePage_data();
    void purchasePage();
    void rentAndRenew();
    void addManyPhonesInOneCall_data();
    void addManyPhonesInOneCall();

private:
    QString phoneOf(const QString &token, int index);

    std::unique_ptr<LocalCloud> m_cloud;
    QString m_token; // the demo user's
    QString m_otherToken; // a second user with one phone
    QString m_otherSerial;
};

void TestLocalCloudApi::initTestCase()
{
    m_cloud = std::make_unique<LocalCloud>();
    QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
    m_token = m_cloud->signIn(LocalCloud::demoPhone());
    QVERIFY2(!m_token.isEmpty(), qPrintable(m_cloud->errorString()));
    m_otherSerial = m_cloud->addPhone(QStringLiteral("13900139000"), QStringLiteral("别人的云机"))
                        .value(QStringLiteral("server_sn"))
                        .toString();
    QVERIFY(!m_otherSerial.isEmpty());
    m_otherToken = m_cloud->signIn(QStringLiteral("13900139000"));
    QVERIFY2(!m_otherToken.isEmpty(), qPrintable(m_cloud->errorString()));
}

QString TestLocalCloudApi::phoneOf(const QString &token, int index)
{
    const QJsonArray list = m_cloud->apiPost(QStringLiteral("/vorl/v1/server/list"), "server_sn=", token)
                                .json()
                                .value(QStringLiteral("data"))
                                .toArray();
    return list.at(index).toObject().value(QStringLiteral("server_sn")).toString();
}

void TestLocalCloudApi::phoneListHasEveryKeyAndTheDemoPeriods()
{
    const LocalCloud::Reply first = m_cloud->apiPost(QStringLiteral("/vorl/v1/server/list"), "server_sn=", m_token);
    QCOMPARE(first.status, 200L);
    QCOMPARE(codeOf(first), 200);
    const QJsonArray phones = first.json().value(QStringLiteral("data")).toArray();
    QVERIFY(phones.size() >= 6 && phones.size() <= 8);

    const QStringList stringKeys{"server_sn", "server_title", "start_time", "end_time", "idc_sn", "order_sn"};
    const QStringList integerKeys{"op_status", "sid", "idc_id", "serid"};
    const QDateTime now = QDateTime::currentDateTime();
    int expired = 0;
    int withinTheHour = 0;
    int weeks = 0;
    for (const QJsonValue &value : phones) {
        const QJsonObject phone = value.toObject();
        for (const QString &key : stringKeys)
            QVERIFY2(phone.value(key).isString() && !phone.value(key).toString().isEmpty(), qPrintable(key));
        for (const QString &key : integerKeys)
            QVERIFY2(phone.value(key).isDouble(), qPrintable(key));
        const QDateTime start = QDateTime::fromString(phone.value("start_time").toString(), "yyyy-MM-dd HH:mm:ss");
        const QDateTime end = QDateTime::fromString(phone.value("end_time").toString(), "yyyy-MM-dd HH:mm:ss");
        QVERIFY(start.isValid() && end.isValid() && start < end);
        const qint64 left = now.secsTo(end);
        expired += left < 0;
        withinTheHour += left > 0 && left < 3600;
        weeks += left >= 7 * 86400;
    }
    QCOMPARE(expired, 1);
    QCOMPARE(withinTheHour, 1);
    QVERIFY(weeks >= 1);

    // The server's order is stable from one request to the next.
    const LocalCloud::Reply second = m_cloud->apiPost(QStringLiteral("/vorl/v1/server/list"), "server_sn=", m_token);
    QCOMPARE(second.json().value(QStringLiteral("data")), first.json().value(QStringLiteral("data")));
}

void TestLocalCloudApi::codeRequestsAreRateLimited()
{
    const QByteArray body = "act_type=yzm_login&phone=13700137000";
    const LocalCloud::Reply first = m_cloud->apiPost(QStringLiteral("/vorl/v1/send_msg"), body);
    QCOMPARE(codeOf(first), 200);
    const QString code = m_cloud->smsCode(QStringLiteral("13700137000"));
    QCOMPARE(code.size(), 6);
    QVERIFY(m_cloud->consoleLog().contains(code));

    const LocalCloud::Reply again = m_cloud->apiPost(QStringLiteral("/vorl/v1/send_msg"), body);
    QVERIFY(codeOf(again) != 200);
    QVERIFY2(hasChinese(msgOf(again)), qPrintable(msgOf(again)));
    // The refused request leaves the first code in force.
    QCOMPARE(m_cloud->smsCode(QStringLiteral("13700137000")), code);
}

void TestLocalCloudApi::signInRefusals_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("wrong code") << QByteArray(LoginFields + "&code=000000&phone=13600136000");
    QTest::newRow("no code sent") << QByteArray(LoginFields + "&code=123456&phone=13500135000");
    QTest::newRow("wrong appkey")
        << QByteArray("appkey=00&channel_code=qelvane_pc_official&code=CODE&phone=13600136000&platform=pc");
    QTest::newRow("wrong channel")
        << QByteArray("appkey=7a3f19c2e4b8d6051f9e2c7d4a6b8e01&channel_code=x&code=CODE&phone=13600136000&platform=pc");
}

void TestLocalCloudApi::signInRefusals()
{
    QFETCH(QByteArray, body);
    m_cloud->apiPost(QStringLiteral("/vorl/v1/send_msg"), "act_type=yzm_login&phone=13600136000");
    const QString code = m_cloud->smsCode(QStringLiteral("13600136000"));
    QVERIFY(!code.isEmpty());
    body.replace("CODE", code == QLatin1String("000000") ? "111111" : code.toLatin1());

    const LocalCloud::Reply reply = m_cloud->apiPost(QStringLiteral("/vorl/v1/login"), body);
    QCOMPARE(reply.status, 200L);
    QVERIFY(codeOf(reply) != 200 && codeOf(reply) != 100);
    QVERIFY2(hasChinese(msgOf(reply)), qPrintable(msgOf(reply)));
    QVERIFY(!reply.json().value(QStringLiteral("data")).toObject().contains(QStringLiteral("token")));
}

void TestLocalCloudApi::codesExpireAndMayBeResent()
{
    LocalCloud quick({QStringLiteral("--seed"), QStringLiteral("empty"), QStringLiteral("--code-ttl"),
                      QStringLiteral("1"), QStringLiteral("--resend-interval"), QStringLiteral("1")});
    QVERIFY2(quick.isReady(), qPrintable(quick.errorString()));
    const QByteArray send = "act_type=yzm_login&phone=13800138000";
    QCOMPARE(codeOf(quick.apiPost(QStringLiteral("/vorl/v1/send_msg"), send)), 200);
    const QString code = quick.smsCode(QStringLiteral("13800138000"));

    QTest::qWait(1500);
    const QByteArray login = LoginFields + "&code=" + code.toLatin1() + "&phone=13800138000";
    const LocalCloud::Reply late = quick.apiPost(QStringLiteral("/vorl/v1/login"), login);
    QVERIFY(codeOf(late) != 200);
    QVERIFY2(msgOf(late).contains(QStringLiteral("过期")), qPrintable(msgOf(late)));

    // Past the resend interval a new code comes, and it signs in, once.
    QCOMPARE(codeOf(quick.apiPost(QStringLiteral("/vorl/v1/send_msg"), send)), 200);
    const QByteArray fresh =
        LoginFields + "&code=" + quick.smsCode(QStringLiteral("13800138000")).toLatin1() + "&phone=13800138000";
    const LocalCloud::Reply signedIn = quick.apiPost(QStringLiteral("/vorl/v1/login"), fresh);
    QCOMPARE(codeOf(signedIn), 200);
    const QJsonObject data = signedIn.json().value(QStringLiteral("data")).toObject();
    for (const char *key : {"username", "token", "phone", "wss_token"})
        QVERIFY2(data.value(QLatin1String(key)).isString() && !data.value(QLatin1String(key)).toString().isEmpty(), key);
    QCOMPARE(data.value(QStringLiteral("phone")).toString(), QStringLiteral("13800138000"));
    QVERIFY(codeOf(quick.apiPost(QStringLiteral("/vorl/v1/login"), fresh)) != 200);
    QCOMPARE(quick.events(QStringLiteral("login")).last().toObject().value(QStringLiteral("new_user")).toBool(), false);
}

void TestLocalCloudApi::unknownOrExpiredTokensAnswer100_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("user"); // one each: a number gets one code a minute
    QTest::newRow("fetch_token") << QStringLiteral("/vorl/v1/res/fetch_token") << QByteArray()
                                 << QStringLiteral("13300133001");
    QTest::newRow("server/list") << QStringLiteral("/vorl/v1/server/list") << QByteArray("server_sn=")
                                 << QStringLiteral("13300133002");
    QTest::newRow("fetch_flow_token") << QStringLiteral("/vorl/v1/res/fetch_flow_token")
                                      << QByteArray("client_type=android&idle_time=36000&server_sn=X")
                                      << QStringLiteral("13300133003");
    QTest::newRow("restart") << QStringLiteral("/vorl/v1/res/restart_arm_server") << QByteArray("server_list=X")
                             << QStringLiteral("13300133004");
    QTest::newRow("reset") << QStringLiteral("/vorl/v1/res/reset_arm_server") << QByteArray("server_list=X")
                           << QStringLiteral("13300133005");
}

void TestLocalCloudApi::unknownOrExpiredTokensAnswer100()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(QString, user);
    const auto send = [&](const QString &token) {
        return body.isEmpty() ? m_cloud->apiGet(path, token) : m_cloud->apiPost(path, body, token);
    };
    QCOMPARE(codeOf(send(QString())), 100);
    QCOMPARE(codeOf(send(QStringLiteral("no-such-token"))), 100);

    const QString token = m_cloud->signIn(user);
    QVERIFY2(!token.isEmpty(), qPrintable(m_cloud->errorString()));
    QVERIFY(codeOf(send(token)) != 100);
    QVERIFY(m_cloud->expireTokenValue(token) >= 1);
    QCOMPARE(codeOf(send(token)), 100);
}

void TestLocalCloudApi::flowTokenOpensASessionOfAnOwnPhone()
{
    const QString serial = phoneOf(m_token, 0);
    const LocalCloud::Reply reply = m_cloud->apiPost(QStringLiteral("/vorl/v1/res/fetch_flow_token"),
                                                     "client_type=pc&idle_time=120&server_sn=" + serial.toUtf8(),
                                                     m_token);
    QCOMPARE(codeOf(reply), 200);
    const QJsonObject data = reply.json().value(QStringLiteral("data")).toObject();
    const QJsonObject resultInfo = data.value(QStringLiteral("resultInfo")).toObject();
    const QJsonObject control = resultInfo.value(QStringLiteral("controlList"))
                                    .toArray()
                                    .first()
                                    .toObject()
                                    .value(QStringLiteral("controlInfoList"))
                                    .toArray()
                                    .first()
                                    .toObject();
    QCOMPARE(control.value(QStringLiteral("controlIp")).toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(control.value(QStringLiteral("controlPort")).toInt(), int(m_cloud->farmPort()));
    QVERIFY(resultInfo.value(QStringLiteral("userId")).toInt() > 0);
    const QString sessionId = resultInfo.value(QStringLiteral("sessionId")).toString();
    QVERIFY(!sessionId.isEmpty());
    const QString padCode = data.value(QStringLiteral("padCode")).toString();
    QVERIFY(!padCode.isEmpty());

    // Every fetch opens a session of its own, with what the client asked for.
    const LocalCloud::Reply again = m_cloud->apiPost(QStringLiteral("/vorl/v1/res/fetch_flow_token"),
                                                     "client_type=android&idle_time=36000&server_sn=" + serial.toUtf8(),
                                                     m_token);
    QVERIFY(QJsonValue(again.json())["data"]["resultInfo"]["sessionId"].toString() != sessionId);
    const QJsonArray events = m_cloud->events(QStringLiteral("flow_token"));
    const QJsonObject event = events.at(events.size() - 2).toObject();
    QCOMPARE(event.value(QStringLiteral("sessionId")).toString(), sessionId);
    QCOMPARE(event.value(QStringLiteral("padCode")).toString(), padCode);
    QCOMPARE(event.value(QStringLiteral("clientType")).toString(), QStringLiteral("pc"));
    QCOMPARE(event.value(QStringLiteral("idleTime")).toInt(), 120);
    QCOMPARE(m_cloud->phoneState(serial).value(QStringLiteral("record")).toObject().value(QStringLiteral("padCode")),
             QJsonValue(padCode));
}

void TestLocalCloudApi::flowTokenRefusals_data()
{
    QTest::addColumn<QString>("which");
    QTest::newRow("another user's phone") << QStringLiteral("foreign");
    QTest::newRow("unknown serial") << QStringLiteral("unknown");
    QTest::newRow("expired phone") << QStringLiteral("expired");
    QTest::newRow("rental ended by the operator") << QStringLiteral("ended");
    QTest::newRow("idle time not a number") << QStringLiteral("badidle");
}

void TestLocalCloudApi::flowTokenRefusals()
{
    QFETCH(QString, which);
    QString serial;
    QByteArray idle = "36000";
    if (which == QLatin1String("foreign")) {
        serial = m_otherSerial;
    } else if (which == QLatin1String("unknown")) {
        serial = QStringLiteral("VS-NOPE");
    } else if (which == QLatin1String("expired")) {
        for (const QJsonValue &phone : m_cloud->phones()) {
            if (phone[QStringLiteral("expired")].toBool())
                serial = phone[QStringLiteral("server_sn")].toString();
        }
    } else if (which == QLatin1String("ended")) {
        serial = m_cloud->addPhone(LocalCloud::demoPhone(), QStringLiteral("临时")).value("server_sn").toString();
        QVERIFY(m_cloud->setEndTime(serial, QDateTime::currentDateTime().addSecs(-5)));
    } else {
        serial = phoneOf(m_token, 0);
        idle = "soon";
    }
    QVERIFY(!serial.isEmpty());
    const LocalCloud::Reply reply =
        m_cloud->apiPost(QStringLiteral("/vorl/v1/res/fetch_flow_token"),
                         "client_type=android&idle_time=" + idle + "&server_sn=" + serial.toUtf8(), m_token);
    QVERIFY(codeOf(reply) != 200 && codeOf(reply) != 100);
    QVERIFY2(hasChinese(msgOf(reply)), qPrintable(msgOf(reply)));
    QVERIFY(reply.json().value(QStringLiteral("data")).isNull());
}

void TestLocalCloudApi::rebootAndResetRefuseAForeignSerialWhole_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("event");
    QTest::newRow("reboot") << QStringLiteral("/vorl/v1/res/restart_arm_server") << QStringLiteral("reboot");
    QTest::newRow("reset") << QStringLiteral("/vorl/v1/res/reset_arm_server") << QStringLiteral("reset");
}

void TestLocalCloudApi::rebootAndResetRefuseAForeignSerialWhole()
{
    QFETCH(QString, path);
    QFETCH(QString, event);
    const QString a = phoneOf(m_token, 0);
    const QString b = phoneOf(m_token, 1);
    const QString c = phoneOf(m_token, 2);

    for (const QString &bad : {m_otherSerial, QStringLiteral("VS-NOPE"), QString()}) {
        const QByteArray list = (a + QLatin1Char(',') + bad + QLatin1Char(',') + b).toUtf8();
        const LocalCloud::Reply refused = m_cloud->apiPost(path, "server_list=" + list, m_token);
        QVERIFY2(codeOf(refused) != 200 && codeOf(refused) != 100, qPrintable(bad));
        const QJsonObject recorded = m_cloud->events(event).last().toObject();
        QVERIFY(recorded.value(QStringLiteral("code")).toInt() != 200);
        QVERIFY(!recorded.contains(QStringLiteral("padCodes")));
    }

    const LocalCloud::Reply accepted =
        m_cloud->apiPost(path, "server_list=" + (a + QLatin1Char(',') + b + QLatin1Char(',') + c).toUtf8(), m_token);
    QCOMPARE(codeOf(accepted), 200);
    const QJsonObject recorded = m_cloud->events(event).last().toObject();
    QCOMPARE(recorded.value(QStringLiteral("server_sns")).toArray(), QJsonArray({a, b, c}));
    QCOMPARE(recorded.value(QStringLiteral("padCodes")).toArray().size(), 3);
}

void TestLocalCloudApi::formBodiesAreDecoded()
{
    // What a careful client sends for the value "a+b&c=d 中文", then what a
    // careless one sends: a raw '+' is a blank.
    const QString value = QStringLiteral("a+b&c=d 中文");
    const QByteArray encoded = QUrl::toPercentEncoding(value);
    m_cloud->apiPost(QStringLiteral("/vorl/v1/login"), LoginFields + "&code=" + encoded + "&phone=13800138000");
    const QJsonObject fields = m_cloud->events(QStringLiteral("login")).last()[QStringLiteral("fields")].toObject();
    QCOMPARE(fields.value(QStringLiteral("code")).toString(), value);
    QCOMPARE(fields.value(QStringLiteral("channel_code")).toString(), QStringLiteral("qelvane_pc_official"));
    QCOMPARE(fields.size(), 5);

    const QJsonObject raw = m_cloud->lastRequests(1).first().toObject();
    QCOMPARE(raw.value(QStringLiteral("path")).toString(), QStringLiteral("/vorl/v1/login"));
    QCOMPARE(QByteArray::fromBase64(raw.value(QStringLiteral("body_base64")).toString().toLatin1()),
             QByteArray(LoginFields + "&code=" + encoded + "&phone=13800138000"));

    m_cloud->apiPost(QStringLiteral("/vorl/v1/send_msg"), "act_type=yzm_login&phone=+8613800138000");
    QCOMPARE(m_cloud->events(QStringLiteral("send_msg")).last()[QStringLiteral("fields")][QStringLiteral("phone")],
             QJsonValue(QStringLiteral(" 8613800138000")));
    QCOMPARE(m_cloud->lastRequests(1).first()[QStringLiteral("body")].toString(),
             QStringLiteral("act_type=yzm_login&phone=+8613800138000"));
}

void TestLocalCloudApi::versionAnnouncement()
{
    const auto ask = [this](const QByteArray &channel) {
        return m_cloud->apiPost(QStringLiteral("/vorl/v1/version_config"), "channel_code=" + channel);
    };
    const QJsonObject initial = ask("qelvane_pc_official").json().value(QStringLiteral("data")).toObject();
    QCOMPARE(initial.value(QStringLiteral("show_version")).toString(), QStringLiteral("1.1.0"));
    QVERIFY(initial.value(QStringLiteral("msg")).isString());
    QVERIFY(initial.value(QStringLiteral("download")).isString());

    QVERIFY(m_cloud->announceVersion(QStringLiteral("1.2.0"), QStringLiteral("<p>新版本</p>"),
                                     QStringLiteral("http://127.0.0.1/Tarvix-1.2.0.exe")));
    const QJsonObject announced = ask("qelvane_pc_official").json().value(QStringLiteral("data")).toObject();
    QCOMPARE(announced.value(QStringLiteral("show_version")).toString(), QStringLiteral("1.2.0"));
    QCOMPARE(announced.value(QStringLiteral("msg")).toString(), QStringLiteral("<p>新版本</p>"));
    QCOMPARE(announced.value(QStringLiteral("download")).toString(), QStringLiteral("http://127.0.0.1/Tarvix-1.2.0.exe"));
    QVERIFY(codeOf(ask("other")) != 200);
    QVERIFY(m_cloud->announceVersion(QStringLiteral("1.1.0"), QString(), QString()));
}

void TestLocalCloudApi::restartKeepsUsersAndTokens()
{
    const QString firstPhone = phoneOf(m_token, 0);
    QVERIFY(m_cloud->restart());
    QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
    // The token still works, the phones are the same, and the user isn't new.
    QCOMPARE(phoneOf(m_token, 0), firstPhone);
    QCOMPARE(codeOf(m_cloud->apiGet(QStringLiteral("/vorl/v1/res/fetch_token"), m_token)), 200);
    // The other variant of the token header works too.
    const LocalCloud::Reply bearer = LocalCloud::request(
        "POST", m_cloud->apiBase() + QStringLiteral("/vorl/v1/server/list"), "server_sn=",
        {"Content-Type:application/x-www-form-urlencoded", "Authorization:Bearer " + m_token.toUtf8()});
    QCOMPARE(codeOf(bearer), 200);
    const LocalCloud::Reply missing = m_cloud->apiPost(QStringLiteral("/vorl/v1/no_such_thing"), "");
    QCOMPARE(missing.status, 404L);
    QCOMPARE(codeOf(missing), 404);
}

void TestLocalCloudApi::agreementPages()
{
    for (const char *path : {"/user_agreement", "/privacy", "/disclaimer", "/delete_agreement"}) {
        const auto reply = TestSupport::LocalCloud::request("GET", m_cloud->apiBase() + QLatin1String(path), {}, {});
        QCOMPARE(reply.status, 200L);
        QVERIFY2(QString::fromUtf8(reply.body).contains(QStringLiteral("<h1>")), path);
    }
}

void TestLocalCloudApi::purchasePage_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<long>("status");
    QTest::addColumn<QString>("shows");
    QTest::addColumn<bool>("offers"); // plans and order buttons
    const QString client = QStringLiteral("appkey=7a3f19c2e4b8d6051f9e2c7d4a6b8e01&channel_code=qelvane_pc_official");
    QTest::newRow("signed in") << client + QStringLiteral("&phone=13800138000&token=%1&radom=7") << 200L
                               << QStringLiteral("测试机") << true;
    QTest::newRow("preselected") << client + QStringLiteral("&phone=13800138000&token=%1&radom=7&server_sn=VS20240005")
                                 << 200L << QStringLiteral("\"preselect\":\"VS20240005\"") << true;
    QTest::newRow("foreign phone not preselected")
        << client + QStringLiteral("&phone=13800138000&token=%1&radom=7&server_sn=%2") << 200L
        << QStringLiteral("\"preselect\":\"\"") << true;
    QTest::newRow("unknown token") << client + QStringLiteral("&phone=13800138000&token=nope&radom=7") << 401L
                                   << QStringLiteral("登录已失效") << false;
    QTest::newRow("no session") << client + QStringLiteral("&phone=&token=&radom=7") << 401L
                                << QStringLiteral("登录已失效") << false;
    QTest::newRow("token of another number") << client + QStringLiteral("&phone=13900139000&token=%1&radom=7") << 401L
                                             << QStringLiteral("登录已失效") << false;
    QTest::newRow("wrong appkey") << QStringLiteral("appkey=x&channel_code=qelvane_pc_official&phone=13800138000&token=%1")
                                  << 403L << QStringLiteral("无法识别的客户端") << false;
}

void TestLocalCloudApi::purchasePage()
{
    QFETCH(QString, query);
    QFETCH(long, status);
    QFETCH(QString, shows);
    QFETCH(bool, offers);
    QString filled = query.arg(m_token);
    if (filled.contains(QLatin1String("%2")))
        filled = query.arg(m_token, m_otherSerial);
    const auto reply = LocalCloud::request("GET", m_cloud->apiBase() + QStringLiteral("/pay?") + filled, {}, {});
    QCOMPARE(reply.status, status);
    const QString html = QString::fromUtf8(reply.body);
    QVERIFY2(html.contains(shows), qPrintable(html.left(400)));
    QCOMPARE(html.contains(QStringLiteral("立即租用")), offers);
    QCOMPARE(html.contains(QStringLiteral("id=\"plan-7\"")), offers);
}

void TestLocalCloudApi::rentAndRenew()
{
    const qint64 day = 24 * 3600;
    auto endOf = [](const QJsonObject &record) {
        return QDateTime::fromString(record.value(QStringLiteral("end_time")).toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    };
    auto data = [](const LocalCloud::Reply &reply) { return reply.json().value(QStringLiteral("data")).toObject(); };

    // Without a valid token nothing happens.
    QCOMPARE(codeOf(m_cloud->apiPost(QStringLiteral("/pay/api/rent"), "days=7")), 100);
    QCOMPARE(codeOf(m_cloud->apiPost(QStringLiteral("/pay/api/renew"), "days=1&server_sn=" + m_otherSerial.toUtf8(),
                                     QStringLiteral("nope"))),
             100);
    QCOMPARE(codeOf(m_cloud->apiPost(QStringLiteral("/pay/api/rent"), "days=2", m_otherToken)), 400);

    // A rental: a new phone of the user, running for the plan's days.
    const int before = m_cloud->phones().size();
    const LocalCloud::Reply rent = m_cloud->apiPost(QStringLiteral("/pay/api/rent"), "days=7", m_otherToken);
    QCOMPARE(codeOf(rent), 200);
    const QJsonObject rented = data(rent);
    QCOMPARE(m_cloud->phones().size(), before + 1);
    const QDateTime start = QDateTime::fromString(rented.value(QStringLiteral("start_time")).toString(),
                                                  QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QCOMPARE(start.secsTo(endOf(rented)), 7 * day);
    QCOMPARE(m_cloud->events(QStringLiteral("pay_rent")).last().toObject().value(QStringLiteral("user")).toString(),
             QStringLiteral("13900139000"));
    QCOMPARE(m_cloud->phoneState(rented.value(QStringLiteral("server_sn")).toString()).value(QStringLiteral("record")).toObject()
                 .value(QStringLiteral("server_sn")).toString(),
             rented.value(QStringLiteral("server_sn")).toString());

    // A renewal of a running phone adds to its end; of an ended one, counts from now.
    const QString running = rented.value(QStringLiteral("server_sn")).toString();
    const LocalCloud::Reply renewed = m_cloud->apiPost(QStringLiteral("/pay/api/renew"), "days=30&server_sn=" + running.toUtf8(), m_otherToken);
    QCOMPARE(codeOf(renewed), 200);
    QCOMPARE(endOf(rented).secsTo(endOf(data(renewed))), 30 * day);
    QVERIFY(m_cloud->setEndTime(m_otherSerial, QDateTime::currentDateTime().addDays(-3)));
    const LocalCloud::Reply revived = m_cloud->apiPost(QStringLiteral("/pay/api/renew"), "days=1&server_sn=" + m_otherSerial.toUtf8(), m_otherToken);
    QCOMPARE(codeOf(revived), 200);
    QVERIFY(qAbs(QDateTime::currentDateTime().secsTo(endOf(data(revived))) - day) < 60);
    QCOMPARE(data(revived).value(QStringLiteral("op_status")).toInt(), 1);

    // Someone else's phone is refused and left as it was.
    const LocalCloud::Reply foreign = m_cloud->apiPost(QStringLiteral("/pay/api/renew"), "days=1&server_sn=" + m_otherSerial.toUtf8(), m_token);
    QCOMPARE(codeOf(foreign), 403);
    QCOMPARE(m_cloud->phoneState(m_otherSerial).value(QStringLiteral("record")).toObject().value(QStringLiteral("end_time")),
             data(revived).value(QStringLiteral("end_time")));
}


void TestLocalCloudApi::addManyPhonesInOneCall_data()
{
    QTest::addColumn<QJsonValue>("count");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("three") << QJsonValue(3) << 200 << QStringList{"机-01", "机-02", "机-03"};
    QTest::newRow("as text") << QJsonValue("2") << 200 << QStringList{"机-01", "机-02"};
    QTest::newRow("width of the count") << QJsonValue(120) << 200 << QStringList{"机-001", "机-002"};
    QTest::newRow("zero") << QJsonValue(0) << 400 << QStringList();
    QTest::newRow("too many") << QJsonValue(1001) << 400 << QStringList();
    QTest::newRow("not a number") << QJsonValue("many") << 400 << QStringList();
}

// One admin call gives a user N phones, numbered so that the titles sort in
// the order the list answers with.
void TestLocalCloudApi::addManyPhonesInOneCall()
{
    QFETCH(QJsonValue, count);
    QFETCH(int, status);
    QFETCH(QStringList, titles);
    static int owners = 0;
    const QString owner = QStringLiteral("1370000%1").arg(++owners, 4, 10, QLatin1Char('0'));
    const int phonesBefore = m_cloud->phones().size();
    const LocalCloud::Reply reply = m_cloud->adminPost(
        QStringLiteral("/admin/phone/add"),
        QJsonObject{{QStringLiteral("phone"), owner}, {QStringLiteral("title"), QStringLiteral("机")}, {QStringLiteral("count"), count}});
    QCOMPARE(int(reply.status), status);
    if (status != 200) {
        QVERIFY(reply.json().contains(QStringLiteral("error")));
        QCOMPARE(m_cloud->phones().size(), phonesBefore);
        return;
    }
    const int n = count.isString() ? count.toString().toInt() : count.toInt();
    QCOMPARE(reply.json().value(QStringLiteral("count")).toInt(), n);
    const QJsonArray added = reply.json().value(QStringLiteral("phones")).toArray();
    QCOMPARE(added.size(), n);
    QCOMPARE(m_cloud->phones().size(), phonesBefore + n);

    const QString token = m_cloud->signIn(owner);
    QVERIFY2(!token.isEmpty(), qPrintable(m_cloud->errorString()));
    const QJsonArray list =
        m_cloud->apiPost(QStringLiteral("/vorl/v1/server/list"), "server_sn=", token).json().value(QStringLiteral("data")).toArray();
    QCOMPARE(list.size(), n);
    QStringList listed;
    for (int i = 0; i < list.size(); ++i) {
        const QJsonObject phone = list.at(i).toObject();
        QCOMPARE(phone.value(QStringLiteral("server_sn")), added.at(i).toObject().value(QStringLiteral("server_sn")));
        listed << phone.value(QStringLiteral("server_title")).toString();
    }
    QStringList sorted = listed;
    sorted.sort();
    QCOMPARE(listed, sorted);
    QCOMPARE(listed.mid(0, titles.size()), titles);
    // Each is a phone of the farm.
    const QString last = added.last().toObject().value(QStringLiteral("server_sn")).toString();
    QVERIFY(m_cloud->phoneState(last).contains(QStringLiteral("record")));
}

QTEST_GUILESS_MAIN(TestLocalCloudApi)
#include "tst_localcloud_api.moc"
