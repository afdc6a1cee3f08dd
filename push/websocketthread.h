#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QUrl>

#include <deque>

// The push channel's network thread. It owns the WebSocket (made when the
// thread starts), keeps it connected forever (reconnecting a moment after
// every loss), watches the server with pings and sends the queued frames.
class WebSocketThread final : public QThread
{
    Q_OBJECT

public:
    // Timer periods. Tests shorten them; a thread takes the values current
    // when it is made.
    struct Periods
    {
        int heartbeatMs = 5000; // the client's heartbeat
        int pumpMs = 1;         // send pump
        int pingMs = 10000;     // ping supervision
        int watchdogMs = 1000;  // a connection attempt may take this long
        int reconnectDelayMs = 1000;
    };
    static void setPeriods(const Periods &periods);
    static Periods periods();

    static constexpr int MaxQueuedFrames = 5;
    // Pings that may go unanswered; one more tick counts as a lost connection.
    static constexpr int MaxUnansweredPings = 6;

    explicit WebSocketThread(QObject *parent = nullptr);
    // Asks the loop to end and waits for it.
    ~WebSocketThread() override;

    // Before start().
    void setUrl(const QUrl &url);
    QUrl url() const { return m_url; }

    // Queues a copy of the frame; false (and dropped) while not connected or
    // when five frames already wait. Any thread.
    bool sendBinary(const QByteArray &bytes);
    int queuedFrames() const;
    bool isConnected() const;

signals:
    // 0 connected; 1 an established connection was lost; 2 an attempt failed.
    void connectInfo(int info);
    void reciveMsg(QString msg);
    void reciveBinaryMsg(QByteArray msg);

protected:
    void run() override;

private:
    Q_DISABLE_COPY_MOVE(WebSocketThread)
    friend class PushNetworkLoop;

    bool takeFrame(QByteArray *frame);
    void setConnected(bool connected);

    const Periods m_periods;
    QUrl m_url;
    mutable QMutex m_queueMutex;
    std::deque<QByteArray> m_queue;
    bool m_connected = false;
};
