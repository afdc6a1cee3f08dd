#include "tests/api/rawhttpserver.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <utility>

RawHttpServer::RawHttpServer()
{
    m_answers.append({200, QByteArrayLiteral("{\"code\":200,\"msg\":\"ok\",\"data\":{}}")});
    moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(this, &RawHttpServer::start, Qt::BlockingQueuedConnection);
}

RawHttpServer::~RawHttpServer()
{
    QMetaObject::invokeMethod(
        this, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

QByteArray RawHttpServer::baseUrl() const
{
    return QByteArrayLiteral("http://127.0.0.1:") + QByteArray::number(m_port);
}

void RawHttpServer::start()
{
    m_server = new QTcpServer;
    connect(m_server, &QTcpServer::newConnection, this, &RawHttpServer::onConnection);
    m_server->listen(QHostAddress::LocalHost, 0);
    m_port = m_server->serverPort();
}

void RawHttpServer::setAnswer(int status, const QByteArray &body)
{
    QMutexLocker lock(&m_mutex);
    m_answers = {{status, body}};
}

void RawHttpServer::queueAnswer(int status, const QByteArray &body)
{
    QMutexLocker lock(&m_mutex);
    m_answers.append({status, body});
}

void RawHttpServer::setSilent(bool silent)
{
    QMutexLocker lock(&m_mutex);
    m_silent = silent;
}

void RawHttpServer::setHolding(bool holding)
{
    QMutexLocker lock(&m_mutex);
    m_holding = holding;
}

void RawHttpServer::releaseHeld()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            for (QTcpSocket *socket : std::exchange(m_held, {}))
                answer(socket);
        },
        Qt::BlockingQueuedConnection);
}

QList<QByteArray> RawHttpServer::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

QByteArray RawHttpServer::lastRequest() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests.isEmpty() ? QByteArray() : m_requests.last();
}

void RawHttpServer::clearRequests()
{
    QMutexLocker lock(&m_mutex);
    m_requests.clear();
}

QByteArray RawHttpServer::bodyOf(const QByteArray &request)
{
    const int end = request.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : request.mid(end + 4);
}

QList<QByteArray> RawHttpServer::headerLinesOf(const QByteArray &request)
{
    const int end = request.indexOf("\r\n\r\n");
    QList<QByteArray> lines = request.left(end).split('\n');
    for (QByteArray &line : lines)
        line = line.trimmed();
    if (!lines.isEmpty())
        lines.removeFirst(); // the request line
    return lines;
}

void RawHttpServer::onConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(m_server);
        socket->setProperty("buffer", QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void RawHttpServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    socket->setProperty("buffer", buffer);
    const int end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    int length = 0;
    for (const QByteArray &line : headerLinesOf(buffer)) {
        if (line.toLower().startsWith("content-length:"))
            length = line.mid(15).trimmed().toInt();
    }
    if (buffer.size() < end + 4 + length)
        return;
    socket->setProperty("buffer", QByteArray());

    bool silent = false;
    bool holding = false;
    {
        QMutexLocker lock(&m_mutex);
        m_requests.append(buffer);
        silent = m_silent;
        holding = m_holding;
    }
    if (silent)
        return;
    if (holding) {
        m_held.append(socket);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_held.removeAll(socket); });
        return;
    }
    answer(socket);
}

void RawHttpServer::answer(QTcpSocket *socket)
{
    int status = 200;
    QByteArray body;
    {
        QMutexLocker lock(&m_mutex);
        status = m_answers.first().first;
        body = m_answers.first().second;
        if (m_answers.size() > 1)
            m_answers.removeFirst();
    }
    socket->write("HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Type: application/json\r\nContent-Length: "
                  + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    socket->disconnectFromHost();
}
