#include "localcloud/push/pushservice.h"

#include "localcloud/core/activitylog.h"
#include "localcloud/core/cloudstate.h"
#include "platform/wss/wss.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QMetaObject>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>
#include <QWebSocketServer>

#include <memory>

namespace {

constexpr int HeaderSize = 4;
constexpr int RelistenRetryMs = 100;
constexpr int AdminCallTimeoutMs = 5000;

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString timeText(qint64 ms)
{
    return ms > 0 ? QDateTime::fromMSecsSinceEpoch(ms).toString(Qt::ISODateWithMs) : QString();
}

QByteArray pack(const QByteArray &json)
{
    char *out = nullptr;
    const int length = PackEncode(json.constData(), json.size(), &out);
    return length > 0 ? QByteArray(out, length) : QByteArray();
}

// The message text of a frame, or a null array when it is none of ours.
QByteArray unpack(const QByteArray &frame)
{
    if (frame.size() < HeaderSize)
        return QByteArray();
    char *out = nullptr;
    // QByteArray keeps a terminating zero; a frame with a zero inside ends there.
    if (PackDecode(frame.constData(), &out) < 0 || !out)
        return QByteArray();
    return QByteArray(out);
}

} // namespace

PushService::PushService(CloudState &state, ActivityLog &log, const Options &options)
    : m_state(state)
    , m_log(log)
    , m_options(options)
{
    // Phones that had already run out when the service started were announced
    // by an earlier run, or never rented out while it ran.
    for (const CloudState::Phone &phone : m_state.allPhones()) {
        if (phone.isExpired())
            m_announced.insert(phone.serverSn, phone.endTime);
    }
    m_sweepTimer = new QTimer(this);
    m_sweepTimer->setInterval(m_options.expiryCheckMs);
    connect(m_sweepTimer, &QTimer::timeout, this, [this] {
        sweep();
        checkExpiries();
    });
    m_sweepTimer->start();
    m_listenTimer = new QTimer(this);
    m_listenTimer->setSingleShot(true);
    connect(m_listenTimer, &QTimer::timeout, this, &PushService::listenAgain);
}

PushService::~PushService()
{
    for (Connection &connection : m_connections) {
        connection.socket->disconnect(this);
        connection.socket->abort();
        delete connection.socket;
    }
    m_connections.clear();
}

template <typename F>
auto PushService::onOwnThread(F function)
{
    using Result = decltype(function());
    if (QThread::currentThread() == thread())
        return function();
    // Bounded, so an admin request met by the shutdown cannot hold it up.
    struct Call
    {
        QSemaphore done;
        Result result{};
    };
    const auto call = std::make_shared<Call>();
    QMetaObject::invokeMethod(
        this,
        [call, function]() mutable {
            call->result = function();
            call->done.release();
        },
        Qt::QueuedConnection);
    if (!call->done.tryAcquire(1, AdminCallTimeoutMs))
        return Result{};
    return call->result;
}

bool PushService::listen(const QHostAddress &address, quint16 port, QString *error)
{
    m_address = address;
    m_server = new QWebSocketServer(QStringLiteral("localcloud push"), QWebSocketServer::NonSecureMode, this);
    connect(m_server, &QWebSocketServer::newConnection, this, &PushService::onNewConnection);
    m_tcpServer = new QTcpServer(this);
    connect(m_tcpServer, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *tcp = m_tcpServer->nextPendingConnection()) {
            m_handshaking.insert(tcp->peerPort(), tcp);
            connect(tcp, &QObject::destroyed, this, [this, port = tcp->peerPort(), tcp] {
                if (m_handshaking.value(port) == tcp)
                    m_handshaking.remove(port);
            });
            m_server->handleConnection(tcp);
        }
    });
    if (!m_tcpServer->listen(address, port)) {
        if (error)
            *error = QStringLiteral("cannot listen on %1:%2 for the push service: %3")
                         .arg(address.toString())
                         .arg(port)
                         .arg(m_tcpServer->errorString());
        return false;
    }
    m_port = m_tcpServer->serverPort();
    return true;
}

