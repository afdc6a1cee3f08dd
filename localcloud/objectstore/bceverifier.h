#pragma once

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QVector>

class StsCredentials;

// Checks a bce-auth-v1 "Authorization" the way the store does: the
// credential and its expiry, the validity period against the store's
// clock, the signed-header list, the security token and the signature over
// the canonical request rebuilt from what arrived.
namespace BceVerifier {

using Pairs = QVector<QPair<QByteArray, QByteArray>>;

struct Request
{
    QByteArray method;
    QByteArray path; // decoded
    Pairs query;     // decoded
    Pairs headers;   // as they arrived
};

struct Verdict
{
    bool ok = false;
    int status = 403;
    QString code;
    QString message;
    QString accessKeyId;
    QString bucketScope; // the credential's bucket, empty: any
};

Verdict verify(const Request &request, const StsCredentials &credentials, qint64 nowSecs);

QByteArray uriEncode(const QByteArray &text, bool encodeSlash);
QByteArray canonicalRequest(const Request &request, const QList<QByteArray> &signedHeaders);
QByteArray headerValue(const Pairs &headers, const QByteArray &lowerName, bool *found = nullptr);

} // namespace BceVerifier
