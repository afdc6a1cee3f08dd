#pragma once

#include <QEvent>
#include <QObject>

#include <memory>

// Watches the mouse on the whole desktop, over other applications too, and
// reports every action on the GUI thread without ever taking or delaying the
// input itself. One implementation per platform (mouselistener_<os>.cpp).
class MouseListener final : public QObject
{
    Q_OBJECT

public:
    // Where the actions come from on X11: the RECORD extension, or raw
    // XInput2 events selected on the root window.
    enum Source { XRecord, XInput2 };
    Q_ENUM(Source)

    // Null when the display offers no such source (or is not X11 at all).
    static std::unique_ptr<MouseListener> create(Source source);
    ~MouseListener() override;

    Source source() const { return m_source; }

    struct Private;

signals:
    // type is QEvent::MouseButtonPress, MouseButtonRelease or MouseMove (the
    // latter with Qt::NoButton).
    void mouseAction(QEvent::Type type, Qt::MouseButton button);
    // One notch of the vertical wheel: +120 away from the user, -120 toward.
    void wheelAction(int delta);

private:
    MouseListener(Source source, std::unique_ptr<Private> d);
    Q_DISABLE_COPY_MOVE(MouseListener)

    Source m_source;
    std::unique_ptr<Private> m_d;
};
