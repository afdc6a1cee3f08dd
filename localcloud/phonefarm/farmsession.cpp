#include "localcloud/phonefarm/farmsession.h"

#include "localcloud/phonefarm/farmcore.h"
#include "localcloud/phonefarm/farmphone.h"

#include <QDebug>
#include <QFile>
#include <QTcpSocket>

namespace {

constexpr int kHelloTimeoutMs = 5000;
constexpr int kKeepAliveMs = 2000;
// A client that sends nothing (not even keep-alives) for this long is gone.
constexpr int kSilenceMs = 15000;
// Even an unchanged screen is sent this often, so the client knows the
// picture is alive; it goes as a repeat of the last picture, not encoded.
constexpr int kRefreshMs = 1000;
// A session whose screen has not changed for this long gives its encoder's
// memory back; the next change starts a new one with a key frame.
constexpr qint64 kSuspendMs = 5000;
// Frames are skipped (not queued) while this much is still unsent.
constexpr qint64 kMaxUnsent = 1024 * 1024;

} // namespace

FarmSession::FarmSession(QTcpSocket *socket, FarmCore *core)
    : QObject(core)
    , m_socket(socket)
    , m_core(core)
{
    m_socket->setParent(this);
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_peer = QStringLiteral("%1:%2").arg(m_socket->peerAddress().toString()).arg(m_socket->peerPort());
    m_clock.start();
    connect(m_socket, &QTcpSocket::readyRead, this, &FarmSession::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] { close(false); });
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this] { close(false); });

    m_helloTimer.setSingleShot(true);
    m_helloTimer.setInterval(kHelloTimeoutMs);
    connect(&m_helloTimer, &QTimer::timeout, this, [this] {
        // A busy farm may see the time run out before the hello it has
        // already received: read that first.
        if (m_socket->bytesAvailable() > 0)
            onReadyRead();
        if (m_state == State::AwaitingHello)
            close(false);
    });
    m_helloTimer.start();

    m_keepAliveTimer.setInterval(kKeepAliveMs);
    connect(&m_keepAliveTimer, &QTimer::timeout, this, [this] {
        if (m_clock.elapsed() - m_lastReceivedAt > kSilenceMs) {
            close(false);
            return;
        }
        send(swp::encodeKeepAlive(quint64(m_clock.elapsed())));
    });
    m_idleTimer.setSingleShot(true);
    connect(&m_idleTimer, &QTimer::timeout, this,
            [this] { end(swp::kCodeIdle, QStringLiteral("no input for %1 s").arg(m_idleTimer.interval() / 1000)); });
    m_frameTimer.setSingleShot(true);
    connect(&m_frameTimer, &QTimer::timeout, this, &FarmSession::sendFrame);
    m_refreshTimer.setSingleShot(true);
    connect(&m_refreshTimer, &QTimer::timeout, this, &FarmSession::scheduleFrame);
}

FarmSession::~FarmSession() = default;

void FarmSession::onReadyRead()
{
    if (m_state == State::Closed)
        return;
    const QByteArray data = m_socket->readAll();
    m_deframer.append(data.constData(), size_t(data.size()));
    m_lastReceivedAt = m_clock.elapsed();
    swp::Type type;
    std::string body;
    for (;;) {
        const auto result = m_deframer.next(type, body);
        if (result == swp::Deframer::Result::NeedMore)
            break;
        if (result == swp::Deframer::Result::Error) {
            qInfo().noquote() << "phonefarm: broken stream from" << m_peer;
            close(false);
            return;
        }
        handle(type, body);
        if (m_state == State::Closed)
            return;
    }
    // A hello never needs more than a few kilobytes.
    if (m_state == State::AwaitingHello && m_deframer.buffered() > 64 * 1024)
        close(false);
}

void FarmSession::handle(swp::Type type, const std::string &body)
{
    if (m_state == State::AwaitingHello) {
        if (type == swp::Type::Hello)
            handleHello(body);
        else
            close(false);
        return;
    }
    bool ok = true;
    switch (type) {
    case swp::Type::Touch: {
        swp::Touch t;
        ok = swp::decodeTouch(body, t);
        if (ok && m_phone) {
            m_phone->applyTouch(t.action, t.x[0], t.y[0], t.pressure[0], int(t.x.size()));
            input();
        }
        break;
    }
    case swp::Type::Key: {
        int32_t action = 0;
        int32_t code = 0;
        ok = swp::decodeKey(body, action, code);
        if (ok && m_phone) {
            m_phone->applyKey(action, code);
            input();
        }
        break;
    }
    case swp::Type::ClipboardToPhone: {
        std::string bytes;
        ok = swp::decodeBytes(body, bytes);
        if (ok && m_phone) {
            m_phone->applyClipboard(QString::fromUtf8(bytes.data(), int(bytes.size())));
            input();
        }
        break;
    }
    case swp::Type::Text: {
        // A version-1 session does not know this message: skipped as unknown.
        if (m_sessionVersion < 2)
            break;
        std::string bytes;
        ok = !body.empty() && swp::decodeBytes(body, bytes);
        if (ok && m_phone) {
            m_phone->applyText(QString::fromUtf8(bytes.data(), int(bytes.size())));
            input();
        }
        break;
    }
    case swp::Type::Level: {
        int32_t index = 0;
        ok = swp::decodeInt(body, index);
        if (ok && !applyLevel(index))
            end(swp::kCodeProtocol, QStringLiteral("cannot encode at level %1").arg(index));
        break;
    }
    case swp::Type::KeyFrameRequest:
        m_forceKeyFrame = true;
        scheduleFrame();
        break;
    case swp::Type::KeepAlive:
        break;
    case swp::Type::Disconnect:
        close(true);
        break;
    default:
        // Unknown messages are skipped so newer clients can talk to us.
        break;
    }
    if (!ok) {
        qInfo().noquote() << "phonefarm: malformed message" << int(type) << "from" << m_peer;
        end(swp::kCodeProtocol, QStringLiteral("malformed message"));
    }
}

