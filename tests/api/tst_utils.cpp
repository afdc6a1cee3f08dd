#include "app/appevent.h"
#include "api/utils.h"
#include "tests/support/tempsettings.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

class TestUtils : public QObject
{
    Q_OBJECT

public:
    TestUtils()
    {
        // Before the first Utils: the seam only affects objects made after it.
        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = QStringLiteral("http://127.0.0.1:1");
        Utils::overrideServiceBases(bases);
    }

private:
    TestSupport::TempSettings m_temp;
    QSettings *settings() { return Utils::instance()->settings(); }

    void saveUser(bool autologin, const QString &phone, const QString &name, const QString &token,
                  const QString &wss)
    {
        QSettings *s = settings();
        s->clear();
        s->setValue(QStringLiteral("login/autologin"), autologin);
        s->setValue(QStringLiteral("user/phone"), phone);
        s->setValue(QStringLiteral("user/username"), name);
        s->setValue(QStringLiteral("user/token"), token);
        s->setValue(QStringLiteral("user/wss_token"), wss);
        s->sync();
    }

private slots:
    void init()
    {
        AppEvent::instance()->clearSession();
    }

    void settingsFileLocation()
    {
        QCOMPARE(settings()->fileName(), m_temp.settingsFile());
        QCOMPARE(settings()->format(), QSettings::IniFormat);
    }

    void serviceBases()
    {
        const ServiceBases compiled = Utils::compiledServiceBases();
        QVERIFY(compiled.api.startsWith(QLatin1String("http://")) && !compiled.api.endsWith(QLatin1Char('/')));
        QVERIFY(compiled.console.startsWith(QLatin1String("https://")) && compiled.console.endsWith(QLatin1String(":8204")));
        QVERIFY(compiled.push.startsWith(QLatin1String("ws://")) && compiled.push.endsWith(QLatin1Char('/')));
        QCOMPARE(Utils::instance()->apiBaseUrl(), QStringLiteral("http://127.0.0.1:1"));
        QCOMPARE(Utils::instance()->pushBaseUrl(), compiled.push);
        QCOMPARE(Utils::instance()->channelCode(), QStringLiteral("qelvane_pc_official"));
        QCOMPARE(Utils::instance()->appKey(), QStringLiteral("7a3f19c2e4b8d6051f9e2c7d4a6b8e01"));
    }

    void autoLogin_data()
    {
        QTest::addColumn<bool>("autologin");
        QTest::addColumn<QString>("token");
        QTest::addColumn<bool>("expected");
        QTest::newRow("all saved") << true << "tok" << true;
        QTest::newRow("box unchecked") << false << "tok" << false;
        QTest::newRow("one key empty") << true << "" << false;
    }
    void autoLogin()
    {
        QFETCH(bool, autologin);
        QFETCH(QString, token);
        QFETCH(bool, expected);
        saveUser(autologin, QStringLiteral("13800138000"), QStringLiteral("user1"), token, QStringLiteral("wss"));
        QCOMPARE(Utils::instance()->autoLogin(), expected);
        AppEvent *e = AppEvent::instance();
        QCOMPARE(e->token(), expected ? token : QString());
        QCOMPARE(e->phone(), expected ? QStringLiteral("13800138000") : QString());
        QCOMPARE(e->userName(), expected ? QStringLiteral("user1") : QString());
        QCOMPARE(e->wssToken(), expected ? QStringLiteral("wss") : QString());
    }

    void firstStartHasNoAutoLogin()
    {
        settings()->clear();
        settings()->sync();
        QVERIFY(!Utils::instance()->autoLogin());
        QVERIFY(AppEvent::instance()->token().isEmpty());
    }

    void signOutKeepsTheBoxAndTheConsoleToken()
    {
        saveUser(true, QStringLiteral("13800138000"), QStringLiteral("user1"), QStringLiteral("tok"),
                 QStringLiteral("wss"));
        QVERIFY(Utils::instance()->autoLogin());
        AppEvent *e = AppEvent::instance();
        e->setPadCode(QStringLiteral("AC001"));
        e->setConsoleToken(QStringLiteral("console"));
        e->setShowVersion(QStringLiteral("2.0.0"));
        e->setControlPort(9000);

        Utils::instance()->signOut();

        QSettings onDisk(m_temp.settingsFile(), QSettings::IniFormat);
        QCOMPARE(onDisk.allKeys(), QStringList{QStringLiteral("login/autologin")});
        QCOMPARE(onDisk.value(QStringLiteral("login/autologin")).toBool(), true);
        QVERIFY(e->phone().isEmpty() && e->token().isEmpty() && e->wssToken().isEmpty() && e->userName().isEmpty());
        QVERIFY(e->showVersion().isEmpty());
        QCOMPARE(e->controlPort(), 0);
        QCOMPARE(e->padCode(), QStringLiteral("AC001"));
        QCOMPARE(e->consoleToken(), QStringLiteral("console"));
    }

    void credentialsAreOneSet()
    {
        Utils *u = Utils::instance();
        StsCredentials c{"ak", "sk", "st", "bucket", "path", "endpoint"};
        u->setStsCredentials(c);
        QVERIFY(u->hasStsCredentials());
        QCOMPARE(u->stsCredentials().endpoint, QStringLiteral("endpoint"));
        c.bucketPath.clear();
        u->setStsCredentials(c);
        QVERIFY(!u->hasStsCredentials());
        // Sign-out leaves them alone.
        u->signOut();
        QCOMPARE(u->stsCredentials().accessKeyId, QStringLiteral("ak"));
    }

#ifdef TARVIX_TEST_WITH_CODEC
    void codecRoundTrip()
    {
        const QString text = QStringLiteral("{\"type\":\"心跳\"}");
        const QByteArray packed = Utils::instance()->packEncode(text);
        QCOMPARE(packed, QByteArray("PK:") + text.toUtf8());

        // The length handed to the codec is the UTF-8 byte length, not the character count.
        auto lastLength = reinterpret_cast<int (*)()>(
            QLibrary::resolve(QCoreApplication::applicationDirPath() + QStringLiteral("/wss"), "FakeLastLength"));
        QVERIFY(lastLength);
        QCOMPARE(lastLength(), text.toUtf8().size());

        QSignalSpy failed(AppEvent::instance(), &AppEvent::codecLoadFailed);
        QCOMPARE(Utils::instance()->packDecode(QStringLiteral("PK:你好")), QStringLiteral("你好"));
        QCOMPARE(failed.count(), 0);
    }
#else
    // Every codec call without the library tries again and reports the
    // failure; the client turns each report into a toast.
    void missingCodecReportedEveryTime()
    {
        Utils::instance();
        QSignalSpy failed(AppEvent::instance(), &AppEvent::codecLoadFailed);
        for (int i = 1; i <= 2; ++i) {
            QVERIFY(Utils::instance()->packEncode(QStringLiteral("{}")).isEmpty());
            QCOMPARE(failed.count(), i);
        }
        QVERIFY(Utils::instance()->packDecode(QStringLiteral("x")).isNull());
    }
#endif
};

QTEST_GUILESS_MAIN(TestUtils)
#include "tst_utils.moc"
