#pragma once

#include <QObject>
#include <QString>

// The signed-in session and the other state several parts of the client
// share. One per process, never destroyed. Fields are written on the GUI
// thread, except consoleToken, which shares the credentials lock of Utils,
// and the ControlInfo slot, which its fetchers lock around fetch and read.
class AppEvent final : public QObject
{
    Q_OBJECT

public:
    static AppEvent *instance();

    QString phone() const { return m_phone; }
    void setPhone(const QString &v) { m_phone = v; }
    QString token() const { return m_token; }
    void setToken(const QString &v) { m_token = v; }
    QString wssToken() const { return m_wssToken; }
    void setWssToken(const QString &v) { m_wssToken = v; }
    QString userName() const { return m_userName; }
    void setUserName(const QString &v) { m_userName = v; }

    QString showVersion() const { return m_showVersion; }
    void setShowVersion(const QString &v) { m_showVersion = v; }
    QString versionMsg() const { return m_versionMsg; }
    void setVersionMsg(const QString &v) { m_versionMsg = v; }
    QString downloadUrl() const { return m_downloadUrl; }
    void setDownloadUrl(const QString &v) { m_downloadUrl = v; }

    QString controlIp() const { return m_controlIp; }
    void setControlIp(const QString &v) { m_controlIp = v; }
    QString sessionId() const { return m_sessionId; }
    void setSessionId(const QString &v) { m_sessionId = v; }
    qint32 controlPort() const { return m_controlPort; }
    void setControlPort(qint32 v) { m_controlPort = v; }
    qint32 userId() const { return m_userId; }
    void setUserId(qint32 v) { m_userId = v; }
    QString padCode() const { return m_padCode; }
    void setPadCode(const QString &v) { m_padCode = v; }

    QString consoleToken() const;
    void setConsoleToken(const QString &v);

    // Empties the session, the version fields and the connection slot;
    // padCode and consoleToken stay.
    void clearSession();

signals:
    // A backend call learned that the server no longer takes the token.
    // Always emitted on the GUI thread; the windows sign the user out.
    void sessionExpired();

private:
    AppEvent() = default;
    Q_DISABLE_COPY_MOVE(AppEvent)

    QString m_phone;
    QString m_token;
    QString m_wssToken;
    QString m_userName;
    QString m_showVersion;
    QString m_versionMsg;
    QString m_downloadUrl;
    QString m_controlIp;
    QString m_sessionId;
    qint32 m_controlPort = 0;
    qint32 m_userId = 0;
    QString m_padCode;
    QString m_consoleToken;
};
