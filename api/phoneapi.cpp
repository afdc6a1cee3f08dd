#include "api/apicall.h"
#include "api/secretmask.h"
#include "app/appevent.h"
#include "api/utils.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

bool sendServerOrder(const QString &pattern, const QStringList &serverSns)
{
    if (serverSns.isEmpty())
        return false;
    const ApiCall::Answer answer = ApiCall::postFormXToken(
        pattern, FormBody{{QStringLiteral("server_list"), serverSns.join(QLatin1Char(','))}});
    return ApiCall::accepted(answer);
}

} // namespace

QString Utils::serverList()
{
    const ApiCall::Answer answer =
        ApiCall::postFormXToken(QStringLiteral("%1/vorl/v1/server/list"), FormBody{{QStringLiteral("server_sn"), QString()}});
    if (!ApiCall::accepted(answer))
        return QString();
    return QString::fromUtf8(answer.text);
}

bool Utils::fetchFlowToken(const QString &serverSn)
{
    ControlInfo ignored;
    return fetchControlInfo(serverSn, &ignored);
}

bool Utils::fetchControlInfo(const QString &serverSn, ControlInfo *out)
{
    const FormBody body{{QStringLiteral("client_type"), QStringLiteral("android")},
                        {QStringLiteral("idle_time"), QStringLiteral("36000")},
                        {QStringLiteral("server_sn"), serverSn}};
    qDebug() << serverSn << " ----- " << body.toByteArray();
    const ApiCall::Answer answer = ApiCall::postFormXToken(QStringLiteral("%1/vorl/v1/res/fetch_flow_token"), body);
    if (!ApiCall::accepted(answer))
        return false;

    const QJsonObject data = answer.data().toObject();
    const QJsonObject resultInfo = data.value(QStringLiteral("resultInfo")).toObject();
    qDebug() << "resultInfo"
             << SecretMask::maskText(QString::fromUtf8(QJsonDocument(resultInfo).toJson(QJsonDocument::Compact)));

    const QJsonArray controlList = resultInfo.value(QStringLiteral("controlList")).toArray();
    if (controlList.isEmpty())
        return false;
    const QJsonArray controlInfoList =
        controlList.first().toObject().value(QStringLiteral("controlInfoList")).toArray();
    if (controlInfoList.isEmpty())
        return false;
    const QJsonObject first = controlInfoList.first().toObject();

    ControlInfo info;
    info.sessionId = resultInfo.value(QStringLiteral("sessionId")).toString();
    info.userId = resultInfo.value(QStringLiteral("userId")).toInt();
    info.controlPort = first.value(QStringLiteral("controlPort")).toInt();
    info.controlIp = first.value(QStringLiteral("controlIp")).toString();
    info.padCode = data.value(QStringLiteral("padCode")).toString();

    // The slot is shared by every fetching thread: it is stored in one locked
    // step, and the caller gets this request's data, not whatever the slot
    // holds by the time it looks.
    AppEvent::instance()->setControlInfo(info);
    if (out)
        *out = info;
    return true;
}

bool Utils::restartArmServer(const QStringList &serverSns)
{
    return sendServerOrder(QStringLiteral("%1/vorl/v1/res/restart_arm_server"), serverSns);
}

bool Utils::resetArmServer(const QStringList &serverSns)
{
    return sendServerOrder(QStringLiteral("%1/vorl/v1/res/reset_arm_server"), serverSns);
}

QString Utils::remainingTimeText(qint32 seconds)
{
    if (seconds >= 86400) {
        const qint32 hours = seconds / 3600;
        return QStringLiteral("剩余%1天%2小时").arg(hours / 24).arg(hours % 24);
    }
    if (seconds >= 3600)
        return QStringLiteral("剩余%1小时").arg(seconds / 3600);
    if (seconds >= 60)
        return QStringLiteral("剩余%1分钟").arg(seconds / 60);
    return QStringLiteral("即将到期");
}
