#include "app/async.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QRunnable>
#include <QSet>
#include <QThreadPool>

#include <vector>

namespace {

// Carries the finished signal from the worker to the context's thread.
// Queued delivery to a receiver is dropped by Qt when the receiver is
// destroyed, which is what makes a late result harmless.
class Notifier final : public QObject
{
    Q_OBJECT

signals:
    void finished();
};

struct Job
{
    QObject *context = nullptr; // a key only, never dereferenced off its thread
    Async::detail::Work work;
    bool cancelled = false;
    bool started = false;
};

struct Registry
{
    QMutex mutex;
    QHash<QObject *, QList<std::shared_ptr<Job>>> pending;
    QSet<QObject *> watched;
};

Registry &registry()
{
    // Never destroyed: workers may still finish while the process exits.
    static Registry *r = new Registry;
    return *r;
}

QThreadPool *sharedPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        // Backend requests wait on the network, not on the processor.
        p->setMaxThreadCount(8);
        p->setExpiryTimeout(30000);
        return p;
    }();
    return pool;
}

void forget(Registry &r, const std::shared_ptr<Job> &job)
{
    auto it = r.pending.find(job->context);
    if (it == r.pending.end())
        return;
    it->removeAll(job);
    if (it->isEmpty())
        r.pending.erase(it);
}

class Task final : public QRunnable
{
public:
    Task(std::shared_ptr<Job> job, Notifier *notifier, std::shared_ptr<Async::detail::Deliver> slot)
        : m_job(std::move(job))
        , m_notifier(notifier)
        , m_slot(std::move(slot))
    {
        setAutoDelete(true);
    }

    ~Task() override
    {
        Registry &r = registry();
        {
            QMutexLocker lock(&r.mutex);
            forget(r, m_job);
        }
        m_notifier->deleteLater();
    }

    void run() override
    {
        Registry &r = registry();
        {
            QMutexLocker lock(&r.mutex);
            if (m_job->cancelled)
                return;
            m_job->started = true;
            forget(r, m_job);
        }
        *m_slot = m_job->work();
        m_job->work = nullptr;
        emit m_notifier->finished();
    }

private:
    std::shared_ptr<Job> m_job;
    Notifier *m_notifier;
    std::shared_ptr<Async::detail::Deliver> m_slot;
};

} // namespace

namespace Async {

void detail::submit(QThreadPool *pool, QObject *context, Work work, int priority)
{
    if (!context || !work)
        return;
    auto job = std::make_shared<Job>();
    job->context = context;
    job->work = std::move(work);

    // Written on the worker before the signal, read on the context's thread
    // after it: the queued delivery orders the two.
    auto slot = std::make_shared<Deliver>();
    auto *notifier = new Notifier;
    QObject::connect(notifier, &Notifier::finished, context, [slot] {
        if (*slot)
            (*slot)();
        *slot = nullptr;
    }, Qt::QueuedConnection);

    Registry &r = registry();
    {
        QMutexLocker lock(&r.mutex);
        r.pending[context].append(job);
        if (!r.watched.contains(context)) {
            r.watched.insert(context);
            QObject::connect(context, &QObject::destroyed, [](QObject *gone) {
                Async::cancel(gone);
                Registry &reg = registry();
                QMutexLocker l(&reg.mutex);
                reg.watched.remove(gone);
            });
        }
    }
    (pool ? pool : sharedPool())->start(new Task(job, notifier, slot), priority);
}

int cancel(QObject *context)
{
    Registry &r = registry();
    QList<std::shared_ptr<Job>> jobs;
    std::vector<detail::Work> dropped;
    {
        QMutexLocker lock(&r.mutex);
        jobs = r.pending.take(context);
        for (const auto &job : qAsConst(jobs)) {
            job->cancelled = true;
            dropped.push_back(std::move(job->work));
            job->work = nullptr;
        }
    }
    // What the work held goes now, outside the lock, not when the pool
    // gets round to the cancelled task.
    dropped.clear();
    return jobs.size();
}

void stopAll()
{
    QThreadPool *pool = sharedPool();
    pool->clear();
    // Requests give up within their bounded timeouts, so this ends.
    pool->waitForDone();
}

} // namespace Async

#include "async.moc"
