#pragma once

#include "platform/swplay/swprotocol.h"

#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QSet>

#include <atomic>

class FarmPhone;
class FarmSession;
class QTcpServer;
class QTimer;

// The farm's state on its own thread; PhoneFarm forwards every call here.
class FarmCore final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FarmCore)

public:
    FarmCore();
    ~FarmCore() override;

    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const { return m_port.load(); }
    void addPhone(const QString &padCode, const QString &name);
    void authorizeSession(const QString &sessionId, const QString &padCode, qint32 userId,
                          int idleSeconds, const QString &clientType);
    void reboot(const QString &padCode, bool wipe);
    void kick(const QString &padCode);
    QJsonObject phoneState(const QString &padCode) const;
    void pushFile(const QString &padCode, const QString &path, const QByteArray &content);
    void pushFileInfo(const QString &padCode, const QString &path, qint64 size, const QString &md5);
    void installApp(const QString &padCode, const QString &packageName, const QString &label);
    void recordSession(const QString &sessionId, const QString &filePath);
    void setBootMillis(int millis) { m_bootMillis = qMax(0, millis); }

    // A session has said hello: accept or refuse it.
    void admit(FarmSession *session, const swp::Hello &hello);
    // An encoder was let go: the allocator is asked, a little later and once
    // for many, to hand the freed memory back to the system.
    void releaseMemorySoon();

private:
    struct Authorization {
        QString padCode;
        qint32 userId = 0;
        int idleSeconds = 0;
        QString clientType;
    };

    void onNewConnection();

    QTcpServer *m_server = nullptr;
    std::atomic<quint16> m_port{0};
    QHash<QString, FarmPhone *> m_phones;
    QHash<QString, Authorization> m_authorizations;
    QHash<QString, QString> m_recordings;
    QSet<FarmSession *> m_sessions;
    int m_bootMillis = 4000;
    QTimer *m_releaseTimer = nullptr;
};
