#include "app/singleinstance.h"

#include <QSystemSemaphore>

SingleInstanceGuard::SingleInstanceGuard(const QString &semaphoreKey, const QString &memoryKey)
    : m_semaphoreKey(semaphoreKey)
    , m_memory(memoryKey)
{
}

bool SingleInstanceGuard::tryBecomeOnlyInstance()
{
    // Serialises the attach-or-create test between two processes that start
    // at the same moment. System V semaphores are undone when their holder dies.
    QSystemSemaphore semaphore(m_semaphoreKey, 1, QSystemSemaphore::Open);
    semaphore.acquire();

#ifdef Q_OS_UNIX
    // A crashed instance leaves its segment behind with nobody attached.
    // Attaching and detaching a throwaway handle removes such a segment
    // (the last detach destroys it) and leaves a live one alone.
    {
        QSharedMemory stale(m_memory.key());
        if (stale.attach())
            stale.detach();
    }
#endif

    bool only = false;
    if (m_memory.attach(QSharedMemory::ReadWrite)) {
        only = false;
    } else {
        only = m_memory.create(1, QSharedMemory::ReadWrite);
        // Lost a race we could not see, or no IPC at all: let the user in
        // rather than lock them out.
        if (!only && m_memory.error() != QSharedMemory::AlreadyExists)
            only = true;
    }

    semaphore.release();
    return only;
}
