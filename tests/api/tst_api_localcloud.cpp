#include "api/phonerecord.h"
#include "app/appevent.h"
#include "api/utils.h"
#include "tests/support/localcloud.h"
#include "tests/support/tempsettings.h"

#include <QApplication>
#include <QJsonDocument>
#include <QSettings>
#include <QtTest>

#include <atomic>
#include <memory>

// The client's own account and phone operations over real HTTP against a
// local cloud that behaves like the operator's backend.
class TestApiLocalCloud final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.isValid());
        m_cloud = std::make_unique<TestSupport::LocalCloud>();
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = m_cloud->apiBase();
        Utils::overrideServiceBases(bases);
        QCoreApplication::setApplicationVersion(QStringLiteral("1.1.0"));
        QCOMPARE(Utils::instance()->apiBaseUrl(), bases.api);
        connect(AppEvent::instance(), &AppEvent::sessionExpired, this, [this] { ++m_expiries; });
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            qWarning().noquote() << m_cloud->consoleLog().right(4000);
    }

    void codeRequestAndRefusalWithinAMinute()
    {
        const QString phone = freshNumber();
        QVERIFY(Utils::instance()->sendMsg(phone));
        QVERIFY(!m_cloud->smsCode(phone).isEmpty());
        QVERIFY(!Utils::instance()->sendMsg(phone));
        const QJsonObject refusal = lastEvent(QStringLiteral("send_msg"));
        QVERIFY(refusal.value(QStringLiteral("code")).toInt() != 200);
        QVERIFY2(refusal.value(QStringLiteral("msg")).toString().contains(QStringLiteral("频繁")),
                 qPrintable(refusal.value(QStringLiteral("msg")).toString()));
    }

    void signInStoresTheSession()
    {
        Utils::instance()->signOut();
        const QString phone = TestSupport::LocalCloud::demoPhone();
        QVERIFY(Utils::instance()->sendMsg(phone));
        QCOMPARE(Utils::instance()->login(phone, m_cloud->smsCode(phone)), QString());

        const AppEvent *event = AppEvent::instance();
        QCOMPARE(event->phone(), phone);
        QVERIFY(!event->token().isEmpty());
        QVERIFY(!event->wssToken().isEmpty());
        QVERIFY(!event->userName().isEmpty());

        QSettings file(m_settings.settingsFile(), QSettings::IniFormat);
        QCOMPARE(file.value(QStringLiteral("user/phone")).toString(), phone);
        QCOMPARE(file.value(QStringLiteral("user/username")).toString(), event->userName());
        QCOMPARE(file.value(QStringLiteral("user/token")).toString(), event->token());
        QCOMPARE(file.value(QStringLiteral("user/wss_token")).toString(), event->wssToken());
        m_demoToken = event->token();
    }

    void wrongCodeStoresNothing()
    {
        const QString phone = freshNumber();
        QVERIFY(Utils::instance()->sendMsg(phone));
        QString wrong = m_cloud->smsCode(phone);
        wrong[0] = wrong.at(0) == QLatin1Char('1') ? QLatin1Char('2') : QLatin1Char('1');

        const QString tokenBefore = AppEvent::instance()->token();
        const QByteArray fileBefore = settingsFileBytes();
        const QString message = Utils::instance()->login(phone, wrong);
        QCOMPARE(message, lastEvent(QStringLiteral("login")).value(QStringLiteral("msg")).toString());
        QVERIFY(!message.isEmpty());
        QVERIFY(message.contains(QStringLiteral("验证码")));
        QCOMPARE(AppEvent::instance()->token(), tokenBefore);
        QCOMPARE(settingsFileBytes(), fileBefore);
    }

    void versionCheck_data()
    {
        QTest::addColumn<QString>("announced");
        QTest::addColumn<bool>("newer");
        QTest::newRow("same version") << QStringLiteral("1.1.0") << false;
        QTest::newRow("newer") << QStringLiteral("1.2.0") << true;
        QTest::newRow("older also counts") << QStringLiteral("1.0.9") << true;
        QTest::newRow("none") << QString() << false;
    }

    void versionCheck()
    {
        QFETCH(QString, announced);
        QFETCH(bool, newer);
        const QString notes = QStringLiteral("<p>修复了若干问题 & 改进</p>");
        const QString download = QStringLiteral("http://127.0.0.1/Tarvix-%1.exe").arg(announced);
        QVERIFY(m_cloud->announceVersion(announced, notes, download));
        QCOMPARE(Utils::instance()->versionConfig(), newer);
        QCOMPARE(AppEvent::instance()->showVersion(), announced);
        QCOMPARE(AppEvent::instance()->versionMsg(), notes);
        QCOMPARE(AppEvent::instance()->downloadUrl(), download);
    }

    void consoleToken()
    {
        AppEvent::instance()->setConsoleToken(QString());
        QVERIFY(Utils::instance()->fetchToken());
        QVERIFY(!AppEvent::instance()->consoleToken().isEmpty());
        QCOMPARE(lastEvent(QStringLiteral("fetch_token")).value(QStringLiteral("code")).toInt(), 200);
    }

    void phoneList()
    {
        const QString text = Utils::instance()->serverList();
        QVERIFY(!text.isEmpty());
        const QVector<PhoneRecord> records = PhoneRecord::listFromAnswer(text.toUtf8());
        const QJsonArray owned = demoPhones();
        QCOMPARE(records.size(), owned.size());
        QVERIFY(records.size() >= 6);
        for (const PhoneRecord &record : records) {
            QVERIFY(!record.serverSn.isEmpty());
            QVERIFY(!record.serverTitle.isEmpty());
            QVERIFY(QDateTime::fromString(record.endTime, QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid());
        }
    }

    void emptyPhoneListIsASuccess()
    {
        const QString demoToken = AppEvent::instance()->token();
        signInClient(freshNumber());
        const QString text = Utils::instance()->serverList();
        QVERIFY(!text.isEmpty());
        QVERIFY(PhoneRecord::listFromAnswer(text.toUtf8()).isEmpty());
        AppEvent::instance()->setToken(demoToken);
    }

    void flowTokenFillsControlInfo()
    {
        const QJsonArray usable = usablePhones();
        QVERIFY(!usable.isEmpty());
        const QJsonObject phone = usable.first().toObject();
        QVERIFY(!phone.isEmpty());
        const qint64 after = lastEventId();
        QVERIFY(Utils::instance()->fetchFlowToken(phone.value(QStringLiteral("server_sn")).toString()));

        const ControlInfo info = AppEvent::instance()->controlInfo();
        QVERIFY(info.isComplete());
        QCOMPARE(info.padCode, phone.value(QStringLiteral("padCode")).toString());
        QCOMPARE(info.controlPort, int(m_cloud->farmPort()));
        const QJsonArray issued = m_cloud->events(QStringLiteral("flow_token"), after);
        QCOMPARE(issued.size(), 1);
        QCOMPARE(info.sessionId, issued.first().toObject().value(QStringLiteral("sessionId")).toString());
        QCOMPARE(info.userId, issued.first().toObject().value(QStringLiteral("userId")).toInt());
    }

    void refusedFlowTokenLeavesControlInfo()
    {
        const ControlInfo before = AppEvent::instance()->controlInfo();
        QVERIFY(before.isComplete());
        QString expired;
        for (const QJsonValue &v : demoPhones()) {
            if (v.toObject().value(QStringLiteral("expired")).toBool())
                expired = v.toObject().value(QStringLiteral("server_sn")).toString();
        }
        QVERIFY(!expired.isEmpty());
        QVERIFY(!Utils::instance()->fetchFlowToken(expired));
        QVERIFY(!Utils::instance()->fetchFlowToken(QStringLiteral("NOT-MINE")));
        QCOMPARE(AppEvent::instance()->controlInfo().sessionId, before.sessionId);
        QCOMPARE(AppEvent::instance()->controlInfo().padCode, before.padCode);
    }

    void rebootOfThreePhonesIsOneRequest()
    {
        const QJsonArray phones = demoPhones();
        QVERIFY(phones.size() >= 3);
        QStringList serials;
        for (int i = 0; i < 3; ++i)
            serials << phones.at(i).toObject().value(QStringLiteral("server_sn")).toString();
        const qint64 after = lastEventId();
        QVERIFY(Utils::instance()->restartArmServer(serials));

        const QJsonArray orders = m_cloud->events(QStringLiteral("reboot"), after);
        QCOMPARE(orders.size(), 1);
        const QJsonObject fields = orders.first().toObject().value(QStringLiteral("fields")).toObject();
        QCOMPARE(fields.value(QStringLiteral("server_list")).toString(), serials.join(QLatin1Char(',')));
        QCOMPARE(orders.first().toObject().value(QStringLiteral("server_sns")).toArray().size(), 3);
    }

    void foreignSerialRefusesTheWholeReset()
    {
        const QString mine = demoPhones().first().toObject().value(QStringLiteral("server_sn")).toString();
        const qint64 after = lastEventId();
        QVERIFY(!Utils::instance()->resetArmServer({mine, QStringLiteral("SOMEONE-ELSES")}));
        const QJsonArray orders = m_cloud->events(QStringLiteral("reset"), after);
        QCOMPARE(orders.size(), 1);
        QVERIFY(orders.first().toObject().value(QStringLiteral("code")).toInt() != 200);
        QCOMPARE(m_expiries, 0);
    }

    void specialCharactersArriveIntact()
    {
        const QString value = QStringLiteral("+86 1&x=y%20云手机");
        const qint64 after = lastEventId();
        QVERIFY(!Utils::instance()->sendMsg(value)); // not a phone number: refused, but read right
        QVERIFY(!Utils::instance()->login(value, QStringLiteral("12+3&=4")).isEmpty());

        const QJsonObject sms = m_cloud->events(QStringLiteral("send_msg"), after).first().toObject();
        QCOMPARE(sms.value(QStringLiteral("fields")).toObject().value(QStringLiteral("phone")).toString(), value);
        QVERIFY(!sms.value(QStringLiteral("fields")).toObject().contains(QStringLiteral("x")));
        const QJsonObject login = m_cloud->events(QStringLiteral("login"), after).first().toObject();
        QCOMPARE(login.value(QStringLiteral("fields")).toObject().value(QStringLiteral("code")).toString(),
                 QStringLiteral("12+3&=4"));
        QCOMPARE(login.value(QStringLiteral("fields")).toObject().value(QStringLiteral("phone")).toString(), value);
    }

    void twoThreadsNeverSwapControlInfo()
    {
        const QJsonArray phones = usablePhones();
        QVERIFY(phones.size() >= 2);
        struct Worker
        {
            QString serial;
            QString padCode;
            std::atomic<int> fetched{0};
            std::atomic<int> wrong{0};
        };
        Worker workers[2];
        for (int i = 0; i < 2; ++i) {
            workers[i].serial = phones.at(i).toObject().value(QStringLiteral("server_sn")).toString();
            workers[i].padCode = phones.at(i).toObject().value(QStringLiteral("padCode")).toString();
        }
        std::vector<std::unique_ptr<QThread>> threads;
        for (Worker &w : workers) {
            threads.emplace_back(QThread::create([&w] {
                for (int round = 0; round < 25; ++round) {
                    ControlInfo info;
                    if (!Utils::instance()->fetchControlInfo(w.serial, &info))
                        continue;
                    ++w.fetched;
                    if (info.padCode != w.padCode || !info.isComplete())
                        ++w.wrong;
                }
            }));
            threads.back()->start();
        }
        for (auto &t : threads)
            QVERIFY(t->wait(60000));
        for (const Worker &w : workers) {
            QCOMPARE(w.fetched.load(), 25);
            QCOMPARE(w.wrong.load(), 0);
        }
    }

    // Every operation that carries the token signs out when the server no
    // longer takes it; the sign-in itself never does.
    void expiredTokenSignsOut_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("onWorkerThread");
        for (const char *op : {"fetchToken", "serverList", "fetchFlowToken", "restartArmServer", "resetArmServer"})
            QTest::newRow(op) << QString::fromLatin1(op) << false;
        QTest::newRow("fetchFlowToken on a worker thread") << QStringLiteral("fetchFlowToken") << true;
        QTest::newRow("fetchToken on a worker thread") << QStringLiteral("fetchToken") << true;
    }

    void expiredTokenSignsOut()
    {
        QFETCH(QString, operation);
        QFETCH(bool, onWorkerThread);

        const QString phone = freshNumber();
        signInClient(phone);
        const QJsonObject owned = m_cloud->addPhone(phone, QStringLiteral("测试云机"), 24);
        const QString serial = owned.value(QStringLiteral("server_sn")).toString();
        QVERIFY2(!serial.isEmpty(), QJsonDocument(owned).toJson().constData());
        QVERIFY(m_cloud->expireToken(phone) > 0);
        AppEvent::instance()->setPadCode(QStringLiteral("PAD-KEPT"));
        AppEvent::instance()->setConsoleToken(QStringLiteral("console-kept"));

        const int before = m_expiries;
        auto run = [&operation, &serial] {
            Utils *u = Utils::instance();
            if (operation == QLatin1String("fetchToken"))
                return u->fetchToken();
            if (operation == QLatin1String("serverList"))
                return !u->serverList().isEmpty();
            if (operation == QLatin1String("fetchFlowToken"))
                return u->fetchFlowToken(serial);
            if (operation == QLatin1String("restartArmServer"))
                return u->restartArmServer({serial});
            return u->resetArmServer({serial});
        };
        bool succeeded = true;
        if (onWorkerThread) {
            std::unique_ptr<QThread> worker(QThread::create([&] { succeeded = run(); }));
            worker->start();
            QVERIFY(worker->wait(30000));
        } else {
            succeeded = run();
        }
        QVERIFY(!succeeded);
        QTRY_COMPARE(m_expiries, before + 1);
        QTest::qWait(100);
        QCOMPARE(m_expiries, before + 1);

        const AppEvent *event = AppEvent::instance();
        QVERIFY(event->token().isEmpty());
        QVERIFY(event->phone().isEmpty());
        QVERIFY(event->wssToken().isEmpty());
        QVERIFY(event->userName().isEmpty());
        QCOMPARE(event->padCode(), QStringLiteral("PAD-KEPT"));
        QCOMPARE(event->consoleToken(), QStringLiteral("console-kept"));
        QSettings file(m_settings.settingsFile(), QSettings::IniFormat);
        for (const char *key : {"user/phone", "user/username", "user/token", "user/wss_token"})
            QVERIFY2(!file.contains(QLatin1String(key)), key);
    }

    void failedSignInNeverSignsOut()
    {
        AppEvent::instance()->setToken(QStringLiteral("still-here"));
        const int before = m_expiries;
        QVERIFY(!Utils::instance()->login(freshNumber(), QStringLiteral("000000")).isEmpty());
        QTest::qWait(50);
        QCOMPARE(m_expiries, before);
        QCOMPARE(AppEvent::instance()->token(), QStringLiteral("still-here"));
    }

    // Last: the cloud goes away and every operation takes its failure value.
    void nothingListening()
    {
        m_cloud->stop();
        const int before = m_expiries;
        QCOMPARE(Utils::instance()->versionConfig(), false);
        QCOMPARE(Utils::instance()->sendMsg(TestSupport::LocalCloud::demoPhone()), false);
        QCOMPARE(Utils::instance()->login(TestSupport::LocalCloud::demoPhone(), QStringLiteral("123456")),
                 QStringLiteral("网络异常"));
        QCOMPARE(Utils::instance()->fetchToken(), false);
        QCOMPARE(Utils::instance()->serverList(), QString());
        QCOMPARE(Utils::instance()->fetchFlowToken(QStringLiteral("S1")), false);
        QCOMPARE(Utils::instance()->restartArmServer({QStringLiteral("S1")}), false);
        QCOMPARE(m_expiries, before);
    }

