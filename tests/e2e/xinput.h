#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

#include <functional>

class QProcess;
class QWidget;

// Real X input for the end-to-end suites, as a person's mouse and keyboard
// give it: xdotool sends it through the XTEST extension.
namespace TestSupport {

// Runs xdotool with args; true when it ran to a successful end.
bool xdotool(const QStringList &args);

// The xdotool arguments that move the pointer to a global position, to be
// chained with more steps in one call.
QStringList pointerTo(const QPoint &global);

// Moves the pointer there and gives the client time to see it (hover).
bool moveTo(const QPoint &global);

// A left click at a point of the widget (its centre by default).
bool click(QWidget *widget, const QPoint &local);
bool click(QWidget *widget);

// Types text into the window that has the keyboard focus, one X key press
// a character; characters the keyboard map lacks are bound first.
bool typeText(const QString &text, int delayMs = 80);

// Runs work from inside the event loop once a modal dialog is up, so a test
// can answer a dialog that blocks the code that opened it.
void whenModal(std::function<void(QWidget *)> work);

// A real window manager (openbox) on the suite's display for as long as
// this lives, with its own key bindings (Alt+F4 closes).
class WindowManager final
{
public:
    WindowManager();
    ~WindowManager();
    WindowManager(const WindowManager &) = delete;
    WindowManager &operator=(const WindowManager &) = delete;

    // True once the manager has taken the screen.
    bool isRunning() const;

    // Activates the top-level window of widget and presses Alt+F4, so the
    // manager asks the window to close (WM_DELETE_WINDOW).
    bool closeWithAltF4(QWidget *widget);

private:
    QProcess *m_process = nullptr;
    bool m_running = false;
};

} // namespace TestSupport
