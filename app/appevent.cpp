#include "app/appevent.h"

#include <QMutex>

AppEvent *AppEvent::instance()
{
    // Made on first use from any thread (a function-local static is
    // initialised once, under the compiler's own lock), never destroyed.
    static AppEvent *const event = new AppEvent;
    return event;
}

QMutex &AppEvent::credentialsMutex()
{
    static QMutex mutex;
    return mutex;
}

QString AppEvent::phone() const
{
    QMutexLocker lock(&m_sessionMutex);
    return m_phone;
}

void AppEvent::setPhone(const QString &v)
{
    QMutexLocker lock(&m_sessionMutex);
    m_phone = v;
}

QString AppEvent::token() const
{
    QMutexLocker lock(&m_sessionMutex);
    return m_token;
}

void AppEvent::setToken(const QString &v)
{
    QMutexLocker lock(&m_sessionMutex);
    m_token = v;
}

QString AppEvent::wssToken() const
{
    QMutexLocker lock(&m_sessionMutex);
    return m_wssToken;
}

void AppEvent::setWssToken(const QString &v)
{
    QMutexLocker lock(&m_sessionMutex);
    m_wssToken = v;
}

QString AppEvent::userName() const
{
    QMutexLocker lock(&m_sessionMutex);
    return m_userName;
}

void AppEvent::setUserName(const QString &v)
{
    QMutexLocker lock(&m_sessionMutex);
    m_userName = v;
}

QString AppEvent::showVersion() const
{
    QMutexLocker lock(&m_sessionMutex);
    return m_showVersion;
}

void AppEvent::setShowVersion(const QString &v)
{
    QMutexLocker lock(&m_sessionMutex);
    m_showVersion = v;
}

QString AppEvent::versionMsg() const
{
    QMutexLocker lock(&m_sessionMutex);
    return m_versionMsg;
}

void AppEvent::setVersionMsg(const QString &v)
{
    QMutexLocker lock(&m_sessionMutex);
    m_versionMsg = v;
}

QString AppEvent::downloadUrl() const
{
    QMutexLocker lock(&m_sessionMutex);
    return m_downloadUrl;
}

void AppEvent::setDownloadUrl(const QString &v)
{
    QMutexLocker lock(&m_sessionMutex);
    m_downloadUrl = v;
}

void AppEvent::setSession(const QString &phone, const QString &userName, const QString &token,
                          const QString &wssToken)
{
    QMutexLocker lock(&m_sessionMutex);
    m_phone = phone;
    m_userName = userName;
    m_token = token;
    m_wssToken = wssToken;
}

QString AppEvent::consoleToken() const
{
    QMutexLocker lock(&credentialsMutex());
    return m_consoleToken;
}

void AppEvent::setConsoleToken(const QString &v)
{
    QMutexLocker lock(&credentialsMutex());
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
    QMutexLocker sessionLock(&m_sessionMutex);
    m_phone.clear();
    m_token.clear();
    m_wssToken.clear();
    m_userName.clear();
    m_showVersion.clear();
    m_versionMsg.clear();
    m_downloadUrl.clear();
    sessionLock.unlock();
    QMutexLocker lock(&m_controlMutex);
    m_control.controlIp.clear();
    m_control.sessionId.clear();
    m_control.controlPort = 0;
    m_control.userId = 0;
}
