#pragma once

#include "localcloud/phonefarm/h264encoder.h"
#include "platform/swplay/swprotocol.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

class FarmCore;
class FarmPhone;
class QFile;
class QTcpSocket;

// One stream connection: waits for the hello, lets the farm admit or refuse
// it, then sends the phone's screen as H.264 and applies the client's input.
class FarmSession final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FarmSession)

public:
    FarmSession(QTcpSocket *socket, FarmCore *core);
    ~FarmSession() override;

    bool isStreaming() const { return m_state == State::Streaming; }
    FarmPhone *phone() const { return m_phone; }
    QString sessionId() const { return m_sessionId; }

    void refuse(uint32_t code, const QString &message);
    void accept(FarmPhone *phone, int idleSeconds, const QString &clientType);
    // Ends the stream with a reason the client is told.
    void end(uint32_t code, const QString &message);
    // Ends it the way a phone going down does: the connection just drops.
    void drop();
    void startRecording(const QString &path);
    QJsonObject info() const;

signals:
    // Emitted once; the session deletes itself afterwards.
    void finished(FarmSession *session);

private:
    enum class State { AwaitingHello, Streaming, Closed };

    void onReadyRead();
    void handle(swp::Type type, const std::string &body);
    void handleHello(const std::string &body);
    bool applyLevel(int index);
    void input();
    void scheduleFrame();
    void sendFrame();
    void send(const std::string &message);
    void close(bool graceful);

    QTcpSocket *m_socket;
    FarmCore *m_core;
    State m_state = State::AwaitingHello;
    swp::Deframer m_deframer;
    QPointer<FarmPhone> m_phone;
    swp::Hello m_hello;
    QString m_sessionId;
    QString m_clientType;
    QString m_peer;
    int m_level = 0;
    int m_frameRate = 30;
    H264Encoder m_encoder;
    bool m_forceKeyFrame = true;
    int m_sessionVersion = 1;
    qint64 m_framesSent = 0;
    qint64 m_encodes = 0;
    // The phone's screen generation in the last encoded picture.
    quint64 m_encodedGeneration = 0;
    qint64 m_bytesSent = 0;
    QElapsedTimer m_clock;
    // When the last picture was encoded: the frame rate limits encoding.
    qint64 m_lastFrameAt = -1000000;
    qint64 m_lastReceivedAt = 0;
    QTimer m_helloTimer;
    QTimer m_keepAliveTimer;
    QTimer m_idleTimer;
    QTimer m_frameTimer;
    QTimer m_refreshTimer;
    std::unique_ptr<QFile> m_recording;
    bool m_recordingStarted = false;
};
