#include "phones/previewstarter.h"

#include "api/utils.h"
#include "app/async.h"

#include <QCoreApplication>
#include <QHash>
#include <QMutex>

#include <atomic>

#include <utility>

// The starts not begun yet, in all and per context.
struct PreviewStarter::Waiting
{
    mutable QMutex mutex;
    QHash<QObject *, int> byContext;
    int total = 0;

    void add(QObject *context)
    {
        QMutexLocker lock(&mutex);
        ++byContext[context];
        ++total;
    }
    void remove(QObject *context)
    {
        QMutexLocker lock(&mutex);
        --total;
        auto it = byContext.find(context);
        if (it != byContext.end() && --it.value() <= 0)
            byContext.erase(it);
    }
};

PreviewStarter::PreviewStarter(QObject *parent, Fetch fetch)
    : QObject(parent)
    , m_fetch(std::move(fetch))
    , m_waiting(std::make_shared<Waiting>())
{
    if (!m_fetch) {
        m_fetch = [](const QString &serverSn, ControlInfo *out) {
            return Utils::instance()->fetchControlInfo(serverSn, out);
        };
    }
    m_pool.setMaxThreadCount(1);
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &PreviewStarter::stop);
}

PreviewStarter::~PreviewStarter()
{
    stop();
}

void PreviewStarter::stop()
{
    m_pool.clear();
    m_pool.waitForDone();
}

namespace {

// Counts a start as waiting until it begins or is dropped (cancelled, its
// card gone, the starter deleted).
class WaitTicket
{
public:
    WaitTicket(std::shared_ptr<PreviewStarter::Waiting> waiting, QObject *context)
        : m_waiting(std::move(waiting))
        , m_context(context)
    {
        m_waiting->add(m_context);
    }
    ~WaitTicket() { begin(); }
    void begin()
    {
        if (!m_begun.exchange(true))
            m_waiting->remove(m_context);
    }

private:
    std::shared_ptr<PreviewStarter::Waiting> m_waiting;
    QObject *const m_context; // a key only
    std::atomic<bool> m_begun{false};
};

} // namespace

void PreviewStarter::start(QObject *context, const QString &serverSn, Done done, Priority priority)
{
    if (!context)
        return;
    auto ticket = std::make_shared<WaitTicket>(m_waiting, context);
    Async::run(
        &m_pool, context,
        [ticket, fetch = m_fetch, serverSn] {
            ticket->begin();
            // The request hands back its own connection data, so nothing
            // else fetching at the same time can swap it before it is used.
            ControlInfo info;
            const bool ok = fetch(serverSn, &info);
            return std::make_pair(ok, info);
        },
        [done](const std::pair<bool, ControlInfo> &answer) { done(answer.first, answer.second); },
        priority == Priority::OnScreen ? 1 : 0);
}

int PreviewStarter::cancel(QObject *context)
{
    return Async::cancel(context);
}

int PreviewStarter::waiting() const
{
    QMutexLocker lock(&m_waiting->mutex);
    return m_waiting->total;
}

bool PreviewStarter::isWaiting(QObject *context) const
{
    QMutexLocker lock(&m_waiting->mutex);
    return m_waiting->byContext.contains(context);
}
