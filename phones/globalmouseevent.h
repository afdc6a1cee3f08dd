#pragma once

#include <QEvent>
#include <QObject>

class QMouseEvent;
class QWheelEvent;

// The process-wide outlet of mouse actions seen anywhere on the desktop.
// Whatever watches the mouse (the system-wide listener, or the
// application's own event filter where there is none) hands its actions to
// deliverMouse/deliverWheel.
class GlobalMouseEvent final : public QObject
{
    Q_OBJECT

public:
    static GlobalMouseEvent *instance();
    ~GlobalMouseEvent() override;

    // Build the event at the cursor's current global position, with no
    // keyboard modifiers, and emit it. Nothing is built while nobody
    // listens: the receiver owns the event, and an unheard one would leak.
    void deliverMouse(QEvent::Type type, Qt::MouseButton button);
    void deliverWheel(int delta);

signals:
    // The receiver owns the event and deletes it.
    void mouseEvent(QMouseEvent *event);
    void wheelEvent(QWheelEvent *event);

private:
    GlobalMouseEvent();
    Q_DISABLE_COPY_MOVE(GlobalMouseEvent)
};

// Starts the system-wide mouse listener that feeds GlobalMouseEvent. True
// when it runs (or already ran); false when the system offers none. Once
// running it is never stopped.
bool installGlobalMouseHook();