void PushService::onNewConnection()
{
    while (QWebSocket *socket = m_server->nextPendingConnection()) {
        const QString token = QUrlQuery(socket->requestUrl()).queryItemValue(QStringLiteral("token"));
        const std::optional<CloudState::User> user = m_state.userForPushToken(token);
        if (!user) {
            const QString reason = QStringLiteral("unknown or expired push token");
            m_log.addEvent(QStringLiteral("push_refused"),
                           QJsonObject{{QStringLiteral("token"), ActivityLog::shortened(token)},
                                       {QStringLiteral("close_code"), int(QWebSocketProtocol::CloseCodePolicyViolated)},
                                       {QStringLiteral("reason"), reason}});
            m_log.console(QStringLiteral("push refused %1: %2").arg(ActivityLog::shortened(token), reason));
            connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated, reason);
            continue;
        }

        Connection connection;
        connection.id = m_nextConnectionId++;
        connection.socket = socket;
        // Muting the TCP socket is how the server goes silent without
        // closing anything.
        connection.tcp = m_handshaking.take(socket->peerPort());
        connection.userId = user->id;
        connection.phone = user->phone;
        connection.connectedMs = nowMs();
        const int id = connection.id;
        connect(socket, &QWebSocket::binaryMessageReceived, this,
                [this, id](const QByteArray &frame) { onBinaryMessage(id, frame); });
        connect(socket, &QWebSocket::textMessageReceived, this, [this, id](const QString &text) {
            m_log.addEvent(QStringLiteral("push_frame"), QJsonObject{{QStringLiteral("connection"), id},
                                                                     {QStringLiteral("text"), text.left(200)},
                                                                     {QStringLiteral("problem"), QStringLiteral("text frame")}});
        });
        connect(socket, &QWebSocket::disconnected, this, [this, id] { forget(id, QString()); });
        auto &stored = m_connections[id] = connection;
        m_log.addEvent(QStringLiteral("push_connect"), describe(stored));
        m_log.console(QStringLiteral("push connection %1 for %2%3")
                          .arg(id)
                          .arg(stored.phone, stored.tcp ? QString() : QStringLiteral(" (cannot be silenced)")));
        if (m_silent)
            setConnectionSilent(stored, true);
        sendPendingNotices(stored);
    }
}

void PushService::onBinaryMessage(int id, const QByteArray &frame)
{
    auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    Connection &connection = *it;
    const QByteArray text = unpack(frame);
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    QJsonObject details = describe(connection);
    details.insert(QStringLiteral("text"), QString::fromUtf8(text));
    if (text.isEmpty() || !document.isObject()) {
        details.insert(QStringLiteral("problem"), text.isEmpty() ? QStringLiteral("not a packed frame")
                                                                 : QStringLiteral("not a JSON object"));
        details.insert(QStringLiteral("frame_base64"), QString::fromLatin1(frame.left(256).toBase64()));
        m_log.addEvent(QStringLiteral("push_frame"), details);
        return;
    }
    const QJsonObject message = document.object();
    const QString cmd = message.value(QStringLiteral("cmd")).toString();
    if (cmd == QLatin1String("heart")) {
        connection.lastHeartbeatMs = nowMs();
        ++connection.heartbeats;
        details.insert(QStringLiteral("last_heartbeat"), timeText(connection.lastHeartbeatMs));
        details.insert(QStringLiteral("heartbeats"), connection.heartbeats);
        m_log.addEvent(QStringLiteral("push_heartbeat"), details);
        return;
    }
    if (cmd == QLatin1String("msgAck")) {
        const qint64 msgId = qint64(message.value(QStringLiteral("ext")).toObject().value(QStringLiteral("msgId")).toDouble());
        ++connection.acks;
        for (Notice &notice : m_notices) {
            if (notice.msgId == msgId && notice.userId == connection.userId)
                notice.acked = true;
        }
        details.insert(QStringLiteral("msgId"), msgId);
        m_log.addEvent(QStringLiteral("push_ack"), details);
        m_log.console(QStringLiteral("push ack %1 from %2").arg(msgId).arg(connection.phone));
        return;
    }
    details.insert(QStringLiteral("problem"), QStringLiteral("unknown cmd"));
    m_log.addEvent(QStringLiteral("push_frame"), details);
}

