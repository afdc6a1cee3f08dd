#include "push/websocketthread.h"

#include "app/buildconfig.h"
#include "app/logger.h"

#include <QEventLoop>
#include <QFile>
#include <QSslConfiguration>
#include <QTimer>
#include <QWebSocket>

namespace {

QMutex g_periodsMutex;
WebSocketThread::Periods g_periods;

constexpr int CloseWaitMs = 1000;

// Peers are verified and the toolkit's secure protocols apply; a build may
// name one more authority to trust (the local cloud's).
QSslConfiguration pushSslConfiguration()
{
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    config.setProtocol(QSsl::SecureProtocols);
    const QString caFile = QStringLiteral(TARVIX_CA_FILE);
    if (!caFile.isEmpty() && QFile::exists(caFile)) {
        QList<QSslCertificate> authorities = config.caCertificates();
        authorities += QSslCertificate::fromPath(caFile);
        config.setCaCertificates(authorities);
    }
    return config;
}

} // namespace

// The state the running thread keeps for itself: the socket, the three
// timers, whether the current attempt ever connected and the count of
// unanswered pings. Lives and dies on the network thread.
class PushNetworkLoop final : public QObject
{
public:
    PushNetworkLoop(WebSocketThread *owner, const WebSocketThread::Periods &periods)
        : m_owner(owner)
        , m_periods(periods)
        , m_socket(QString(), QWebSocketProtocol::Version13)
    {
        if (owner->url().scheme() == QLatin1String("wss"))
            m_socket.setSslConfiguration(pushSslConfiguration());

        m_pump.setInterval(periods.pumpMs);
        m_ping.setInterval(periods.pingMs);
        m_watchdog.setInterval(periods.watchdogMs);
        m_watchdog.setSingleShot(true);
        m_reconnect.setInterval(periods.reconnectDelayMs);
        m_reconnect.setSingleShot(true);

        connect(&m_socket, &QWebSocket::pong, this, [this] { --m_unansweredPings; });
        connect(&m_socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
                [this](QAbstractSocket::SocketError) {
                    LOG_ERROR() << "WebsocketClient: " << "[ERROR][SOCKET] " << m_socket.errorString();
                    // A refused attempt reports no disconnect; waiting for the
                    // watchdog would only add its second to the next try.
                    if (m_socket.state() == QAbstractSocket::UnconnectedState)
                        onLost();
                });
        connect(&m_socket, &QWebSocket::connected, this, &PushNetworkLoop::onConnected);
        connect(&m_socket, &QWebSocket::disconnected, this, &PushNetworkLoop::onLost);
        connect(&m_socket, &QWebSocket::binaryMessageReceived, this,
                [this](const QByteArray &frame) { emit m_owner->reciveBinaryMsg(frame); });
        connect(&m_socket, &QWebSocket::textMessageReceived, this,
                [this](const QString &text) { emit m_owner->reciveMsg(text); });
        connect(&m_pump, &QTimer::timeout, this, &PushNetworkLoop::pump);
        connect(&m_ping, &QTimer::timeout, this, &PushNetworkLoop::pingTick);
        connect(&m_watchdog, &QTimer::timeout, this, &PushNetworkLoop::watchdogFired);
        connect(&m_reconnect, &QTimer::timeout, this, &PushNetworkLoop::open);
    }

    void open()
    {
        m_waiting = false;
        m_socket.open(m_owner->url());
        m_watchdog.start();
    }

    // Leaves with a normal close, waiting a moment so the server hears it.
    void finish()
    {
        m_pump.stop();
        m_ping.stop();
        m_watchdog.stop();
        m_reconnect.stop();
        m_owner->setConnected(false);
        m_socket.disconnect(this);
        if (m_socket.state() == QAbstractSocket::UnconnectedState)
            return;
        QEventLoop wait;
        QTimer::singleShot(CloseWaitMs, &wait, &QEventLoop::quit);
        connect(&m_socket, &QWebSocket::disconnected, &wait, &QEventLoop::quit);
        m_socket.close(QWebSocketProtocol::CloseCodeNormal, QString());
        if (m_socket.state() != QAbstractSocket::UnconnectedState)
            wait.exec();
        m_socket.abort();
    }

private:
    void onConnected()
    {
        if (m_waiting)
            return;
        m_neverConnected = false;
        m_pump.start();
        m_unansweredPings = 0;
        m_ping.start();
        m_watchdog.stop();
        LOG_INFO() << "connected";
        LOG_INFO() << "WebsocketClient: connected";
        m_owner->setConnected(true);
        emit m_owner->connectInfo(0);
    }

