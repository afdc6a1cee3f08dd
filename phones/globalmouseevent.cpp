#include "phones/globalmouseevent.h"

#include "phones/mouselistener.h"

#include <QCursor>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QWheelEvent>

GlobalMouseEvent *GlobalMouseEvent::instance()
{
    static GlobalMouseEvent event;
    return &event;
}

GlobalMouseEvent::GlobalMouseEvent() = default;

GlobalMouseEvent::~GlobalMouseEvent() = default;

void GlobalMouseEvent::deliverMouse(QEvent::Type type, Qt::MouseButton button)
{
    if (!isSignalConnected(QMetaMethod::fromSignal(&GlobalMouseEvent::mouseEvent)))
        return;
    const QPointF pos = QCursor::pos();
    emit mouseEvent(new QMouseEvent(type, pos, pos, pos, button, button, Qt::NoModifier));
}

void GlobalMouseEvent::deliverWheel(int delta)
{
    if (!isSignalConnected(QMetaMethod::fromSignal(&GlobalMouseEvent::wheelEvent)))
        return;
    const QPointF pos = QCursor::pos();
    emit wheelEvent(new QWheelEvent(pos, pos, QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                                    Qt::NoScrollPhase, false));
}

bool installGlobalMouseHook()
{
    // Like the system hook it stands for, the listener lives until the
    // process ends.
    static MouseListener *hook = nullptr;
    if (hook)
        return true;
    std::unique_ptr<MouseListener> listener = MouseListener::create(MouseListener::XRecord);
    if (!listener)
        listener = MouseListener::create(MouseListener::XInput2);
    if (!listener)
        return false;
    hook = listener.release();
    GlobalMouseEvent *outlet = GlobalMouseEvent::instance();
    QObject::connect(hook, &MouseListener::mouseAction, outlet, &GlobalMouseEvent::deliverMouse);
    QObject::connect(hook, &MouseListener::wheelAction, outlet, &GlobalMouseEvent::deliverWheel);
    return true;
}
