#include "localcloud/phonefarm/phonefarm.h"

#include "localcloud/phonefarm/farmcore.h"

#include <QThread>

namespace {

// Runs f on the farm thread and waits for it. The farm thread never waits for
// another thread, so this cannot deadlock.
template <typename F>
void onFarmThread(QObject *core, F &&f)
{
    if (QThread::currentThread() == core->thread())
        f();
    else
        QMetaObject::invokeMethod(core, std::forward<F>(f), Qt::BlockingQueuedConnection);
}

} // namespace

PhoneFarm::PhoneFarm(QObject *parent)
    : QObject(parent)
    , m_thread(std::make_unique<QThread>())
{
    m_thread->setObjectName(QStringLiteral("phonefarm"));
    m_core = new FarmCore;
    m_core->moveToThread(m_thread.get());
    m_thread->start();
}

PhoneFarm::~PhoneFarm()
{
    FarmCore *core = m_core;
    onFarmThread(core, [core] { delete core; });
    m_thread->quit();
    m_thread->wait();
}

bool PhoneFarm::listen(const QHostAddress &address, quint16 port)
{
    bool ok = false;
    onFarmThread(m_core, [&] { ok = m_core->listen(address, port); });
    return ok;
}

quint16 PhoneFarm::port() const
{
    return m_core->port();
}

void PhoneFarm::addPhone(const QString &padCode, const QString &name)
{
    onFarmThread(m_core, [&] { m_core->addPhone(padCode, name); });
}

void PhoneFarm::authorizeSession(const QString &sessionId, const QString &padCode, qint32 userId,
                                 int idleSeconds, const QString &clientType)
{
    onFarmThread(m_core, [&] { m_core->authorizeSession(sessionId, padCode, userId, idleSeconds, clientType); });
}

void PhoneFarm::reboot(const QString &padCode)
{
    onFarmThread(m_core, [&] { m_core->reboot(padCode, false); });
}

void PhoneFarm::reset(const QString &padCode)
{
    onFarmThread(m_core, [&] { m_core->reboot(padCode, true); });
}

void PhoneFarm::kick(const QString &padCode)
{
    onFarmThread(m_core, [&] { m_core->kick(padCode); });
}

QJsonObject PhoneFarm::phoneState(const QString &padCode) const
{
    QJsonObject state;
    onFarmThread(m_core, [&] { state = m_core->phoneState(padCode); });
    return state;
}

void PhoneFarm::pushFile(const QString &padCode, const QString &path, const QByteArray &content)
{
    onFarmThread(m_core, [&] { m_core->pushFile(padCode, path, content); });
}

void PhoneFarm::pushFileInfo(const QString &padCode, const QString &path, qint64 size, const QString &md5)
{
    onFarmThread(m_core, [&] { m_core->pushFileInfo(padCode, path, size, md5); });
}

void PhoneFarm::installApp(const QString &padCode, const QString &packageName, const QString &label)
{
    onFarmThread(m_core, [&] { m_core->installApp(padCode, packageName, label); });
}

void PhoneFarm::recordSession(const QString &sessionId, const QString &filePath)
{
    onFarmThread(m_core, [&] { m_core->recordSession(sessionId, filePath); });
}

void PhoneFarm::setBootMillis(int millis)
{
    onFarmThread(m_core, [&] { m_core->setBootMillis(millis); });
}
