#pragma once

#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

#include <memory>

class ActivityLog;
class CloudState;
class QTcpServer;
class QTcpSocket;
class QTimer;
class QWebSocket;
class QWebSocketServer;

// The push server: WebSocket connections of signed-in users (?token=<push
// token>), packed binary frames both ways. It records heartbeats and
// acknowledgements, tells a phone's owner when the phone's rental ends, and
// sends such a notice again on the user's next connection while it stays
// unacknowledged. Lives on the thread that made it; the admin calls below may
// come from any thread and run there.
class PushService final : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        // An unacknowledged expiry notice goes out again on the next connection after this long.
        qint64 resendAfterMs = 30000;
        int expiryCheckMs = 500;
    };

    PushService(CloudState &state, ActivityLog &log, const Options &options);
    ~PushService() override;

    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const { return m_port; }

    // Admin. A notice: "phone" (the user's number), "type", "txt" (text, null
    // or absent), "msgId" (else the next free one). Answers {"sent", "msgId"}
    // or {"error"}.
    QJsonObject sendNotice(const QJsonObject &params);
    QJsonArray connections();
    // abort: the TCP connection is cut; otherwise closed with 1001.
    int dropAll(bool abort);
    // Silent: frames and pings are no longer read (so never answered); the
    // sockets stay open.
    void setSilent(bool silent);
    // Stops listening for the given seconds (connections are refused by the
    // system); 0 listens again at once.
    qint64 refuseFor(int seconds);

private:
    Q_DISABLE_COPY_MOVE(PushService)

    struct Connection
    {
        int id = 0;
        QWebSocket *socket = nullptr;
        QPointer<QTcpSocket> tcp;
        qint32 userId = 0;
        QString phone;
        qint64 connectedMs = 0;
        qint64 lastHeartbeatMs = 0;
        int heartbeats = 0;
        int acks = 0;
    };

    struct Notice
    {
        qint64 msgId = 0;
        qint32 userId = 0;
        QString phone;
        QByteArray json;
        qint64 lastSentMs = 0; // 0: not sent yet
        bool acked = false;
    };

    template <typename F>
    auto onOwnThread(F function);

    void onNewConnection();
    void onBinaryMessage(int id, const QByteArray &frame);
    void forget(int id, const QString &why);
    void sweep();
    void checkExpiries();
    void listenAgain();
    int deliver(qint32 userId, const QByteArray &json);
    void sendPendingNotices(Connection &connection);
    bool sendFrame(Connection &connection, const QByteArray &json);
    void setConnectionSilent(Connection &connection, bool silent);
    QJsonObject describe(const Connection &connection) const;

    CloudState &m_state;
    ActivityLog &m_log;
    const Options m_options;
    // Connections are accepted here and handed to the WebSocket server, so
    // each WebSocket's TCP socket is known (to mute it) and refusing is
    // simply not listening.
    QTcpServer *m_tcpServer = nullptr;
    QWebSocketServer *m_server = nullptr;
    QHash<quint16, QTcpSocket *> m_handshaking; // by the peer's port
    QHostAddress m_address;
    quint16 m_port = 0;
    QHash<int, Connection> m_connections;
    int m_nextConnectionId = 1;
    qint64 m_nextMsgId = 1;
    QVector<Notice> m_notices;
    // Phones whose expiry was announced, with the end time it was announced for.
    QHash<QString, qint64> m_announced;
    bool m_silent = false;
    qint64 m_refuseUntilMs = 0;
    QTimer *m_sweepTimer = nullptr;
    QTimer *m_listenTimer = nullptr;
};
