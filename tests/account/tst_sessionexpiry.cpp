// A token the server no longer takes, met by an ordinary operation: the user
// lands on the sign-in window with the code field empty, signed out.

#include "account/login.h"
#include "account/sessionexpiry.h"
#include "app/appevent.h"
#include "api/utils.h"
#include "phones/mainwindow.h"
#include "resources/tarvixresources.h"
#include "tests/support/localcloud.h"
#include "tests/support/tempsettings.h"

#include <QLineEdit>
#include <QSettings>
#include <QtTest>

class TestSessionExpiry final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        initTarvixResources();
        QVERIFY2(m_cloud.isReady(), qPrintable(m_cloud.errorString()));
        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = m_cloud.apiBase();
        Utils::overrideServiceBases(bases);
        followSessionExpiry(qApp);
    }

    void expiredTokenReturnsToSignIn()
    {
        const QString phone = TestSupport::LocalCloud::demoPhone();
        QVERIFY(Utils::instance()->sendMsg(phone));
        QCOMPARE(Utils::instance()->login(phone, m_cloud.smsCode(phone)), QString());
        MainWindow::instance()->show();
        Login *login = Login::instance();
        login->hide();
        auto *code = login->findChild<QLineEdit *>(QStringLiteral("numberCode"));
        QVERIFY(code);
        code->setText(QStringLiteral("123456"));

        QVERIFY(m_cloud.expireToken(phone) > 0);
        // Any operation but sign-in meets the expiry.
        QVERIFY(!Utils::instance()->fetchToken());

        QTRY_VERIFY(login->isVisible());
        QVERIFY(!MainWindow::instance()->isVisible());
        QVERIFY(code->text().isEmpty());
        QVERIFY(AppEvent::instance()->token().isEmpty());
        QSettings saved(m_settings.settingsFile(), QSettings::IniFormat);
        for (const char *key : {"user/phone", "user/username", "user/token", "user/wss_token"})
            QVERIFY2(!saved.contains(QLatin1String(key)), key);

        // A second expiry in a row leaves the same single sign-in window.
        Utils::instance()->timeoutLogout();
        QTest::qWait(50);
        QVERIFY(login->isVisible());
        QVERIFY(!MainWindow::instance()->isVisible());
    }

private:
    TestSupport::TempSettings m_settings;
    TestSupport::LocalCloud m_cloud;
};

QTEST_MAIN(TestSessionExpiry)
#include "tst_sessionexpiry.moc"
