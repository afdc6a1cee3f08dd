#include "tests/support/localcloud.h"
#include "tests/support/screenshot.h"
#include "tests/support/tempsettings.h"

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// A signed-in client with live previews, from the first sign-in to the end
// of the process, driven through a real client process under X.

namespace {

QString xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QStringList windowsOf(qint64 pid, const QString &title)
{
    const QString out = xdotool({QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                                 QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"), title});
    return out.isEmpty() ? QStringList() : out.split(QLatin1Char('\n'));
}

class Client final : public QProcess
{
public:
    ~Client() override
    {
        kill();
        waitForFinished(10000);
    }
};

const QString LoginTitle = QStringLiteral("^登录$");
const QString MainTitle = QStringLiteral("^Mervane云手机$");

} // namespace

class TestEnding : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    QTemporaryDir m_workDir;
    QTemporaryDir m_tmp;
    std::unique_ptr<TestSupport::LocalCloud> m_cloud;

    void start(Client &client)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARVIX_TEST_API_BASE"), m_cloud->apiBase());
        env.insert(QStringLiteral("TMPDIR"), m_tmp.path());
        client.setProcessEnvironment(env);
        client.setWorkingDirectory(m_workDir.path());
        client.setProcessChannelMode(QProcess::ForwardedChannels);
        client.start(QStringLiteral(TARVIX_BIN_DIR "/tarvix-testhost"), QStringList());
        QVERIFY(client.waitForStarted(10000));
    }

    QString waitForWindow(const Client &client, const QString &title)
    {
        QString window;
        for (int i = 0; i < 200 && window.isEmpty(); ++i) {
            window = windowsOf(client.processId(), title).value(0);
            if (window.isEmpty())
                QTest::qWait(100);
        }
        return window;
    }

    // Phones with at least one stream of the farm's open.
    int streaming(const QStringList &serials) const
    {
        int n = 0;
        for (const QString &sn : serials)
            n += m_cloud->phoneState(sn).value(QStringLiteral("sessions")).toArray().isEmpty() ? 0 : 1;
        return n;
    }

    // The phones streaming once their number stops growing: the cards on
    // screen all stream by then (the others never do).
    int settledStreaming(const QStringList &serials)
    {
        int last = -1;
        int same = 0;
        for (int i = 0; i < 240 && same < 4; ++i) {
            const int now = streaming(serials);
            same = now > 0 && now == last ? same + 1 : 0;
            last = now;
            QTest::qWait(500);
        }
        return last;
    }

    QStringList serialsOf(const QString &owner, int count)
    {
        QStringList serials;
        for (int i = 0; i < count; ++i) {
            const QJsonObject phone = m_cloud->addPhone(owner, QStringLiteral("云机%1").arg(i + 1));
            serials << phone.value(QStringLiteral("server_sn")).toString();
        }
        return serials;
    }

