#include "localcloud/phonefarm/farmcore.h"

#include <QTcpServer>

FarmCore::FarmCore() = default;
FarmCore::~FarmCore() = default;

bool FarmCore::listen(const QHostAddress &address, quint16 port)
{
    if (!m_server)
        m_server = new QTcpServer(this);
    if (!m_server->listen(address, port))
        return false;
    m_port = m_server->serverPort();
    return true;
}

void FarmCore::addPhone(const QString &padCode, const QString &name)
{
    m_phoneNames.insert(padCode, name);
}

void FarmCore::authorizeSession(const QString &, const QString &, qint32, int, const QString &) {}
void FarmCore::reboot(const QString &, bool) {}
void FarmCore::kick(const QString &) {}

QJsonObject FarmCore::phoneState(const QString &padCode) const
{
    if (!m_phoneNames.contains(padCode))
        return {};
    return QJsonObject{{QStringLiteral("padCode"), padCode}, {QStringLiteral("name"), m_phoneNames.value(padCode)}};
}

void FarmCore::pushFile(const QString &, const QString &, const QByteArray &) {}
void FarmCore::installApp(const QString &, const QString &, const QString &) {}
void FarmCore::recordSession(const QString &, const QString &) {}