    // Lost, failed, timed out or unanswered: try again after a pause. The
    // pause is a timer, so a thread asked to end meanwhile ends at once.
    void onLost()
    {
        if (m_waiting)
            return;
        m_waiting = true;
        m_pump.stop();
        m_ping.stop();
        m_watchdog.stop();
        m_owner->setConnected(false);
        emit m_owner->connectInfo(m_neverConnected ? 2 : 1);
        LOG_INFO() << "disconnected";
        LOG_INFO() << "WebsocketClient: disconnected";
        m_neverConnected = true;
        // A pending attempt or a silent connection is given up here, so it
        // cannot finish during the pause.
        if (m_socket.state() != QAbstractSocket::UnconnectedState)
            m_socket.abort();
        m_reconnect.start();
    }

    void watchdogFired()
    {
        m_watchdog.stop();
        // Still on the way, or refused before it ever connected (a refusal
        // reports no disconnect).
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            onLost();
    }

    void pingTick()
    {
        if (m_unansweredPings < WebSocketThread::MaxUnansweredPings) {
            m_socket.ping(QByteArrayLiteral("ping"));
            ++m_unansweredPings;
            return;
        }
        onLost();
    }

    void pump()
    {
        QByteArray frame;
        if (!m_owner->takeFrame(&frame))
            return;
        const qint64 sent = m_socket.sendBinaryMessage(frame);
        LOG_INFO() << "1size: " << sent;
    }

    WebSocketThread *const m_owner;
    const WebSocketThread::Periods m_periods;
    QWebSocket m_socket;
    QTimer m_pump;
    QTimer m_ping;
    QTimer m_watchdog;
    QTimer m_reconnect;
    bool m_neverConnected = true;
    bool m_waiting = false;
    int m_unansweredPings = 0;
};

void WebSocketThread::setPeriods(const Periods &periods)
{
    QMutexLocker lock(&g_periodsMutex);
    g_periods = periods;
}

WebSocketThread::Periods WebSocketThread::periods()
{
    QMutexLocker lock(&g_periodsMutex);
    return g_periods;
}

WebSocketThread::WebSocketThread(QObject *parent)
    : QThread(parent)
    , m_periods(periods())
{
}

WebSocketThread::~WebSocketThread()
{
    if (isRunning()) {
        quit();
        wait();
    }
}

void WebSocketThread::setUrl(const QUrl &url)
{
    m_url = url;
}

bool WebSocketThread::sendBinary(const QByteArray &bytes)
{
    QMutexLocker lock(&m_queueMutex);
    if (!m_connected || int(m_queue.size()) >= MaxQueuedFrames)
        return false;
    // Our own copy: the caller's bytes may belong to the codec.
    m_queue.emplace_back(bytes.constData(), bytes.size());
    return true;
}

int WebSocketThread::queuedFrames() const
{
    QMutexLocker lock(&m_queueMutex);
    return int(m_queue.size());
}

bool WebSocketThread::isConnected() const
{
    QMutexLocker lock(&m_queueMutex);
    return m_connected;
}

bool WebSocketThread::takeFrame(QByteArray *frame)
{
    QMutexLocker lock(&m_queueMutex);
    if (m_queue.empty())
        return false;
    *frame = std::move(m_queue.front());
    m_queue.pop_front();
    return true;
}

void WebSocketThread::setConnected(bool connected)
{
    QMutexLocker lock(&m_queueMutex);
    m_connected = connected;
}

void WebSocketThread::run()
{
    PushNetworkLoop loop(this, m_periods);
    loop.open();
    exec();
    loop.finish();
}
