#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class WebSocketThread;

// The GUI-thread side of the push channel: starts the network thread on the
// signed-in user's push token, sends the heartbeat and acknowledges the
// notices it acts upon. Made by the main window for each session; knows no
// windows.
class WebsocketClientAndReConnect final : public QObject
{
public:
    WebsocketClientAndReConnect();
    // Ends the network thread (closing the connection normally) and waits.
    ~WebsocketClientAndReConnect() override;

    // What a notice of an expired phone asks of the windows, before it is
    // acknowledged: show the text (nothing when it is JSON null) and reload
    // the phone list. Set by the owner of both.
    using ExpiryHandler = std::function<void(const std::optional<QString> &text)>;
    void setExpiryHandler(ExpiryHandler handler);

    // One binary frame from the server. Anything that is no usable notice is
    // logged (when it is no message at all) and ignored.
    void handleBinaryMessage(const QByteArray &frame);
    bool sendHeartbeat();
    bool sendAcknowledgement(qint64 msgId);

    static QString heartbeatText();
    static QString acknowledgementText(qint64 msgId);

    WebSocketThread *networkThread() const { return m_thread.get(); }

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    Q_DISABLE_COPY_MOVE(WebsocketClientAndReConnect)

    bool sendText(const QString &text);
    void stop();

    int m_heartbeatTimerId = -1;
    std::unique_ptr<WebSocketThread> m_thread;
    ExpiryHandler m_expiryHandler;
};
