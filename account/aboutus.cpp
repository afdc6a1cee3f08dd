#include "account/aboutus.h"

#include "account/userinfo.h"
#include "api/utils.h"
#include "widgets/clickablelabel.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const char *const FormStyle = R"(
#label { color: #1F2D3D; font-weight: bold; }
#updateClose { border: none; background: transparent; }
#label_3 { font-size: 16px; color: #1F2D3D; }
#label_4 { color: #888888; }
#update { color: #333333; font-size: 14px; }
#update:hover { color: #0598FE; }
#xieyi1, #xieyi2, #xieyi3, #xieyi4 { font-size: 12px; }
)";

struct Agreement
{
    const char *name;
    const char *text;
    const char *path;
};

const Agreement Agreements[4] = {
    {"xieyi1", "《Mervane云手机用户协议》", "/user_agreement"},
    {"xieyi2", "《Mervane云手机隐私政策》", "/privacy"},
    {"xieyi3", "《Mervane云手机免责声明》", "/disclaimer"},
    {"xieyi4", "《注销账号声明》", "/delete_agreement"},
};

} // namespace

AboutUs::AboutUs(QWidget *parent)
    : DraggableWidget(parent)
{
    setObjectName(QStringLiteral("AboutUs"));
    buildForm();
    setWindowTitle(QStringLiteral("关于我们"));
    setFixedSize(318, 374);

    connect(m_updateClose, &QPushButton::clicked, this, &AboutUs::close);
    connect(m_update, &ClickableLabel::clicked, this, [this] {
        close();
        UserInfo::checkForUpdate();
    });
    for (int i = 0; i < 4; ++i) {
        const QString path = QString::fromLatin1(Agreements[i].path);
        connect(m_xieyi[i], &ClickableLabel::clicked, this, [this, path] { openAgreement(path); });
    }
}

AboutUs::~AboutUs() = default;

void AboutUs::buildForm()
{
    setStyleSheet(QString::fromUtf8(FormStyle));
    auto *verticalLayout = new QVBoxLayout(this);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(5);
    verticalLayout->setContentsMargins(12, 12, 12, 12);

    // Title and close button.
    auto *widget = new QWidget(this);
    widget->setObjectName(QStringLiteral("widget"));
    auto *horizontalLayout = new QHBoxLayout(widget);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setContentsMargins(10, 0, 0, 0);
    auto *title = new QLabel(QStringLiteral("关于我们"), widget);
    title->setObjectName(QStringLiteral("label"));
    QFont titleFont = title->font();
    titleFont.setPointSize(14);
    title->setFont(titleFont);
    m_updateClose = new QPushButton(widget);
    m_updateClose->setObjectName(QStringLiteral("updateClose"));
    m_updateClose->setFixedSize(40, 40);
    m_updateClose->setIcon(QIcon(QStringLiteral(":/image/login/updateClose.png")));
    m_updateClose->setCursor(Qt::PointingHandCursor);
    m_updateClose->setFocusPolicy(Qt::NoFocus);
    horizontalLayout->addWidget(title);
    horizontalLayout->addStretch(1);
    horizontalLayout->addWidget(m_updateClose);
    verticalLayout->addWidget(widget);

    // Logo.
    auto *widget1 = new QWidget(this);
    widget1->setObjectName(QStringLiteral("widget1"));
    widget1->setFixedHeight(74);
    auto *horizontalLayout_2 = new QHBoxLayout(widget1);
    horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    auto *logo = new QLabel(widget1);
    logo->setObjectName(QStringLiteral("label_2"));
    logo->setFixedSize(64, 64);
    logo->setPixmap(QPixmap(QStringLiteral(":/image/login/loginIcon.png")));
    logo->setScaledContents(true);
    horizontalLayout_2->addWidget(logo, 0, Qt::AlignCenter);
    verticalLayout->addWidget(widget1);

    // Product name.
    auto *horizontalLayout_3 = new QHBoxLayout;
    horizontalLayout_3->setObjectName(QStringLiteral("horizontalLayout_3"));
    auto *name = new QLabel(QStringLiteral("Mervane云手机"), this);
    name->setObjectName(QStringLiteral("label_3"));
    horizontalLayout_3->addWidget(name, 0, Qt::AlignCenter);
    verticalLayout->addLayout(horizontalLayout_3);

    // Version: the running client's, without a "v".
    auto *widget2 = new QWidget(this);
    widget2->setObjectName(QStringLiteral("widget2"));
    widget2->setMaximumHeight(30);
    auto *horizontalLayout_4 = new QHBoxLayout(widget2);
    horizontalLayout_4->setObjectName(QStringLiteral("horizontalLayout_4"));
    horizontalLayout_4->setContentsMargins(0, 0, 0, 0);
    m_version = new QLabel(QStringLiteral("v1.0.0"), widget2);
    m_version->setObjectName(QStringLiteral("label_4"));
    QFont versionFont = m_version->font();
    versionFont.setPointSize(10);
    m_version->setFont(versionFont);
    m_version->setText(QApplication::applicationVersion());
    horizontalLayout_4->addWidget(m_version, 0, Qt::AlignCenter);
    verticalLayout->addWidget(widget2);

    // Update check.
    auto *widget_2 = new QWidget(this);
    widget_2->setObjectName(QStringLiteral("widget_2"));
    widget_2->setMinimumHeight(80);
    auto *horizontalLayout_5 = new QHBoxLayout(widget_2);
    horizontalLayout_5->setObjectName(QStringLiteral("horizontalLayout_5"));
    horizontalLayout_5->setContentsMargins(0, 1, 0, 0);
    m_update = new ClickableLabel(widget_2);
    m_update->setObjectName(QStringLiteral("update"));
    m_update->setText(QStringLiteral("检查更新"));
    m_update->setFixedSize(120, 40);
    m_update->setAlignment(Qt::AlignCenter);
    m_update->setCursor(Qt::PointingHandCursor);
    m_update->setStyleSheet(
        QStringLiteral("background: #FFFFFF;\nborder-radius: 6px 6px 6px 6px;\nopacity: 1;\nborder: 1px solid #D8D8D8;"));
    horizontalLayout_5->addWidget(m_update, 0, Qt::AlignCenter);
    verticalLayout->addWidget(widget_2);

    // Agreements.
    auto *widget_21 = new QWidget(this);
    widget_21->setObjectName(QStringLiteral("widget_21"));
    widget_21->setStyleSheet(QStringLiteral("color: #0598FE;"));
    auto *gridLayout = new QGridLayout(widget_21);
    gridLayout->setObjectName(QStringLiteral("gridLayout"));
    gridLayout->setContentsMargins(0, 0, 0, 0);
    gridLayout->setVerticalSpacing(4);
    for (int i = 0; i < 4; ++i) {
        auto *label = new ClickableLabel(widget_21);
        label->setObjectName(QLatin1String(Agreements[i].name));
        label->setText(QString::fromUtf8(Agreements[i].text));
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        label->setCursor(Qt::PointingHandCursor);
        // One per row: two side by side would break inside the titles.
        gridLayout->addWidget(label, i, 0, Qt::AlignCenter);
        m_xieyi[i] = label;
    }
    verticalLayout->addWidget(widget_21);
}

void AboutUs::openAgreement(const QString &path)
{
    QDesktopServices::openUrl(QUrl(Utils::instance()->pagesBaseUrl() + path));
}
