#include "push/websocketclientandreconnect.h"

#include "api/secretmask.h"
#include "app/appevent.h"
#include "app/logger.h"
#include "api/utils.h"
#include "push/websocketthread.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimerEvent>
#include <QUrl>
#include <QUrlQuery>

namespace {

constexpr int HeaderSize = 4;
const char ExpiredType[] = "server_is_expired";

} // namespace

WebsocketClientAndReConnect::WebsocketClientAndReConnect()
    : m_thread(std::make_unique<WebSocketThread>())
{
    const QString token = AppEvent::instance()->wssToken();
    QUrl url(Utils::instance()->pushBaseUrl());
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("token"), token);
    url.setQuery(query);
    // The push token stays out of the log.
    LOG_INFO() << "wssurl: " << Utils::instance()->pushBaseUrl() + QStringLiteral("?token=") + SecretMask::shorten(token);

    m_thread->setUrl(url);
    connect(m_thread.get(), &WebSocketThread::reciveBinaryMsg, this,
            [this](const QByteArray &frame) { handleBinaryMessage(frame); }, Qt::QueuedConnection);
    connect(m_thread.get(), &WebSocketThread::connectInfo, this,
            [](int info) { LOG_INFO() << "WebsocketClient: connectInfo " << info; }, Qt::QueuedConnection);
    m_thread->start();
    // Past the event loop nothing would run a deferred delete: a client still
    // alive when the application quits ends its thread here.
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] { stop(); });
    m_heartbeatTimerId = startTimer(WebSocketThread::periods().heartbeatMs, Qt::CoarseTimer);
    LOG_INFO() << "websocket init";
}

WebsocketClientAndReConnect::~WebsocketClientAndReConnect()
{
    stop();
}

void WebsocketClientAndReConnect::stop()
{
    if (m_heartbeatTimerId != -1)
        killTimer(m_heartbeatTimerId);
    m_heartbeatTimerId = -1;
    if (m_thread->isRunning()) {
        LOG_INFO() << "websocket uninit";
        m_thread->quit();
        m_thread->wait();
    }
}

void WebsocketClientAndReConnect::setExpiryHandler(ExpiryHandler handler)
{
    m_expiryHandler = std::move(handler);
}

void WebsocketClientAndReConnect::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_heartbeatTimerId)
        sendHeartbeat();
    else
        QObject::timerEvent(event);
}

QString WebsocketClientAndReConnect::heartbeatText()
{
    return QStringLiteral("{\"cmd\":\"heart\",\"data\":{},\"ext\":{}}");
}

QString WebsocketClientAndReConnect::acknowledgementText(qint64 msgId)
{
    return QStringLiteral("{\"cmd\":\"msgAck\",\"data\":{},\"ext\":{\"msgId\":%1}}").arg(msgId);
}

bool WebsocketClientAndReConnect::sendHeartbeat()
{
    return sendText(heartbeatText());
}

bool WebsocketClientAndReConnect::sendAcknowledgement(qint64 msgId)
{
    return sendText(acknowledgementText(msgId));
}

bool WebsocketClientAndReConnect::sendText(const QString &text)
{
    // sendBinary copies: the encoded bytes belong to the codec.
    return m_thread->sendBinary(Utils::instance()->packEncode(text));
}

void WebsocketClientAndReConnect::handleBinaryMessage(const QByteArray &frame)
{
    if (frame.size() < HeaderSize) {
        LOG_WARN() << "WebsocketClient: frame of" << frame.size() << "bytes ignored, shorter than its header";
        return;
    }
    // The header's place is kept with blanks; the rest goes byte for byte.
    const QString text = QStringLiteral("    ") + QString::fromLatin1(frame.constData() + HeaderSize, frame.size() - HeaderSize);
    const QString decoded = Utils::instance()->packDecode(text);
    if (decoded.isEmpty()) {
        LOG_WARN() << "WebsocketClient: undecodable frame of" << frame.size() << "bytes ignored";
        return;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(decoded.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) {
        LOG_WARN() << "WebsocketClient: QJson parse error，" << error.errorString();
        return;
    }
    const QJsonObject message = document.object();
    if (message.value(QStringLiteral("cmd")).toString() != QLatin1String("server")
        || !message.value(QStringLiteral("data")).isObject())
        return;
    LOG_INFO() << "WebsocketClient:" << " recevied messgae: " << QString::fromLatin1(frame.mid(HeaderSize));

    const QJsonValue package = message.value(QStringLiteral("data")).toObject().value(QStringLiteral("package"));
    if (!package.isObject())
        return;
    const QJsonObject packageObject = package.toObject();
    if (packageObject.value(QStringLiteral("type")).toString() != QLatin1String(ExpiredType))
        return;

    // JSON null: nothing to show; absent: an empty text.
    const QJsonValue txt = packageObject.value(QStringLiteral("data")).toObject().value(QStringLiteral("txt"));
    if (m_expiryHandler)
        m_expiryHandler(txt.isNull() ? std::nullopt : std::optional<QString>(txt.toString()));
    const qint64 msgId = qint64(message.value(QStringLiteral("ext")).toObject().value(QStringLiteral("msgId")).toDouble(0));
    sendAcknowledgement(msgId);
}
