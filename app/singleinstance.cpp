#include "app/singleinstance.h"

#include <QSystemSemaphore>

namespace {

// A crashed instance leaves its segment behind with nobody attached.
// Attaching and detaching a throwaway handle removes such a segment (the
// last detach destroys it) and leaves a live one alone.
void removeSegmentNobodyHolds(const QString &key)
{
#ifdef Q_OS_UNIX
    QSharedMemory stale(key);
    if (stale.attach())
        stale.detach();
#else
    Q_UNUSED(key)
#endif
}

} // namespace

SingleInstanceGuard::SingleInstanceGuard(const QString &semaphoreKey, const QString &memoryKey)
    : m_semaphoreKey(semaphoreKey)
    , m_memory(memoryKey)
{
}

bool SingleInstanceGuard::attachOrCreate()
{
    if (m_memory.attach(QSharedMemory::ReadWrite))
        return false;
    if (m_memory.create(1, QSharedMemory::ReadWrite))
        return true;
    // AlreadyExists means another instance won a race we could not see.
    // Any other failure (no IPC at all) lets the user in rather than lock
    // them out.
    return m_memory.error() != QSharedMemory::AlreadyExists;
}

bool SingleInstanceGuard::tryBecomeOnlyInstance()
{
    // Serialises the attach-or-create test between two processes that start
    // at the same moment. System V semaphores are undone when their holder dies.
    QSystemSemaphore semaphore(m_semaphoreKey, 1, QSystemSemaphore::Open);
    semaphore.acquire();

    removeSegmentNobodyHolds(m_memory.key());
    bool only = attachOrCreate();
#ifdef Q_OS_UNIX
    // The system key comes from the key file's inode. When that file went
    // away with its folder, a new one can reuse the inode and so meet the
    // orphaned segment of a crashed instance: create() then finds a segment
    // that nobody holds. Now that the key file exists, that orphan can be
    // removed like any other.
    if (!only && !m_memory.isAttached()) {
        removeSegmentNobodyHolds(m_memory.key());
        only = attachOrCreate();
    }
#endif

    semaphore.release();
    return only;
}
