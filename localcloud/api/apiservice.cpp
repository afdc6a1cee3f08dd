#include "localcloud/api/apiservice.h"

#include "localcloud/core/activitylog.h"
#include "localcloud/phonefarm/phonefarm.h"
#include "localcloud/core/httputil.h"

#include <QJsonArray>
#include <QRegularExpression>

#include <httplib.h>

namespace {

const QString AppKey = QStringLiteral("7a3f19c2e4b8d6051f9e2c7d4a6b8e01");
const QString ChannelCode = QStringLiteral("qelvane_pc_official");
const QString Prefix = QStringLiteral("/vorl/v1/");

enum Code {
    Ok = 200,
    TokenExpired = 100,
    BadRequest = 400,
    WrongCode = 401,
    ExpiredCode = 402,
    Refused = 403,
    NotFound = 404,
    PhoneExpired = 410,
    TooFrequent = 429,
};

bool isPhoneNumber(const QString &phone)
{
    static const QRegularExpression pattern(QStringLiteral("^1[0-9]{10}$"));
    return pattern.match(phone).hasMatch();
}

} // namespace

ApiService::ApiService(CloudState &state, ActivityLog &log, PhoneFarm &farm, const QString &controlIp)
    : m_state(state)
    , m_log(log)
    , m_farm(farm)
    , m_controlIp(controlIp)
{
}

void ApiService::install(httplib::Server &server)
{
    const auto handler = [this](const httplib::Request &request, httplib::Response &response) {
        handle(request, response);
    };
    server.Get(R"(/.*)", handler);
    server.Post(R"(/.*)", handler);
    // What never reaches a handler (other methods, unreadable requests) still
    // gets an envelope.
    server.set_error_handler([](const httplib::Request &, httplib::Response &response) {
        if (!response.body.empty())
            return;
        HttpUtil::sendJson(response, response.status,
                           QJsonObject{{QStringLiteral("code"), response.status},
                                       {QStringLiteral("msg"), QStringLiteral("请求无效")},
                                       {QStringLiteral("data"), QJsonValue::Null}});
    });
}

ApiService::Reply ApiService::failure(int code, const QString &msg)
{
    Reply reply;
    reply.code = code;
    reply.msg = msg;
    return reply;
}

void ApiService::handle(const httplib::Request &request, httplib::Response &response)
{
    static const Route routes[] = {
        {"version_config", "version_config", false, &ApiService::versionConfig},
        {"send_msg", "send_msg", false, &ApiService::sendMsg},
        {"login", "login", false, &ApiService::login},
        {"res/fetch_token", "fetch_token", true, &ApiService::fetchToken},
        {"server/list", "server_list", true, &ApiService::serverList},
        {"res/fetch_flow_token", "flow_token", true, &ApiService::fetchFlowToken},
        {"res/restart_arm_server", "reboot", true, &ApiService::restartArmServer},
        {"res/reset_arm_server", "reset", true, &ApiService::resetArmServer},
    };

    m_log.addRequest(HttpUtil::rawRequest(QStringLiteral("api"), request));

    const QString path = HttpUtil::path(request);
    Call call;
    call.fields = HttpUtil::fields(request);
    call.token = HttpUtil::bearerToken(request);

    const Route *route = nullptr;
    if (path.startsWith(Prefix)) {
        const QString name = path.mid(Prefix.size());
        for (const Route &candidate : routes) {
            if (name == QLatin1String(candidate.name))
                route = &candidate;
        }
    }

    Reply reply;
    int status = 200;
    if (!route) {
        reply = failure(NotFound, QStringLiteral("接口不存在"));
        status = 404;
    } else if (route->needsToken && !(call.user = m_state.userForToken(call.token))) {
        reply = failure(TokenExpired, QStringLiteral("登录已失效，请重新登录"));
    } else {
        reply = (this->*route->handler)(call);
    }

    QJsonObject envelope{{QStringLiteral("code"), reply.code},
                         {QStringLiteral("msg"), reply.msg},
                         {QStringLiteral("data"), reply.data}};
    HttpUtil::sendJson(response, status, envelope);

    QString line = QStringLiteral("api %1 %2").arg(QString::fromStdString(request.method), path);
    const QString fields = HttpUtil::describeFields(call.fields);
    if (!fields.isEmpty())
        line += QLatin1Char(' ') + fields;
    if (!call.token.isEmpty())
        line += QStringLiteral(" token=") + ActivityLog::shortened(call.token);
    line += QStringLiteral(" -> %1").arg(reply.code);
    if (reply.code != Ok)
        line += QLatin1Char(' ') + reply.msg;
    m_log.console(line);

    QJsonObject event = reply.event;
    event.insert(QStringLiteral("path"), path);
    event.insert(QStringLiteral("method"), QString::fromStdString(request.method));
    event.insert(QStringLiteral("fields"), call.fields.toJson());
    event.insert(QStringLiteral("code"), reply.code);
    event.insert(QStringLiteral("msg"), reply.msg);
    if (call.user)
        event.insert(QStringLiteral("user"), call.user->phone);
    const QString type = route ? QString::fromLatin1(route->event) : QStringLiteral("unknown");
    m_log.addEvent(type, event);
}

