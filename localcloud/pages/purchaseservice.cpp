#include "localcloud/pages/purchaseservice.h"

#include "localcloud/core/activitylog.h"
#include "localcloud/phonefarm/phonefarm.h"
#include "localcloud/core/httputil.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>

#include <httplib.h>

#include <algorithm>
#include <iterator>
#include <optional>

namespace {

const QString AppKey = QStringLiteral("7a3f19c2e4b8d6051f9e2c7d4a6b8e01");
const QString ChannelCode = QStringLiteral("qelvane_pc_official");
constexpr qint64 Day = 24 * 3600;

QString planPrice(int days)
{
    switch (days) {
    case 1:
        return QStringLiteral("¥9.9");
    case 7:
        return QStringLiteral("¥49");
    default:
        return QStringLiteral("¥168");
    }
}

QString localTime(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString htmlEscaped(const QString &text)
{
    return text.toHtmlEscaped();
}

// Data for the page's script. JSON is valid script; escaping "<" keeps a
// title such as "</script>" from ending the block early.
QString scriptData(const QJsonObject &data)
{
    QString json = QString::fromUtf8(QJsonDocument(data).toJson(QJsonDocument::Compact));
    json.replace(QLatin1Char('<'), QStringLiteral("\\u003c"));
    return json;
}

const char *const PageStyle = R"(
*{box-sizing:border-box}
body{margin:0;font-family:"Noto Sans CJK SC","Microsoft YaHei",sans-serif;background:#F5F7FA;color:#333;font-size:14px}
.wrap{max-width:1000px;margin:0 auto;padding:18px 28px 28px}
h1{font-size:22px;margin:0 0 4px;color:#1F2D3D}
.sub{color:#888;margin-bottom:16px}
h2{font-size:16px;margin:18px 0 10px;color:#1F2D3D}
.plans{display:flex;gap:16px}
.plan{flex:1;background:#fff;border:2px solid #E3E3E3;border-radius:8px;padding:14px 16px;cursor:pointer;text-align:center}
.plan.sel{border-color:#0598FE;background:#F0F8FF}
.plan .days{font-size:20px;font-weight:bold;color:#1F2D3D}
.plan .price{font-size:18px;color:#FF7A00;margin-top:6px}
.actions{margin-top:12px;display:flex;gap:12px;align-items:center}
button{border:none;border-radius:6px;background:#0598FE;color:#fff;font-size:15px;padding:9px 22px;cursor:pointer}
button:disabled{background:#A8D6FB;cursor:default}
table{width:100%;border-collapse:collapse;background:#fff;border-radius:8px;overflow:hidden}
th,td{padding:8px 12px;text-align:left;border-bottom:1px solid #EEE}
th{background:#FAFAFA;color:#666;font-weight:normal}
tr.row{cursor:pointer}
tr.row.sel td{background:#E8F4FF}
.expired{color:#E5484D}
.soon{color:#FF7A00}
#status{color:#0598FE;min-height:20px}
.notice{background:#fff;border-radius:8px;padding:40px;text-align:center;margin-top:60px}
.notice h1{color:#E5484D}
)";

const char *const PageScript = R"(
var plan = DATA.plans[1].days;
var chosen = DATA.preselect || "";
function el(id){return document.getElementById(id);}
function status(text){el("status").textContent = text;}
function remaining(p){
  var left = p.end - DATA.now;
  if (left <= 0) return {text:"已到期", cls:"expired"};
  var d = Math.floor(left/86400), h = Math.floor(left%86400/3600), m = Math.floor(left%3600/60);
  return {text: d>0 ? d+"天"+h+"小时" : (h>0 ? h+"小时"+m+"分钟" : m+"分钟"), cls: left < 86400 ? "soon" : ""};
}
function drawPlans(){
  DATA.plans.forEach(function(p){ el("plan-"+p.days).className = "plan" + (p.days==plan ? " sel" : ""); });
}
function drawPhones(){
  var body = el("phones"); body.innerHTML = "";
  DATA.phones.forEach(function(p){
    var tr = document.createElement("tr"); tr.className = "row" + (p.server_sn==chosen ? " sel" : "");
    tr.id = "phone-" + p.server_sn;
    var r = remaining(p);
    [ (p.server_sn==chosen ? "◉ " : "○ ") + p.title, p.server_sn, p.end_time, r.text ].forEach(function(t, i){
      var td = document.createElement("td"); td.textContent = t; if (i==3 && r.cls) td.className = r.cls; tr.appendChild(td);
    });
    tr.onclick = function(){ chosen = p.server_sn; drawPhones(); };
    body.appendChild(tr);
  });
  el("renew").disabled = !chosen;
  var picked = DATA.phones.filter(function(p){return p.server_sn==chosen;})[0];
  el("renew").textContent = picked ? "续费 " + picked.title : "续费所选云机";
}
// Tells the client that embeds this page that the purchase is done.
function notifyClient(message){
  var s = document.createElement("script");
  s.src = "qrc:///qtwebchannel/qwebchannel.js";
  s.onload = function(){
    if (typeof qt === "undefined" || !qt.webChannelTransport) { status("已完成，请返回客户端刷新云机列表"); return; }
    new QWebChannel(qt.webChannelTransport, function(channel){ channel.objects.jsBridgeObj.request(message); });
  };
  s.onerror = function(){ status("已完成，请返回客户端刷新云机列表"); };
  document.head.appendChild(s);
}
function order(path, fields, done){
  el("rent").disabled = true; el("renew").disabled = true;
  status("正在提交订单…");
  var x = new XMLHttpRequest();
  x.open("POST", path);
  x.setRequestHeader("Content-Type", "application/x-www-form-urlencoded");
  x.setRequestHeader("X-Token", "Bearer " + DATA.token);
  x.onload = function(){
    var a = null; try { a = JSON.parse(x.responseText); } catch (e) {}
    if (a && a.code == 200) { done(a.data); return; }
    status(a && a.code == 100 ? "登录已失效，请在客户端重新登录" : "下单失败：" + (a ? a.msg : "服务器无应答"));
    el("rent").disabled = false; drawPhones();
  };
  x.onerror = function(){ status("下单失败：网络异常"); el("rent").disabled = false; drawPhones(); };
  x.send(fields);
}
DATA.plans.forEach(function(p){ el("plan-"+p.days).onclick = function(){ plan = p.days; drawPlans(); }; });
el("rent").onclick = function(){
  order("/pay/api/rent", "days=" + plan, function(p){
    status("租用成功：" + p.server_title + "，到期时间 " + p.end_time + "，正在返回客户端…");
    notifyClient("rent " + p.server_sn);
  });
};
el("renew").onclick = function(){
  if (!chosen) return;
  order("/pay/api/renew", "days=" + plan + "&server_sn=" + encodeURIComponent(chosen), function(p){
    status("续费成功：" + p.server_title + "，到期时间 " + p.end_time + "，正在返回客户端…");
    notifyClient("renew " + p.server_sn);
  });
};
drawPlans(); drawPhones();
if (chosen && el("phone-" + chosen)) { el("phone-" + chosen).scrollIntoView({block:"center"}); status("已选中待续费的云机，请选择套餐后点击续费"); }
)";

std::string shell(const QString &title, const QString &body)
{
    return (QStringLiteral("<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>%1</title>"
                           "<style>%2</style></head><body><div class=\"wrap\">%3</div></body></html>")
                .arg(htmlEscaped(title), QString::fromUtf8(PageStyle), body))
        .toStdString();
}

std::string notice(const QString &headline, const QString &text)
{
    return shell(headline, QStringLiteral("<div class=\"notice\" id=\"notice\"><h1>%1</h1><p>%2</p></div>")
                               .arg(htmlEscaped(headline), htmlEscaped(text)));
}

} // namespace

const int PurchaseService::PlanDays[3] = {1, 7, 30};

PurchaseService::PurchaseService(CloudState &state, ActivityLog &log, PhoneFarm &farm)
    : m_state(state)
    , m_log(log)
    , m_farm(farm)
{
}

void PurchaseService::install(httplib::Server &server)
{
    server.Get("/pay", [this](const httplib::Request &request, httplib::Response &response) { page(request, response); });
    server.Post("/pay/api/rent",
                [this](const httplib::Request &request, httplib::Response &response) { rent(request, response); });
    server.Post("/pay/api/renew",
                [this](const httplib::Request &request, httplib::Response &response) { renew(request, response); });
}

void PurchaseService::page(const httplib::Request &request, httplib::Response &response)
{
    const FormData fields = HttpUtil::fields(request);
    const QString token = fields.value(QStringLiteral("token"));
    const QString phoneNumber = fields.value(QStringLiteral("phone"));
    const QString preselect = fields.value(QStringLiteral("server_sn"));
    QJsonObject event{{QStringLiteral("path"), HttpUtil::path(request)},
                      {QStringLiteral("method"), QString::fromStdString(request.method)},
                      {QStringLiteral("query"), QString::fromUtf8(HttpUtil::queryString(request))},
                      {QStringLiteral("server_sn"), preselect}};
    // The token is a secret: the event list keeps it shortened like the console.
    event.insert(QStringLiteral("token"), ActivityLog::shortened(token));
    QString outcome;

    if (fields.value(QStringLiteral("appkey")) != AppKey || fields.value(QStringLiteral("channel_code")) != ChannelCode) {
        outcome = QStringLiteral("refused");
        response.status = 403;
        response.set_content(notice(QStringLiteral("无法识别的客户端"), QStringLiteral("请使用官方客户端打开购买页面。")),
                             "text/html; charset=utf-8");
    } else {
        const std::optional<CloudState::User> user = m_state.userForToken(token);
        if (!user || user->phone != phoneNumber) {
            outcome = QStringLiteral("expired");
            response.status = 401;
            response.set_content(notice(QStringLiteral("登录已失效"), QStringLiteral("请在客户端重新登录后再打开购买页面。")),
                                 "text/html; charset=utf-8");
        } else {
            outcome = QStringLiteral("ok");
            event.insert(QStringLiteral("user"), user->phone);
            QJsonArray plans;
            for (int days : PlanDays)
                plans.append(QJsonObject{{QStringLiteral("days"), days}, {QStringLiteral("price"), planPrice(days)}});
            QJsonArray phones;
            bool preselectOwned = false;
            for (const CloudState::Phone &phone : m_state.phonesOf(user->id)) {
                phones.append(QJsonObject{{QStringLiteral("server_sn"), phone.serverSn},
                                          {QStringLiteral("title"), phone.title},
                                          {QStringLiteral("end_time"), localTime(phone.endTime)},
                                          {QStringLiteral("end"), double(phone.endTime)}});
                preselectOwned = preselectOwned || phone.serverSn == preselect;
            }
            const QJsonObject data{{QStringLiteral("token"), token},
                                   {QStringLiteral("now"), double(QDateTime::currentSecsSinceEpoch())},
                                   {QStringLiteral("plans"), plans},
                                   {QStringLiteral("phones"), phones},
                                   {QStringLiteral("preselect"), preselectOwned ? preselect : QString()}};
            QString planCards;
            for (int days : PlanDays) {
                planCards += QStringLiteral("<div class=\"plan\" id=\"plan-%1\"><div class=\"days\">%1天</div>"
                                            "<div class=\"price\">%2</div></div>")
                                 .arg(days)
                                 .arg(planPrice(days));
            }
            const QString body =
                QStringLiteral("<h1>购买云手机</h1><div class=\"sub\">账号 %1 · 选择套餐后租用新云机，或为已有云机续费</div>"
                               "<h2>选择套餐</h2><div class=\"plans\">%2</div>"
                               "<div class=\"actions\"><button id=\"rent\">立即租用</button>"
                               "<button id=\"renew\">续费所选云机</button><span id=\"status\"></span></div>"
                               "<h2>我的云机</h2><table><thead><tr><th>名称</th><th>编号</th><th>到期时间</th>"
                               "<th>剩余时间</th></tr></thead><tbody id=\"phones\"></tbody></table>"
                               "<script>var DATA = %3;%4</script>")
                    .arg(htmlEscaped(user->phone), planCards, scriptData(data), QString::fromUtf8(PageScript));
            response.set_content(shell(QStringLiteral("购买云手机"), body), "text/html; charset=utf-8");
        }
    }

    event.insert(QStringLiteral("outcome"), outcome);
    m_log.addEvent(QStringLiteral("pay_page"), event);
    m_log.console(QStringLiteral("pay GET /pay phone=%1 token=%2%3 -> %4")
                      .arg(phoneNumber, ActivityLog::shortened(token),
                           preselect.isEmpty() ? QString() : QStringLiteral(" server_sn=") + preselect, outcome));
}

void PurchaseService::answer(const httplib::Request &request, httplib::Response &response, const QString &event,
                             int code, const QString &msg, const QJsonObject &data, const QString &user)
{
    HttpUtil::sendJson(response, 200,
                       QJsonObject{{QStringLiteral("code"), code},
                                   {QStringLiteral("msg"), msg},
                                   {QStringLiteral("data"), data.isEmpty() ? QJsonValue::Null : QJsonValue(data)}});
    const FormData fields = HttpUtil::fields(request);
    QJsonObject details = data;
    details.insert(QStringLiteral("path"), HttpUtil::path(request));
    details.insert(QStringLiteral("fields"), fields.toJson());
    details.insert(QStringLiteral("code"), code);
    details.insert(QStringLiteral("msg"), msg);
    if (!user.isEmpty())
        details.insert(QStringLiteral("user"), user);
    m_log.addEvent(event, details);
    m_log.console(QStringLiteral("pay POST %1 %2 token=%3 -> %4 %5")
                      .arg(HttpUtil::path(request), HttpUtil::describeFields(fields),
                           ActivityLog::shortened(HttpUtil::bearerToken(request)))
                      .arg(code)
                      .arg(msg));
}

void PurchaseService::rent(const httplib::Request &request, httplib::Response &response)
{
    const std::optional<CloudState::User> user = m_state.userForToken(HttpUtil::bearerToken(request));
    if (!user)
        return answer(request, response, QStringLiteral("pay_rent"), 100, QStringLiteral("登录已失效，请重新登录"), {}, {});
    const int days = HttpUtil::fields(request).value(QStringLiteral("days")).toInt();
    if (std::find(std::begin(PlanDays), std::end(PlanDays), days) == std::end(PlanDays))
        return answer(request, response, QStringLiteral("pay_rent"), 400, QStringLiteral("套餐不存在"), {}, user->phone);

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const QString title = QStringLiteral("云手机%1").arg(m_state.phonesOf(user->id).size() + 1, 2, 10, QLatin1Char('0'));
    const CloudState::Phone phone = m_state.addPhone(user->phone, title, now, now + days * Day);
    m_farm.addPhone(phone.padCode, phone.title);
    QJsonObject record = phone.toRecord();
    record.insert(QStringLiteral("days"), days);
    answer(request, response, QStringLiteral("pay_rent"), 200, QStringLiteral("success"), record, user->phone);
}

void PurchaseService::renew(const httplib::Request &request, httplib::Response &response)
{
    const std::optional<CloudState::User> user = m_state.userForToken(HttpUtil::bearerToken(request));
    if (!user)
        return answer(request, response, QStringLiteral("pay_renew"), 100, QStringLiteral("登录已失效，请重新登录"), {}, {});
    const FormData fields = HttpUtil::fields(request);
    const int days = fields.value(QStringLiteral("days")).toInt();
    if (std::find(std::begin(PlanDays), std::end(PlanDays), days) == std::end(PlanDays))
        return answer(request, response, QStringLiteral("pay_renew"), 400, QStringLiteral("套餐不存在"), {}, user->phone);
    const QString serverSn = fields.value(QStringLiteral("server_sn")).trimmed();
    const std::optional<CloudState::Phone> phone = m_state.findPhone(serverSn);
    if (!phone || phone->serverSn != serverSn || phone->ownerId != user->id)
        return answer(request, response, QStringLiteral("pay_renew"), 403, QStringLiteral("云机不存在或不属于当前账号"), {},
                      user->phone);

    // Renewing a phone whose rental already ended starts from now.
    const qint64 from = qMax(phone->endTime, QDateTime::currentSecsSinceEpoch());
    const std::optional<CloudState::Phone> renewed = m_state.setEndTime(serverSn, from + days * Day);
    if (!renewed)
        return answer(request, response, QStringLiteral("pay_renew"), 404, QStringLiteral("云机不存在"), {}, user->phone);
    QJsonObject record = renewed->toRecord();
    record.insert(QStringLiteral("days"), days);
    record.insert(QStringLiteral("previous_end_time"), localTime(phone->endTime));
    answer(request, response, QStringLiteral("pay_renew"), 200, QStringLiteral("success"), record, user->phone);
}
