#include "account/update.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

namespace {

const char *const FormStyle = R"(
#updateClose {
    border: none;
    background: transparent;
}
#updateHint {
    font-size: 18px;
    font-weight: bold;
    color: #1F2D3D;
}
#updateTextEdit {
    border: 1px solid #D8D8D8;
    border-radius: 4px;
    background: #FFFFFF;
    padding: 6px;
    font-size: 13px;
    color: #333333;
}
#updateButton {
    border: none;
    border-radius: 6px;
    background: #0598FE;
    color: #FFFFFF;
    font-size: 15px;
}
#updateButton:hover {
    background: #2BA8FF;
}
)";

} // namespace

Update::Update(QWidget *parent)
    : DraggableWidget(parent)
{
    setObjectName(QStringLiteral("Update"));
    buildForm();
    setWindowTitle(QStringLiteral("版本更新"));
    connect(m_closeButton, &QPushButton::clicked, this, &Update::close);
    connect(m_updateButton, &QPushButton::clicked, this, &Update::openDownload);
}

Update::~Update() = default;

void Update::buildForm()
{
    setFixedSize(490, 362);
    setStyleSheet(QString::fromUtf8(FormStyle));

    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(ShadowMargin + 24, ShadowMargin + 12, ShadowMargin + 24, ShadowMargin + 22);
    root->setSpacing(0);

    auto *header = new QHBoxLayout;
    header->setSpacing(10);
    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("updateIcon"));
    m_icon->setPixmap(QPixmap(QStringLiteral(":/image/login/updateIcon.png")));
    m_icon->setFixedSize(60, 60);
    m_icon->setScaledContents(true);
    m_icon2 = new QLabel(this);
    m_icon2->setObjectName(QStringLiteral("updateIcon2"));
    m_icon2->setPixmap(QPixmap(QStringLiteral(":/image/login/updateIcon2.png")));
    m_closeButton = new QPushButton(this);
    m_closeButton->setObjectName(QStringLiteral("updateClose"));
    m_closeButton->setIcon(QIcon(QStringLiteral(":/image/login/updateClose.png")));
    m_closeButton->setIconSize(QSize(24, 24));
    m_closeButton->setFixedSize(28, 28);
    m_closeButton->setCursor(Qt::PointingHandCursor);
    m_closeButton->setFocusPolicy(Qt::NoFocus);
    header->addWidget(m_icon, 0, Qt::AlignVCenter);
    header->addWidget(m_icon2, 0, Qt::AlignVCenter);
    header->addStretch(1);
    header->addWidget(m_closeButton, 0, Qt::AlignTop);
    root->addLayout(header);
    root->addSpacing(14);

    m_hint = new QLabel(this);
    m_hint->setObjectName(QStringLiteral("updateHint"));
    m_hint->setText(QStringLiteral("发现新版本1.1.1可更新!"));
    root->addWidget(m_hint);
    root->addSpacing(12);

    m_notes = new QTextEdit(this);
    m_notes->setObjectName(QStringLiteral("updateTextEdit"));
    m_notes->setReadOnly(true);
    m_notes->setHtml(QStringLiteral("<a>1.修复闪退，付款延迟等问题</a><br/><a>2.修复闪退，付款延迟等问题</a><br/>"));
    root->addWidget(m_notes, 1);
    root->addSpacing(18);

    m_updateButton = new QPushButton(this);
    m_updateButton->setObjectName(QStringLiteral("updateButton"));
    m_updateButton->setText(QStringLiteral("立即更新"));
    m_updateButton->setCursor(Qt::PointingHandCursor);
    m_updateButton->setFixedSize(180, 44);
    root->addWidget(m_updateButton, 0, Qt::AlignHCenter);
}

void Update::setVersion(const QString &version)
{
    m_hint->setText(QStringLiteral("发现新版本(%1)可更新!").arg(version));
}

void Update::setNotes(const QString &text)
{
    m_notes->setText(text);
}

void Update::setDownloadUrl(const QString &url)
{
    m_downloadUrl = url;
}

void Update::openDownload()
{
    // An empty or broken link fails quietly in the browser call; the dialog
    // closes either way.
    QDesktopServices::openUrl(QUrl(m_downloadUrl));
    close();
}