    QStringList dumps() const
    {
        return QDir(m_workDir.path()).entryList({QStringLiteral("DumpFile-*")}, QDir::Files);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.isValid());
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs an X server");
        m_cloud = std::make_unique<TestSupport::LocalCloud>();
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            qInfo().noquote() << m_cloud->consoleLog();
    }

    // Typed as a person would: number, Tab, code, Enter. Enter signs in (it
    // never asks for another code), and each card starts its preview once
    // although signing in loads the list twice.
    void firstSignInStartsEachPreviewOnce()
    {
        const QString owner = QStringLiteral("13900000007");
        const QStringList serials = serialsOf(owner, 7);
        QVERIFY(!serials.contains(QString()));
        m_cloud->apiPost(QStringLiteral("/vorl/v1/send_msg"), "act_type=yzm_login&phone=" + owner.toUtf8());
        const QString code = m_cloud->smsCode(owner);
        QVERIFY(!code.isEmpty());
        const int codeRequests = m_cloud->events(QStringLiteral("send_msg")).size();
        const int flowTokens = m_cloud->events(QStringLiteral("flow_token")).size();

        Client client;
        start(client);
        const QString login = waitForWindow(client, LoginTitle);
        QVERIFY(!login.isEmpty());
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), login});
        xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), owner});
        xdotool({QStringLiteral("key"), QStringLiteral("Tab")});
        xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), code});
        xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        QVERIFY(!waitForWindow(client, MainTitle).isEmpty());

        QTRY_COMPARE_WITH_TIMEOUT(streaming(serials), 7, 60000);
        TestSupport::grabScreen(QStringLiteral("ending-first-sign-in"));
        QTest::qWait(2000); // a second round of starts would have begun by now
        QCOMPARE(m_cloud->events(QStringLiteral("flow_token")).size() - flowTokens, 7);
        QCOMPARE(m_cloud->events(QStringLiteral("send_msg")).size(), codeRequests);
        client.terminate();
        QVERIFY(client.waitForFinished(30000));
        QCOMPARE(client.exitStatus(), QProcess::NormalExit);
        QCOMPARE(client.exitCode(), 0);
    }

    // The end of the process (a termination request takes the tray's quit
    // path) with 24 phones and the previews of those on screen streaming
    // (two rows and more of the window), twenty times in a row: every
    // stream and worker stops before the application object goes, nothing
    // crashes.
    void quitsCleanlyWithPreviewsLive()
    {
        const QString owner = QStringLiteral("13900000024");
        const QStringList serials = serialsOf(owner, 24);
        m_cloud->apiPost(QStringLiteral("/vorl/v1/send_msg"), "act_type=yzm_login&phone=" + owner.toUtf8());
        const QJsonObject answer =
            m_cloud
                ->apiPost(QStringLiteral("/vorl/v1/login"),
                          "appkey=7a3f19c2e4b8d6051f9e2c7d4a6b8e01&channel_code=qelvane_pc_official&code="
                              + m_cloud->smsCode(owner).toUtf8() + "&phone=" + owner.toUtf8() + "&platform=pc")
                .json()
                .value(QStringLiteral("data"))
                .toObject();
        QVERIFY(!answer.value(QStringLiteral("token")).toString().isEmpty());
        {
            QSettings saved(m_settings.settingsFile(), QSettings::IniFormat);
            saved.setValue(QStringLiteral("login/autologin"), true);
            saved.setValue(QStringLiteral("user/phone"), owner);
            saved.setValue(QStringLiteral("user/username"), answer.value(QStringLiteral("username")).toString());
            saved.setValue(QStringLiteral("user/token"), answer.value(QStringLiteral("token")).toString());
            saved.setValue(QStringLiteral("user/wss_token"), answer.value(QStringLiteral("wss_token")).toString());
        }

        const int rounds = qEnvironmentVariableIntValue("TARVIX_QUIT_ROUNDS") > 0
                               ? qEnvironmentVariableIntValue("TARVIX_QUIT_ROUNDS")
                               : 20;
        for (int round = 1; round <= rounds; ++round) {
            Client client;
            start(client);
            QVERIFY(!waitForWindow(client, MainTitle).isEmpty());
            const int live = settledStreaming(serials);
            QVERIFY2(live >= 8, qPrintable(QString::number(live)));
            if (round == 1)
                TestSupport::grabScreen(QStringLiteral("ending-previews-on-screen"));
            client.terminate();
            QVERIFY2(client.waitForFinished(30000), qPrintable(QStringLiteral("round %1").arg(round)));
            QCOMPARE(client.exitStatus(), QProcess::NormalExit);
            QCOMPARE(client.exitCode(), 0);
            QVERIFY2(dumps().isEmpty(), qPrintable(dumps().join(QLatin1Char(' '))));
            // The farm notices the closed streams before the next round.
            QTRY_COMPARE_WITH_TIMEOUT(streaming(serials), 0, 30000);
            qInfo() << "round" << round << "ended cleanly";
        }
    }
};

QTEST_MAIN(TestEnding)
#include "tst_ending.moc"
