#include "app/appevent.h"

#include "app/utils.h"

#include <QMutex>

#include <atomic>

AppEvent *AppEvent::instance()
{
    static QMutex mutex;
    static std::atomic<AppEvent *> event{nullptr};
    AppEvent *e = event.load(std::memory_order_acquire);
    if (!e) {
        QMutexLocker lock(&mutex);
        e = event.load(std::memory_order_relaxed);
        if (!e) {
            e = new AppEvent;
            event.store(e, std::memory_order_release);
        }
    }
    return e;
}

QString AppEvent::consoleToken() const
{
    QMutexLocker lock(&Utils::credentialsMutex());
    return m_consoleToken;
}

void AppEvent::setConsoleToken(const QString &v)
{
    QMutexLocker lock(&Utils::credentialsMutex());
    m_consoleToken = v;
}

ControlInfo AppEvent::controlInfo() const
{
    QMutexLocker lock(&m_controlMutex);
    return m_control;
}

void AppEvent::setControlInfo(const ControlInfo &info)
{
    QMutexLocker lock(&m_controlMutex);
    m_control = info;
}

QString AppEvent::controlIp() const
{
    QMutexLocker lock(&m_controlMutex);
    return m_control.controlIp;
}

void AppEvent::setControlIp(const QString &v)
{
    QMutexLocker lock(&m_controlMutex);
    m_control.controlIp = v;
}

QString AppEvent::sessionId() const
{
    QMutexLocker lock(&m_controlMutex);
    return m_control.sessionId;
}

void AppEvent::setSessionId(const QString &v)
{
    QMutexLocker lock(&m_controlMutex);
    m_control.sessionId = v;
}

qint32 AppEvent::controlPort() const
{
    QMutexLocker lock(&m_controlMutex);
    return m_control.controlPort;
}

void AppEvent::setControlPort(qint32 v)
{
    QMutexLocker lock(&m_controlMutex);
    m_control.controlPort = v;
}

qint32 AppEvent::userId() const
{
    QMutexLocker lock(&m_controlMutex);
    return m_control.userId;
}

void AppEvent::setUserId(qint32 v)
{
    QMutexLocker lock(&m_controlMutex);
    m_control.userId = v;
}

QString AppEvent::padCode() const
{
    QMutexLocker lock(&m_controlMutex);
    return m_control.padCode;
}

void AppEvent::setPadCode(const QString &v)
{
    QMutexLocker lock(&m_controlMutex);
    m_control.padCode = v;
}

void AppEvent::clearSession()
{
    m_phone.clear();
    m_token.clear();
    m_wssToken.clear();
    m_userName.clear();
    m_showVersion.clear();
    m_versionMsg.clear();
    m_downloadUrl.clear();
    QMutexLocker lock(&m_controlMutex);
    m_control.controlIp.clear();
    m_control.sessionId.clear();
    m_control.controlPort = 0;
    m_control.userId = 0;
}
