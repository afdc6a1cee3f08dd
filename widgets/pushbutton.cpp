#include "widgets/pushbutton.h"

#include <QDebug>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>

PushButton::PushButton(QWidget *parent)
    : QPushButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setContentsMargins(20, 0, 20, 0);
    // Inside a dialog a push button would otherwise become the default
    // button on focus and click on Enter.
    setAutoDefault(false);
}

PushButton::~PushButton() = default;

void PushButton::setPicture(const QString &path)
{
    m_picture = path;
    // The image reader finds "<path>.png" on its own.
    const QPixmap pixmap(path);
    if (pixmap.isNull()) {
        // Keep a usable size rather than collapsing to nothing.
        qDebug() << "PushButton: no picture at" << path;
    } else {
        setFixedSize(pixmap.size());
    }
    update();
}

QString PushButton::currentPicture() const
{
    switch (m_state) {
    case Hovered:
    case Pressed:
        return m_picture + QStringLiteral("_hover");
    default:
        return m_picture;
    }
}

void PushButton::setDisplayState(int state)
{
    m_state = state;
    update();
}

void PushButton::enterEvent(QEvent *event)
{
    Q_UNUSED(event)
    setDisplayState(Hovered);
}

void PushButton::leaveEvent(QEvent *event)
{
    Q_UNUSED(event)
    // A press released outside is forgotten once the cursor has left.
    m_pressed = false;
    setDisplayState(Normal);
}

void PushButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = true;
    setDisplayState(Pressed);
}

void PushButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_pressed || !rect().contains(event->pos()))
        return;
    m_pressed = false;
    setDisplayState(Hovered);
    emit clicked(false);
}

void PushButton::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PushButton::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    QPixmap pixmap(currentPicture());
    if (pixmap.isNull())
        pixmap = QPixmap(m_picture); // a missing hover picture falls back to the normal one
    if (pixmap.isNull())
        return;
    QPainter painter(this);
    painter.drawPixmap(rect(), pixmap);
}
