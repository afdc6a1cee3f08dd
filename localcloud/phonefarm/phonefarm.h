#pragma once

#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <memory>

class FarmCore;
class QThread;

// The local cloud's phones: one simulated Android phone per pad code, served
// over the streaming wire protocol (platform/swplay/PROTOCOL.md).
//
// Every public method is thread-safe and may be called from any thread (the
// HTTP handler threads call them). The farm runs its sockets, drawing and
// encoding on a thread of its own. Text on the phone screens is drawn with
// QPainter, which needs a QGuiApplication (the offscreen platform will do);
// under a plain QCoreApplication the screens are drawn without text.
class PhoneFarm final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PhoneFarm)

public:
    explicit PhoneFarm(QObject *parent = nullptr);
    ~PhoneFarm() override;

    // Starts accepting stream connections; port 0 picks a free port.
    bool listen(const QHostAddress &address, quint16 port);
    quint16 port() const;

    void addPhone(const QString &padCode, const QString &name);
    // A session that "res/fetch_flow_token" handed out; only such sessions,
    // presented for the same phone and user, are accepted.
    void authorizeSession(const QString &sessionId, const QString &padCode, qint32 userId,
                          int idleSeconds, const QString &clientType);

    // Boot screen for a few seconds; every stream of the phone is dropped.
    void reboot(const QString &padCode);
    // As reboot, and the phone's storage, apps, notes and clipboard are wiped.
    void reset(const QString &padCode);
    // Ends every session of the phone with 196613.
    void kick(const QString &padCode);

    // Last touches, typed text, clipboard, files, apps, rotation, current
    // screen and level, sessions. Empty object for an unknown phone.
    QJsonObject phoneState(const QString &padCode) const;

    // Puts a file into the phone's storage (only name, size and MD5 are kept).
    void pushFile(const QString &padCode, const QString &path, const QByteArray &content);
    // The same for a file known only by its size and MD5 (large files are
    // never read into memory for this).
    void pushFileInfo(const QString &padCode, const QString &path, qint64 size, const QString &md5);
    // Adds an installed app to the phone's home screen.
    void installApp(const QString &padCode, const QString &packageName, const QString &label);
    // Appends the H.264 elementary stream (Annex B) that the session receives
    // to a file, from its next key frame on. An empty path stops recording.
    void recordSession(const QString &sessionId, const QString &filePath);
    // How long the boot screen shows after reboot or reset (default 4000 ms).
    void setBootMillis(int millis);

private:
    std::unique_ptr<QThread> m_thread;
    FarmCore *m_core = nullptr; // lives on m_thread
};
