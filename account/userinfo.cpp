#include "account/userinfo.h"

#include "account/aboutus.h"
#include "account/login.h"
#include "app/appevent.h"
#include "api/utils.h"
#include "phones/mainwindow.h"
#include "widgets/clickablelabel.h"
#include "widgets/infodialog.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// The operator's support group.
const QString SupportGroup = QStringLiteral("653028114");

const char *const FormStyle = R"(
#label_2 { font-size: 15px; font-weight: bold; color: #1F2D3D; }
#label_3 { font-size: 13px; color: #666666; }
#label_6, #label_7, #upload, #about, #loginout { font-size: 14px; color: #333333; }
#upload:hover, #about:hover, #loginout:hover { color: #0598FE; }
)";

QLabel *picture(QWidget *parent, const char *name, const QString &path, const QSize &maximum)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setPixmap(QPixmap(path));
    if (maximum.isValid())
        label->setMaximumSize(maximum);
    label->setScaledContents(true);
    return label;
}

ClickableLabel *clickable(QWidget *parent, const char *name, const QString &text)
{
    auto *label = new ClickableLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setText(text);
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

ClickableLabel *clickablePicture(QWidget *parent, const char *name, const QString &path, const QSize &size)
{
    auto *label = new ClickableLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setPixmap(QPixmap(path));
    label->setScaledContents(true);
    label->setMaximumSize(size);
    label->setCursor(Qt::PointingHandCursor);
    return label;
}

QWidget *row(QWidget *parent, const char *name, const char *layoutName, QHBoxLayout **layout)
{
    auto *widget = new QWidget(parent);
    widget->setObjectName(QLatin1String(name));
    *layout = new QHBoxLayout(widget);
    (*layout)->setObjectName(QLatin1String(layoutName));
    (*layout)->setContentsMargins(0, 0, 0, 0);
    (*layout)->setSpacing(8);
    return widget;
}

} // namespace

UserInfo::UserInfo(QWidget *parent)
    : UserPanel(parent)
    , m_clipboard(QApplication::clipboard())
{
    setObjectName(QStringLiteral("UserInfo"));
    buildForm();
    setWindowTitle(QStringLiteral("选项"));
    resize(228, 244);

    connect(m_copy, &ClickableLabel::clicked, this, &UserInfo::copyNumber);
    connect(m_upload, &ClickableLabel::clicked, this, &UserInfo::checkForUpdate);
    connect(m_upload_icon, &ClickableLabel::clicked, this, &UserInfo::checkForUpdate);
    connect(m_about_label, &ClickableLabel::clicked, this, &UserInfo::openAbout);
    connect(m_about_icon, &ClickableLabel::clicked, this, &UserInfo::openAbout);
    connect(m_loginout, &ClickableLabel::clicked, this, &UserInfo::signOut);
}

UserInfo::~UserInfo() = default;