ApiService::Reply ApiService::versionConfig(const Call &call)
{
    if (call.fields.value(QStringLiteral("channel_code")) != ChannelCode)
        return failure(Refused, QStringLiteral("渠道无效"));
    const CloudState::Announcement announcement = m_state.announcement();
    Reply reply;
    reply.data = QJsonObject{{QStringLiteral("show_version"), announcement.version},
                             {QStringLiteral("msg"), announcement.notes},
                             {QStringLiteral("download"), announcement.download}};
    return reply;
}

ApiService::Reply ApiService::sendMsg(const Call &call)
{
    const QString phone = call.fields.value(QStringLiteral("phone"));
    if (call.fields.value(QStringLiteral("act_type")) != QLatin1String("yzm_login"))
        return failure(BadRequest, QStringLiteral("不支持的验证码类型"));
    if (!isPhoneNumber(phone))
        return failure(BadRequest, QStringLiteral("手机号格式不正确"));
    const CloudState::CodeIssue issue = m_state.issueCode(phone);
    if (issue.outcome == CloudState::CodeOutcome::TooSoon) {
        Reply reply = failure(TooFrequent, QStringLiteral("验证码发送过于频繁，请%1秒后再试").arg(issue.retryAfterSeconds));
        reply.event.insert(QStringLiteral("retry_after"), issue.retryAfterSeconds);
        return reply;
    }
    m_log.console(QStringLiteral("sms: verification code %1 for %2").arg(issue.code, phone));
    Reply reply;
    reply.data = QJsonObject{};
    return reply;
}

ApiService::Reply ApiService::login(const Call &call)
{
    if (call.fields.value(QStringLiteral("appkey")) != AppKey)
        return failure(Refused, QStringLiteral("应用标识无效"));
    if (call.fields.value(QStringLiteral("channel_code")) != ChannelCode)
        return failure(Refused, QStringLiteral("渠道无效"));
    const QString phone = call.fields.value(QStringLiteral("phone"));
    if (!isPhoneNumber(phone))
        return failure(BadRequest, QStringLiteral("手机号格式不正确"));

    const CloudState::SignIn signIn = m_state.signIn(phone, call.fields.value(QStringLiteral("code")));
    switch (signIn.outcome) {
    case CloudState::SignInOutcome::NoCode:
        return failure(WrongCode, QStringLiteral("请先获取验证码"));
    case CloudState::SignInOutcome::WrongCode:
        return failure(WrongCode, QStringLiteral("验证码错误"));
    case CloudState::SignInOutcome::ExpiredCode:
        return failure(ExpiredCode, QStringLiteral("验证码已过期，请重新获取"));
    case CloudState::SignInOutcome::SignedIn:
        break;
    }
    Reply reply;
    reply.data = QJsonObject{{QStringLiteral("username"), signIn.user.userName},
                             {QStringLiteral("token"), signIn.token},
                             {QStringLiteral("phone"), signIn.user.phone},
                             {QStringLiteral("wss_token"), signIn.wssToken},
                             {QStringLiteral("user_id"), signIn.user.id}};
    reply.event.insert(QStringLiteral("user"), signIn.user.phone);
    reply.event.insert(QStringLiteral("new_user"), signIn.newUser);
    return reply;
}

ApiService::Reply ApiService::fetchToken(const Call &call)
{
    Reply reply;
    reply.data = QJsonObject{{QStringLiteral("access_token"), m_state.issueConsoleToken(call.user->id)},
                             {QStringLiteral("token_type"), QStringLiteral("bearer")},
                             {QStringLiteral("expires_in"), m_state.consoleTokenTtlSeconds()}};
    return reply;
}

