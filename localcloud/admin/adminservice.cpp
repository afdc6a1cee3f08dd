#include "localcloud/admin/adminservice.h"

#include "localcloud/core/activitylog.h"
#include "localcloud/phonefarm/phonefarm.h"
#include "localcloud/core/httputil.h"
#include "localcloud/core/stscredentials.h"
#include "localcloud/objectstore/objectstore.h"
#include "localcloud/push/pushservice.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <httplib.h>

namespace {

// Parameters from the query, then from a JSON or form body.
QJsonObject parameters(const httplib::Request &request)
{
    QJsonObject params = FormData::parse(HttpUtil::queryString(request)).toJson();
    const QByteArray body = QByteArray::fromStdString(request.body).trimmed();
    QJsonObject fromBody;
    if (body.startsWith('{'))
        fromBody = QJsonDocument::fromJson(body).object();
    else
        fromBody = FormData::parse(body).toJson();
    for (auto it = fromBody.constBegin(); it != fromBody.constEnd(); ++it)
        params.insert(it.key(), it.value());
    return params;
}

QString text(const QJsonObject &params, const char *name)
{
    const QJsonValue value = params.value(QLatin1String(name));
    if (value.isDouble())
        return QString::number(qint64(value.toDouble()));
    return value.toString().trimmed();
}

// "yyyy-MM-dd HH:mm:ss" (local time) or seconds since the epoch.
std::optional<qint64> parseTime(const QJsonValue &value)
{
    if (value.isDouble())
        return qint64(value.toDouble());
    const QString textValue = value.toString().trimmed();
    bool isNumber = false;
    const qint64 secs = textValue.toLongLong(&isNumber);
    if (isNumber)
        return secs;
    const QDateTime time = QDateTime::fromString(textValue, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!time.isValid())
        return std::nullopt;
    return time.toSecsSinceEpoch();
}

} // namespace

AdminService::AdminService(CloudState &state, ActivityLog &log, PhoneFarm &farm, StsCredentials &credentials,
                           ObjectStore &objectStore, PushService &push)
    : m_state(state)
    , m_log(log)
    , m_farm(farm)
    , m_credentials(credentials)
    , m_objectStore(objectStore)
    , m_push(push)
{
}

void AdminService::install(httplib::Server &server)
{
    const auto route = [this](Handler handler) {
        return [this, handler](const httplib::Request &request, httplib::Response &response) {
            const QString key = request.matches.size() > 1 ? QString::fromStdString(request.matches[1].str())
                                                           : QString();
            serve(request, response, handler, key);
        };
    };
    server.Get("/admin/sms", route(&AdminService::sms));
    server.Post("/admin/expire-token", route(&AdminService::expireToken));
    server.Post("/admin/phone/end-time", route(&AdminService::setEndTime));
    server.Post("/admin/phone/add", route(&AdminService::addPhone));
    server.Post("/admin/version", route(&AdminService::announceVersion));
    server.Get("/admin/events", route(&AdminService::events));
    server.Get("/admin/requests", route(&AdminService::requests));
    server.Get("/admin/phones", route(&AdminService::phones));
    server.Get(R"(/admin/phone/([^/]+))", route(&AdminService::phoneState));
    server.Post(R"(/admin/phone/([^/]+)/kick)", route(&AdminService::kick));
    server.Post("/admin/objectstore/credentials", route(&AdminService::issueStsCredentials));
    server.Post("/admin/objectstore/credentials/expire", route(&AdminService::expireStsCredentials));
    server.Post("/admin/objectstore/faults", route(&AdminService::addStoreFault));
    server.Get("/admin/objectstore/faults", route(&AdminService::storeFaults));
    server.Post("/admin/objectstore/faults/clear", route(&AdminService::clearStoreFaults));
    server.Post("/admin/objectstore/clock", route(&AdminService::setStoreClock));
    server.Get("/admin/objectstore/objects", route(&AdminService::storedObjects));
    server.Get("/admin/objectstore/requests", route(&AdminService::storeRequests));
    server.Post("/admin/push/notice", route(&AdminService::pushNotice));
    server.Get("/admin/push/connections", route(&AdminService::pushConnections));
    server.Post("/admin/push/drop", route(&AdminService::pushDrop));
    server.Post("/admin/push/silent", route(&AdminService::pushSilent));
    server.Post("/admin/push/refuse", route(&AdminService::pushRefuse));
    server.Get("/admin/push/log", route(&AdminService::pushLog));
    server.set_error_handler([](const httplib::Request &, httplib::Response &response) {
        if (!response.body.empty())
            return;
        const QString message = response.status == 404 ? QStringLiteral("no such route")
                                : response.status == 413 ? QStringLiteral("body too large")
                                                         : QStringLiteral("bad request");
        HttpUtil::sendJson(response, response.status, QJsonObject{{QStringLiteral("error"), message}});
    });
}

