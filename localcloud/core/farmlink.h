#pragma once

#include <QHostAddress>
#include <QJsonObject>
#include <QString>

#include <memory>

class QObject;
class QTcpServer;

// The services' one way to the phone farm. When localcloud is built without
// the farm, a stand-in holds the farm's port (so control data still names a
// real address) and drops every connection; the calls then only log.
// Safe to call from the HTTP server threads.
class FarmLink final
{
public:
    FarmLink();
    ~FarmLink();

    static bool farmBuiltIn();

    // Call on the thread that runs the event loop, before serving requests.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const;

    void addPhone(const QString &padCode, const QString &name);
    void authorizeSession(const QString &sessionId, const QString &padCode, qint32 userId, int idleSeconds,
                          const QString &clientType);
    void reboot(const QString &padCode);
    void reset(const QString &padCode);
    void kick(const QString &padCode);
    QJsonObject phoneState(const QString &padCode) const;
    // A file lands in the phone's storage; an app on its home screen.
    void pushFile(const QString &padCode, const QString &path, qint64 size, const QString &md5);
    void installApp(const QString &padCode, const QString &packageName, const QString &label);

private:
    Q_DISABLE_COPY_MOVE(FarmLink)

    // The PhoneFarm, held by its base so this header builds without the farm.
    std::unique_ptr<QObject> m_farm;
    std::unique_ptr<QTcpServer> m_standIn;
    quint16 m_port = 0;
};
