#pragma once

#include "localcloud/core/cloudstate.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <QVector>

#include <memory>
#include <thread>

class ActivityLog;
class PhoneFarm;
class ObjectStore;
class StsCredentials;

namespace httplib {
class Server;
class SSLServer;
struct Request;
struct Response;
} // namespace httplib

// The console over HTTPS: temporary object-store credentials per user, file
// registration and look-up, and tasks that push a registered file into a
// phone's storage or install it. Every request carries a console token
// ("Authorization:Bearer <t>" from res/fetch_token); answers use the envelope
// {"httpStatus", "data", "message"}. Files and tasks are kept in memory.
class ConsoleService final
{
public:
    static constexpr const char *GroupCode = "o_mervane";
    static constexpr const char *Bucket = "tarvix-console";

    ConsoleService(CloudState &state, ActivityLog &log, PhoneFarm &farm, StsCredentials &credentials,
                   ObjectStore &objectStore, qint64 credentialTtlSeconds);
    ~ConsoleService();

    // Serves with the given certificate and key; port 0 picks a free one.
    bool listen(const QString &host, quint16 port, const QString &certFile, const QString &keyFile,
                QString *error);
    quint16 port() const { return m_port; }
    void stop();

    // The console's admin routes, on the admin API's server: files, tasks
    // with their outcome, and expiring a user's credentials now.
    void installAdmin(httplib::Server &admin);

    QJsonArray files() const;
    QJsonArray tasks() const;
    // Expires the credentials handed to one user (by phone number), or to
    // everybody when the number is empty; returns how many.
    int expireCredentials(const QString &userPhone);

private:
    Q_DISABLE_COPY_MOVE(ConsoleService)

    struct File
    {
        QString uid;
        qint32 userId = 0;
        QString name;
        qint64 size = 0;
        QString md5;
        QString url;
        QString own;
        QString pkg;
        QString versionCode;
        QString versionName;
        qint64 createTime = 0;
        qint64 sequence = 0;
        QJsonObject toJson() const;
    };

    struct Task
    {
        QString uid;
        qint32 userId = 0;
        QString scriptCode;
        QString fileUid;
        QStringList codes;
        QJsonObject params;
        QString batchUid;
        QString outcome; // "done" or "refused"
        QString reason;
        qint64 createTime = 0;
        QJsonObject toJson() const;
    };

    struct Reply
    {
        int httpStatus = 200;
        QJsonValue data = QJsonValue(QJsonValue::Undefined);
        QString message;
    };

    using Handler = Reply (ConsoleService::*)(const CloudState::User &user, const httplib::Request &request);

    void serve(const httplib::Request &request, httplib::Response &response, Handler handler);

    Reply stsToken(const CloudState::User &user, const httplib::Request &request);
    Reply registerFile(const CloudState::User &user, const httplib::Request &request);
    Reply listFiles(const CloudState::User &user, const httplib::Request &request);
    Reply commitTask(const CloudState::User &user, const httplib::Request &request);

    static QString bucketPathOf(qint32 userId);
    // The stored object a file URL names, when it is in the user's own path.
    bool findObject(qint32 userId, const QString &url, qint64 *size, QString *md5, QString *why) const;
    Reply refuseTask(Task task, int status, const QString &why);

    CloudState &m_state;
    ActivityLog &m_log;
    PhoneFarm &m_farm;
    StsCredentials &m_credentials;
    ObjectStore &m_objectStore;
    const qint64 m_credentialTtlSeconds;

    std::unique_ptr<httplib::SSLServer> m_server;
    std::thread m_thread;
    quint16 m_port = 0;

    mutable QMutex m_mutex;
    QVector<File> m_files;
    QVector<Task> m_tasks;
    QHash<QString, qint32> m_issuedKeys; // access key id -> user id
    qint64 m_nextSequence = 1;
};
