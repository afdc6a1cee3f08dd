#include "localcloud/core/stscredentials.h"

#include <QDateTime>
#include <QMutexLocker>
#include <QRandomGenerator>

namespace {

QString randomHex(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    for (int i = 0; i < bytes; ++i)
        raw[i] = char(QRandomGenerator::system()->bounded(256));
    return QString::fromLatin1(raw.toHex());
}

} // namespace

StsCredentials::Credential StsCredentials::issue(qint64 ttlSeconds, const QString &bucket, bool withToken)
{
    Credential credential;
    credential.accessKeyId = randomHex(16);
    credential.secretAccessKey = randomHex(16);
    // Real session tokens are long and carry "/" and "+", which the
    // signature encodes: keep ours like that.
    if (withToken)
        credential.sessionToken = QStringLiteral("ZjkyZDQ4/") + randomHex(48) + QStringLiteral("+Tk=");
    credential.bucket = bucket;
    credential.expiresAtMs = QDateTime::currentMSecsSinceEpoch() + ttlSeconds * 1000;
    QMutexLocker lock(&m_mutex);
    m_credentials.append(credential);
    if (m_credentials.size() > MaxKept)
        m_credentials.remove(0, m_credentials.size() - MaxKept);
    return credential;
}

std::optional<StsCredentials::Credential> StsCredentials::find(const QString &accessKeyId) const
{
    QMutexLocker lock(&m_mutex);
    for (const Credential &credential : m_credentials) {
        if (credential.accessKeyId == accessKeyId)
            return credential;
    }
    return std::nullopt;
}

bool StsCredentials::expire(const QString &accessKeyId)
{
    QMutexLocker lock(&m_mutex);
    for (Credential &credential : m_credentials) {
        if (credential.accessKeyId == accessKeyId) {
            credential.expiresAtMs = QDateTime::currentMSecsSinceEpoch() - 1000;
            return true;
        }
    }
    return false;
}
