#include "account/login.h"

#include "api/utils.h"
#include "app/settingskeys.h"
#include "phones/mainwindow.h"
#include "widgets/clickablelabel.h"
#include "widgets/toast.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>


namespace {

constexpr int CountdownTicks = 60;

const char *const FormStyle = R"(
#phoneNumber, #numberCode {
    border: 1px solid #E3E3E3;
    border-radius: 6px;
    background: #FFFFFF;
    padding-left: 8px;
    font-size: 14px;
    color: #333333;
}
#phoneNumber:hover, #numberCode:hover {
    border: 1px solid #0598FE;
}
#phoneNumber:disabled {
    color: #999999;
    background: #F7F8FA;
}
#numberCodeButton {
    border: none;
    background: #FFFFFF;
    font-size: 14px;
    color: #B4BCC8;
}
#numberCodeButton:enabled {
    color: #0598FE;
}
#errorLabel {
    font-size: 12px;
}
#loginButton {
    border: none;
    border-radius: 6px;
    font-size: 16px;
    color: #FFFFFF;
}
#loginButton:enabled {
    background: #0598FF;
}
#loginButton:disabled {
    background: #94D3FF;
}
#autoLoginCheckbox {
    font-size: 13px;
    color: #666666;
}
#loginLessenButton, #loginCloseButton {
    border: none;
    background: transparent;
}
#loginInfoLabel, #agreementSeparator {
    font-size: 12px;
    color: #999999;
}
ClickableLabel {
    font-size: 12px;
    color: #0598FF;
}
)";

QPushButton *windowButton(QWidget *parent, const char *name, const QString &icon)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(24, 24));
    button->setFixedSize(28, 28);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

ClickableLabel *agreementLabel(QWidget *parent, const char *name, const QString &text)
{
    auto *label = new ClickableLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setText(text);
    label->setCursor(Qt::PointingHandCursor);
    label->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    return label;
}

QLabel *separatorLabel(QWidget *parent, const QString &text)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QStringLiteral("agreementSeparator"));
    label->setText(text);
    label->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    return label;
}

} // namespace

Login *Login::instance()
{
    static QMutex mutex;
    static Login *login = nullptr;
    QMutexLocker lock(&mutex);
    if (!login)
        login = new Login;
    return login;
}

Login::Login()
    : DraggableWidget(nullptr)
{
    setObjectName(QStringLiteral("Login"));
    buildForm();
    setWindowTitle(QStringLiteral("登录"));

    m_settings = new QSettings(Utils::settingsFilePath(), QSettings::IniFormat, this);
    m_autoLogin->setChecked(restoreAutoLoginChoice(*m_settings));

    m_iconImage->setPixmap(QPixmap(QStringLiteral(":/image/login/loginIcon.png")));
    m_icon2->setPixmap(QPixmap(QStringLiteral(":/image/login/updateIcon2.png")));
    m_codeButton->setEnabled(false);
    m_loginButton->setEnabled(false);
    m_infoLabel->setText(QStringLiteral("未注册的手机号将自动为您注册账号，登录或完成注册即代表您同意"));
    m_infoLabel->setWordWrap(true);
    m_infoLabel->setOpenExternalLinks(true);
    makeConnections();
}

Login::~Login() = default;

