// The push channel of a real client process, signed in from its saved
// session, against the local cloud's push service.

#include "tests/support/localcloud.h"
#include "tests/support/screenshot.h"
#include "tests/support/tempsettings.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

const QString PushUser = QStringLiteral("13700001515");

QString xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

int visibleWindows(qint64 pid)
{
    const QString out = xdotool({QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                                 QStringLiteral("--pid"), QString::number(pid), QStringLiteral("--name"), QStringLiteral(".*")});
    return out.isEmpty() ? 0 : out.split(QLatin1Char('\n')).size();
}

} // namespace

class TestPushE2e final : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    QTemporaryDir m_tmp;
    QTemporaryDir m_workDir;
    std::unique_ptr<TestSupport::LocalCloud> m_cloud;
    QProcess m_client;
    QString m_serverSn;

    bool waitFor(const std::function<bool()> &condition, int timeoutMs = 15000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            if (condition())
                return true;
            QTest::qWait(100);
        }
        return condition();
    }

    bool acknowledged(qint64 msgId, qint64 after)
    {
        return waitFor([&] {
            for (const QJsonValue &ack : m_cloud->pushLog(QStringLiteral("ack"), after)) {
                if (qint64(ack.toObject().value(QStringLiteral("msgId")).toDouble()) == msgId)
                    return true;
            }
            return false;
        });
    }

private slots:
    void initTestCase()
    {
        m_cloud = std::make_unique<TestSupport::LocalCloud>(QStringList{QStringLiteral("--seed"), QStringLiteral("empty")});
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
        m_serverSn = m_cloud->addPhone(PushUser, QStringLiteral("推送测试机"), 48).value(QStringLiteral("server_sn")).toString();
        QVERIFY(!m_serverSn.isEmpty());
        const QString token = m_cloud->signIn(PushUser);
        QVERIFY2(!token.isEmpty(), qPrintable(m_cloud->errorString()));
        QSettings settings(m_settings.settingsFile(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("login/autologin"), true);
        settings.setValue(QStringLiteral("user/phone"), PushUser);
        settings.setValue(QStringLiteral("user/username"), PushUser);
        settings.setValue(QStringLiteral("user/token"), token);
        settings.setValue(QStringLiteral("user/wss_token"), m_cloud->lastWssToken());
        settings.sync();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARVIX_TEST_API_BASE"), m_cloud->apiBase());
        env.insert(QStringLiteral("TARVIX_TEST_PUSH_BASE"), m_cloud->pushBase());
        env.insert(QStringLiteral("TMPDIR"), m_tmp.path());
        m_client.setProcessEnvironment(env);
        m_client.setWorkingDirectory(m_workDir.path());
        m_client.setProcessChannelMode(QProcess::ForwardedChannels);
        m_client.start(QStringLiteral(TARVIX_BIN_DIR "/tarvix-testhost"), QStringList());
        QVERIFY2(m_client.waitForStarted(10000), qPrintable(m_client.errorString()));
    }

    void cleanupTestCase()
    {
        m_client.kill();
        m_client.waitForFinished(10000);
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            qWarning().noquote() << m_cloud->consoleLog().right(4000);
    }

    void signedInClientConnectsAndBeats()
    {
        QVERIFY(waitFor([this] { return m_cloud->pushConnections().size() == 1; }, 30000));
        QCOMPARE(m_cloud->pushConnections().first().toObject().value(QStringLiteral("phone")).toString(), PushUser);
        QVERIFY(waitFor([this] { return m_cloud->pushLog(QStringLiteral("heartbeat")).size() >= 2; }, 20000));
        QCOMPARE(m_cloud->pushLog(QStringLiteral("heartbeat")).first().toObject().value(QStringLiteral("text")).toString().size(),
                 34);
    }

    void noticeShowsAToastAndIsAcknowledged()
    {
        QVERIFY(waitFor([this] { return visibleWindows(m_client.processId()) >= 1; }));
        QTest::qWait(2500); // any toast of the start is gone
        const int before = visibleWindows(m_client.processId());
        const qint64 start = m_cloud->lastEventId();
        const qint64 msgId = m_cloud->pushNotice(PushUser, QStringLiteral("server_is_expired"),
                                                 QJsonValue(QStringLiteral("您的云手机已到期，请续费")), 31);
        QVERIFY(acknowledged(msgId, start));
        QVERIFY(waitFor([&] { return visibleWindows(m_client.processId()) == before + 1; }, 3000));
        TestSupport::grabScreen(QStringLiteral("push-notice-toast"));
        // The list was fetched again, quietly.
        QVERIFY(waitFor([&] { return !m_cloud->events(QStringLiteral("server_list"), start).isEmpty(); }, 5000));
    }

    void silentNoticeShowsNothing()
    {
        QTest::qWait(2500);
        const int before = visibleWindows(m_client.processId());
        const qint64 start = m_cloud->lastEventId();
        const qint64 msgId = m_cloud->pushNotice(PushUser, QStringLiteral("server_is_expired"), QJsonValue(QJsonValue::Null), 32);
        QVERIFY(acknowledged(msgId, start));
        QTest::qWait(500);
        QCOMPARE(visibleWindows(m_client.processId()), before);
    }

    void expiryAnnouncedByTheServer()
    {
        QTest::qWait(2500);
        const qint64 start = m_cloud->lastEventId();
        QVERIFY(m_cloud->setEndTime(m_serverSn, QDateTime::currentDateTime()));
        QJsonObject notice;
        QVERIFY(waitFor([&] {
            const QJsonArray notices = m_cloud->pushLog(QStringLiteral("notice"), start);
            if (!notices.isEmpty())
                notice = notices.first().toObject();
            return !notices.isEmpty();
        }));
        QVERIFY(acknowledged(qint64(notice.value(QStringLiteral("msgId")).toDouble()), start));
        TestSupport::grabScreen(QStringLiteral("push-expiry-toast"));
        QVERIFY(waitFor([&] { return !m_cloud->events(QStringLiteral("server_list"), start).isEmpty(); }, 5000));
    }

    void reconnectsAfterADrop()
    {
        const qint64 start = m_cloud->lastEventId();
        QCOMPARE(m_cloud->pushDrop(), 1);
        QVERIFY(waitFor([&] { return m_cloud->pushLog(QStringLiteral("connect"), start).size() == 1; }, 10000));
        QCOMPARE(m_cloud->pushConnections().size(), 1);
    }
};

QTEST_MAIN(TestPushE2e)
#include "tst_push_e2e.moc"