void PushService::forget(int id, const QString &why)
{
    auto it = m_connections.find(id);
    if (it == m_connections.end())
        return;
    QJsonObject details = describe(*it);
    details.insert(QStringLiteral("close_code"), int(it->socket->closeCode()));
    details.insert(QStringLiteral("close_reason"), it->socket->closeReason());
    if (!why.isEmpty())
        details.insert(QStringLiteral("why"), why);
    QWebSocket *socket = it->socket;
    m_connections.erase(it);
    socket->disconnect(this);
    socket->deleteLater();
    m_log.addEvent(QStringLiteral("push_disconnect"), details);
    m_log.console(QStringLiteral("push connection %1 closed (%2)").arg(id).arg(details.value(QStringLiteral("close_code")).toInt()));
}

void PushService::sweep()
{
    // A muted socket reports no disconnect; look for the dead ones here.
    QVector<int> dead;
    for (const Connection &connection : qAsConst(m_connections)) {
        if (connection.tcp && connection.tcp->state() == QAbstractSocket::UnconnectedState)
            dead.append(connection.id);
    }
    for (const int id : dead)
        forget(id, QStringLiteral("gone while silent"));
}

void PushService::checkExpiries()
{
    for (const CloudState::Phone &phone : m_state.allPhones()) {
        if (!phone.isExpired()) {
            m_announced.remove(phone.serverSn);
            continue;
        }
        const auto it = m_announced.constFind(phone.serverSn);
        if (it != m_announced.constEnd() && *it == phone.endTime)
            continue;
        m_announced.insert(phone.serverSn, phone.endTime);

        Notice notice;
        notice.msgId = m_nextMsgId++;
        notice.userId = phone.ownerId;
        const QString text = QStringLiteral("您的云手机“%1”已到期").arg(phone.title);
        const QJsonObject package{{QStringLiteral("type"), QStringLiteral("server_is_expired")},
                                  {QStringLiteral("data"), QJsonObject{{QStringLiteral("txt"), text},
                                                                       {QStringLiteral("server_sn"), phone.serverSn}}}};
        const QJsonObject message{{QStringLiteral("cmd"), QStringLiteral("server")},
                                  {QStringLiteral("data"), QJsonObject{{QStringLiteral("package"), package}}},
                                  {QStringLiteral("ext"), QJsonObject{{QStringLiteral("msgId"), notice.msgId}}}};
        notice.json = QJsonDocument(message).toJson(QJsonDocument::Compact);
        const int sent = deliver(notice.userId, notice.json);
        if (sent > 0)
            notice.lastSentMs = nowMs();
        m_notices.append(notice);
        m_log.addEvent(QStringLiteral("push_notice"),
                       QJsonObject{{QStringLiteral("msgId"), notice.msgId},
                                   {QStringLiteral("user_id"), notice.userId},
                                   {QStringLiteral("type"), QStringLiteral("server_is_expired")},
                                   {QStringLiteral("server_sn"), phone.serverSn},
                                   {QStringLiteral("automatic"), true},
                                   {QStringLiteral("connections"), sent},
                                   {QStringLiteral("json"), QString::fromUtf8(notice.json)}});
        m_log.console(QStringLiteral("push notice %1: %2 expired, sent on %3 connection(s)")
                          .arg(notice.msgId)
                          .arg(phone.serverSn)
                          .arg(sent));
    }
}