void AdminService::serve(const httplib::Request &request, httplib::Response &response, Handler handler,
                         const QString &key)
{
    const QJsonObject params = parameters(request);
    const Answer answer = (this->*handler)(params, FormData::decodeComponent(key.toUtf8()));
    HttpUtil::sendJson(response, answer.status, answer.body);

    QString line = QStringLiteral("admin %1 %2").arg(QString::fromStdString(request.method), HttpUtil::path(request));
    QJsonObject shown = params;
    if (shown.contains(QStringLiteral("token")))
        shown.insert(QStringLiteral("token"), ActivityLog::shortened(text(params, "token")));
    const QByteArray compact = QJsonDocument(shown).toJson(QJsonDocument::Compact);
    if (!params.isEmpty())
        line += QLatin1Char(' ') + QString::fromUtf8(compact);
    line += QStringLiteral(" -> %1").arg(answer.status);
    m_log.console(line);
}

AdminService::Answer AdminService::error(int status, const QString &message)
{
    return Answer{status, QJsonObject{{QStringLiteral("error"), message}}};
}

AdminService::Answer AdminService::sms(const QJsonObject &params, const QString &)
{
    const QJsonObject info = m_state.codeInfo(text(params, "phone"));
    if (info.isEmpty())
        return error(404, QStringLiteral("no code was sent to that number"));
    return Answer{200, info};
}

AdminService::Answer AdminService::expireToken(const QJsonObject &params, const QString &)
{
    const QString phone = text(params, "phone");
    const QString token = text(params, "token");
    if (phone.isEmpty() && token.isEmpty())
        return error(400, QStringLiteral("give \"phone\" or \"token\""));
    const int count = m_state.expireTokens(phone, token);
    m_log.addEvent(QStringLiteral("admin_expire_token"),
                   QJsonObject{{QStringLiteral("phone"), phone}, {QStringLiteral("expired"), count}});
    return Answer{200, QJsonObject{{QStringLiteral("expired"), count}}};
}

AdminService::Answer AdminService::setEndTime(const QJsonObject &params, const QString &)
{
    QString key = text(params, "padCode");
    if (key.isEmpty())
        key = text(params, "server_sn");
    std::optional<qint64> endTime;
    if (params.contains(QStringLiteral("seconds_from_now")))
        endTime = QDateTime::currentSecsSinceEpoch() + qint64(text(params, "seconds_from_now").toLongLong());
    else
        endTime = parseTime(params.value(QStringLiteral("end_time")));
    if (key.isEmpty() || !endTime)
        return error(400, QStringLiteral("give \"padCode\" (or \"server_sn\") and \"end_time\" "
                                         "(\"yyyy-MM-dd HH:mm:ss\" or epoch seconds) or \"seconds_from_now\""));
    const std::optional<CloudState::Phone> phone = m_state.setEndTime(key, *endTime);
    if (!phone)
        return error(404, QStringLiteral("no such phone"));
    m_log.addEvent(QStringLiteral("admin_end_time"), adminRecord(*phone));
    return Answer{200, adminRecord(*phone)};
}

AdminService::Answer AdminService::announceVersion(const QJsonObject &params, const QString &)
{
    CloudState::Announcement announcement;
    announcement.version = text(params, "version");
    announcement.notes = params.value(QStringLiteral("notes")).toString();
    announcement.download = text(params, "download");
    m_state.announce(announcement);
    const QJsonObject body{{QStringLiteral("version"), announcement.version},
                           {QStringLiteral("notes"), announcement.notes},
                           {QStringLiteral("download"), announcement.download}};
    m_log.addEvent(QStringLiteral("admin_version"), body);
    return Answer{200, body};
}

AdminService::Answer AdminService::events(const QJsonObject &params, const QString &)
{
    const qint64 after = text(params, "after").toLongLong();
    return Answer{200, QJsonObject{{QStringLiteral("events"), m_log.events(after, text(params, "type"))}}};
}

AdminService::Answer AdminService::requests(const QJsonObject &params, const QString &)
{
    return Answer{200, QJsonObject{{QStringLiteral("requests"), m_log.requests(text(params, "limit").toInt())}}};
}

AdminService::Answer AdminService::phones(const QJsonObject &, const QString &)
{
    QJsonArray list;
    for (const CloudState::Phone &phone : m_state.allPhones())
        list.append(adminRecord(phone));
    return Answer{200, QJsonObject{{QStringLiteral("phones"), list}}};
}

