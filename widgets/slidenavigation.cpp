#include "widgets/slidenavigation.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>

namespace {

bool fuzzyEqual(qreal a, qreal b)
{
    // Offset by one so that comparisons against zero stay meaningful.
    return qFuzzyCompare(1.0 + a, 1.0 + b);
}

bool sameRect(const QRectF &a, const QRectF &b)
{
    return fuzzyEqual(a.x(), b.x()) && fuzzyEqual(a.y(), b.y())
        && fuzzyEqual(a.width(), b.width()) && fuzzyEqual(a.height(), b.height());
}

// One shake step of an edge: 2 toward the target, snapped when close.
qreal shakeEdge(qreal edge, qreal target)
{
    constexpr qreal step = 2.0;
    if (edge < target)
        edge += step;
    else if (edge > target)
        edge -= step;
    if (qAbs(target - edge) <= step)
        edge = target;
    return edge;
}

} // namespace

SlideNavigation::SlideNavigation(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::ClickFocus);
    m_slideTimer.setInterval(10);
    m_shakeTimer.setInterval(10);
    connect(&m_slideTimer, &QTimer::timeout, this, &SlideNavigation::doSlide);
    connect(&m_shakeTimer, &QTimer::timeout, this, &SlideNavigation::doShake);
}

SlideNavigation::~SlideNavigation() = default;

void SlideNavigation::addItem(const QString &text)
{
    if (text.isEmpty() || indexOf(text) >= 0)
        return;

    const QFontMetrics metrics(font());
    const int w = metrics.horizontalAdvance(text);
    const int h = metrics.height();
    const int s = m_spacing;
    const int index = m_items.size();

    QRectF rect;
    if (index == 0) {
        m_totalWidth = m_orientation == Horizontal ? s + w : w + 2 * s;
        m_totalHeight = s + h;
        rect = QRectF(QPointF(0, 0), QPointF(m_totalWidth, m_totalHeight));
    } else if (m_orientation == Horizontal) {
        rect = QRectF(QPointF(m_totalWidth, 0), QPointF(m_totalWidth + s + w, m_totalHeight));
        m_totalWidth += s + w;
    } else {
        // Every item keeps the first item's width.
        rect = QRectF(QPointF(0, m_totalHeight), QPointF(m_totalWidth, m_totalHeight + s + h));
        m_totalHeight += s + h;
    }
    m_items.insert(index, qMakePair(text, rect));
    m_naturalRects.insert(index, rect);

    setMinimumSize(m_totalWidth, m_totalHeight);
    if (m_fixed) {
        if (m_orientation == Horizontal)
            setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        else
            setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    }
    spreadItems();
    update();
}

void SlideNavigation::setOrientation(int orientation)
{
    if (m_orientation == orientation)
        return;
    m_orientation = orientation;
    update();
}

void SlideNavigation::setFixed(bool fixed)
{
    if (m_fixed == fixed)
        return;
    m_fixed = fixed;
    update();
}

QString SlideNavigation::itemText(int index) const
{
    return m_items.value(index).first;
}

QRectF SlideNavigation::itemRect(int index) const
{
    return m_items.value(index).second;
}

int SlideNavigation::indexAt(const QPointF &point) const
{
    for (auto it = m_items.cbegin(); it != m_items.cend(); ++it) {
        if (it.value().second.contains(point))
            return it.key();
    }
    return -1;
}

int SlideNavigation::indexOf(const QString &text) const
{
    for (auto it = m_items.cbegin(); it != m_items.cend(); ++it) {
        if (it.value().first == text)
            return it.key();
    }
    return -1;
}

void SlideNavigation::moveToFirst()
{
    moveTo(0);
}

void SlideNavigation::moveToLast()
{
    moveTo(m_items.size() - 1);
}

void SlideNavigation::moveToPrevious()
{
    moveTo(m_currentIndex - 1);
}

void SlideNavigation::moveToNext()
{
    moveTo(m_currentIndex + 1);
}

void SlideNavigation::moveTo(int index)
{
    if (index < 0 || index >= m_items.size() || index == m_currentIndex)
        return;
    emit itemClicked(index, m_items.value(index).first);
    select(index);
}

void SlideNavigation::moveTo(const QString &str)
{
    const int index = indexOf(str);
    if (index >= 0 && index != m_currentIndex)
        moveTo(index);
}

void SlideNavigation::moveTo(const QPointF &point)
{
    const int index = indexAt(point);
    if (index >= 0 && index != m_currentIndex)
        moveTo(index);
}

void SlideNavigation::setEnableKeyMove(bool enable)
{
    m_keyMove = enable;
}

void SlideNavigation::select(int index)
{
    const QRectF rect = m_items.value(index).second;
    if (m_currentIndex < 0)
        m_barRect = rect;
    m_forward = m_currentIndex < index;
    m_currentIndex = index;
    m_targetRect = rect;
    // A new slide takes over from a settle still in progress.
    m_shakeTimer.stop();
    m_slideTimer.start();
}

