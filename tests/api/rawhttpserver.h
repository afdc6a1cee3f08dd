#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QThread>

class QTcpServer;
class QTcpSocket;

// A tiny HTTP server on its own thread that keeps every request byte for
// byte, so tests can see exactly which header lines the client sent. It
// answers each request with the configured status and body, or not at all.
class RawHttpServer final : public QObject
{
    Q_OBJECT

public:
    RawHttpServer();
    ~RawHttpServer() override;

    quint16 port() const { return m_port; }
    QByteArray baseUrl() const;

    // Answers from now on; several in a queue are used in order, the last
    // one repeats.
    void setAnswer(int status, const QByteArray &body);
    void queueAnswer(int status, const QByteArray &body);
    // Takes requests but never answers them.
    void setSilent(bool silent);
    // Takes requests and answers them only at releaseHeld(), with the answer
    // configured by then.
    void setHolding(bool holding);
    void releaseHeld();

    QList<QByteArray> requests() const;
    QByteArray lastRequest() const;
    void clearRequests();

    // The body of a raw request (everything after the blank line).
    static QByteArray bodyOf(const QByteArray &request);
    static QList<QByteArray> headerLinesOf(const QByteArray &request);

private:
    Q_DISABLE_COPY_MOVE(RawHttpServer)

    void start();
    void onConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket);

    QThread m_thread;
    QTcpServer *m_server = nullptr;
    quint16 m_port = 0;

    mutable QMutex m_mutex;
    QList<QPair<int, QByteArray>> m_answers;
    bool m_silent = false;
    bool m_holding = false;
    QList<QTcpSocket *> m_held; // server thread only
    QList<QByteArray> m_requests;
};