ApiService::Reply ApiService::serverList(const Call &call)
{
    const QString only = call.fields.value(QStringLiteral("server_sn")).trimmed();
    QJsonArray list;
    for (const CloudState::Phone &phone : m_state.phonesOf(call.user->id)) {
        if (only.isEmpty() || phone.serverSn == only)
            list.append(phone.toRecord());
    }
    Reply reply;
    reply.data = list;
    reply.event.insert(QStringLiteral("count"), list.size());
    return reply;
}

ApiService::Reply ApiService::fetchFlowToken(const Call &call)
{
    const QString serverSn = call.fields.value(QStringLiteral("server_sn")).trimmed();
    const QString clientType = call.fields.value(QStringLiteral("client_type"), QStringLiteral("android")).trimmed();
    bool idleOk = true;
    const QString idleText = call.fields.value(QStringLiteral("idle_time"), QStringLiteral("36000")).trimmed();
    const int idleSeconds = idleText.toInt(&idleOk);
    if (serverSn.isEmpty() || clientType.isEmpty() || !idleOk || idleSeconds < 0)
        return failure(BadRequest, QStringLiteral("参数错误"));

    const std::optional<CloudState::Phone> phone = m_state.findPhone(serverSn);
    if (!phone || phone->serverSn != serverSn || phone->ownerId != call.user->id)
        return failure(Refused, QStringLiteral("云机不存在或不属于当前账号"));
    if (phone->isExpired())
        return failure(PhoneExpired, QStringLiteral("云机已到期，请续费后使用"));

    const CloudState::Session session = m_state.openSession(*call.user, *phone, clientType, idleSeconds);
    m_farm.authorizeSession(session.sessionId, session.padCode, session.userId, session.idleSeconds,
                            session.clientType);

    const QJsonObject controlInfo{{QStringLiteral("controlIp"), m_controlIp},
                                  {QStringLiteral("controlPort"), int(m_farm.port())}};
    const QJsonObject resultInfo{
        {QStringLiteral("sessionId"), session.sessionId},
        {QStringLiteral("userId"), session.userId},
        {QStringLiteral("clientType"), session.clientType},
        {QStringLiteral("idleTime"), session.idleSeconds},
        {QStringLiteral("controlList"),
         QJsonArray{QJsonObject{{QStringLiteral("controlInfoList"), QJsonArray{controlInfo}}}}},
    };
    Reply reply;
    reply.data = QJsonObject{{QStringLiteral("padCode"), phone->padCode}, {QStringLiteral("resultInfo"), resultInfo}};
    reply.event.insert(QStringLiteral("padCode"), phone->padCode);
    reply.event.insert(QStringLiteral("sessionId"), session.sessionId);
    reply.event.insert(QStringLiteral("userId"), session.userId);
    reply.event.insert(QStringLiteral("clientType"), session.clientType);
    reply.event.insert(QStringLiteral("idleTime"), session.idleSeconds);
    return reply;
}

ApiService::Reply ApiService::restartArmServer(const Call &call)
{
    return orderPhones(call, false);
}

ApiService::Reply ApiService::resetArmServer(const Call &call)
{
    return orderPhones(call, true);
}

ApiService::Reply ApiService::orderPhones(const Call &call, bool reset)
{
    const QStringList serials = call.fields.value(QStringLiteral("server_list")).split(QLatin1Char(','));
    QVector<CloudState::Phone> phones;
    for (const QString &item : serials) {
        const QString serial = item.trimmed();
        if (serial.isEmpty())
            return failure(BadRequest, QStringLiteral("参数错误"));
        const std::optional<CloudState::Phone> phone = m_state.findPhone(serial);
        // One phone that isn't the caller's refuses the whole order, so a
        // batch never half happens.
        if (!phone || phone->serverSn != serial || phone->ownerId != call.user->id)
            return failure(Refused, QStringLiteral("云机%1不存在或不属于当前账号").arg(serial));
        phones.append(*phone);
    }

    QJsonArray serverSns;
    QJsonArray padCodes;
    for (const CloudState::Phone &phone : phones) {
        if (reset)
            m_farm.reset(phone.padCode);
        else
            m_farm.reboot(phone.padCode);
        serverSns.append(phone.serverSn);
        padCodes.append(phone.padCode);
    }
    Reply reply;
    reply.data = QJsonObject{{QStringLiteral("server_list"), serverSns}};
    reply.event.insert(QStringLiteral("server_sns"), serverSns);
    reply.event.insert(QStringLiteral("padCodes"), padCodes);
    return reply;
}
