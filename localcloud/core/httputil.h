#pragma once

#include "localcloud/core/activitylog.h"
#include "localcloud/core/formdata.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

// Small helpers shared by the services that sit on cpp-httplib.
namespace HttpUtil {

QString path(const httplib::Request &request);
QByteArray queryString(const httplib::Request &request);
QByteArray header(const httplib::Request &request, const char *name);

// The query's fields, then the body's when it is a form (or has no type).
FormData fields(const httplib::Request &request);
// The request as it arrived, for the admin API's request list.
ActivityLog::RawRequest rawRequest(const QString &service, const httplib::Request &request);

// The token of "X-Token: Bearer <t>" (or "Authorization: Bearer <t>").
QString bearerToken(const httplib::Request &request);

void sendJson(httplib::Response &response, int status, const QJsonObject &body);

// "name=value" pairs for a console line; secrets shortened.
QString describeFields(const FormData &fields);

} // namespace HttpUtil
