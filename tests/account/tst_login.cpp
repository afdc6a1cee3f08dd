#include "account/login.h"
#include "api/utils.h"
#include "phones/mainwindow.h"
#include "resources/tarvixresources.h"
#include "tests/support/localcloud.h"
#include "tests/support/tempsettings.h"
#include "widgets/clickablelabel.h"
#include "widgets/toast.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>
#include <QtTest>

namespace {

// Records what the window asks the system browser to open.
class BrowserSpy final : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

const QString Phone = TestSupport::LocalCloud::demoPhone();
const QString PagesBase = QStringLiteral("http://pages.test");

} // namespace

class TestLogin : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    QTemporaryDir m_workDir;
    QString m_previousDir;
    std::unique_ptr<TestSupport::LocalCloud> m_cloud;
    BrowserSpy m_browser;
    Login *m_login = nullptr;

    template <typename T>
    T *child(const char *name)
    {
        T *widget = m_login->findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    QLineEdit *phone() { return child<QLineEdit>("phoneNumber"); }
    QLineEdit *code() { return child<QLineEdit>("numberCode"); }
    QPushButton *codeButton() { return child<QPushButton>("numberCodeButton"); }
    QPushButton *loginButton() { return child<QPushButton>("loginButton"); }
    QLabel *errorLabel() { return child<QLabel>("errorLabel"); }

    void type(QLineEdit *edit, const QString &text)
    {
        edit->setFocus();
        QTest::keyClicks(edit, text);
    }

    void resetFields()
    {
        if (m_login->isCountingDown()) {
            for (int i = 0; i < 60; ++i)
                m_login->countdownTick();
        }
        phone()->clear();
        code()->clear();
    }

private slots:
    void initTestCase()
    {
        initTarvixResources();
        QVERIFY(m_settings.isValid());
        QVERIFY(m_workDir.isValid());
        m_cloud = std::make_unique<TestSupport::LocalCloud>();
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = m_cloud->apiBase();
        bases.pages = PagesBase;
        Utils::overrideServiceBases(bases);

        // A saved choice, kept because a "Setting.ini" sits in the working directory.
        m_previousDir = QDir::currentPath();
        QDir::setCurrent(m_workDir.path());
        QFile marker(QStringLiteral("Setting.ini"));
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.close();
        {
            QSettings saved(m_settings.settingsFile(), QSettings::IniFormat);
            saved.setValue(QStringLiteral("login/autologin"), true);
        }

        QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_browser, "open");
        m_login = Login::instance();
        m_login->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_login));
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDir::setCurrent(m_previousDir);
    }

    void init()
    {
        m_login->show();
        resetFields();
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            qInfo().noquote() << m_cloud->consoleLog();
    }

    void startsWithTheFormAndTheSavedChoice()
    {
        QCOMPARE(m_login->windowTitle(), QStringLiteral("登录"));
        QCOMPARE(m_login->size(), QSize(490, 680));
        QCOMPARE(Login::instance(), m_login);
        QVERIFY(!codeButton()->isEnabled());
        QVERIFY(!loginButton()->isEnabled());
        QCOMPARE(codeButton()->text(), QStringLiteral("发送验证码"));
        QCOMPARE(phone()->placeholderText(), QStringLiteral(" 请输入手机号"));
        QCOMPARE(code()->placeholderText(), QStringLiteral(" 请输入验证码"));
        QVERIFY(child<QCheckBox>("autoLoginCheckbox")->isChecked());
        QCOMPARE(child<QLabel>("loginInfoLabel")->text(),
                 QStringLiteral("未注册的手机号将自动为您注册账号，登录或完成注册即代表您同意"));
        QVERIFY(child<QLabel>("loginInfoLabel")->wordWrap());
        for (const char *name : {"iconImage", "loginIcon2"})
            QVERIFY2(!child<QLabel>(name)->pixmap(Qt::ReturnByValue).isNull(), name);
        for (const char *name : {"loginLessenButton", "loginCloseButton"})
            QVERIFY2(!child<QPushButton>(name)->icon().isNull(), name);
    }

    void inputChecks_data()
    {
        QTest::addColumn<QString>("phone");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("codeButtonEnabled");
        QTest::addColumn<bool>("loginEnabled");
        const QString bad = QStringLiteral("验证码格式错误!!!");
        QTest::newRow("nothing") << QString() << QString() << QString() << false << false;
        QTest::newRow("number only") << Phone << QString() << QString() << true << false;
        QTest::newRow("any text is a number") << QStringLiteral("abc") << QString() << QString() << true << false;
        QTest::newRow("code only") << QString() << QStringLiteral("123456") << QString() << false << false;
        QTest::newRow("five digits") << Phone << QStringLiteral("12345") << bad << true << false;
        QTest::newRow("six digits") << Phone << QStringLiteral("123456") << QString() << true << true;
        QTest::newRow("seven digits") << Phone << QStringLiteral("1234567") << bad << true << false;
        QTest::newRow("letters") << Phone << QStringLiteral("12a456") << bad << true << false;
        QTest::newRow("leading blank") << Phone << QStringLiteral(" 12345") << QString() << true << true;
    }

    void inputChecks()
    {
        QFETCH(QString, phone);
        QFETCH(QString, code);
        QFETCH(QString, error);
        QFETCH(bool, codeButtonEnabled);
        QFETCH(bool, loginEnabled);
        type(this->phone(), phone);
        type(this->code(), code);
        QCOMPARE(errorLabel()->text(), error);
        QCOMPARE(codeButton()->isEnabled(), codeButtonEnabled);
        QCOMPARE(loginButton()->isEnabled(), loginEnabled);
    }

    void typingTheSixthDigitAndEmptying()
    {
        type(phone(), Phone);
        type(code(), QStringLiteral("12345"));
        QCOMPARE(errorLabel()->text(), QStringLiteral("验证码格式错误!!!"));
        QCOMPARE(errorLabel()->styleSheet(), QStringLiteral("color:RED"));
        QCOMPARE(errorLabel()->palette().color(QPalette::WindowText), QColor(Qt::red));
        QVERIFY(!loginButton()->isEnabled());

        QTest::keyClick(code(), Qt::Key_6);
        QCOMPARE(errorLabel()->text(), QString());
        QVERIFY(loginButton()->isEnabled());

        QTest::keyClick(code(), Qt::Key_Backspace);
        QCOMPARE(errorLabel()->text(), QStringLiteral("验证码格式错误!!!"));
        code()->selectAll();
        QTest::keyClick(code(), Qt::Key_Backspace);
        QCOMPARE(code()->text(), QString());
        QCOMPARE(errorLabel()->text(), QString());
        QVERIFY(!loginButton()->isEnabled());
    }

    void refusedCodeRequestShowsAToast()
    {
        // The cloud refuses a number that is not one.
        type(phone(), QStringLiteral("12345"));
        QTest::mouseClick(codeButton(), Qt::LeftButton);
        QCOMPARE(Toast::instance()->window()->text(), QStringLiteral("验证码下发失败"));
        QVERIFY(Toast::instance()->window()->isVisible());
        QVERIFY(!m_login->isCountingDown());
        QVERIFY(codeButton()->isEnabled());
        QVERIFY(phone()->isEnabled());
    }

    void codeRequestCountsDownSixtyTicks()
    {
        type(phone(), Phone);
        QTest::mouseClick(codeButton(), Qt::LeftButton);
        QVERIFY(!m_cloud->smsCode(Phone).isEmpty());
        QVERIFY(m_login->isCountingDown());
        QCOMPARE(codeButton()->text(), QStringLiteral("发送验证码"));
        QVERIFY(!codeButton()->isEnabled());
        QVERIFY(!phone()->isEnabled());

        m_login->countdownTick();
        QCOMPARE(codeButton()->text(), QStringLiteral("重新发送(59)"));
        for (int i = 0; i < 58; ++i)
            m_login->countdownTick();
        QCOMPARE(codeButton()->text(), QStringLiteral("重新发送(1)"));
        QVERIFY(!codeButton()->isEnabled());
        // Typing a code meanwhile does not free the button.
        type(code(), QStringLiteral("123456"));
        QVERIFY(!codeButton()->isEnabled());
        QVERIFY(loginButton()->isEnabled());

        m_login->countdownTick();
        QCOMPARE(codeButton()->text(), QStringLiteral("重新发送"));
        QVERIFY(codeButton()->isEnabled());
        QVERIFY(phone()->isEnabled());
        QVERIFY(!m_login->isCountingDown());
        m_login->countdownTick();
        QCOMPARE(codeButton()->text(), QStringLiteral("重新发送"));
    }

    void refusedSignInShowsTheServersMessage()
    {
        const QString sent = m_cloud->smsCode(Phone);
        QVERIFY(!sent.isEmpty());
        const QString wrong = sent == QLatin1String("654321") ? QStringLiteral("123456") : QStringLiteral("654321");
        type(phone(), Phone);
        type(code(), wrong);
        QTest::mouseClick(loginButton(), Qt::LeftButton);
        QCOMPARE(Toast::instance()->window()->text(), QStringLiteral("验证码错误"));
        QVERIFY(m_login->isVisible());
        QVERIFY(!MainWindow::instance()->isVisible());
        QCOMPARE(code()->text(), wrong);
    }

    void signInHandsOverToTheMainWindow()
    {
        // A number the cloud has not seen yet: signing in registers it.
        const QString newcomer = QStringLiteral("13900000001");
        type(phone(), newcomer);
        QTest::mouseClick(codeButton(), Qt::LeftButton);
        m_login->countdownTick();
        QVERIFY(m_login->isCountingDown());
        type(code(), m_cloud->smsCode(newcomer));
        QTest::mouseClick(loginButton(), Qt::LeftButton);

        QVERIFY(MainWindow::instance()->isVisible());
        QVERIFY(!m_login->isVisible());
        QVERIFY(!m_login->isCountingDown());
        QCOMPARE(codeButton()->text(), QStringLiteral("发送验证码"));
        QVERIFY(codeButton()->isEnabled());
        QVERIFY(phone()->isEnabled());
        QSettings saved(m_settings.settingsFile(), QSettings::IniFormat);
        QCOMPARE(saved.value(QStringLiteral("user/phone")).toString(), newcomer);
        QVERIFY(!saved.value(QStringLiteral("user/token")).toString().isEmpty());
        MainWindow::instance()->hide();

        // Shown again after an expiry sign-out: number kept, code emptied.
        m_login->clearCode();
        m_login->show();
        QCOMPARE(phone()->text(), newcomer);
        QCOMPARE(code()->text(), QString());
        QVERIFY(!loginButton()->isEnabled());
    }

    // Enter signs in once signing in is possible and never asks for a code,
    // whichever field has the focus.
    void enterSignsInAndNeverAsksForACode()
    {
        const QString number = QStringLiteral("13900000002");
        QCOMPARE(m_cloud->apiPost(QStringLiteral("/vorl/v1/send_msg"), "act_type=yzm_login&phone=" + number.toUtf8())
                     .json()
                     .value(QStringLiteral("code"))
                     .toInt(),
                 200);
        const QString sent = m_cloud->smsCode(number);
        QVERIFY(!sent.isEmpty());
        const int codeRequests = m_cloud->events(QStringLiteral("send_msg")).size();
        const int signIns = m_cloud->events(QStringLiteral("login")).size();

        type(phone(), number);
        QVERIFY(codeButton()->isEnabled());
        QTest::keyClick(phone(), Qt::Key_Return);
        type(code(), sent.left(5));
        QTest::keyClick(code(), Qt::Key_Enter);
        QVERIFY(!loginButton()->isEnabled());
        QVERIFY(m_login->isVisible());
        QVERIFY(!m_login->isCountingDown());

        type(code(), sent.right(1));
        QVERIFY(loginButton()->isEnabled());
        QTest::keyClick(code(), Qt::Key_Return);
        QVERIFY(MainWindow::instance()->isVisible());
        QVERIFY(!m_login->isVisible());
        QCOMPARE(m_cloud->events(QStringLiteral("send_msg")).size(), codeRequests);
        QCOMPARE(m_cloud->events(QStringLiteral("login")).size(), signIns + 1);
        MainWindow::instance()->hide();
    }

    void escapeKeepsTheWindow()
    {
        QTest::keyClick(m_login, Qt::Key_Escape);
        QVERIFY(m_login->isVisible());
    }

    void agreementLinksOpenInTheBrowser_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("path");
        QTest::newRow("user") << "labelyh" << QStringLiteral("《用户协议》") << "/user_agreement";
        QTest::newRow("privacy") << "labelys" << QStringLiteral("《隐私政策》") << "/privacy";
        QTest::newRow("disclaimer") << "labelmz" << QStringLiteral("《Mervane云手机平台免责声明》") << "/disclaimer";
        QTest::newRow("delete") << "labelzx" << QStringLiteral("《注销账号声明》") << "/delete_agreement";
    }

    void agreementLinksOpenInTheBrowser()
    {
        QFETCH(QString, label);
        QFETCH(QString, text);
        QFETCH(QString, path);
        m_browser.opened.clear();
        auto *link = child<ClickableLabel>(label.toLatin1().constData());
        QCOMPARE(link->text(), text);
        QTest::mouseClick(link, Qt::LeftButton);
        QCOMPARE(m_browser.opened, QList<QUrl>{QUrl(PagesBase + path)});
    }

    void autoLoginChoiceIsSavedAtOnce()
    {
        auto *box = child<QCheckBox>("autoLoginCheckbox");
        QSettings saved(m_settings.settingsFile(), QSettings::IniFormat);
        for (bool expected : {false, true}) {
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
            QCOMPARE(box->isChecked(), expected);
            saved.sync();
            QCOMPARE(saved.value(QStringLiteral("login/autologin")).toBool(), expected);
        }
    }

    void savedChoiceNeedsSettingIniInTheWorkingDirectory_data()
    {
        QTest::addColumn<bool>("marker");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("checked");
        QTest::addColumn<QVariant>("afterwards");
        QTest::newRow("marker, saved true") << true << QVariant(true) << true << QVariant(true);
        QTest::newRow("marker, nothing saved") << true << QVariant() << false << QVariant();
        QTest::newRow("no marker, saved true") << false << QVariant(true) << false << QVariant(false);
        QTest::newRow("no marker, nothing saved") << false << QVariant() << false << QVariant(false);
    }

    void savedChoiceNeedsSettingIniInTheWorkingDirectory()
    {
        QFETCH(bool, marker);
        QFETCH(QVariant, stored);
        QFETCH(bool, checked);
        QFETCH(QVariant, afterwards);
        QTemporaryDir cwd;
        QTemporaryDir data;
        QDir::setCurrent(cwd.path());
        if (marker) {
            QFile file(QStringLiteral("Setting.ini"));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QString path = data.filePath(QStringLiteral("Mervane/Tarvix/Setting.ini"));
        {
            QSettings settings(path, QSettings::IniFormat);
            if (stored.isValid())
                settings.setValue(QStringLiteral("login/autologin"), stored);
            settings.setValue(QStringLiteral("user/token"), QStringLiteral("kept"));
        }
        {
            QSettings settings(path, QSettings::IniFormat);
            QCOMPARE(Login::restoreAutoLoginChoice(settings), checked);
        }
        QSettings reread(path, QSettings::IniFormat);
        const QVariant value = reread.value(QStringLiteral("login/autologin"));
        QCOMPARE(value.isValid(), afterwards.isValid());
        if (afterwards.isValid())
            QCOMPARE(value.toBool(), afterwards.toBool());
        QCOMPARE(reread.value(QStringLiteral("user/token")).toString(), QStringLiteral("kept"));
        QDir::setCurrent(m_workDir.path());
    }
};

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