void FarmSession::handleHello(const std::string &body)
{
    m_helloTimer.stop();
    if (!swp::decodeHello(body, m_hello)) {
        refuse(swp::kCodeProtocol, QStringLiteral("malformed hello"));
        return;
    }
    m_sessionId = QString::fromStdString(m_hello.sessionId);
    m_core->admit(this, m_hello);
}

void FarmSession::refuse(uint32_t code, const QString &message)
{
    qInfo().noquote() << "phonefarm: refused" << m_peer << "pad" << QString::fromStdString(m_hello.padCode)
                      << "code" << code << message;
    send(swp::encodeReason(swp::Type::Refuse, swp::Reason{code, message.toStdString()}));
    close(true);
}

void FarmSession::accept(FarmPhone *phone, int idleSeconds, const QString &clientType)
{
    m_phone = phone;
    m_clientType = clientType;
    // The play parameters' frame rate wins; the level's is the fallback.
    m_frameRate = m_hello.play[3] > 0 ? m_hello.play[3] : (m_hello.play[4] > 0 ? m_hello.play[4] : 0);
    if (!applyLevel(m_hello.level)) {
        refuse(swp::kCodeRefused, QStringLiteral("cannot encode at level %1").arg(m_hello.level));
        return;
    }
    m_state = State::Streaming;
    swp::Accept a;
    a.screenWidth = FarmPhone::kWidth;
    a.screenHeight = FarmPhone::kHeight;
    a.level = m_level;
    a.frameRate = m_frameRate;
    m_sessionVersion = qMin<int>(m_hello.version, swp::kVersion);
    a.version = uint16_t(m_sessionVersion);
    send(swp::encodeAccept(a));
    send(swp::encodeInt(swp::Type::ControlTime, idleSeconds));
    connect(phone, &FarmPhone::changed, this, &FarmSession::scheduleFrame);
    connect(phone, &FarmPhone::goingDown, this, &FarmSession::drop);
    connect(phone, &QObject::destroyed, this, [this] { close(false); });
    m_keepAliveTimer.start();
    if (idleSeconds > 0) {
        m_idleTimer.setInterval(int(qMin<qint64>(qint64(idleSeconds) * 1000, 0x7fffffff)));
        m_idleTimer.start();
    }
    qInfo().noquote() << "phonefarm: session on" << phone->padCode() << "from" << m_peer << "level" << m_level
                      << m_encoder.width() << "x" << m_encoder.height() << "fps" << m_frameRate;
    scheduleFrame();
}

bool FarmSession::applyLevel(int index)
{
    // Level index 0 ("auto") and unknown indexes take the first level.
    swp::LevelFields chosen{2, FarmPhone::kWidth, FarmPhone::kHeight, 20, 15, 4096, 45, 1, 1, 0, 0};
    if (!m_hello.levels.empty())
        chosen = m_hello.levels.front();
    for (const auto &level : m_hello.levels) {
        if (index > 0 && level[7] == index) {
            chosen = level;
            break;
        }
    }
    const int width = qBound(16, int(chosen[1]), FarmPhone::kWidth);
    const int height = qBound(16, int(chosen[2]), FarmPhone::kHeight);
    if (m_frameRate <= 0)
        m_frameRate = chosen[3] > 0 ? chosen[3] : 30;
    m_frameRate = qBound(1, m_frameRate, 60);
    QString error;
    if (!m_encoder.open(width, height, m_frameRate, chosen[5], chosen[4], &error)) {
        qWarning().noquote() << "phonefarm: encoder:" << error;
        return false;
    }
    m_level = chosen[7];
    m_forceKeyFrame = true;
    if (m_state == State::Streaming)
        scheduleFrame();
    return true;
}

void FarmSession::input()
{
    if (m_idleTimer.interval() > 0)
        m_idleTimer.start();
}

