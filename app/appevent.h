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
// share. One per process, never destroyed. The session and version fields
// share one lock, consoleToken and the object-store credentials of Utils
// share credentialsMutex(), and the ControlInfo slot has a lock of its own.
class AppEvent final : public QObject
{
    Q_OBJECT

public:
    static AppEvent *instance();

    // Session and version fields: written on the GUI thread, read from
    // worker threads too (requests take the token there), so every access
    // takes the session lock and hands out a copy.
    QString phone() const;
    void setPhone(const QString &v);
    QString token() const;
    void setToken(const QString &v);
    QString wssToken() const;
    void setWssToken(const QString &v);
    QString userName() const;
    void setUserName(const QString &v);
    // The four session fields in one locked step (a sign-in).
    void setSession(const QString &phone, const QString &userName, const QString &token, const QString &wssToken);

    QString showVersion() const;
    void setShowVersion(const QString &v);
    QString versionMsg() const;
    void setVersionMsg(const QString &v);
    QString downloadUrl() const;
    void setDownloadUrl(const QString &v);

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

    mutable QMutex m_sessionMutex;
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