int PushService::deliver(qint32 userId, const QByteArray &json)
{
    int sent = 0;
    for (Connection &connection : m_connections) {
        if (connection.userId == userId && sendFrame(connection, json))
            ++sent;
    }
    return sent;
}

bool PushService::sendFrame(Connection &connection, const QByteArray &json)
{
    const QByteArray frame = pack(json);
    return !frame.isEmpty() && connection.socket->sendBinaryMessage(frame) == frame.size();
}

void PushService::sendPendingNotices(Connection &connection)
{
    const qint64 now = nowMs();
    for (Notice &notice : m_notices) {
        if (notice.acked || notice.userId != connection.userId)
            continue;
        if (notice.lastSentMs != 0 && now - notice.lastSentMs < m_options.resendAfterMs)
            continue;
        if (!sendFrame(connection, notice.json))
            continue;
        notice.lastSentMs = now;
        m_log.addEvent(QStringLiteral("push_notice"), QJsonObject{{QStringLiteral("msgId"), notice.msgId},
                                                                  {QStringLiteral("user_id"), notice.userId},
                                                                  {QStringLiteral("type"), QStringLiteral("server_is_expired")},
                                                                  {QStringLiteral("automatic"), true},
                                                                  {QStringLiteral("resent"), true},
                                                                  {QStringLiteral("connection"), connection.id},
                                                                  {QStringLiteral("connections"), 1},
                                                                  {QStringLiteral("json"), QString::fromUtf8(notice.json)}});
        m_log.console(QStringLiteral("push notice %1 sent again on connection %2").arg(notice.msgId).arg(connection.id));
    }
}

void PushService::setConnectionSilent(Connection &connection, bool silent)
{
    if (!connection.tcp)
        return;
    connection.tcp->blockSignals(silent);
    // What arrived while muted is read now.
    if (!silent && connection.tcp->bytesAvailable() > 0)
        QMetaObject::invokeMethod(connection.tcp, "readyRead", Qt::QueuedConnection);
}

QJsonObject PushService::describe(const Connection &connection) const
{
    return QJsonObject{{QStringLiteral("connection"), connection.id},
                       {QStringLiteral("phone"), connection.phone},
                       {QStringLiteral("user_id"), connection.userId}};
}

QJsonObject PushService::sendNotice(const QJsonObject &params)
{
    return onOwnThread([this, params]() -> QJsonObject {
        const QString phone = params.value(QStringLiteral("phone")).toString().trimmed();
        const std::optional<CloudState::User> user = m_state.userByPhone(phone);
        if (!user)
            return QJsonObject{{QStringLiteral("error"), QStringLiteral("no user with that \"phone\" number")}};
        QString type = params.value(QStringLiteral("type")).toString();
        if (!params.contains(QStringLiteral("type")))
            type = QStringLiteral("server_is_expired");
        qint64 msgId = 0;
        if (params.value(QStringLiteral("msgId")).isDouble())
            msgId = qint64(params.value(QStringLiteral("msgId")).toDouble());
        else if (params.contains(QStringLiteral("msgId")))
            msgId = params.value(QStringLiteral("msgId")).toString().toLongLong();
        else
            msgId = m_nextMsgId++;
        QJsonObject data;
        if (params.contains(QStringLiteral("txt")))
            data.insert(QStringLiteral("txt"), params.value(QStringLiteral("txt")));
        const QJsonObject message{
            {QStringLiteral("cmd"), QStringLiteral("server")},
            {QStringLiteral("data"), QJsonObject{{QStringLiteral("package"), QJsonObject{{QStringLiteral("type"), type},
                                                                                          {QStringLiteral("data"), data}}}}},
            {QStringLiteral("ext"), QJsonObject{{QStringLiteral("msgId"), msgId}}}};
        const QByteArray json = QJsonDocument(message).toJson(QJsonDocument::Compact);
        const int sent = deliver(user->id, json);
        m_log.addEvent(QStringLiteral("push_notice"), QJsonObject{{QStringLiteral("msgId"), msgId},
                                                                  {QStringLiteral("user_id"), user->id},
                                                                  {QStringLiteral("phone"), user->phone},
                                                                  {QStringLiteral("type"), type},
                                                                  {QStringLiteral("automatic"), false},
                                                                  {QStringLiteral("connections"), sent},
                                                                  {QStringLiteral("json"), QString::fromUtf8(json)}});
        m_log.console(QStringLiteral("push notice %1 (%2) to %3 on %4 connection(s)").arg(msgId).arg(type, phone).arg(sent));
        return QJsonObject{{QStringLiteral("sent"), sent}, {QStringLiteral("msgId"), msgId}};
    });
}

