#include "stream/menubutton.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QVBoxLayout>

MenuButton::MenuButton(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("MenuButton"));
    resize(151, 145);
    m_layout = new QVBoxLayout(this);
    m_layout->setObjectName(QStringLiteral("verticalLayout"));
    m_layout->setSpacing(6);
    m_layout->setContentsMargins(9, 9, 9, 9);
    m_icon = new QLabel(this);
    m_icon->setObjectName(QStringLiteral("menu_icon"));
    m_icon->setAlignment(Qt::AlignCenter);
    m_layout->addWidget(m_icon);
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("text"));
    m_text->setAlignment(Qt::AlignCenter);
    m_layout->addWidget(m_text);
}

MenuButton::~MenuButton() = default;

void MenuButton::setIcon(const QString &path)
{
    m_iconPath = path;
    m_icon->setPixmap(QPixmap(path));
    m_icon->setContentsMargins(20, 10, 20, 10);
}

void MenuButton::setText(const QString &text)
{
    m_text->setText(text);
}

QString MenuButton::text() const
{
    return m_text->text();
}

void MenuButton::refresh()
{
    m_icon->setPixmap(QPixmap(m_iconPath));
    m_text->setStyleSheet(QStringLiteral("color: #3D3D3D;"));
}

void MenuButton::enterEvent(QEvent *event)
{
    refresh();
    QWidget::enterEvent(event);
}

void MenuButton::leaveEvent(QEvent *event)
{
    refresh();
    QWidget::leaveEvent(event);
}

void MenuButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_armed = true;
    // Taken either way, so a press on the panel never reaches the phone.
    event->accept();
}

void MenuButton::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    const bool armed = m_armed;
    m_armed = false;
    if (armed && rect().contains(event->pos()))
        emit clicked();
}
