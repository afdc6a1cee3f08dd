#include "localcloud/core/farmlink.h"

#include <QTcpServer>
#include <QTcpSocket>

#ifdef LOCALCLOUD_HAVE_PHONEFARM
#include "localcloud/phonefarm/phonefarm.h"
#endif

FarmLink::FarmLink() = default;

FarmLink::~FarmLink() = default;

quint16 FarmLink::port() const
{
    return m_port;
}

#ifdef LOCALCLOUD_HAVE_PHONEFARM

namespace {

PhoneFarm *farmOf(const std::unique_ptr<QObject> &farm)
{
    return static_cast<PhoneFarm *>(farm.get());
}

} // namespace

bool FarmLink::farmBuiltIn()
{
    return true;
}

bool FarmLink::listen(const QHostAddress &address, quint16 port, QString *error)
{
    auto farm = std::make_unique<PhoneFarm>();
    if (!farm->listen(address, port)) {
        *error = QStringLiteral("the phone farm cannot listen on %1:%2").arg(address.toString()).arg(port);
        return false;
    }
    m_port = farm->port();
    m_farm = std::move(farm);
    return true;
}

void FarmLink::addPhone(const QString &padCode, const QString &name)
{
    if (m_farm)
        farmOf(m_farm)->addPhone(padCode, name);
}

void FarmLink::authorizeSession(const QString &sessionId, const QString &padCode, qint32 userId, int idleSeconds,
                                const QString &clientType)
{
    if (m_farm)
        farmOf(m_farm)->authorizeSession(sessionId, padCode, userId, idleSeconds, clientType);
}

void FarmLink::reboot(const QString &padCode)
{
    if (m_farm)
        farmOf(m_farm)->reboot(padCode);
}

void FarmLink::reset(const QString &padCode)
{
    if (m_farm)
        farmOf(m_farm)->reset(padCode);
}

void FarmLink::kick(const QString &padCode)
{
    if (m_farm)
        farmOf(m_farm)->kick(padCode);
}

void FarmLink::pushFile(const QString &padCode, const QString &path, qint64 size, const QString &md5)
{
    if (m_farm)
        farmOf(m_farm)->pushFileInfo(padCode, path, size, md5);
}

void FarmLink::installApp(const QString &padCode, const QString &packageName, const QString &label)
{
    if (m_farm)
        farmOf(m_farm)->installApp(padCode, packageName, label);
}

QJsonObject FarmLink::phoneState(const QString &padCode) const
{
    return m_farm ? farmOf(m_farm)->phoneState(padCode) : QJsonObject();
}

#else // no phone farm in this build

bool FarmLink::farmBuiltIn()
{
    return false;
}

bool FarmLink::listen(const QHostAddress &address, quint16 port, QString *error)
{
    m_standIn = std::make_unique<QTcpServer>();
    QTcpServer *server = m_standIn.get();
    QObject::connect(server, &QTcpServer::newConnection, server, [server] {
        while (QTcpSocket *socket = server->nextPendingConnection()) {
            socket->abort();
            socket->deleteLater();
        }
    });
    if (!server->listen(address, port)) {
        *error = QStringLiteral("cannot listen on %1:%2 for the phone farm: %3")
                     .arg(address.toString())
                     .arg(port)
                     .arg(server->errorString());
        return false;
    }
    m_port = server->serverPort();
    return true;
}

void FarmLink::addPhone(const QString &, const QString &)
{
}

void FarmLink::authorizeSession(const QString &, const QString &, qint32, int, const QString &)
{
}

void FarmLink::reboot(const QString &)
{
}

void FarmLink::reset(const QString &)
{
}

void FarmLink::kick(const QString &)
{
}

void FarmLink::pushFile(const QString &, const QString &, qint64, const QString &)
{
}

void FarmLink::installApp(const QString &, const QString &, const QString &)
{
}

QJsonObject FarmLink::phoneState(const QString &padCode) const
{
    return QJsonObject{{QStringLiteral("padCode"), padCode}, {QStringLiteral("farm"), QStringLiteral("not built")}};
}

#endif
