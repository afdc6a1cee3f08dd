#pragma once

#include "localcloud/core/cloudstate.h"
#include "localcloud/core/formdata.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

class ActivityLog;
class PhoneFarm;

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// The account and phone API under "/vorl/v1/": every answer in the
// {"code", "msg", "data"} envelope, bodies read as form fields, the user's
// token from "X-Token: Bearer <t>". Code 100 for any token-carrying request
// whose token is unknown or expired.
class ApiService final
{
public:
    ApiService(CloudState &state, ActivityLog &log, PhoneFarm &farm, const QString &controlIp);

    void install(httplib::Server &server);

private:
    Q_DISABLE_COPY_MOVE(ApiService)

    struct Call
    {
        FormData fields;
        QString token;
        std::optional<CloudState::User> user;
    };

    struct Reply
    {
        int code = 200;
        QString msg = QStringLiteral("success");
        QJsonValue data = QJsonValue::Null;
        // Extra facts for the event list.
        QJsonObject event;
    };

    using Handler = Reply (ApiService::*)(const Call &);
    struct Route
    {
        const char *name;
        const char *event; // its type in the event list
        bool needsToken;
        Handler handler;
    };

    void handle(const httplib::Request &request, httplib::Response &response);
    static Reply failure(int code, const QString &msg);

    Reply versionConfig(const Call &call);
    Reply sendMsg(const Call &call);
    Reply login(const Call &call);
    Reply fetchToken(const Call &call);
    Reply serverList(const Call &call);
    Reply fetchFlowToken(const Call &call);
    Reply restartArmServer(const Call &call);
    Reply resetArmServer(const Call &call);
    Reply orderPhones(const Call &call, bool reset);

    CloudState &m_state;
    ActivityLog &m_log;
    PhoneFarm &m_farm;
    const QString m_controlIp;
};
