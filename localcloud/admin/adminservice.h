#pragma once

#include "localcloud/core/cloudstate.h"

#include <QJsonObject>
#include <QString>

class ActivityLog;
class ObjectStore;
class PhoneFarm;
class StsCredentials;
class PushService;

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// The operator's back door for tests and demos, JSON over HTTP on loopback:
// read codes, expire tokens, change rental periods, announce versions, look
// at what happened and at a phone; drive the push service. localcloud/README.md lists the routes.
class AdminService final
{
public:
    AdminService(CloudState &state, ActivityLog &log, PhoneFarm &farm, StsCredentials &credentials,
                 ObjectStore &objectStore, PushService &push);

    void install(httplib::Server &server);

private:
    Q_DISABLE_COPY_MOVE(AdminService)

    struct Answer
    {
        int status = 200;
        QJsonObject body;
    };

    using Handler = Answer (AdminService::*)(const QJsonObject &params, const QString &key);

    void serve(const httplib::Request &request, httplib::Response &response, Handler handler, const QString &key);
    static Answer error(int status, const QString &message);

    Answer sms(const QJsonObject &params, const QString &key);
    Answer expireToken(const QJsonObject &params, const QString &key);
    Answer setEndTime(const QJsonObject &params, const QString &key);
    Answer announceVersion(const QJsonObject &params, const QString &key);
    Answer events(const QJsonObject &params, const QString &key);
    Answer requests(const QJsonObject &params, const QString &key);
    Answer phones(const QJsonObject &params, const QString &key);
    Answer addPhone(const QJsonObject &params, const QString &key);
    Answer phoneState(const QJsonObject &params, const QString &key);
    Answer kick(const QJsonObject &params, const QString &key);
    Answer issueStsCredentials(const QJsonObject &params, const QString &key);
    Answer expireStsCredentials(const QJsonObject &params, const QString &key);
    Answer addStoreFault(const QJsonObject &params, const QString &key);
    Answer storeFaults(const QJsonObject &params, const QString &key);
    Answer clearStoreFaults(const QJsonObject &params, const QString &key);
    Answer setStoreClock(const QJsonObject &params, const QString &key);
    Answer storedObjects(const QJsonObject &params, const QString &key);
    Answer storeRequests(const QJsonObject &params, const QString &key);
    Answer pushNotice(const QJsonObject &params, const QString &key);
    Answer pushConnections(const QJsonObject &params, const QString &key);
    Answer pushDrop(const QJsonObject &params, const QString &key);
    Answer pushSilent(const QJsonObject &params, const QString &key);
    Answer pushRefuse(const QJsonObject &params, const QString &key);
    Answer pushLog(const QJsonObject &params, const QString &key);

    QJsonObject adminRecord(const CloudState::Phone &phone) const;

    CloudState &m_state;
    ActivityLog &m_log;
    PhoneFarm &m_farm;
    StsCredentials &m_credentials;
    ObjectStore &m_objectStore;
    PushService &m_push;
};
