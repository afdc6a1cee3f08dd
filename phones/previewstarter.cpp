#include "phones/previewstarter.h"

#include "api/utils.h"
#include "app/async.h"

#include <QCoreApplication>

#include <memory>
#include <utility>

PreviewStarter::PreviewStarter(QObject *parent, Fetch fetch)
    : QObject(parent)
    , m_fetch(std::move(fetch))
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
    explicit WaitTicket(std::atomic<int> &waiting)
        : m_waiting(waiting)
    {
        ++m_waiting;
    }
    ~WaitTicket() { begin(); }
    void begin()
    {
        if (!m_begun.exchange(true))
            --m_waiting;
    }

private:
    std::atomic<int> &m_waiting;
    std::atomic<bool> m_begun{false};
};

} // namespace

void PreviewStarter::start(QObject *context, const QString &serverSn, Done done)
{
    auto ticket = std::make_shared<WaitTicket>(m_waiting);
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
        [done](const std::pair<bool, ControlInfo> &answer) { done(answer.first, answer.second); });
}

void PreviewStarter::cancel(QObject *context)
{
    Async::cancel(context);
}

int PreviewStarter::waiting() const
{
    return m_waiting.load();
}