AdminService::Answer AdminService::addPhone(const QJsonObject &params, const QString &)
{
    // Enough for any fleet a test or a benchmark asks for, and a bound on
    // what one call can make the farm carry.
    constexpr int MaxCount = 1000;
    const QString owner = text(params, "phone");
    if (owner.isEmpty())
        return error(400, QStringLiteral("give the owner's \"phone\" number"));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QString title = params.value(QStringLiteral("title")).toString();
    if (title.isEmpty())
        title = QStringLiteral("云手机");
    const qint64 hours = params.contains(QStringLiteral("hours")) ? text(params, "hours").toLongLong() : 24;
    std::optional<qint64> endTime = now + hours * 3600;
    if (params.contains(QStringLiteral("end_time")))
        endTime = parseTime(params.value(QStringLiteral("end_time")));
    if (!endTime)
        return error(400, QStringLiteral("\"end_time\" must be \"yyyy-MM-dd HH:mm:ss\" or epoch seconds"));

    if (!params.contains(QStringLiteral("count"))) {
        const CloudState::Phone phone = m_state.addPhone(owner, title, now - 3600, *endTime);
        m_farm.addPhone(phone.padCode, phone.title);
        m_log.addEvent(QStringLiteral("admin_add_phone"), adminRecord(phone));
        return Answer{200, adminRecord(phone)};
    }
    bool isNumber = false;
    const int count = text(params, "count").toInt(&isNumber);
    if (!isNumber || count < 1 || count > MaxCount)
        return error(400, QStringLiteral("\"count\" is a number of phones from 1 to %1").arg(MaxCount));
    // Numbered with leading zeros, so the titles sort as they were made
    // (the list answers in that order too).
    const int width = qMax(2, int(QString::number(count).size()));
    QStringList titles;
    titles.reserve(count);
    for (int i = 1; i <= count; ++i)
        titles << QStringLiteral("%1-%2").arg(title).arg(i, width, 10, QLatin1Char('0'));
    QJsonArray added;
    for (const CloudState::Phone &phone : m_state.addPhones(owner, titles, now - 3600, *endTime)) {
        m_farm.addPhone(phone.padCode, phone.title);
        const QJsonObject record = adminRecord(phone);
        m_log.addEvent(QStringLiteral("admin_add_phone"), record);
        added.append(record);
    }
    return Answer{200, QJsonObject{{QStringLiteral("count"), added.size()}, {QStringLiteral("phones"), added}}};
}

AdminService::Answer AdminService::phoneState(const QJsonObject &, const QString &key)
{
    const std::optional<CloudState::Phone> phone = m_state.findPhone(key);
    if (!phone)
        return error(404, QStringLiteral("no such phone"));
    QJsonObject state = m_farm.phoneState(phone->padCode);
    state.insert(QStringLiteral("record"), adminRecord(*phone));
    return Answer{200, state};
}

AdminService::Answer AdminService::kick(const QJsonObject &, const QString &key)
{
    const std::optional<CloudState::Phone> phone = m_state.findPhone(key);
    if (!phone)
        return error(404, QStringLiteral("no such phone"));
    m_farm.kick(phone->padCode);
    m_log.addEvent(QStringLiteral("admin_kick"), adminRecord(*phone));
    return Answer{200, QJsonObject{{QStringLiteral("kicked"), phone->padCode}}};
}

AdminService::Answer AdminService::issueStsCredentials(const QJsonObject &params, const QString &)
{
    const qint64 ttl = params.contains(QStringLiteral("ttl")) ? text(params, "ttl").toLongLong() : 3600;
    const QString bucket = text(params, "bucket");
    const bool withToken = params.value(QStringLiteral("token")).toBool(true);
    if (ttl <= 0)
        return error(400, QStringLiteral("\"ttl\" is a positive number of seconds"));
    const StsCredentials::Credential credential = m_credentials.issue(ttl, bucket, withToken);
    m_log.addEvent(QStringLiteral("admin_sts"),
                   QJsonObject{{QStringLiteral("accessKeyId"), credential.accessKeyId}, {QStringLiteral("bucket"), bucket}});
    return Answer{200, QJsonObject{{QStringLiteral("accessKeyId"), credential.accessKeyId},
                                   {QStringLiteral("secretAccessKey"), credential.secretAccessKey},
                                   {QStringLiteral("sessionToken"), credential.sessionToken},
                                   {QStringLiteral("bucket"), credential.bucket},
                                   {QStringLiteral("endpoint"), m_objectStore.endpoint()},
                                   {QStringLiteral("expiration"),
                                    QDateTime::fromMSecsSinceEpoch(credential.expiresAtMs, Qt::UTC).toString(Qt::ISODate)}}};
}

