#pragma once

#include "app/appevent.h"
#include "api/utils.h"
#include "tests/support/localcloud.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QString>

namespace UploadTest {

// Points the client at the cloud's API and console, trusting its authority.
inline void useCloud(const TestSupport::LocalCloud &cloud)
{
    ServiceBases bases = Utils::compiledServiceBases();
    bases.api = cloud.apiBase();
    bases.console = cloud.consoleBase();
    bases.caFile = cloud.consoleCaFile();
    Utils::overrideServiceBases(bases);
}

// Signs the demo user in (session token, then console token).
inline bool signInDemo(TestSupport::LocalCloud &cloud)
{
    const QString token = cloud.signIn(TestSupport::LocalCloud::demoPhone());
    if (token.isEmpty())
        return false;
    AppEvent::instance()->setToken(token);
    AppEvent::instance()->setPhone(TestSupport::LocalCloud::demoPhone());
    return Utils::instance()->fetchToken();
}

// A file of random bytes; its MD5 in hex.
inline QString writeRandomFile(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray chunk(1024 * 1024, Qt::Uninitialized);
    for (qint64 left = size; left > 0;) {
        const int n = int(qMin<qint64>(left, chunk.size()));
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(chunk.data()), chunk.size() / 4);
        file.write(chunk.constData(), n);
        hash.addData(chunk.constData(), n);
        left -= n;
    }
    return QString::fromLatin1(hash.result().toHex());
}

inline QJsonObject phoneFile(const TestSupport::LocalCloud &cloud, const QString &serverSn, const QString &path)
{
    for (const QJsonValue &value : cloud.phoneState(serverSn).value(QStringLiteral("files")).toArray()) {
        if (value.toObject().value(QStringLiteral("path")).toString() == path)
            return value.toObject();
    }
    return QJsonObject();
}

inline bool hasApp(const TestSupport::LocalCloud &cloud, const QString &serverSn, const QString &label)
{
    for (const QJsonValue &value : cloud.phoneState(serverSn).value(QStringLiteral("apps")).toArray()) {
        if (value.toObject().value(QStringLiteral("label")).toString() == label)
            return true;
    }
    return false;
}

} // namespace UploadTest