void UserInfo::buildForm()
{
    setStyleSheet(QString::fromUtf8(FormStyle));
    m_verticalLayout_2 = new QVBoxLayout(this);
    m_verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    m_verticalLayout_2->setContentsMargins(18, 18, 18, 18);
    m_verticalLayout_2->setSpacing(6);

    // Avatar, name, number and copy button.
    QHBoxLayout *horizontalLayout_2 = nullptr;
    m_widget4 = row(this, "widget4", "horizontalLayout_2", &horizontalLayout_2);
    horizontalLayout_2->setSpacing(10);
    m_label = picture(m_widget4, "label", QStringLiteral(":/image/phone/default.png"), QSize(48, 48));
    m_label->setMinimumSize(48, 48);
    horizontalLayout_2->addWidget(m_label);
    auto *verticalLayout = new QVBoxLayout;
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(4);
    m_label_2 = new QLabel(m_widget4);
    m_label_2->setObjectName(QStringLiteral("label_2"));
    verticalLayout->addWidget(m_label_2);
    auto *horizontalLayout = new QHBoxLayout;
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setSpacing(6);
    m_label_3 = new QLabel(m_widget4);
    m_label_3->setObjectName(QStringLiteral("label_3"));
    m_label_3->setTextInteractionFlags(Qt::TextSelectableByMouse);
    horizontalLayout->addWidget(m_label_3);
    m_copy = clickablePicture(m_widget4, "copy", QStringLiteral(":/image/phone/icon_copy.png"), QSize(12, 12));
    m_copy->setMinimumSize(12, 12);
    m_copy->setToolTip(QStringLiteral("复制"));
    horizontalLayout->addWidget(m_copy);
    horizontalLayout->addStretch(1);
    verticalLayout->addLayout(horizontalLayout);
    horizontalLayout_2->addLayout(verticalLayout, 1);
    m_verticalLayout_2->addWidget(m_widget4);

    // Support group.
    QHBoxLayout *horizontalLayout_3 = nullptr;
    m_widget5 = row(this, "widget5", "horizontalLayout_3", &horizontalLayout_3);
    m_label_5 = picture(m_widget5, "label_5", QStringLiteral(":/image/phone/icon_qq.png"), QSize(16, 16));
    m_label_5->setFixedSize(16, 16);
    m_label_6 = new QLabel(QStringLiteral("官方Q群"), m_widget5);
    m_label_6->setObjectName(QStringLiteral("label_6"));
    m_label_7 = new QLabel(SupportGroup, m_widget5);
    m_label_7->setObjectName(QStringLiteral("label_7"));
    m_label_7->setTextInteractionFlags(Qt::TextSelectableByMouse);
    horizontalLayout_3->addWidget(m_label_5);
    horizontalLayout_3->addWidget(m_label_6);
    horizontalLayout_3->addStretch(1);
    horizontalLayout_3->addWidget(m_label_7);
    m_verticalLayout_2->addWidget(m_widget5);

    // Update check.
    QHBoxLayout *horizontalLayout_4 = nullptr;
    m_widget = row(this, "widget", "horizontalLayout_4", &horizontalLayout_4);
    m_label_8 = picture(m_widget, "label_8", QStringLiteral(":/image/phone/icon_update.png"), QSize(16, 16));
    m_label_8->setFixedSize(16, 16);
    m_upload = clickable(m_widget, "upload", QStringLiteral("版本更新"));
    m_upload_icon = clickablePicture(m_widget, "upload_icon", QStringLiteral(":/image/phone/icon_right.png"), QSize(12, 12));
    m_upload_icon->setFixedSize(12, 12);
    horizontalLayout_4->addWidget(m_label_8);
    horizontalLayout_4->addWidget(m_upload, 1);
    horizontalLayout_4->addWidget(m_upload_icon);
    m_verticalLayout_2->addWidget(m_widget);

    // About.
    QHBoxLayout *horizontalLayout_6 = nullptr;
    m_widget_2 = row(this, "widget_2", "horizontalLayout_6", &horizontalLayout_6);
    m_label_14 = picture(m_widget_2, "label_14", QStringLiteral(":/image/phone/icon_about.png"), QSize(16, 16));
    m_label_14->setFixedSize(16, 16);
    m_about_label = clickable(m_widget_2, "about", QStringLiteral("关于我们"));
    m_about_icon = clickablePicture(m_widget_2, "about_icon", QStringLiteral(":/image/phone/icon_right.png"), QSize(12, 12));
    m_about_icon->setFixedSize(12, 12);
    horizontalLayout_6->addWidget(m_label_14);
    horizontalLayout_6->addWidget(m_about_label, 1);
    horizontalLayout_6->addWidget(m_about_icon);
    m_verticalLayout_2->addWidget(m_widget_2);

    // Sign-out.
    QHBoxLayout *horizontalLayout_7 = nullptr;
    m_widget_3 = row(this, "widget_3", "horizontalLayout_7", &horizontalLayout_7);
    m_label_17 = picture(m_widget_3, "label_17", QStringLiteral(":/image/phone/icon_logout.png"), QSize(16, 16));
    m_label_17->setFixedSize(16, 16);
    m_loginout = clickable(m_widget_3, "loginout", QStringLiteral("退出登录"));
    horizontalLayout_7->addWidget(m_label_17);
    horizontalLayout_7->addWidget(m_loginout, 1);
    m_verticalLayout_2->addWidget(m_widget_3);
}

void UserInfo::setUserName(const QString &name)
{
    m_label_2->setText(name);
}

void UserInfo::setPhoneNumber(const QString &phone)
{
    m_label_3->setText(phone);
}

void UserInfo::copyNumber()
{
    m_clipboard->setText(m_label_3->text());
}

void UserInfo::checkForUpdate()
{
    InfoDialog dialog;
    dialog.setAttentionText(QStringLiteral("检查更新"));
    dialog.setWindowTitle(QStringLiteral("检查更新"));
    const AppEvent *event = AppEvent::instance();
    if (Utils::instance()->versionConfig()) {
        dialog.setContentText(QStringLiteral("当前版本为%1，最新版本为%2，是否立刻升级到最新版本？")
                                  .arg(QApplication::applicationVersion(), event->showVersion()));
        dialog.setConfirmText(QStringLiteral("立刻升级"));
    } else {
        dialog.setContentText(QStringLiteral("当前版本为最新版本!"));
        dialog.setSingleButtonText(QStringLiteral("确定"));
    }
    // Centred once its texts have given it its size.
    dialog.adjustSize();
    centerOver(&dialog, MainWindow::instance());
    if (dialog.exec() == 1)
        QDesktopServices::openUrl(QUrl(event->downloadUrl()));
    dialog.close();
}

AboutUs *UserInfo::aboutWindow() const
{
    return m_about;
}

void UserInfo::openAbout()
{
    if (!m_about)
        m_about = new AboutUs(nullptr);
    m_about->show();
    centerOver(m_about, MainWindow::instance());
    m_about->raise();
    m_about->activateWindow();
}

void UserInfo::signOut()
{
    Utils::instance()->signOut();
    MainWindow *mainWindow = MainWindow::instance();
    mainWindow->releasePushClient();
    mainWindow->hide();
    hide();
    Login *login = Login::instance();
    login->show();
    login->raise();
    login->activateWindow();
}

void installUserPanel()
{
    MainWindow::setUserPanelFactory([]() -> UserPanel * { return new UserInfo(nullptr); });
}
