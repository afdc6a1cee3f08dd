#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

class ActivityLog;
class StsCredentials;

// The object store: PUT /<bucket>/<key> (path style) and PUT /<key> on
// <bucket>.bj.bos.localhost (virtual-host style), every request checked
// against bce-auth-v1 with the temporary credentials. Bodies stream to a
// temporary file and are renamed into place only when complete, so a cut
// transfer leaves no object. Plain sockets rather than a server library:
// faults such as a connection cut halfway through a body need the socket,
// and the request list keeps headers in the order they arrived.
class ObjectStore final
{
public:
    // Names of the store's endpoints; *.localhost is this machine.
    static constexpr const char *ServiceDomain = "bos.localhost";
    static constexpr const char *RegionHost = "bj.bos.localhost";
    static constexpr qint64 MaxObjectSize = qint64(5) * 1024 * 1024 * 1024;

    struct Fault
    {
        enum Kind { Error, Cut, Slow };
        Kind kind = Error;
        int status = 503;
        QString body = QStringLiteral("json"); // json, text or empty
        QString bucket;                         // empty: any bucket
        int count = 1;                          // requests it applies to
        qint64 bytesPerSecond = 256 * 1024;     // Slow only

        QJsonObject toJson() const;
        // From the admin API's parameters; false with the reason in *error.
        static bool fromJson(const QJsonObject &params, Fault *fault, QString *error);
    };

    ObjectStore(StsCredentials &credentials, ActivityLog &log, const QString &dataDir);
    ~ObjectStore();

    bool listen(const QString &host, quint16 port, QString *error);
    quint16 port() const { return m_port; }
    // "http://bj.bos.localhost:<port>"
    QString endpoint() const;
    void stop();

    void addFault(const Fault &fault);
    void clearFaults();
    QJsonArray faults() const;
    // Seconds added to the store's clock, to see periods and credentials expire.
    void setClockOffset(qint64 seconds) { m_clockOffset = seconds; }
    qint64 clockOffset() const { return m_clockOffset; }

    // bucket, key, size, md5, style, stored_at; one bucket or all.
    QJsonArray objects(const QString &bucket) const;
    // The newest first: method, target, path, headers as [name, value] in
    // arrival order, body_size (bytes received), status, code.
    QJsonArray requests(int limit) const;

private:
    Q_DISABLE_COPY_MOVE(ObjectStore)

    class Connection;
    struct Exchange;
    struct StoredObject
    {
        QString bucket;
        QString key;
        qint64 size = 0;
        QString md5;
        QString file;
        QString storedAt;
    };

    void acceptLoop();
    void serve(int fd);
    // false: the connection ends after this exchange.
    bool handle(Connection &connection, Exchange &exchange);
    bool receiveObject(Connection &connection, Exchange &exchange, const Fault *fault);
    bool refuse(Connection &connection, Exchange &exchange, int status, const QString &code, const QString &message);
    bool answerFault(Connection &connection, Exchange &exchange, const Fault &fault);
    bool answer(Connection &connection, Exchange &exchange, int status, const QByteArray &contentType,
                const QByteArray &body, const QList<QByteArray> &extraHeaders = {});
    bool takeFault(const QString &bucket, Fault *fault);
    void record(Exchange &exchange);
    void loadIndex();

    StsCredentials &m_credentials;
    ActivityLog &m_log;
    QString m_dataDir;
    int m_listenFd = -1;
    int m_wakePipe[2] = {-1, -1};
    quint16 m_port = 0;
    std::thread m_acceptThread;
    std::atomic<bool> m_stopping{false};
    std::atomic<qint64> m_clockOffset{0};
    std::atomic<qint64> m_partCounter{0};

    std::mutex m_connectionsMutex;
    std::condition_variable m_connectionsDone;
    std::set<int> m_connections;

    mutable QMutex m_mutex;
    QVector<Fault> m_faults;
    QHash<QString, StoredObject> m_objects; // bucket + '\n' + key
    std::deque<QJsonObject> m_requests;
    static constexpr int MaxRequests = 200;
};