void Login::buildForm()
{
    setFixedSize(490, 680);
    setStyleSheet(QString::fromUtf8(FormStyle));

    auto *root = new QVBoxLayout(this);
    // The panel starts inside the 10-pixel shadow the base paints.
    root->setContentsMargins(ShadowMargin, ShadowMargin, ShadowMargin, ShadowMargin);
    root->setSpacing(0);

    auto *topBar = new QHBoxLayout;
    topBar->setContentsMargins(0, 12, 14, 0);
    topBar->setSpacing(6);
    topBar->addStretch(1);
    m_lessenButton = windowButton(this, "loginLessenButton", QStringLiteral(":/image/login/loginLessen.png"));
    m_closeButton = windowButton(this, "loginCloseButton", QStringLiteral(":/image/login/updateClose.png"));
    topBar->addWidget(m_lessenButton);
    topBar->addWidget(m_closeButton);
    root->addLayout(topBar);

    auto *body = new QVBoxLayout;
    body->setContentsMargins(40, 0, 40, 28);
    body->setSpacing(0);
    root->addLayout(body, 1);

    m_iconImage = new QLabel(this);
    m_iconImage->setObjectName(QStringLiteral("iconImage"));
    m_iconImage->setAlignment(Qt::AlignCenter);
    m_icon2 = new QLabel(this);
    m_icon2->setObjectName(QStringLiteral("loginIcon2"));
    m_icon2->setAlignment(Qt::AlignCenter);
    body->addSpacing(34);
    body->addWidget(m_iconImage);
    body->addSpacing(12);
    body->addWidget(m_icon2);
    body->addSpacing(50);

    m_phone = new QLineEdit(this);
    m_phone->setObjectName(QStringLiteral("phoneNumber"));
    m_phone->setPlaceholderText(QStringLiteral(" 请输入手机号"));
    m_phone->setMinimumHeight(40);
    m_phone->setFixedHeight(46);
    body->addWidget(m_phone);
    body->addSpacing(18);

    m_code = new QLineEdit(this);
    m_code->setObjectName(QStringLiteral("numberCode"));
    m_code->setPlaceholderText(QStringLiteral(" 请输入验证码"));
    m_code->setFixedHeight(46);
    // The code button sits inside the field, at its right end.
    m_codeButton = new QPushButton(m_code);
    m_codeButton->setObjectName(QStringLiteral("numberCodeButton"));
    m_codeButton->setText(QStringLiteral("发送验证码"));
    m_codeButton->setCursor(Qt::PointingHandCursor);
    m_codeButton->setFixedSize(112, 36);
    // Enter signs in (keyPressEvent); it never asks for another code.
    m_codeButton->setAutoDefault(false);
    auto *codeRow = new QHBoxLayout(m_code);
    codeRow->setContentsMargins(0, 0, 6, 0);
    codeRow->addStretch(1);
    codeRow->addWidget(m_codeButton);
    m_code->setTextMargins(0, 0, 118, 0);
    body->addWidget(m_code);

    m_errorLabel = new QLabel(this);
    m_errorLabel->setObjectName(QStringLiteral("errorLabel"));
    m_errorLabel->setFixedHeight(30);
    body->addWidget(m_errorLabel);

    m_loginButton = new QPushButton(this);
    m_loginButton->setObjectName(QStringLiteral("loginButton"));
    m_loginButton->setText(QStringLiteral("登录注册"));
    m_loginButton->setCursor(Qt::PointingHandCursor);
    m_loginButton->setFixedHeight(46);
    m_loginButton->setAutoDefault(false);
    body->addWidget(m_loginButton);
    body->addSpacing(14);

    m_autoLogin = new QCheckBox(this);
    m_autoLogin->setObjectName(QStringLiteral("autoLoginCheckbox"));
    m_autoLogin->setText(QStringLiteral("自动登录"));
    m_autoLogin->setCursor(Qt::PointingHandCursor);
    body->addWidget(m_autoLogin, 0, Qt::AlignLeft);
    body->addStretch(1);

    auto *agreements = new QGridLayout;
    agreements->setHorizontalSpacing(0);
    agreements->setVerticalSpacing(4);
    m_infoLabel = new QLabel(this);
    m_infoLabel->setObjectName(QStringLiteral("loginInfoLabel"));
    m_userAgreement = agreementLabel(this, "labelyh", QStringLiteral("《用户协议》"));
    m_privacy = agreementLabel(this, "labelys", QStringLiteral("《隐私政策》"));
    m_disclaimer = agreementLabel(this, "labelmz", QStringLiteral("《Mervane云手机平台免责声明》"));
    m_deleteAccount = agreementLabel(this, "labelzx", QStringLiteral("《注销账号声明》"));
    agreements->addWidget(m_infoLabel, 0, 0, 1, 7);
    agreements->addWidget(m_userAgreement, 1, 0);
    agreements->addWidget(separatorLabel(this, QStringLiteral("、")), 1, 1);
    agreements->addWidget(m_privacy, 1, 2);
    agreements->addWidget(separatorLabel(this, QStringLiteral("、")), 1, 3);
    agreements->addWidget(m_disclaimer, 1, 4);
    agreements->addWidget(separatorLabel(this, QStringLiteral("和")), 1, 5);
    agreements->setColumnStretch(6, 1);
    agreements->addWidget(m_deleteAccount, 2, 0, 1, 3, Qt::AlignLeft);
    body->addLayout(agreements);
}

bool Login::restoreAutoLoginChoice(QSettings &settings)
{
    // Only a "Setting.ini" in the working directory keeps the saved choice;
    // otherwise opening this window turns automatic sign-in off.
    if (QFile::exists(QStringLiteral("Setting.ini")))
        return settings.value(SettingsKey::AutoLogin, false).toBool();
    settings.setValue(SettingsKey::AutoLogin, false);
    settings.sync();
    return false;
}

