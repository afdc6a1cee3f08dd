#include "widgets/titlewidget.h"

#include "widgets/clickablelabel.h"
#include "widgets/pushbutton.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>

TitleWidget::TitleWidget(QWidget *parent)
    : QWidget(parent)
{
    m_appIcon = new QLabel(this);
    m_appIcon->setObjectName(QStringLiteral("appIcon"));
    m_appIcon->setPixmap(QPixmap(QStringLiteral(":/image/phone/icon.png")));
    m_appIcon->setContentsMargins(20, 0, 12, 0);

    m_appName = new QLabel(this);
    m_appName->setObjectName(QStringLiteral("appName"));
    m_appName->setPixmap(QPixmap(QStringLiteral(":/image/phone/app_name.png")));

    // Keeps the name "ClickableLabel" its class gives it: style sheets use it.
    m_userIcon = new ClickableLabel(this);
    m_userIcon->setPixmap(QPixmap(QStringLiteral(":/image/phone/userIcon.png")));
    m_userIcon->setCursor(Qt::PointingHandCursor);

    m_userName = new QLabel(this);
    m_userName->setObjectName(QStringLiteral("userName"));
    m_userName->setContentsMargins(10, 0, 10, 0);

    m_settingButton = new PushButton(this);
    m_settingButton->setObjectName(QStringLiteral("settingButton"));
    m_settingButton->setPicture(QStringLiteral(":/image/sysButton/setting"));

    m_minButton = new PushButton(this);
    m_minButton->setObjectName(QStringLiteral("minButton"));
    m_minButton->setPicture(QStringLiteral(":/image/phone/min"));

    m_maxButton = new PushButton(this);
    m_maxButton->setObjectName(QStringLiteral("maxButton"));
    m_maxButton->setPicture(QStringLiteral(":/image/phone/screen-big"));

    m_closeButton = new PushButton(this);
    m_closeButton->setObjectName(QStringLiteral("closeButton"));
    m_closeButton->setPicture(QStringLiteral(":/image/phone/close"));

    auto *row = new QHBoxLayout(this);
    row->setSpacing(0);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_appIcon, 0, Qt::AlignVCenter);
    row->addWidget(m_appName, 0, Qt::AlignVCenter);
    row->addStretch();
    row->addWidget(m_userIcon, 0, Qt::AlignVCenter);
    row->addWidget(m_userName, 0, Qt::AlignVCenter);
    row->addWidget(m_settingButton, 0, Qt::AlignTop);
    row->addWidget(m_minButton, 0, Qt::AlignTop);
    row->addWidget(m_maxButton, 0, Qt::AlignTop);
    row->addWidget(m_closeButton, 0, Qt::AlignTop);

    setContentsMargins(0, 5, 5, 0);
    setFixedHeight(60);

    connect(m_closeButton, &PushButton::clicked, this, &TitleWidget::windowClosed);
    connect(m_minButton, &PushButton::clicked, this, &TitleWidget::windowMin);
    connect(m_maxButton, &PushButton::clicked, this, &TitleWidget::toggleMaximized);
    connect(m_settingButton, &PushButton::clicked, this, &TitleWidget::windowSetting);
    connect(m_userIcon, &ClickableLabel::clicked, this, &TitleWidget::openUserInfo);
}

TitleWidget::~TitleWidget() = default;

void TitleWidget::setUserName(const QString &phone)
{
    m_userName->setText(phone);
}

QString TitleWidget::userName() const
{
    return m_userName->text();
}

void TitleWidget::toggleMaximized()
{
    if (m_maximizedLook) {
        m_maxButton->setPicture(QStringLiteral(":/image/phone/screen-big"));
        m_maxButton->setToolTip(tr("max"));
        qDebug() << "windowBackNormal";
        emit windowBackNormal();
    } else {
        m_maxButton->setPicture(QStringLiteral(":/image/phone/screen-standard"));
        m_maxButton->setToolTip(tr("back normal"));
        qDebug() << "windowMax";
        emit windowMax();
    }
    m_maximizedLook = !m_maximizedLook;
}

void TitleWidget::setMaxButtonHidden(bool hidden)
{
    m_maxButton->setHidden(hidden);
}

void TitleWidget::setSettingButtonHidden(bool hidden)
{
    m_settingButton->setHidden(hidden);
}

void TitleWidget::setMinButtonHidden(bool hidden)
{
    m_minButton->setHidden(hidden);
}

void TitleWidget::setBrandHidden(bool hidden)
{
    m_appIcon->setHidden(hidden);
    m_appName->setHidden(hidden);
}

void TitleWidget::setUserInfoHidden(bool hidden)
{
    m_userIcon->setHidden(hidden);
    m_userName->setHidden(hidden);
}
