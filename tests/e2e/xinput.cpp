#include "tests/e2e/xinput.h"

#include "tests/e2e/xkeymap.h"

#include <QApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace TestSupport {

bool xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QStringList pointerTo(const QPoint &global)
{
    return {QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y())};
}

bool moveTo(const QPoint &global)
{
    // A synced move to where the pointer already is would wait for ever.
    if (QCursor::pos() == global)
        return true;
    QStringList args = pointerTo(global);
    args.insert(1, QStringLiteral("--sync"));
    const bool ok = xdotool(args);
    QTest::qWait(150);
    return ok;
}

bool click(QWidget *widget, const QPoint &local)
{
    if (!widget || !moveTo(widget->mapToGlobal(local)))
        return false;
    const bool ok = xdotool({QStringLiteral("click"), QStringLiteral("1")});
    QTest::qWait(150);
    return ok;
}

bool click(QWidget *widget)
{
    return widget && click(widget, widget->rect().center());
}

bool typeText(const QString &text, int delayMs)
{
    bool ascii = true;
    for (const QChar c : text)
        ascii = ascii && c.unicode() < 128;
    if (!ascii) {
        if (!bindCharactersToSpareKeys(text))
            return false;
        // The client reloads the map before the first press.
        QTest::qWait(500);
    }
    return xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QString::number(delayMs), text});
}

void whenModal(std::function<void(QWidget *)> work)
{
    auto *timer = new QTimer;
    timer->setInterval(50);
    QObject::connect(timer, &QTimer::timeout, [timer, work] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        // Past the dialog's own showing and layout.
        QTest::qWait(300);
        work(modal);
    });
    timer->start();
}

namespace {

// A manager announces itself with a check window on the root window.
bool managerAnnounced()
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    bool found = false;
    if (check != None) {
        Atom type = None;
        int format = 0;
        unsigned long items = 0;
        unsigned long after = 0;
        unsigned char *data = nullptr;
        if (XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type, &format,
                               &items, &after, &data) == Success) {
            found = type == XA_WINDOW && items == 1;
            if (data)
                XFree(data);
        }
    }
    XCloseDisplay(display);
    return found;
}

} // namespace

WindowManager::WindowManager()
    : m_process(new QProcess)
{
    QStringList args{QStringLiteral("--sm-disable")};
    // The shipped bindings, whatever the user's own configuration says.
    const QString shipped = QStringLiteral("/etc/xdg/openbox/rc.xml");
    if (QFile::exists(shipped))
        args << QStringLiteral("--config-file") << shipped;
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->start(QStringLiteral("openbox"), args);
    if (!m_process->waitForStarted(5000))
        return;
    QElapsedTimer clock;
    clock.start();
    while (!managerAnnounced() && clock.elapsed() < 10000 && m_process->state() == QProcess::Running)
        QTest::qWait(100);
    m_running = m_process->state() == QProcess::Running && managerAnnounced();
    // Past the manager's taking of the windows already there.
    QTest::qWait(500);
}

WindowManager::~WindowManager()
{
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    delete m_process;
    // Past the windows' hand-back to the root window.
    QTest::qWait(500);
}

bool WindowManager::isRunning() const
{
    return m_running;
}

bool WindowManager::closeWithAltF4(QWidget *widget)
{
    if (!m_running || !widget)
        return false;
    const QString id = QString::number(widget->window()->winId());
    if (!xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), id}))
        return false;
    QTest::qWait(200);
    // Through XTEST, as typed: the manager's own key grab takes it.
    return xdotool({QStringLiteral("key"), QStringLiteral("alt+F4")});
}

} // namespace TestSupport
