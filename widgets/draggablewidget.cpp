#include "widgets/draggablewidget.h"

#include "widgets/titlewidget.h"

#include <QLayout>
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

void DraggableWidget::setMaximizeParts(TitleWidget *title, QLayout *margins, const QSize &normalSize)
{
    m_title = title;
    m_margins = margins;
    m_normalSize = normalSize;
    title->installEventFilter(this);
    connect(title, &TitleWidget::windowMax, this, &DraggableWidget::showMaximizedLook);
    connect(title, &TitleWidget::windowBackNormal, this, &DraggableWidget::showNormalLook);
}

void DraggableWidget::showMaximizedLook()
{
    showMaximized();
    setShadowHidden(true);
    if (m_margins)
        m_margins->setContentsMargins(0, 0, 0, 0);
    m_titlePressed = false;
}

void DraggableWidget::showNormalLook()
{
    showNormal();
    setShadowHidden(false);
    if (m_margins)
        m_margins->setContentsMargins(ShadowMargin, ShadowMargin, ShadowMargin, ShadowMargin);
    m_titlePressed = false;
}

bool DraggableWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_title || watched != m_title || !isMaximized())
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    // The second press of a double click reaches widgets only as this.
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            m_titlePressed = true;
        break;
    case QEvent::MouseButtonRelease:
        m_titlePressed = false;
        break;
    case QEvent::MouseMove:
        if (m_titlePressed)
            restoreUnderCursor(static_cast<QMouseEvent *>(event)->globalPos());
        break;
    default:
        break;
    }
    // The title bar still gets every event; the window's own dragging
    // carries on from here.
    return false;
}

void DraggableWidget::restoreUnderCursor(const QPoint &globalPos)
{
    // Keep the cursor over the same spot of the title bar: as far across it
    // proportionally, as far down as before.
    const QRect maximized = frameGeometry();
    const QRect normal = normalGeometry();
    const QSize size = normal.isValid() ? normal.size() : m_normalSize;
    const qreal across = maximized.width() > 0 ? qreal(globalPos.x() - maximized.left()) / maximized.width() : 0.5;
    const int down = globalPos.y() - maximized.top() + ShadowMargin;

    showNormal();
    setShadowHidden(false);
    // Flips the title bar's button back and runs showNormalLook().
    m_title->toggleMaximized();
    setGeometry(QRect(QPoint(globalPos.x() - qRound(across * size.width()), globalPos.y() - down), size));

    // The press was taken on the maximised window; taking it again here
    // makes the window follow the cursor from where it now is.
    QMouseEvent press(QEvent::MouseButtonPress, mapFromGlobal(globalPos), globalPos, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    mousePressEvent(&press);
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
