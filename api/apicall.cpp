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

Answer judged(int transport, QByteArray text, QString sentToken)
{
    Answer answer;
    answer.sentToken = std::move(sentToken);
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

QString userToken()
{
    return AppEvent::instance()->token();
}

} // namespace

Answer postForm(const QString &pattern, const FormBody &body)
{
    QString token = userToken();
    QByteArray text;
    const int result = CurlHttpHelper().postForm(urlFor(pattern), body.toByteArray(), text);
    return judged(result, std::move(text), std::move(token));
}

Answer postFormXToken(const QString &pattern, const FormBody &body)
{
    QString token = userToken();
    QByteArray text;
    const int result = CurlHttpHelper().postFormXToken(urlFor(pattern), body.toByteArray(), text, token.toUtf8());
    return judged(result, std::move(text), std::move(token));
}

Answer getXToken(const QString &pattern)
{
    QString token = userToken();
    QByteArray text;
    const int result = CurlHttpHelper().getXToken(urlFor(pattern), text, token.toUtf8());
    return judged(result, std::move(text), std::move(token));
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
        Utils::instance()->timeoutLogout(answer.sentToken);
    qDebug() << "error";
    return false;
}

} // namespace ApiCall
