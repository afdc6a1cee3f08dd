#pragma once

#include <QMutex>
#include <QObject>
#include <QString>

// Connection data of the phone whose stream is about to open.
struct ControlInfo
{
    QString controlIp;
    QString sessionId;
    qint32 controlPort = 0;
    qint32 userId = 0;
    QString padCode;

    // A stream view refuses to start without every field.
    bool isComplete() const
    {
        return !controlIp.isEmpty() && !sessionId.isEmpty() && !padCode.isEmpty() && controlPort != 0 && userId != 0;
    }
};

// The signed-in session and the other state several parts of the client
// share. One per process, never destroyed. Fields are written on the GUI
// thread, except consoleToken and the object-store credentials of Utils,
// which share credentialsMutex(), and the ControlInfo slot, which has a
// lock of its own.
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

    // The ControlInfo slot is written from several threads: every access
    // takes its lock. Readers that need the data of their own request use
    // Utils::fetchControlInfo(), which hands it back in one locked step.
    ControlInfo controlInfo() const;
    void setControlInfo(const ControlInfo &info);
    QString controlIp() const;
    void setControlIp(const QString &v);
    QString sessionId() const;
    void setSessionId(const QString &v);
    qint32 controlPort() const;
    void setControlPort(qint32 v);
    qint32 userId() const;
    void setUserId(qint32 v);
    QString padCode() const;
    void setPadCode(const QString &v);

    // Guards consoleToken and the object-store credentials (as one set).
    static QMutex &credentialsMutex();

    QString consoleToken() const;
    void setConsoleToken(const QString &v);

    // Empties the session, the version fields and the connection slot;
    // padCode and consoleToken stay.
    void clearSession();

signals:
    // A backend call learned that the server no longer takes the token.
    // Always emitted on the GUI thread; the windows sign the user out.
    void sessionExpired();
    // The packet codec library could not be loaded. Emitted on the thread
    // that tried; the client shows a toast.
    void codecLoadFailed();

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
    mutable QMutex m_controlMutex;
    ControlInfo m_control;
    QString m_consoleToken;
};