void FarmSession::scheduleFrame()
{
    if (m_state != State::Streaming || m_frameTimer.isActive())
        return;
    const qint64 interval = 1000 / m_frameRate;
    const qint64 wait = m_lastFrameAt + interval - m_clock.elapsed();
    m_frameTimer.start(int(qBound<qint64>(0, wait, interval)));
}

void FarmSession::sendFrame()
{
    if (m_state != State::Streaming || !m_phone)
        return;
    if (m_socket->bytesToWrite() > kMaxUnsent) {
        // The client is behind: skip this picture, try again shortly.
        m_frameTimer.start(20);
        return;
    }
    const qint64 now = m_clock.elapsed();
    const quint64 generation = m_phone->generation();
    bool key = false;
    QByteArray au;
    // Nothing changed since the last picture: it is shown again without
    // encoding, so an idle screen costs next to nothing.
    if (!m_forceKeyFrame && generation == m_encodedGeneration) {
        au = m_encoder.repeatLast();
        if (!au.isEmpty() && now - m_lastFrameAt >= kSuspendMs && !m_encoder.isSuspended()) {
            m_encoder.suspend();
            m_core->releaseMemorySoon();
        }
    }
    if (au.isEmpty()) {
        m_lastFrameAt = now;
        m_encodedGeneration = generation;
        au = m_encoder.encode(m_phone->screen(), now, m_forceKeyFrame, &key);
        ++m_encodes;
        m_phone->countEncode();
        if (!au.isEmpty())
            m_forceKeyFrame = false;
    }
    if (!au.isEmpty()) {
        swp::Video v;
        v.ptsMicros = quint64(now) * 1000;
        v.keyFrame = key;
        v.width = quint16(m_encoder.width());
        v.height = quint16(m_encoder.height());
        v.data.assign(au.constData(), size_t(au.size()));
        send(swp::encodeVideo(v));
        ++m_framesSent;
        if (m_recording && (m_recordingStarted || key)) {
            m_recordingStarted = true;
            m_recording->write(au);
            m_recording->flush();
        }
    }
    m_refreshTimer.start(qMax(kRefreshMs, 1000 / m_frameRate));
}

void FarmSession::startRecording(const QString &path)
{
    m_recording.reset();
    m_recordingStarted = false;
    if (path.isEmpty())
        return;
    m_recording = std::make_unique<QFile>(path);
    if (!m_recording->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qWarning().noquote() << "phonefarm: cannot record to" << path;
        m_recording.reset();
        return;
    }
    m_forceKeyFrame = true;
    scheduleFrame();
}

void FarmSession::send(const std::string &message)
{
    if (m_state == State::Closed || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    m_socket->write(message.data(), qint64(message.size()));
    m_bytesSent += qint64(message.size());
}

void FarmSession::end(uint32_t code, const QString &message)
{
    if (m_state == State::Closed)
        return;
    qInfo().noquote() << "phonefarm: ending session on" << (m_phone ? m_phone->padCode() : QString()) << "code" << code
                      << message;
    send(swp::encodeReason(swp::Type::Disconnect, swp::Reason{code, message.toStdString()}));
    close(true);
}

void FarmSession::drop()
{
    close(false);
}

void FarmSession::close(bool graceful)
{
    if (m_state == State::Closed)
        return;
    m_state = State::Closed;
    m_helloTimer.stop();
    m_keepAliveTimer.stop();
    m_idleTimer.stop();
    m_frameTimer.stop();
    m_refreshTimer.stop();
    if (m_encoder.isOpen() && !m_encoder.isSuspended())
        m_core->releaseMemorySoon();
    m_encoder.close();
    m_recording.reset();
    if (m_phone)
        disconnect(m_phone, nullptr, this, nullptr);
    m_socket->disconnect(this);
    if (graceful) {
        // The socket outlives the session until what is queued (the refusal
        // or the reason) is sent; a peer that does not read gets 3 s.
        QTcpSocket *socket = m_socket;
        socket->setParent(m_core);
        connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(3000, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        socket->disconnectFromHost();
    } else {
        m_socket->abort();
    }
    emit finished(this);
    deleteLater();
}

QJsonObject FarmSession::info() const
{
    return QJsonObject{{QStringLiteral("sessionId"), m_sessionId},
                       {QStringLiteral("clientType"), m_clientType},
                       {QStringLiteral("peer"), m_peer},
                       {QStringLiteral("level"), m_level},
                       {QStringLiteral("width"), m_encoder.width()},
                       {QStringLiteral("height"), m_encoder.height()},
                       {QStringLiteral("frameRate"), m_frameRate},
                       {QStringLiteral("framesSent"), double(m_framesSent)},
                       {QStringLiteral("encodes"), double(m_encodes)},
                       {QStringLiteral("encoderSuspended"), m_encoder.isSuspended()},
                       {QStringLiteral("bytesSent"), double(m_bytesSent)}};
}
