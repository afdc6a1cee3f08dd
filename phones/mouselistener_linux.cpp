// X11 implementation. Qt headers come first: Xlib's macros (None, Bool,
// Status, ButtonPress, ...) would otherwise clash with them.
#include "phones/mouselistener.h"

#include <QByteArray>
#include <QDebug>
#include <QSocketNotifier>
#include <QX11Info>

#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/record.h>

namespace {

enum class Kind { Press, Release, Motion };

// Xlib's default error handler ends the process. While setting up on our own
// connections an error only means "not available here".
int g_setupErrors = 0;

int countSetupError(Display *, XErrorEvent *)
{
    ++g_setupErrors;
    return 0;
}

class SetupErrorTrap final
{
public:
    SetupErrorTrap()
        : m_previous(XSetErrorHandler(&countSetupError))
    {
        g_setupErrors = 0;
    }
    ~SetupErrorTrap() { XSetErrorHandler(m_previous); }
    bool failed() const { return g_setupErrors != 0; }

private:
    Q_DISABLE_COPY_MOVE(SetupErrorTrap)
    int (*m_previous)(Display *, XErrorEvent *);
};

} // namespace

struct MouseListener::Private
{
    MouseListener *q = nullptr;
    // RECORD needs two connections: one for commands, one that carries the
    // recorded stream. XInput2 uses only `data`.
    Display *control = nullptr;
    Display *data = nullptr;
    XRecordContext context = 0;
    int xiOpcode = -1;
    std::unique_ptr<QSocketNotifier> notifier;

    ~Private()
    {
        notifier.reset();
        if (context) {
            XRecordDisableContext(control, context);
            XRecordFreeContext(control, context);
            XSync(control, False);
        }
        if (data)
            XCloseDisplay(data);
        if (control)
            XCloseDisplay(control);
    }

    void report(Kind kind, int xButton)
    {
        if (!q)
            return;
        if (kind == Kind::Motion) {
            emit q->mouseAction(QEvent::MouseMove, Qt::NoButton);
            return;
        }
        // Buttons 4 and 5 are the vertical wheel; only their press is a notch.
        if (xButton == 4 || xButton == 5) {
            if (kind == Kind::Press)
                emit q->wheelAction(xButton == 4 ? 120 : -120);
            return;
        }
        Qt::MouseButton button = Qt::NoButton;
        switch (xButton) {
        case 1: button = Qt::LeftButton; break;
        case 2: button = Qt::MiddleButton; break;
        case 3: button = Qt::RightButton; break;
        case 8: button = Qt::XButton1; break;
        case 9: button = Qt::XButton2; break;
        default: return; // horizontal wheel and unnamed buttons
        }
        emit q->mouseAction(kind == Kind::Press ? QEvent::MouseButtonPress : QEvent::MouseButtonRelease, button);
    }

    static void recordCallback(XPointer closure, XRecordInterceptData *intercepted)
    {
        auto *self = reinterpret_cast<Private *>(closure);
        if (intercepted->category == XRecordFromServer && intercepted->data_len * 4 >= sizeof(xEvent)) {
            const auto *event = reinterpret_cast<const xEvent *>(intercepted->data);
            const int type = event->u.u.type & 0x7f;
            const int detail = event->u.u.detail;
            if (type == ButtonPress)
                self->report(Kind::Press, detail);
            else if (type == ButtonRelease)
                self->report(Kind::Release, detail);
            else if (type == MotionNotify)
                self->report(Kind::Motion, 0);
        }
        XRecordFreeData(intercepted);
    }

    // Reads whatever the server has sent; never waits for more.
    void readRecord()
    {
        XRecordProcessReplies(data);
    }

    void readXInput()
    {
        while (XPending(data) > 0) {
            XEvent event;
            XNextEvent(data, &event);
            XGenericEventCookie *cookie = &event.xcookie;
            if (cookie->type != GenericEvent || cookie->extension != xiOpcode || !XGetEventData(data, cookie))
                continue;
            const auto *raw = static_cast<const XIRawEvent *>(cookie->data);
            switch (cookie->evtype) {
            case XI_RawButtonPress: report(Kind::Press, raw->detail); break;
            case XI_RawButtonRelease: report(Kind::Release, raw->detail); break;
            case XI_RawMotion: report(Kind::Motion, 0); break;
            default: break;
            }
            XFreeEventData(data, cookie);
        }
    }

    bool startRecord(const QByteArray &displayName)
    {
        control = XOpenDisplay(displayName.constData());
        data = XOpenDisplay(displayName.constData());
        if (!control || !data)
            return false;
        int opcode = 0, firstEvent = 0, firstError = 0;
        if (!XQueryExtension(control, "RECORD", &opcode, &firstEvent, &firstError))
            return false;

        SetupErrorTrap trap;
        int major = 0, minor = 0;
        if (!XRecordQueryVersion(control, &major, &minor))
            return false;
        XRecordRange *range = XRecordAllocRange();
        if (!range)
            return false;
        range->device_events.first = ButtonPress;
        range->device_events.last = MotionNotify;
        XRecordClientSpec clients = XRecordAllClients;
        context = XRecordCreateContext(control, 0, &clients, 1, &range, 1);
        XFree(range);
        // The context must exist on the server before the other connection
        // enables it.
        XSync(control, False);
        if (!context || trap.failed())
            return false;
        if (!XRecordEnableContextAsync(data, context, &Private::recordCallback, reinterpret_cast<XPointer>(this)))
            return false;
        XFlush(data);
        XSync(control, False);
        if (trap.failed())
            return false;

        notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(data), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [this] { readRecord(); });
        return true;
    }

    bool startXInput(const QByteArray &displayName)
    {
        data = XOpenDisplay(displayName.constData());
        if (!data)
            return false;
        int firstEvent = 0, firstError = 0;
        if (!XQueryExtension(data, "XInputExtension", &xiOpcode, &firstEvent, &firstError))
            return false;

        SetupErrorTrap trap;
        // From 2.1 on, raw events keep coming while another client grabs
        // the pointer (as a window manager does on every click).
        int major = 2, minor = 2;
        if (XIQueryVersion(data, &major, &minor) != Success || major < 2)
            return false;
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(bits, XI_RawButtonPress);
        XISetMask(bits, XI_RawButtonRelease);
        XISetMask(bits, XI_RawMotion);
        // The master pointers only: one report per action, whichever
        // physical device gave it.
        XIEventMask mask;
        mask.deviceid = XIAllMasterDevices;
        mask.mask_len = sizeof(bits);
        mask.mask = bits;
        XISelectEvents(data, DefaultRootWindow(data), &mask, 1);
        XSync(data, False);
        if (trap.failed())
            return false;

        notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(data), QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [this] { readXInput(); });
        // Events may already sit in Xlib's queue, where the notifier cannot
        // see them.
        readXInput();
        return true;
    }
};

MouseListener::MouseListener(Source source, std::unique_ptr<Private> d)
    : m_source(source)
    , m_d(std::move(d))
{
    m_d->q = this;
}

MouseListener::~MouseListener() = default;

std::unique_ptr<MouseListener> MouseListener::create(Source source)
{
    if (!QX11Info::isPlatformX11() || !QX11Info::display())
        return nullptr;
    // The same server Qt talks to, on connections of our own.
    const QByteArray displayName(DisplayString(QX11Info::display()));
    auto d = std::make_unique<Private>();
    const bool started = source == XRecord ? d->startRecord(displayName) : d->startXInput(displayName);
    if (!started)
        return nullptr;
    return std::unique_ptr<MouseListener>(new MouseListener(source, std::move(d)));
}
