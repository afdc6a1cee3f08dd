#pragma once

#include <QObject>
#include <QSharedMemory>
#include <QString>

class QLocalServer;

// Refuses a second copy of the client on this machine. The guard keeps its
// segment for the life of the process, so later starts see this instance.
// Beside it the instance listens on a local socket, so a refused start can
// ask it to bring its window back: a window hidden or minimised with no tray
// to reach it would otherwise lock the user out.
class SingleInstanceGuard final : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstanceGuard(const QString &semaphoreKey = QStringLiteral("Tarvix Key"),
                                 const QString &memoryKey = QStringLiteral("Tarvix"), QObject *parent = nullptr);
    ~SingleInstanceGuard() override;

    // True when no other instance runs; this process is the instance then
    // and listens for refused starts.
    bool tryBecomeOnlyInstance();

    // From a refused start: asks the running instance to show its window.
    // Waits at most timeoutMs for it to confirm; false when nobody did.
    bool askRunningInstanceToShow(int timeoutMs = 2000);

    // The local socket's name, derived from the memory key.
    QString serverName() const;

signals:
    // A refused start asked for the window; emitted on this object's thread.
    void showRequested();

private:
    Q_DISABLE_COPY_MOVE(SingleInstanceGuard)

    // False when another instance holds the segment.
    bool attachOrCreate();
    void listen();
    void onNewConnection();

    QString m_semaphoreKey;
    QSharedMemory m_memory;
    QLocalServer *m_server = nullptr;
};
