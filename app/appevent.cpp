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

void AppEvent::clearSession()
{
    m_phone.clear();
    m_token.clear();
    m_wssToken.clear();
    m_userName.clear();
    m_showVersion.clear();
    m_versionMsg.clear();
    m_downloadUrl.clear();
    m_controlIp.clear();
    m_sessionId.clear();
    m_controlPort = 0;
    m_userId = 0;
}