QJsonArray PushService::connections()
{
    return onOwnThread([this] {
        QJsonArray list;
        QVector<int> ids = m_connections.keys().toVector();
        std::sort(ids.begin(), ids.end());
        for (const int id : ids) {
            const Connection &connection = m_connections[id];
            QJsonObject entry = describe(connection);
            entry.insert(QStringLiteral("connected_at"), timeText(connection.connectedMs));
            entry.insert(QStringLiteral("last_heartbeat"), timeText(connection.lastHeartbeatMs));
            entry.insert(QStringLiteral("heartbeats"), connection.heartbeats);
            entry.insert(QStringLiteral("acks"), connection.acks);
            list.append(entry);
        }
        return list;
    });
}

int PushService::dropAll(bool abort)
{
    return onOwnThread([this, abort] {
        const QList<int> ids = m_connections.keys();
        for (const int id : ids) {
            auto it = m_connections.find(id);
            if (it == m_connections.end())
                continue;
            QWebSocket *socket = it->socket;
            if (it->tcp)
                it->tcp->blockSignals(false);
            if (abort)
                socket->abort();
            else
                socket->close(QWebSocketProtocol::CloseCodeGoingAway, QStringLiteral("dropped by the operator"));
            forget(id, QStringLiteral("dropped"));
        }
        m_log.addEvent(QStringLiteral("push_drop"), QJsonObject{{QStringLiteral("dropped"), ids.size()}});
        return int(ids.size());
    });
}

void PushService::setSilent(bool silent)
{
    onOwnThread([this, silent] {
        m_silent = silent;
        for (Connection &connection : m_connections)
            setConnectionSilent(connection, silent);
        m_log.addEvent(QStringLiteral("push_silent"), QJsonObject{{QStringLiteral("silent"), silent}});
        m_log.console(QStringLiteral("push service %1").arg(silent ? QStringLiteral("silent") : QStringLiteral("answering again")));
        return true;
    });
}

qint64 PushService::refuseFor(int seconds)
{
    return onOwnThread([this, seconds]() -> qint64 {
        m_listenTimer->stop();
        if (seconds <= 0) {
            m_refuseUntilMs = 0;
            listenAgain();
            return 0;
        }
        m_refuseUntilMs = nowMs() + qint64(seconds) * 1000;
        if (m_tcpServer->isListening())
            m_tcpServer->close();
        m_listenTimer->start(seconds * 1000);
        m_log.addEvent(QStringLiteral("push_refuse"), QJsonObject{{QStringLiteral("seconds"), seconds},
                                                                  {QStringLiteral("until"), timeText(m_refuseUntilMs)}});
        m_log.console(QStringLiteral("push service refuses connections for %1 s").arg(seconds));
        return m_refuseUntilMs;
    });
}

void PushService::listenAgain()
{
    if (m_tcpServer->isListening())
        return;
    if (!m_tcpServer->listen(m_address, m_port)) {
        // The port may still be held for a moment; keep trying.
        m_listenTimer->start(RelistenRetryMs);
        return;
    }
    m_refuseUntilMs = 0;
    m_log.addEvent(QStringLiteral("push_accepting"), QJsonObject{});
    m_log.console(QStringLiteral("push service accepts connections again"));
}
