#include "api/apicall.h"
#include "api/secretmask.h"
#include "app/appevent.h"
#include "app/settingskeys.h"
#include "api/utils.h"

#include <QCoreApplication>
#include <QDebug>
#include <QJsonObject>
#include <QMetaObject>
#include <QSettings>
#include <QThread>

bool Utils::versionConfig()
{
    const ApiCall::Answer answer = ApiCall::postForm(QStringLiteral("%1/vorl/v1/version_config"),
                                                     FormBody{{QStringLiteral("channel_code"), m_channelCode}});
    if (!ApiCall::accepted(answer))
        return false;

    const QJsonObject data = answer.data().toObject();
    const QString showVersion = data.value(QStringLiteral("show_version")).toString();
    const QString msg = data.value(QStringLiteral("msg")).toString();
    AppEvent *event = AppEvent::instance();
    event->setShowVersion(showVersion);
    event->setVersionMsg(msg);
    event->setDownloadUrl(data.value(QStringLiteral("download")).toString());

    const QString appVersion = QCoreApplication::applicationVersion();
    qDebug() << "appversion " << appVersion << " show_Version " << showVersion << " msg " << msg;
    // Any other version counts as newer, an older one too: the server decides.
    return !showVersion.isEmpty() && showVersion != appVersion;
}

bool Utils::sendMsg(const QString &phone)
{
    const ApiCall::Answer answer = ApiCall::postForm(
        QStringLiteral("%1/vorl/v1/send_msg"),
        FormBody{{QStringLiteral("act_type"), QStringLiteral("yzm_login")}, {QStringLiteral("phone"), phone}});
    return ApiCall::accepted(answer);
}

QString Utils::login(const QString &phone, const QString &code)
{
    const ApiCall::Answer answer = ApiCall::postForm(QStringLiteral("%1/vorl/v1/login"),
                                                     FormBody{{QStringLiteral("appkey"), m_appKey},
                                                              {QStringLiteral("channel_code"), m_channelCode},
                                                              {QStringLiteral("code"), code},
                                                              {QStringLiteral("phone"), phone},
                                                              {QStringLiteral("platform"), QStringLiteral("pc")}});
    if (answer.transport != 0) {
        qDebug() << "request error";
        return QStringLiteral("网络异常");
    }
    if (!answer.isJson) {
        qDebug() << "JSON格式错误";
        return QStringLiteral("JSON格式错误");
    }
    // A sign-in refused with 100 is just a refusal: nobody is signed in yet.
    // A refusal without a message is still a refusal.
    if (answer.code != 200)
        return answer.msg().isEmpty() ? QStringLiteral("登录失败") : answer.msg();

    const QJsonObject data = answer.data().toObject();
    const QString userName = data.value(QStringLiteral("username")).toString();
    const QString token = data.value(QStringLiteral("token")).toString();
    const QString serverPhone = data.value(QStringLiteral("phone")).toString();
    const QString wssToken = data.value(QStringLiteral("wss_token")).toString();
    qDebug() << "-------login-token-------" << SecretMask::shorten(token);
    // Without a token there is no session to keep.
    if (token.isEmpty())
        return QStringLiteral("登录失败");

    AppEvent::instance()->setSession(serverPhone, userName, token, wssToken);

    m_settings->setValue(SettingsKey::UserPhone, serverPhone);
    m_settings->setValue(SettingsKey::UserName, userName);
    m_settings->setValue(SettingsKey::UserToken, token);
    m_settings->setValue(SettingsKey::UserWssToken, wssToken);
    m_settings->sync();
    return QString();
}

bool Utils::fetchToken()
{
    const ApiCall::Answer answer = ApiCall::getXToken(QStringLiteral("%1/vorl/v1/res/fetch_token"));
    if (!ApiCall::accepted(answer))
        return false;
    // An answer without a token stored nothing: that is no success.
    const QString token = answer.data().toObject().value(QStringLiteral("access_token")).toString();
    if (token.isEmpty())
        return false;
    AppEvent::instance()->setConsoleToken(token);
    return true;
}

void Utils::timeoutLogout()
{
    timeoutLogout(AppEvent::instance()->token());
}

void Utils::timeoutLogout(const QString &expiredToken)
{
    // Settings, session and windows belong to the GUI thread; an expiry seen
    // on a worker thread is carried out there, once per expired answer, and
    // only while the expired token is still the session's: a sign-in may
    // have come between the request and its answer.
    auto signOutNow = [expiredToken] {
        if (AppEvent::instance()->token() != expiredToken) {
            qDebug() << "expiry of an earlier session ignored";
            return;
        }
        Utils::instance()->signOut();
        emit AppEvent::instance()->sessionExpired();
    };
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        signOutNow();
    else
        QMetaObject::invokeMethod(app, signOutNow, Qt::QueuedConnection);
}