AdminService::Answer AdminService::expireStsCredentials(const QJsonObject &params, const QString &)
{
    if (!m_credentials.expire(text(params, "accessKeyId")))
        return error(404, QStringLiteral("no such \"accessKeyId\""));
    return Answer{200, QJsonObject{{QStringLiteral("expired"), 1}}};
}

AdminService::Answer AdminService::addStoreFault(const QJsonObject &params, const QString &)
{
    ObjectStore::Fault fault;
    QString reason;
    if (!ObjectStore::Fault::fromJson(params, &fault, &reason))
        return error(400, reason);
    m_objectStore.addFault(fault);
    return Answer{200, QJsonObject{{QStringLiteral("faults"), m_objectStore.faults()}}};
}

AdminService::Answer AdminService::storeFaults(const QJsonObject &, const QString &)
{
    return Answer{200, QJsonObject{{QStringLiteral("faults"), m_objectStore.faults()}}};
}

AdminService::Answer AdminService::clearStoreFaults(const QJsonObject &, const QString &)
{
    m_objectStore.clearFaults();
    return Answer{200, QJsonObject{{QStringLiteral("faults"), QJsonArray()}}};
}

AdminService::Answer AdminService::setStoreClock(const QJsonObject &params, const QString &)
{
    m_objectStore.setClockOffset(text(params, "offset").toLongLong());
    return Answer{200, QJsonObject{{QStringLiteral("offset"), m_objectStore.clockOffset()}}};
}

AdminService::Answer AdminService::storedObjects(const QJsonObject &params, const QString &)
{
    return Answer{200, QJsonObject{{QStringLiteral("objects"), m_objectStore.objects(text(params, "bucket"))}}};
}

AdminService::Answer AdminService::storeRequests(const QJsonObject &params, const QString &)
{
    return Answer{200, QJsonObject{{QStringLiteral("requests"), m_objectStore.requests(text(params, "limit").toInt())}}};
}
AdminService::Answer AdminService::pushNotice(const QJsonObject &params, const QString &)
{
    if (text(params, "phone").isEmpty())
        return error(400, QStringLiteral("give the user's \"phone\" number"));
    const QJsonObject answer = m_push.sendNotice(params);
    if (answer.contains(QStringLiteral("error")))
        return Answer{404, answer};
    return Answer{200, answer};
}

AdminService::Answer AdminService::pushConnections(const QJsonObject &, const QString &)
{
    return Answer{200, QJsonObject{{QStringLiteral("connections"), m_push.connections()}}};
}

AdminService::Answer AdminService::pushDrop(const QJsonObject &params, const QString &)
{
    const bool close = params.value(QStringLiteral("close")).toBool() || text(params, "close") == QLatin1String("true");
    return Answer{200, QJsonObject{{QStringLiteral("dropped"), m_push.dropAll(!close)}}};
}

AdminService::Answer AdminService::pushSilent(const QJsonObject &params, const QString &)
{
    const QJsonValue on = params.value(QStringLiteral("on"));
    const bool silent = on.isBool() ? on.toBool() : (on.isUndefined() || text(params, "on") == QLatin1String("true"));
    m_push.setSilent(silent);
    return Answer{200, QJsonObject{{QStringLiteral("silent"), silent}}};
}

AdminService::Answer AdminService::pushRefuse(const QJsonObject &params, const QString &)
{
    bool ok = false;
    const int seconds = text(params, "seconds").toInt(&ok);
    if (!ok || seconds < 0)
        return error(400, QStringLiteral("give \"seconds\" (0 accepts again at once)"));
    const qint64 until = m_push.refuseFor(seconds);
    return Answer{200, QJsonObject{{QStringLiteral("seconds"), seconds},
                                   {QStringLiteral("until"), until > 0 ? QDateTime::fromMSecsSinceEpoch(until).toString(Qt::ISODateWithMs)
                                                                       : QString()}}};
}

AdminService::Answer AdminService::pushLog(const QJsonObject &params, const QString &)
{
    const QString type = text(params, "type");
    QJsonArray list;
    for (const QJsonValue &event : m_log.events(text(params, "after").toLongLong(), QString())) {
        const QString eventType = event.toObject().value(QStringLiteral("type")).toString();
        if (!eventType.startsWith(QLatin1String("push_")))
            continue;
        if (!type.isEmpty() && eventType != type && eventType != QLatin1String("push_") + type)
            continue;
        list.append(event);
    }
    return Answer{200, QJsonObject{{QStringLiteral("events"), list}}};
}

QJsonObject AdminService::adminRecord(const CloudState::Phone &phone) const
{
    QJsonObject record = phone.toRecord();
    record.insert(QStringLiteral("padCode"), phone.padCode);
    record.insert(QStringLiteral("owner_id"), phone.ownerId);
    record.insert(QStringLiteral("expired"), phone.isExpired());
    return record;
}
