#include "phones/applicationmousefilter.h"

#include "phones/globalmouseevent.h"

#include <QMouseEvent>
#include <QWheelEvent>

ApplicationMouseFilter::ApplicationMouseFilter(QObject *parent)
    : QObject(parent)
{
}

ApplicationMouseFilter::~ApplicationMouseFilter() = default;

bool ApplicationMouseFilter::eventFilter(QObject *watched, QEvent *event)
{
    // Every mouse action reaches a window first and is then passed on to
    // widgets (and their parents): looking at windows only sees it once.
    if (!watched->isWindowType())
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
        GlobalMouseEvent::instance()->deliverMouse(event->type(), static_cast<QMouseEvent *>(event)->button());
        break;
    case QEvent::MouseMove:
        GlobalMouseEvent::instance()->deliverMouse(QEvent::MouseMove, Qt::NoButton);
        break;
    case QEvent::Wheel: {
        const int delta = static_cast<QWheelEvent *>(event)->angleDelta().y();
        if (delta != 0)
            GlobalMouseEvent::instance()->deliverWheel(delta);
        break;
    }
    default:
        break;
    }
    return false;
}
