#include "localcloud/phonefarm/farmcore.h"

#include "localcloud/phonefarm/farmphone.h"
#include "localcloud/phonefarm/farmsession.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QJsonArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#ifdef __GLIBC__
#include <malloc.h>
#endif

extern "C" {
#include <libavutil/log.h>
}

namespace {

// Connections that have not said hello yet; beyond this, new ones are
// closed at once so a flood cannot eat the farm's memory.
constexpr int kMaxUnidentified = 128;

} // namespace

FarmCore::FarmCore()
{
    // libx264 reports every encoder it closes; the farm's log says enough.
    av_log_set_level(AV_LOG_ERROR);
}

void FarmCore::releaseMemorySoon()
{
    if (!m_releaseTimer) {
        m_releaseTimer = new QTimer(this);
        m_releaseTimer->setSingleShot(true);
        m_releaseTimer->setInterval(2000);
        connect(m_releaseTimer, &QTimer::timeout, this, [] {
#ifdef __GLIBC__
            // glibc keeps freed heap memory; an encoder is tens of megabytes.
            malloc_trim(0);
#endif
        });
    }
    if (!m_releaseTimer->isActive())
        m_releaseTimer->start();
}

FarmCore::~FarmCore()
{
    // Sessions first: they hold pointers to the phones.
    const auto sessions = m_sessions;
    for (FarmSession *s : sessions)
        delete s;
    qDeleteAll(m_phones);
}

bool FarmCore::listen(const QHostAddress &address, quint16 port)
{
    if (!m_server) {
        m_server = new QTcpServer(this);
        m_server->setMaxPendingConnections(256);
        connect(m_server, &QTcpServer::newConnection, this, &FarmCore::onNewConnection);
    }
    if (m_server->isListening())
        m_server->close();
    if (!m_server->listen(address, port)) {
        qWarning().noquote() << "phonefarm: cannot listen on" << address.toString() << port << m_server->errorString();
        return false;
    }
    m_port = m_server->serverPort();
    qInfo().noquote() << "phonefarm: listening on" << address.toString() << m_port.load();
    return true;
}

void FarmCore::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        int unidentified = 0;
        for (FarmSession *s : qAsConst(m_sessions))
            unidentified += s->isStreaming() ? 0 : 1;
        if (unidentified >= kMaxUnidentified) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto *session = new FarmSession(socket, this);
        m_sessions.insert(session);
        connect(session, &FarmSession::finished, this, [this](FarmSession *s) { m_sessions.remove(s); });
    }
}

void FarmCore::addPhone(const QString &padCode, const QString &name)
{
    if (padCode.isEmpty() || m_phones.contains(padCode))
        return;
    m_phones.insert(padCode, new FarmPhone(padCode, name, this));
}

void FarmCore::authorizeSession(const QString &sessionId, const QString &padCode, qint32 userId,
                                int idleSeconds, const QString &clientType)
{
    if (sessionId.isEmpty())
        return;
    m_authorizations.insert(sessionId, Authorization{padCode, userId, idleSeconds, clientType});
}

void FarmCore::admit(FarmSession *session, const swp::Hello &hello)
{
    const QString sessionId = QString::fromStdString(hello.sessionId);
    const QString padCode = QString::fromStdString(hello.padCode);
    const auto auth = m_authorizations.constFind(sessionId);
    if (auth == m_authorizations.constEnd()) {
        session->refuse(swp::kCodeSessionInvalid, QStringLiteral("session invalid"));
        return;
    }
    FarmPhone *phone = m_phones.value(padCode);
    if (!phone || auth->padCode != padCode || auth->userId != hello.userId) {
        session->refuse(swp::kCodeRefused, QStringLiteral("control service refused the connection: %1").arg(padCode));
        return;
    }
    if (phone->isBooting()) {
        session->refuse(swp::kCodeRefused, QStringLiteral("phone %1 is starting").arg(padCode));
        return;
    }
    session->accept(phone, auth->idleSeconds, auth->clientType);
    const QString recording = m_recordings.value(sessionId);
    if (!recording.isEmpty())
        session->startRecording(recording);
}

void FarmCore::reboot(const QString &padCode, bool wipe)
{
    if (FarmPhone *phone = m_phones.value(padCode)) {
        qInfo().noquote() << "phonefarm:" << (wipe ? "reset" : "reboot") << padCode;
        phone->reboot(wipe, m_bootMillis);
    }
}

void FarmCore::kick(const QString &padCode)
{
    // The kicked sessions cannot come back.
    for (auto it = m_authorizations.begin(); it != m_authorizations.end();) {
        if (it->padCode == padCode)
            it = m_authorizations.erase(it);
        else
            ++it;
    }
    const auto sessions = m_sessions;
    for (FarmSession *s : sessions) {
        if (s->isStreaming() && s->phone() && s->phone()->padCode() == padCode)
            s->end(swp::kCodeKicked, QStringLiteral("kicked"));
    }
}

QJsonObject FarmCore::phoneState(const QString &padCode) const
{
    FarmPhone *phone = m_phones.value(padCode);
    if (!phone)
        return {};
    QJsonObject state = phone->state();
    QJsonArray sessions;
    for (FarmSession *s : m_sessions) {
        if (s->isStreaming() && s->phone() == phone)
            sessions.append(s->info());
    }
    state.insert(QStringLiteral("sessions"), sessions);
    // The level the phone encodes at for its most demanding viewer.
    if (!sessions.isEmpty()) {
        QJsonObject top = sessions.first().toObject();
        for (const auto &v : sessions) {
            if (v.toObject().value(QStringLiteral("frameRate")).toInt() > top.value(QStringLiteral("frameRate")).toInt())
                top = v.toObject();
        }
        state.insert(QStringLiteral("level"), top.value(QStringLiteral("level")));
        state.insert(QStringLiteral("encodeWidth"), top.value(QStringLiteral("width")));
        state.insert(QStringLiteral("encodeHeight"), top.value(QStringLiteral("height")));
    }
    return state;
}

void FarmCore::pushFile(const QString &padCode, const QString &path, const QByteArray &content)
{
    if (FarmPhone *phone = m_phones.value(padCode))
        phone->pushFile(path, content.size(),
                        QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex()));
}

void FarmCore::pushFileInfo(const QString &padCode, const QString &path, qint64 size, const QString &md5)
{
    if (FarmPhone *phone = m_phones.value(padCode))
        phone->pushFile(path, size, md5);
}

void FarmCore::installApp(const QString &padCode, const QString &packageName, const QString &label)
{
    if (FarmPhone *phone = m_phones.value(padCode))
        phone->installApp(packageName, label);
}

void FarmCore::recordSession(const QString &sessionId, const QString &filePath)
{
    if (filePath.isEmpty())
        m_recordings.remove(sessionId);
    else
        m_recordings.insert(sessionId, filePath);
    for (FarmSession *s : qAsConst(m_sessions)) {
        if (s->isStreaming() && s->sessionId() == sessionId)
            s->startRecording(filePath);
    }
}
