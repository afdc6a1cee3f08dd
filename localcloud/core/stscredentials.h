#pragma once

#include <QMutex>
#include <QString>
#include <QVector>

#include <optional>

// Temporary object-store credentials: an access key id, a secret and a
// session token that expire together, optionally bound to one bucket. The
// admin API issues them now; the console issues the same ones. Kept in
// memory only: temporary credentials do not outlive the process. Safe to
// use from any thread.
class StsCredentials final
{
public:
    struct Credential
    {
        QString accessKeyId;
        QString secretAccessKey;
        QString sessionToken; // empty: a long-term key without a token
        QString bucket;       // empty: every bucket
        qint64 expiresAtMs = 0;
    };

    StsCredentials() = default;

    Credential issue(qint64 ttlSeconds, const QString &bucket, bool withToken = true);
    std::optional<Credential> find(const QString &accessKeyId) const;
    // Moves the expiry to the past; false for an unknown key.
    bool expire(const QString &accessKeyId);

private:
    Q_DISABLE_COPY_MOVE(StsCredentials)

    static constexpr int MaxKept = 1000;

    mutable QMutex m_mutex;
    QVector<Credential> m_credentials;
};