void SlideNavigation::doSlide()
{
    if (m_spacing <= 0 || sameRect(m_barRect, m_targetRect)) {
        // Nothing left to slide; no point ticking on.
        m_slideTimer.stop();
        return;
    }

    const qreal step = m_spacing / 2.0;
    const bool horizontal = m_orientation == Horizontal;
    const qreal delta = m_forward ? step : -step;
    m_barRect.translate(horizontal ? delta : 0, horizontal ? 0 : delta);

    const qreal bar = horizontal ? m_barRect.left() : m_barRect.top();
    const qreal target = horizontal ? m_targetRect.left() : m_targetRect.top();
    const bool arrived = m_forward ? bar >= target : target >= bar;
    if (arrived) {
        m_slideTimer.stop();
        if (!sameRect(m_barRect, m_targetRect))
            m_shakeTimer.start();
    }
    update();
}

void SlideNavigation::doShake()
{
    m_barRect.setLeft(shakeEdge(m_barRect.left(), m_targetRect.left()));
    m_barRect.setTop(shakeEdge(m_barRect.top(), m_targetRect.top()));
    m_barRect.setRight(shakeEdge(m_barRect.right(), m_targetRect.right()));
    m_barRect.setBottom(shakeEdge(m_barRect.bottom(), m_targetRect.bottom()));
    if (sameRect(m_barRect, m_targetRect)) {
        m_barRect = m_targetRect;
        m_shakeTimer.stop();
    }
    update();
}

void SlideNavigation::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);

    painter.setPen(Qt::NoPen);
    QLinearGradient background(rect().topLeft(), rect().bottomLeft());
    background.setColorAt(0, m_backgroundTop);
    background.setColorAt(1, m_backgroundBottom);
    painter.setBrush(background);
    painter.drawRoundedRect(rect(), m_backgroundRadius, m_backgroundRadius);

    if (!m_barRect.isNull()) {
        QLinearGradient bar(m_barRect.topLeft(), m_barRect.bottomRight());
        bar.setColorAt(0, m_barStart);
        bar.setColorAt(1, m_barEnd);
        painter.setPen(Qt::NoPen);
        painter.setBrush(bar);
        painter.drawRoundedRect(m_barRect, m_barRadius, m_barRadius);

        painter.setPen(QPen(m_selectedColor, m_barLineWidth));
        painter.drawLine(m_barRect.topRight() + QPointF(0, 15),
                         m_barRect.bottomRight() - QPointF(0, 15));
    }

    painter.setBrush(Qt::NoBrush);
    for (auto it = m_items.cbegin(); it != m_items.cend(); ++it) {
        painter.setPen(it.key() == m_currentIndex ? m_selectedColor : m_textColor);
        painter.drawText(it.value().second, Qt::AlignCenter, it.value().first);
    }

    painter.setPen(QPen(QColor(QStringLiteral("#f2f2f2")), 2, Qt::SolidLine));
    painter.drawLine(QPointF(width(), 0), QPointF(width(), height()));
}

void SlideNavigation::mousePressEvent(QMouseEvent *event)
{
    const int index = indexAt(event->localPos());
    if (index < 0)
        return;
    emit itemClicked(index, m_items.value(index).first);
    if (index == m_currentIndex)
        return;
    select(index);
}

void SlideNavigation::keyPressEvent(QKeyEvent *event)
{
    if (m_keyMove) {
        switch (event->key()) {
        case Qt::Key_Home:
            moveToFirst();
            return;
        case Qt::Key_End:
            moveToLast();
            return;
        case Qt::Key_Left:
        case Qt::Key_Up:
            moveToPrevious();
            return;
        case Qt::Key_Right:
        case Qt::Key_Down:
            moveToNext();
            return;
        default:
            break;
        }
    }
    QWidget::keyPressEvent(event);
}

void SlideNavigation::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    spreadItems();
}

// Without the fixed flag, extra room is shared out evenly along the bar and
// the items fill it across; a fixed bar keeps its items where they were added.
void SlideNavigation::spreadItems()
{
    if (m_fixed || m_items.isEmpty())
        return;

    const bool horizontal = m_orientation == Horizontal;
    const qreal extra = qMax(0, horizontal ? width() - m_totalWidth : height() - m_totalHeight);
    const qreal share = extra / m_items.size();
    const qreal across = qMax<qreal>(horizontal ? m_totalHeight : m_totalWidth,
                                     horizontal ? height() : width());
    qreal offset = 0;
    for (auto it = m_naturalRects.cbegin(); it != m_naturalRects.cend(); ++it) {
        const QRectF natural = it.value();
        QRectF spread = horizontal
            ? QRectF(natural.x() + offset, 0, natural.width() + share, across)
            : QRectF(0, natural.y() + offset, across, natural.height() + share);
        offset += share;
        m_items[it.key()].second = spread;
    }

    if (m_currentIndex >= 0) {
        // Settle at once on the moved item rather than animating a resize.
        m_targetRect = m_items.value(m_currentIndex).second;
        m_barRect = m_targetRect;
        m_slideTimer.stop();
        m_shakeTimer.stop();
    }
}
