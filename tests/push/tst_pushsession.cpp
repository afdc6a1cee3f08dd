// The push channel through a whole session of the real windows: the main
// window's client at start, an expiry announced by the server, the sign-out
// and a sign-in made on the sign-in window.

#include "account/login.h"
#include "account/sessionexpiry.h"
#include "app/appevent.h"
#include "api/utils.h"
#include "phones/mainwindow.h"
#include "phones/phonedetail.h"
#include "push/websocketclientandreconnect.h"
#include "resources/tarvixresources.h"
#include "tests/support/localcloud.h"
#include "tests/support/tempsettings.h"
#include "widgets/toast.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

class TestPushSession final : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    // New codes at once, so the second sign-in needs no waiting.
    TestSupport::LocalCloud m_cloud{QStringList{QStringLiteral("--seed"), QStringLiteral("demo"),
                                                QStringLiteral("--resend-interval"), QStringLiteral("0")}};

    int settledConnections()
    {
        // Long enough for a second client, if one were made, to connect.
        QTest::qWait(1500);
        return m_cloud.pushConnections().size();
    }

    PhoneDetail *card(const QString &serverSn) const
    {
        for (PhoneDetail *card : MainWindow::instance()->phoneCards()) {
            if (card->serverSn() == serverSn)
                return card;
        }
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        initTarvixResources();
        QVERIFY2(m_cloud.isReady(), qPrintable(m_cloud.errorString()));
        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = m_cloud.apiBase();
        bases.push = m_cloud.pushBase();
        Utils::overrideServiceBases(bases);
        followSessionExpiry(qApp);
        const QString phone = TestSupport::LocalCloud::demoPhone();
        QVERIFY(Utils::instance()->sendMsg(phone));
        QCOMPARE(Utils::instance()->login(phone, m_cloud.smsCode(phone)), QString());
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            qWarning().noquote() << m_cloud.consoleLog().right(4000);
    }

    void mainWindowConnectsOnce()
    {
        MainWindow::instance()->show();
        QVERIFY(MainWindow::instance()->pushClient());
        QTRY_COMPARE_WITH_TIMEOUT(m_cloud.pushConnections().size(), 1, 10000);
        QCOMPARE(settledConnections(), 1);
    }

    void expiryShowsOnTheCard()
    {
        const QJsonObject phone = m_cloud.addPhone(TestSupport::LocalCloud::demoPhone(), QStringLiteral("推送云机"), 24);
        const QString serverSn = phone.value(QStringLiteral("server_sn")).toString();
        MainWindow::instance()->refreshPhoneList(false);
        QTRY_VERIFY(card(serverSn));
        QCOMPARE(card(serverSn)->opStatus(), 1);

        const qint64 start = m_cloud.lastEventId();
        QVERIFY(m_cloud.setEndTime(serverSn, QDateTime::currentDateTime()));
        // Nobody reloads the list but the notice.
        QTRY_VERIFY_WITH_TIMEOUT(!m_cloud.pushLog(QStringLiteral("ack"), start).isEmpty(), 10000);
        QTRY_VERIFY(card(serverSn) && card(serverSn)->opStatus() == 2);
        QCOMPARE(card(serverSn)->remainingText(), QStringLiteral("即将到期"));
        QVERIFY(Toast::instance()->window()->text().contains(QStringLiteral("推送云机")));
    }

    void signOutClosesAndSignInOpensExactlyOne()
    {
        const qint64 start = m_cloud.lastEventId();
        QVERIFY(m_cloud.expireToken(TestSupport::LocalCloud::demoPhone()) > 0);
        QVERIFY(Utils::instance()->serverList().isEmpty());
        QTRY_VERIFY(Login::instance()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(m_cloud.pushConnections().size(), 0, 10000);
        const QJsonArray closed = m_cloud.pushLog(QStringLiteral("disconnect"), start);
        QCOMPARE(closed.size(), 1);
        QCOMPARE(closed.first().toObject().value(QStringLiteral("close_code")).toInt(), 1000);
        QVERIFY(!MainWindow::instance()->pushClient());
        QCOMPARE(settledConnections(), 0);

        // Signing in on the window, as a person would.
        Login *login = Login::instance();
        auto *phone = login->findChild<QLineEdit *>(QStringLiteral("phoneNumber"));
        auto *code = login->findChild<QLineEdit *>(QStringLiteral("numberCode"));
        auto *send = login->findChild<QPushButton *>(QStringLiteral("numberCodeButton"));
        auto *button = login->findChild<QPushButton *>(QStringLiteral("loginButton"));
        QVERIFY(phone && code && send && button);
        phone->setText(TestSupport::LocalCloud::demoPhone());
        QTRY_VERIFY(send->isEnabled());
        QTest::mouseClick(send, Qt::LeftButton);
        code->setText(m_cloud.smsCode(TestSupport::LocalCloud::demoPhone()));
        QTRY_VERIFY(button->isEnabled());
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY(MainWindow::instance()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(m_cloud.pushConnections().size(), 1, 10000);
        QCOMPARE(settledConnections(), 1);
    }
};

QTEST_MAIN(TestPushSession)
#include "tst_pushsession.moc"
