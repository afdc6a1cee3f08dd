#pragma once

#include <QString>

// The purchase page's address: the configured page followed by the
// signed-in user's identity, in this order: appkey, channel_code, phone,
// token, radom (the seconds of the current local time); a phone picked for
// renewal comes last as server_sn.
namespace PurchaseAddress {

QString build(const QString &payUrl, const QString &appKey, const QString &channelCode, const QString &phone,
              const QString &token, int seconds, const QString &serverSn = QString());

// The address as it may be written to a log: the token's value shortened.
QString forLog(const QString &address);

} // namespace PurchaseAddress
