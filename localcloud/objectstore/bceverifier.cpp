#include "localcloud/objectstore/bceverifier.h"

#include "localcloud/core/stscredentials.h"

#include <QDateTime>
#include <QMessageAuthenticationCode>
#include <QTimeZone>

#include <algorithm>

namespace BceVerifier {

namespace {

// Clocks of clients may run a little ahead of ours.
constexpr qint64 AllowedSkewSecs = 15 * 60;
constexpr qint64 MaxExpirationSecs = 7 * 24 * 3600;

Verdict refuse(const QString &code, const QString &message, int status = 403)
{
    Verdict verdict;
    verdict.status = status;
    verdict.code = code;
    verdict.message = message;
    return verdict;
}

QByteArray hmacHex(const QByteArray &key, const QByteArray &message)
{
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256).toHex();
}

bool sameBytes(const QByteArray &a, const QByteArray &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (int i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

} // namespace

QByteArray uriEncode(const QByteArray &text, bool encodeSlash)
{
    static const char digits[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(text.size() * 3);
    for (const char ch : text) {
        const uchar byte = uchar(ch);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') || byte == '-'
            || byte == '.' || byte == '_' || byte == '~' || (byte == '/' && !encodeSlash)) {
            out += ch;
        } else {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 0x0f];
        }
    }
    return out;
}

QByteArray headerValue(const Pairs &headers, const QByteArray &lowerName, bool *found)
{
    for (const auto &header : headers) {
        if (header.first.toLower() == lowerName) {
            if (found)
                *found = true;
            return header.second.trimmed();
        }
    }
    if (found)
        *found = false;
    return QByteArray();
}

QByteArray canonicalRequest(const Request &request, const QList<QByteArray> &signedHeaders)
{
    QList<QByteArray> params;
    for (const auto &param : request.query) {
        if (param.first.toLower() == "authorization")
            continue;
        params.append(uriEncode(param.first.trimmed(), true) + '=' + uriEncode(param.second.trimmed(), true));
    }
    std::sort(params.begin(), params.end());
    params.erase(std::unique(params.begin(), params.end()), params.end());

    QList<QByteArray> headers;
    for (const QByteArray &name : signedHeaders)
        headers.append(name + ':' + uriEncode(headerValue(request.headers, name), true));
    std::sort(headers.begin(), headers.end());

    return request.method + '\n' + uriEncode(request.path, false) + '\n' + params.join('&') + '\n' + headers.join('\n');
}

Verdict verify(const Request &request, const StsCredentials &credentials, qint64 nowSecs)
{
    bool present = false;
    const QByteArray authorization = headerValue(request.headers, "authorization", &present);
    if (!present || authorization.isEmpty())
        return refuse(QStringLiteral("AccessDenied"), QStringLiteral("Anonymous access is forbidden for this operation."));
    const QList<QByteArray> parts = authorization.split('/');
    if (parts.size() != 6 || parts[0] != "bce-auth-v1")
        return refuse(QStringLiteral("InvalidAuthorization"), QStringLiteral("The Authorization header is malformed."),
                      400);
    const QByteArray &accessKeyId = parts[1];
    const QByteArray &timestamp = parts[2];
    bool numeric = false;
    const qint64 expiration = parts[3].toLongLong(&numeric);
    if (!numeric || expiration <= 0 || expiration > MaxExpirationSecs)
        return refuse(QStringLiteral("InvalidAuthorization"), QStringLiteral("The expiration period is invalid."), 400);
    QDateTime signedAt = QDateTime::fromString(QString::fromLatin1(timestamp), QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
    if (!signedAt.isValid())
        return refuse(QStringLiteral("InvalidAuthorization"), QStringLiteral("The timestamp is invalid."), 400);
    signedAt.setTimeZone(QTimeZone::utc());
    const qint64 signedSecs = signedAt.toSecsSinceEpoch();

    const auto credential = credentials.find(QString::fromLatin1(accessKeyId));
    if (!credential)
        return refuse(QStringLiteral("InvalidAccessKeyId"), QStringLiteral("The access key id does not exist."));
    Verdict verdict;
    verdict.accessKeyId = credential->accessKeyId;
    verdict.bucketScope = credential->bucket;
    if (credential->expiresAtMs / 1000 < nowSecs)
        return refuse(QStringLiteral("ExpiredToken"), QStringLiteral("The temporary credentials have expired."));
    if (signedSecs + expiration < nowSecs)
        return refuse(QStringLiteral("RequestExpired"), QStringLiteral("The request's validity period has passed."));
    if (signedSecs > nowSecs + AllowedSkewSecs)
        return refuse(QStringLiteral("RequestTimeTooSkewed"),
                      QStringLiteral("The difference between the request time and the server's time is too large."));

    QList<QByteArray> signedHeaders;
    for (const QByteArray &name : parts[4].split(';')) {
        const QByteArray lower = name.trimmed().toLower();
        if (!lower.isEmpty() && !signedHeaders.contains(lower))
            signedHeaders.append(lower);
    }
    if (!signedHeaders.contains("host"))
        return refuse(QStringLiteral("AccessDenied"), QStringLiteral("The host header must be signed."));
    for (const QByteArray &name : signedHeaders) {
        bool found = false;
        headerValue(request.headers, name, &found);
        if (!found && name != "x-bce-security-token")
            return refuse(QStringLiteral("AccessDenied"),
                          QStringLiteral("The signed header %1 is missing.").arg(QString::fromLatin1(name)));
    }

    bool tokenSent = false;
    const QByteArray token = headerValue(request.headers, "x-bce-security-token", &tokenSent);
    const QByteArray expectedToken = credential->sessionToken.toUtf8();
    if (!expectedToken.isEmpty()) {
        if (!tokenSent || token.isEmpty())
            return refuse(QStringLiteral("InvalidSessionToken"), QStringLiteral("The security token is missing."));
        if (!sameBytes(token, expectedToken))
            return refuse(QStringLiteral("InvalidSessionToken"), QStringLiteral("The security token is invalid."));
        if (!signedHeaders.contains("x-bce-security-token"))
            return refuse(QStringLiteral("InvalidSessionToken"), QStringLiteral("The security token must be signed."));
    } else if (tokenSent) {
        return refuse(QStringLiteral("InvalidSessionToken"), QStringLiteral("These credentials take no security token."));
    }

    const QByteArray prefix = "bce-auth-v1/" + accessKeyId + '/' + timestamp + '/' + parts[3];
    const QByteArray signingKey = hmacHex(credential->secretAccessKey.toUtf8(), prefix);
    const QByteArray expected = hmacHex(signingKey, canonicalRequest(request, signedHeaders));
    if (!sameBytes(expected, parts[5].toLower()) || parts[5].size() != 64)
        return refuse(QStringLiteral("SignatureDoesNotMatch"),
                      QStringLiteral("The request signature we calculated does not match the signature you provided."));

    verdict.ok = true;
    verdict.status = 200;
    return verdict;
}

} // namespace BceVerifier
