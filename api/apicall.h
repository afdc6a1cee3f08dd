#pragma once

#include "api/formbody.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// One request on the API base URL and the judging of its answer envelope
// {"code", "msg", "data"}, shared by the account and phone operations.
namespace ApiCall {

struct Answer
{
    int transport = -1;  // libcurl's result; 0 when an answer arrived
    QByteArray text;     // the raw answer
    bool isJson = false; // the answer is a JSON object
    QJsonObject envelope;
    int code = 0;        // missing or not an integer: 0, a failure
    QString sentToken;   // the session token when the request left

    QString msg() const { return envelope.value(QStringLiteral("msg")).toString(); }
    QJsonValue data() const { return envelope.value(QStringLiteral("data")); }
};

// `pattern` holds %1 for the API base URL.
Answer postForm(const QString &pattern, const FormBody &body);
Answer postFormXToken(const QString &pattern, const FormBody &body);
Answer getXToken(const QString &pattern);

// The steps every operation but sign-in takes: "request error", "JSON格式错误"
// or "error" to the debug output, the expiry sign-out on code 100 (only while
// the token the request went out with is still the session's). True when
// the answer is a success (code 200).
bool accepted(const Answer &answer);

} // namespace ApiCall
