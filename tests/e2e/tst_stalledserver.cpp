#include "tests/api/rawhttpserver.h"
#include "tests/support/screenshot.h"
#include "tests/support/tempsettings.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// A backend that takes every connection and never answers (an overloaded
// server, a half-open link), met by a whole client process under X.

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

int countOf(const QList<QByteArray> &requests, const QByteArray &path)
{
    int n = 0;
    for (const QByteArray &request : requests)
        n += request.contains(path) ? 1 : 0;
    return n;
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

} // namespace

class TestStalledServer : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    QTemporaryDir m_workDir;
    QTemporaryDir m_tmp;

private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.isValid());
        QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs an X server");
    }

    // The version check is on the wire from the first 100 ms and the server
    // never answers: the login window still takes typing and clicks at
    // once, and the code request it sends ends in its failure toast when
    // the request gives up.
    void loginWindowStaysLiveAndTheCodeRequestFails()
    {
        RawHttpServer server;
        server.setSilent(true);
        Client client;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARVIX_TEST_API_BASE"), QString::fromUtf8(server.baseUrl()));
        env.insert(QStringLiteral("TMPDIR"), m_tmp.path());
        client.setProcessEnvironment(env);
        client.setWorkingDirectory(m_workDir.path());
        client.setProcessChannelMode(QProcess::ForwardedChannels);
        client.start(QStringLiteral(TARVIX_BIN_DIR "/tarvix-testhost"), QStringList());
        QVERIFY(client.waitForStarted(10000));

        QString login;
        QTRY_VERIFY_WITH_TIMEOUT(!(login = windowsOf(client.processId(), QStringLiteral("^登录$")).value(0)).isEmpty(),
                                 20000);
        QTRY_COMPARE_WITH_TIMEOUT(countOf(server.requests(), "/vorl/v1/version_config"), 1, 5000);

        // The phone field has the focus; typing enables the code button,
        // which Tab, Tab reaches.
        xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), login});
        xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), QStringLiteral("13800138000")});
        xdotool({QStringLiteral("key"), QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("space")});
        QTRY_COMPARE_WITH_TIMEOUT(countOf(server.requests(), "/vorl/v1/send_msg"), 1, 1000);
        QVERIFY(server.lastRequest().endsWith("phone=13800138000"));

        // The toast: the one other window the client shows.
        auto toastShown = [&] {
            const QStringList all = windowsOf(client.processId(), QStringLiteral(".*"));
            return all.size() > 1;
        };
        QVERIFY(!toastShown());
        QTRY_VERIFY_WITH_TIMEOUT(toastShown(), 12000);
        TestSupport::grabScreen(QStringLiteral("stalled-server-code-toast"));
        QCOMPARE(client.state(), QProcess::Running);
        QCOMPARE(windowsOf(client.processId(), QStringLiteral("^登录$")).size(), 1);
    }
};

QTEST_MAIN(TestStalledServer)
#include "tst_stalledserver.moc"
