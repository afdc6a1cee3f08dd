#pragma once

#include "localcloud/core/cloudstate.h"

#include <QJsonObject>
#include <QString>

class ActivityLog;
class PhoneFarm;

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

// The operator's purchase page, the one the client embeds: plans, the
// user's phones with their end times, renting a new phone and renewing one.
// The page is opened with the client's identity in its query (appkey,
// channel_code, phone, token, radom, optionally server_sn to preselect a
// phone); its script calls the two routes below with the same token and,
// once done, tells the embedding client through its script bridge.
//
//   GET  /pay                  the page (HTML)
//   POST /pay/api/rent         days               -> the new phone
//   POST /pay/api/renew        days, server_sn    -> the renewed phone
//
// The routes answer {"code", "msg", "data"}; code 100 when the token in
// "X-Token: Bearer <t>" is unknown or expired. They are the operator's own,
// never called by the client.
class PurchaseService final
{
public:
    PurchaseService(CloudState &state, ActivityLog &log, PhoneFarm &farm);

    // Registers its routes; call before a catch-all route of the same server.
    void install(httplib::Server &server);

    // Rental plans on offer, in days.
    static const int PlanDays[3];

private:
    Q_DISABLE_COPY_MOVE(PurchaseService)

    void page(const httplib::Request &request, httplib::Response &response);
    void rent(const httplib::Request &request, httplib::Response &response);
    void renew(const httplib::Request &request, httplib::Response &response);
    void answer(const httplib::Request &request, httplib::Response &response, const QString &event, int code,
                const QString &msg, const QJsonObject &data, const QString &user);

    CloudState &m_state;
    ActivityLog &m_log;
    PhoneFarm &m_farm;
};
