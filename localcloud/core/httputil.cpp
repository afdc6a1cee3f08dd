#include "localcloud/core/httputil.h"

#include <QJsonDocument>
#include <QStringList>

#include <httplib.h>

namespace HttpUtil {

QString path(const httplib::Request &request)
{
    return QString::fromStdString(request.path);
}

QByteArray queryString(const httplib::Request &request)
{
    const std::string &target = request.target;
    const auto mark = target.find('?');
    return mark == std::string::npos ? QByteArray() : QByteArray::fromStdString(target.substr(mark + 1));
}

QByteArray header(const httplib::Request &request, const char *name)
{
    return request.has_header(name) ? QByteArray::fromStdString(request.get_header_value(name)) : QByteArray();
}

FormData fields(const httplib::Request &request)
{
    FormData form = FormData::parse(queryString(request));
    const QByteArray type = header(request, "Content-Type").toLower();
    if (type.isEmpty() || type.startsWith("application/x-www-form-urlencoded"))
        form.merge(FormData::parse(QByteArray::fromStdString(request.body)));
    return form;
}

ActivityLog::RawRequest rawRequest(const QString &service, const httplib::Request &request)
{
    ActivityLog::RawRequest raw;
    raw.service = service;
    raw.method = QString::fromStdString(request.method);
    raw.path = path(request);
    raw.query = queryString(request);
    for (const auto &entry : request.headers) {
        // The server adds these itself; they never came from the peer.
        if (entry.first == "REMOTE_ADDR" || entry.first == "REMOTE_PORT" || entry.first == "LOCAL_ADDR"
            || entry.first == "LOCAL_PORT")
            continue;
        raw.headers.append({QString::fromStdString(entry.first), QByteArray::fromStdString(entry.second)});
    }
    raw.body = QByteArray::fromStdString(request.body);
    return raw;
}

QString bearerToken(const httplib::Request &request)
{
    QByteArray value = header(request, "X-Token").trimmed();
    if (value.isEmpty())
        value = header(request, "Authorization").trimmed();
    if (value.toLower().startsWith("bearer "))
        value = value.mid(7).trimmed();
    return QString::fromUtf8(value);
}

void sendJson(httplib::Response &response, int status, const QJsonObject &body)
{
    response.status = status;
    response.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(),
                         "application/json; charset=utf-8");
}

QString describeFields(const FormData &fields)
{
    static const QStringList secrets = {QStringLiteral("appkey"), QStringLiteral("token"),
                                        QStringLiteral("wss_token"), QStringLiteral("access_token")};
    QStringList parts;
    for (const auto &field : fields.fields()) {
        const QString value = secrets.contains(field.first) ? ActivityLog::shortened(field.second) : field.second;
        parts.append(field.first + QLatin1Char('=') + value);
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace HttpUtil
