#include "api/apicall.h"

#include "api/curlhttphelper.h"
#include "app/appevent.h"
#include "api/utils.h"

#include <QDebug>
#include <QJsonDocument>

namespace ApiCall {

namespace {

QByteArray urlFor(const QString &pattern)
{
    return pattern.arg(Utils::instance()->apiBaseUrl()).toUtf8();
}

Answer judged(int transport, QByteArray text)
{
    Answer answer;
    answer.transport = transport;
    answer.text = std::move(text);
    if (transport != 0)
        return answer;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(answer.text, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return answer;
    answer.isJson = true;
    answer.envelope = document.object();
    answer.code = answer.envelope.value(QStringLiteral("code")).toInt(0);
    return answer;
}

QByteArray userToken()
{
    return AppEvent::instance()->token().toUtf8();
}

} // namespace

Answer postForm(const QString &pattern, const FormBody &body)
{
    QByteArray text;
    const int result = CurlHttpHelper().postForm(urlFor(pattern), body.toByteArray(), text);
    return judged(result, std::move(text));
}

Answer postFormXToken(const QString &pattern, const FormBody &body)
{
    QByteArray text;
    const int result = CurlHttpHelper().postFormXToken(urlFor(pattern), body.toByteArray(), text, userToken());
    return judged(result, std::move(text));
}

Answer getXToken(const QString &pattern)
{
    QByteArray text;
    const int result = CurlHttpHelper().getXToken(urlFor(pattern), text, userToken());
    return judged(result, std::move(text));
}

bool accepted(const Answer &answer)
{
    if (answer.transport != 0) {
        qDebug() << "request error";
        return false;
    }
    if (!answer.isJson) {
        qDebug() << "JSON格式错误";
        return false;
    }
    if (answer.code == 200)
        return true;
    if (answer.code == 100)
        Utils::instance()->timeoutLogout();
    qDebug() << "error";
    return false;
}

} // namespace ApiCall
