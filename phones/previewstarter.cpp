#include "phones/previewstarter.h"

#include "app/utils.h"

#include <QPointer>
#include <QThread>

PreviewStarter::PreviewStarter(QObject *parent, Fetch fetch)
    : QObject(parent)
    , m_fetch(std::move(fetch))
{
    if (!m_fetch) {
        m_fetch = [](const QString &serverSn, ControlInfo *out) {
            return Utils::instance()->fetchControlInfo(serverSn, out);
        };
    }
    m_thread = QThread::create([this] { run(); });
    m_thread->setObjectName(QStringLiteral("PreviewStarter"));
    m_thread->start();
}

PreviewStarter::~PreviewStarter()
{
    {
        QMutexLocker lock(&m_mutex);
        m_stopping = true;
        m_jobs.clear();
        m_wake.wakeAll();
    }
    m_thread->wait();
    delete m_thread;
}

void PreviewStarter::start(QObject *context, const QString &serverSn, Done done)
{
    QMutexLocker lock(&m_mutex);
    m_jobs.push_back(Job{context, serverSn, std::move(done)});
    m_wake.wakeAll();
}

void PreviewStarter::cancel(QObject *context)
{
    QMutexLocker lock(&m_mutex);
    if (m_running == context)
        m_running = nullptr;
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
        if (it->context == context)
            it = m_jobs.erase(it);
        else
            ++it;
    }
}

int PreviewStarter::waiting() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_jobs.size());
}

void PreviewStarter::run()
{
    for (;;) {
        Job job;
        {
            QMutexLocker lock(&m_mutex);
            while (m_jobs.empty() && !m_stopping)
                m_wake.wait(&m_mutex);
            if (m_stopping)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
            m_running = job.context;
        }
        // The request hands back its own connection data, so nothing else
        // fetching at the same time can swap it before it is used.
        ControlInfo info;
        const bool ok = m_fetch(job.serverSn, &info);
        // Posted under the lock that cancel() takes, so a card deleted while
        // its request was on the wire is never posted to; one deleted after
        // the post takes the pending delivery with it.
        Done done = std::move(job.done);
        QMutexLocker lock(&m_mutex);
        if (m_running == job.context && job.context)
            QMetaObject::invokeMethod(
                job.context, [done, ok, info] { done(ok, info); }, Qt::QueuedConnection);
        m_running = nullptr;
    }
}