private:
    QString freshNumber()
    {
        return QStringLiteral("1390000%1").arg(++m_numbers, 4, 10, QLatin1Char('0'));
    }

    // Code request and sign-in through the client, with the code read from
    // the admin API.
    void signInClient(const QString &phone)
    {
        QVERIFY(Utils::instance()->sendMsg(phone));
        QCOMPARE(Utils::instance()->login(phone, m_cloud->smsCode(phone)), QString());
        QCOMPARE(AppEvent::instance()->phone(), phone);
    }

    QJsonObject lastEvent(const QString &type) const
    {
        const QJsonArray events = m_cloud->events(type);
        return events.isEmpty() ? QJsonObject() : events.last().toObject();
    }

    qint64 lastEventId() const
    {
        const QJsonArray events = m_cloud->events();
        return events.isEmpty() ? 0 : qint64(events.last().toObject().value(QStringLiteral("id")).toDouble());
    }

    // The demo user's phones as the admin API describes them (with pad code
    // and expiry), picked by the list the cloud gives that user.
    QJsonArray demoPhones() const
    {
        QSet<QString> serials;
        const QJsonArray list = m_cloud->apiPost(QStringLiteral("/vorl/v1/server/list"), "server_sn=", m_demoToken)
                                    .json()
                                    .value(QStringLiteral("data"))
                                    .toArray();
        for (const QJsonValue &v : list)
            serials.insert(v.toObject().value(QStringLiteral("server_sn")).toString());
        QJsonArray owned;
        for (const QJsonValue &v : m_cloud->phones()) {
            if (serials.contains(v.toObject().value(QStringLiteral("server_sn")).toString()))
                owned.append(v);
        }
        return owned;
    }

    // Demo phones still rented for at least an hour.
    QJsonArray usablePhones() const
    {
        QJsonArray usable;
        const QDateTime soon = QDateTime::currentDateTime().addSecs(3600);
        for (const QJsonValue &v : demoPhones()) {
            const QDateTime end = QDateTime::fromString(v.toObject().value(QStringLiteral("end_time")).toString(),
                                                        QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            if (!v.toObject().value(QStringLiteral("expired")).toBool() && end > soon)
                usable.append(v);
        }
        return usable;
    }

    QByteArray settingsFileBytes() const
    {
        QFile file(m_settings.settingsFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    TestSupport::TempSettings m_settings;
    std::unique_ptr<TestSupport::LocalCloud> m_cloud;
    QString m_demoToken;
    int m_numbers = 0;
    int m_expiries = 0;
};

QTEST_MAIN(TestApiLocalCloud)
#include "tst_api_localcloud.moc"
