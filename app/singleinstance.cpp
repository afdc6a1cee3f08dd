#include "app/singleinstance.h"

#include <QDebug>
#include <QLocalServer>
#include <QLocalSocket>
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

// What a refused start says, and what the instance answers once it acted.
constexpr char ShowRequest[] = "show\n";
constexpr char ShowDone[] = "shown\n";
// Anything longer than a request is not one.
constexpr qint64 MaxRequest = 64;

} // namespace

SingleInstanceGuard::SingleInstanceGuard(const QString &semaphoreKey, const QString &memoryKey, QObject *parent)
    : QObject(parent)
    , m_semaphoreKey(semaphoreKey)
    , m_memory(memoryKey)
{
}

SingleInstanceGuard::~SingleInstanceGuard() = default;

QString SingleInstanceGuard::serverName() const
{
    return m_memory.key() + QStringLiteral(".show");
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

    // Listening inside the lock: a start refused a moment later finds the
    // socket, never the stale file of a crashed instance.
    if (only)
        listen();
    semaphore.release();
    return only;
}

void SingleInstanceGuard::listen()
{
    m_server = new QLocalServer(this);
    // Only this user's own starts may ask.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // This process is the only instance now: a socket file left by a
    // crashed one belongs to nobody.
    QLocalServer::removeServer(serverName());
    if (!m_server->listen(serverName())) {
        // The guard still works; a refused start just cannot bring us back.
        qWarning().noquote() << "single instance: cannot listen on" << serverName() << m_server->errorString();
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstanceGuard::onNewConnection);
}

void SingleInstanceGuard::onNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > MaxRequest)
                    socket->abort();
                return;
            }
            const QByteArray line = socket->readLine(MaxRequest);
            if (line == ShowRequest) {
                emit showRequested();
                socket->write(ShowDone);
            }
            socket->disconnectFromServer();
        });
    }
}

bool SingleInstanceGuard::askRunningInstanceToShow(int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(serverName());
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(ShowRequest);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.readLine(MaxRequest) == ShowDone;
}
