#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace TestSupport {

// A real localcloud for one suite: the built binary on free ports with a
// fresh temporary state folder, the demo seed unless told otherwise. The
// constructor waits (bounded) until it serves; the destructor stops it.
// Admin helpers are synchronous and need no event loop, so they work from
// any thread, also while a window is showing.
class LocalCloud final
{
public:
    struct Reply
    {
        long status = 0; // HTTP status; 0 when nothing answered
        QByteArray body;
        QString error; // transport failure, empty otherwise
        QJsonObject json() const;
    };

    // Extra options go after the ports and the state folder, e.g.
    // {"--seed", "empty"} or {"--code-ttl", "1"}.
    explicit LocalCloud(const QStringList &extraArgs = {QStringLiteral("--seed"), QStringLiteral("demo")});
    ~LocalCloud();

    bool isReady() const { return m_ready; }
    QString errorString() const { return m_error; }
    // Stops and starts again on the same state folder (new ports).
    bool restart();
    void stop();

    QString apiBase() const;   // "http://127.0.0.1:<port>"
    QString adminBase() const; // "http://127.0.0.1:<port>"
    quint16 apiPort() const { return m_apiPort; }
    quint16 adminPort() const { return m_adminPort; }
    quint16 farmPort() const { return m_farmPort; }
    quint16 objectStorePort() const { return m_objectStorePort; }
    quint16 consolePort() const { return m_consolePort; }
    // "https://127.0.0.1:<port>", and the authority that signed its certificate.
    QString consoleBase() const;
    QString consoleCaFile() const;
    // "http://bj.bos.localhost:<port>": the store's endpoint; buckets are
    // also reached as <bucket>.bj.bos.localhost.
    QString objectStoreEndpoint() const;
    quint16 pushPort() const { return m_pushPort; }
    QString pushBase() const; // "ws://127.0.0.1:<port>/"
    QString stateDir() const;
    // Everything the process wrote so far; print it when a test fails.
    QString consoleLog() const;
    // The server's process id (0 when it is not running), e.g. to read its memory.
    qint64 processId() const { return m_process ? m_process->processId() : 0; }

    // The demo user's number.
    static QString demoPhone() { return QStringLiteral("13800138000"); }

    // Admin API.
    QString smsCode(const QString &phone) const;
    int expireToken(const QString &phone) const;
    int expireTokenValue(const QString &token) const;
    bool setEndTime(const QString &padCodeOrSerial, const QDateTime &endTime) const;
    bool announceVersion(const QString &version, const QString &notes, const QString &download) const;
    // Events after the given id, optionally of one type ("login", "reboot", "flow_token"...).
    QJsonArray events(const QString &type = QString(), qint64 afterId = 0) const;
    QJsonObject phoneState(const QString &padCodeOrSerial) const;
    bool kick(const QString &padCodeOrSerial) const;
    QJsonArray lastRequests(int limit = 0) const;
    QJsonArray phones() const;
    // A phone for the owner (created on first use) renting for the given hours.
    QJsonObject addPhone(const QString &ownerPhone, const QString &title, int hours = 24) const;
    // `count` phones for the owner in one call, titled "<title>-01", ...;
    // their records in list order (empty on failure).
    QJsonArray addPhones(const QString &ownerPhone, const QString &title, int count, int hours = 24) const;

    // Object store. Credentials: accessKeyId, secretAccessKey, sessionToken,
    // bucket, endpoint, expiration (empty object on failure).
    QJsonObject issueStsCredentials(const QString &bucket, qint64 ttlSeconds = 3600, bool withToken = true) const;
    bool expireStsCredentials(const QString &accessKeyId) const;
    // {"kind": "error"|"cut"|"slow", "status", "body": "json"|"text"|"empty",
    //  "count", "bucket", "bytesPerSecond"}
    bool addStoreFault(const QJsonObject &fault) const;
    bool clearStoreFaults() const;
    // Seconds added to the store's clock.
    bool setStoreClockOffset(qint64 seconds) const;
    // bucket, key, size, md5; one bucket or all.
    QJsonArray storedObjects(const QString &bucket = QString()) const;
    // The store's last requests, newest first, headers in arrival order.
    QJsonArray storeRequests(int limit = 0) const;
    // Push service. A notice to the user with that number: txt is sent as
    // given (a null QJsonValue sends JSON null, an undefined one leaves the
    // key out); msgId < 0 lets the server pick one. The msgId sent, or -1.
    qint64 pushNotice(const QString &phone, const QString &type, const QJsonValue &txt, qint64 msgId = -1) const;
    QJsonArray pushConnections() const;
    int pushDrop(bool close = false) const;
    bool pushSilent(bool silent) const;
    bool pushRefuse(int seconds) const;
    // Connections, disconnections, heartbeats, notices and acknowledgements
    // after the given event id, optionally of one type ("heartbeat", "ack"...).
    QJsonArray pushLog(const QString &type = QString(), qint64 afterId = 0) const;
    // The id of the newest event of any kind; for "what happened after this".
    qint64 lastEventId() const;

    // Console: registered files and tasks (newest first), and expiring the
    // credentials it handed to a user (all users when empty).
    QJsonArray consoleFiles() const;
    QJsonArray consoleTasks() const;
    int expireConsoleCredentials(const QString &userPhone = QString()) const;

    // Code request, code from the admin API and sign-in in one go; the
    // user's token, or empty with the reason in errorString().
    QString signIn(const QString &phone);
    // The push token handed out by the last successful signIn().
    QString lastWssToken() const { return m_lastWssToken; }

    // Plain HTTP, for tests of the server itself.
    Reply adminGet(const QString &pathAndQuery) const;
    Reply adminPost(const QString &path, const QJsonObject &body) const;
    Reply apiPost(const QString &path, const QByteArray &formBody, const QString &token = QString()) const;
    Reply apiGet(const QString &path, const QString &token = QString()) const;
    static Reply request(const QByteArray &method, const QString &url, const QByteArray &body,
                         const QList<QByteArray> &headers);

private:
    Q_DISABLE_COPY_MOVE(LocalCloud)

    bool start();

    QStringList m_extraArgs;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    bool m_ready = false;
    QString m_error;
    quint16 m_apiPort = 0;
    quint16 m_adminPort = 0;
    quint16 m_farmPort = 0;
    quint16 m_objectStorePort = 0;
    quint16 m_consolePort = 0;
    quint16 m_pushPort = 0;
    QString m_lastWssToken;
};

} // namespace TestSupport
