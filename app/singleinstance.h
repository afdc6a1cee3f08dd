#pragma once

#include <QSharedMemory>
#include <QString>

// Refuses a second copy of the client on this machine. The guard keeps its
// segment for the life of the process, so later starts see this instance.
class SingleInstanceGuard final
{
public:
    explicit SingleInstanceGuard(const QString &semaphoreKey = QStringLiteral("Tarvix Key"),
                                 const QString &memoryKey = QStringLiteral("Tarvix"));

    // True when no other instance runs; this process is the instance then.
    bool tryBecomeOnlyInstance();

private:
    Q_DISABLE_COPY_MOVE(SingleInstanceGuard)

    // False when another instance holds the segment.
    bool attachOrCreate();

    QString m_semaphoreKey;
    QSharedMemory m_memory;
};
