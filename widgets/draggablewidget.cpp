#include "widgets/draggablewidget.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

DraggableWidget::DraggableWidget(QWidget *parent)
    : QDialog(parent)
{
    setMinimumHeight(100);
    setMinimumWidth(150);
    setMouseTracking(true);
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowSystemMenuHint);
    setAttribute(Qt::WA_TranslucentBackground);
}

DraggableWidget::~DraggableWidget() = default;

void DraggableWidget::setShadowHidden(bool hidden)
{
    m_shadowHidden = hidden;
    update();
}

void DraggableWidget::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_leftButtonDown = true;
    m_dragOffset = event->globalPos() - frameGeometry().topLeft();
}

void DraggableWidget::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_leftButtonDown = false;
}

void DraggableWidget::mouseMoveEvent(QMouseEvent *event)
{
    if (m_leftButtonDown) {
        move(event->globalPos() - m_dragOffset);
        event->accept();
    }
    QDialog::mouseMoveEvent(event);
}

void DraggableWidget::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    const int m = m_shadowHidden ? 0 : ShadowMargin;

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);

    QPainterPath panel;
    panel.setFillRule(Qt::WindingFill);
    panel.addRect(m, m, width() - 2 * m, height() - 2 * m);
    painter.fillPath(panel, QBrush(QColor(255, 255, 255)));

    // Ten outlines fading outward: the innermost is the darkest.
    QColor color(0, 0, 0);
    for (int i = 0; i < m; ++i) {
        const int inset = m - i;
        QPainterPath outline;
        outline.setFillRule(Qt::WindingFill);
        outline.addRect(inset, inset, width() - 2 * inset, height() - 2 * inset);
        color.setAlpha(static_cast<int>(15 - 1.5 * i));
        painter.setPen(QPen(color, 1));
        painter.drawPath(outline);
    }
}