void Login::makeConnections()
{
    connect(m_userAgreement, &ClickableLabel::clicked, this, [this] { openAgreement(QStringLiteral("/user_agreement")); });
    connect(m_privacy, &ClickableLabel::clicked, this, [this] { openAgreement(QStringLiteral("/privacy")); });
    connect(m_disclaimer, &ClickableLabel::clicked, this, [this] { openAgreement(QStringLiteral("/disclaimer")); });
    connect(m_deleteAccount, &ClickableLabel::clicked, this, [this] { openAgreement(QStringLiteral("/delete_agreement")); });
    connect(m_lessenButton, &QPushButton::clicked, this, [this] {
        qDebug() << "最小化";
        showMinimized();
    });
    // Ends the process even while the main window exists hidden.
    connect(m_closeButton, &QPushButton::clicked, qApp, &QCoreApplication::quit);
    connect(m_phone, &QLineEdit::textChanged, this, &Login::phoneChanged);
    connect(m_code, &QLineEdit::textChanged, this, &Login::codeChanged);
    connect(m_codeButton, &QPushButton::clicked, this, &Login::requestCode);
    connect(m_autoLogin, &QCheckBox::clicked, this, &Login::saveAutoLoginChoice);
    connect(m_loginButton, &QPushButton::clicked, this, &Login::signIn);
}

void Login::clearCode()
{
    m_code->clear();
}

void Login::phoneChanged()
{
    m_errorLabel->clear();
    m_codeButton->setEnabled(!m_phone->text().isEmpty() && !isCountingDown());
    updateLoginButton();
}

void Login::codeChanged()
{
    if (m_code->text().isEmpty())
        m_errorLabel->clear();
    updateLoginButton();
}

bool Login::codeIsValid()
{
    const QString code = m_code->text();
    bool isNumber = false;
    code.toDouble(&isNumber);
    if (code.size() == 6 && isNumber) {
        m_errorLabel->clear();
        return true;
    }
    m_errorLabel->setStyleSheet(QStringLiteral("color:RED"));
    m_errorLabel->setText(QStringLiteral("验证码格式错误!!!"));
    return false;
}

void Login::updateLoginButton()
{
    if (m_phone->text().isEmpty() || m_code->text().isEmpty()) {
        m_loginButton->setEnabled(false);
        return;
    }
    m_errorLabel->clear();
    m_loginButton->setEnabled(codeIsValid());
}

bool Login::isCountingDown() const
{
    return m_countdown && m_countdown->isActive();
}

void Login::requestCode()
{
    // Blocks the window for the one request, as every backend call here does.
    if (!Utils::instance()->sendMsg(m_phone->text())) {
        Toast::instance()->show(2, QStringLiteral("验证码下发失败"));
        return;
    }
    if (m_countdown) {
        m_countdown->stop();
        m_countdown->deleteLater();
    }
    m_countdown = new QTimer(this);
    m_remaining = CountdownTicks;
    connect(m_countdown, &QTimer::timeout, this, &Login::countdownTick);
    m_countdown->start(1000);
    m_codeButton->setEnabled(false);
    m_phone->setEnabled(false);
}

void Login::countdownTick()
{
    if (!isCountingDown())
        return;
    --m_remaining;
    m_codeButton->setText(QStringLiteral("重新发送(%1)").arg(m_remaining));
    if (m_remaining > 0)
        return;
    m_countdown->stop();
    m_codeButton->setText(QStringLiteral("重新发送"));
    m_codeButton->setEnabled(true);
    m_phone->setEnabled(true);
}

void Login::stopCountdown()
{
    if (!isCountingDown())
        return;
    m_countdown->stop();
    m_codeButton->setText(QStringLiteral("发送验证码"));
    m_codeButton->setEnabled(true);
    m_phone->setEnabled(true);
}

void Login::saveAutoLoginChoice()
{
    // Takes effect at the next start.
    m_settings->setValue(SettingsKey::AutoLogin, m_autoLogin->isChecked());
    m_settings->sync();
}

void Login::signIn()
{
    const QString phone = m_phone->text();
    const QString code = m_code->text();
    qDebug() << "tel" << phone << "code" << code;
    const QString message = Utils::instance()->login(phone, code);
    if (!message.isEmpty()) {
        Toast::instance()->show(2, message);
        return;
    }
    MainWindow *mainWindow = MainWindow::instance();
    mainWindow->show();
    mainWindow->refreshPhoneList(false);
    mainWindow->createPushClient();
    hide();
    stopCountdown();
}

void Login::openAgreement(const QString &path)
{
    QDesktopServices::openUrl(QUrl(Utils::instance()->pagesBaseUrl() + path));
}

void Login::keyPressEvent(QKeyEvent *event)
{
    // As a dialog the window would hide itself on Escape and leave a running
    // process with no window at all.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    // Enter anywhere in the form signs in, when signing in is possible; no
    // button is the dialog's default, so it can never send a new code.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        if (m_loginButton->isEnabled())
            m_loginButton->click();
        return;
    }
    DraggableWidget::keyPressEvent(event);
}

void Login::closeEvent(QCloseEvent *event)
{
    // A close from the window manager ends the application like the close
    // button; merely hiding would leave nothing to bring the client back.
    event->accept();
    QCoreApplication::quit();
}
