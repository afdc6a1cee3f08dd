#include "phones/model/purchaseaddress.h"

#include "api/secretmask.h"

#include <QRegularExpression>
#include <QUrl>

namespace PurchaseAddress {

QString build(const QString &payUrl, const QString &appKey, const QString &channelCode, const QString &phone,
              const QString &token, int seconds, const QString &serverSn)
{
    // Ordinary values (digits, hex, the fixed keys) read exactly as given;
    // a "+", "&" or "#" in one can no longer change what the page is told.
    auto value = [](const QString &text) { return QString::fromLatin1(QUrl::toPercentEncoding(text)); };
    QString address = payUrl + QStringLiteral("?appkey=") + value(appKey) + QStringLiteral("&channel_code=")
        + value(channelCode) + QStringLiteral("&phone=") + value(phone) + QStringLiteral("&token=") + value(token)
        + QStringLiteral("&radom=") + QString::number(seconds);
    if (!serverSn.isEmpty())
        address += QStringLiteral("&server_sn=") + value(serverSn);
    return address;
}

QString forLog(const QString &address)
{
    static const QRegularExpression token(QStringLiteral("([?&]token=)([^&#]*)"));
    const QRegularExpressionMatch match = token.match(address);
    if (!match.hasMatch() || match.capturedLength(2) == 0)
        return address;
    const QString value = QUrl::fromPercentEncoding(match.captured(2).toUtf8());
    QString logged = address;
    logged.replace(match.capturedStart(2), match.capturedLength(2), SecretMask::shorten(value));
    return logged;
}

} // namespace PurchaseAddress
