#pragma once

#include <QHash>
#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// Everything the local cloud remembers: users, their tokens, their phones,
// the verification codes and the announced client version. Every change is
// written to <state dir>/state.json at once, so a restart on the same folder
// keeps signed-in users signed in. Safe to use from any thread.
class CloudState final
{
public:
    struct Limits
    {
        qint64 codeTtlMs = 5 * 60 * 1000;
        qint64 resendIntervalMs = 60 * 1000;
        qint64 tokenTtlMs = qint64(30) * 24 * 3600 * 1000;
        qint64 consoleTokenTtlMs = 2 * 3600 * 1000;
        // Wrong guesses after which a code is spent.
        int maxCodeAttempts = 5;
    };

    struct User
    {
        qint32 id = 0;
        QString phone;
        QString userName;
    };

    struct Phone
    {
        QString serverSn;
        QString padCode;
        QString title;
        qint64 startTime = 0; // seconds since the epoch
        qint64 endTime = 0;
        int opStatus = 1;
        qint64 sid = 0;
        qint64 idcId = 0;
        QString idcSn;
        QString orderSn;
        qint64 serid = 0;
        qint32 ownerId = 0;
        // Demo phones get fresh rental periods each time the demo seed runs.
        bool demo = false;

        bool isExpired() const;
        // One entry of the phone list, the way the client reads it.
        QJsonObject toRecord() const;
    };

    struct Announcement
    {
        QString version = QStringLiteral("1.1.0");
        QString notes;
        QString download;
    };

    struct Session
    {
        QString sessionId;
        qint32 userId = 0;
        QString padCode;
        QString clientType;
        int idleSeconds = 0;
    };

    enum class CodeOutcome { Sent, TooSoon };
    struct CodeIssue
    {
        CodeOutcome outcome = CodeOutcome::Sent;
        QString code;
        qint64 retryAfterSeconds = 0;
    };

    enum class SignInOutcome { SignedIn, NoCode, WrongCode, ExpiredCode };
    struct SignIn
    {
        SignInOutcome outcome = SignInOutcome::NoCode;
        User user;
        bool newUser = false;
        QString token;
        QString wssToken;
    };

    explicit CloudState(const Limits &limits);

    // Reads the state folder's state.json if there is one. False, with a
    // reason, when the folder can't be made or the file is unreadable; a
    // damaged file is never silently replaced.
    bool open(const QString &dir, QString *error);
    QString stateFile() const;
    bool isEmpty() const;

    // The demo user 13800138000 and seven phones whose rental periods,
    // counted from now, run from expired to weeks.
    void seedDemo();

    CodeIssue issueCode(const QString &phone);
    // The code on record for the number, for the admin API; empty if none.
    QJsonObject codeInfo(const QString &phone) const;
    SignIn signIn(const QString &phone, const QString &code);

    // The user a sign-in token belongs to; nothing when unknown or expired.
    std::optional<User> userForToken(const QString &token) const;
    // The same for a push-channel token.
    std::optional<User> userForPushToken(const QString &token) const;
    std::optional<User> userByPhone(const QString &phone) const;
    // The user a console token (res/fetch_token) belongs to, while it is valid.
    std::optional<User> userForConsoleToken(const QString &token) const;
    // Marks tokens expired: all of one phone number's, or the one given.
    int expireTokens(const QString &phone, const QString &token);
    QString issueConsoleToken(qint32 userId);
    qint64 consoleTokenTtlSeconds() const { return m_limits.consoleTokenTtlMs / 1000; }

    QVector<Phone> phonesOf(qint32 userId) const;
    QVector<Phone> allPhones() const;
    // By serial number or pad code.
    std::optional<Phone> findPhone(const QString &key) const;
    std::optional<Phone> setEndTime(const QString &key, qint64 endTime);
    // Creates the owner on first use.
    Phone addPhone(const QString &ownerPhone, const QString &title, qint64 startTime, qint64 endTime);
    // One phone per title for the owner, in that order, saved once.
    QVector<Phone> addPhones(const QString &ownerPhone, const QStringList &titles, qint64 startTime, qint64 endTime);

    Session openSession(const User &user, const Phone &phone, const QString &clientType, int idleSeconds);

    Announcement announcement() const;
    void announce(const Announcement &announcement);

private:
    Q_DISABLE_COPY_MOVE(CloudState)

    struct Token
    {
        QString value;
        QString kind; // "user", "wss" or "console"
        qint32 userId = 0;
        qint64 expiresAtMs = 0;
    };

    struct Code
    {
        QString code;
        qint64 sentAtMs = 0;
        qint64 expiresAtMs = 0;
        int wrongAttempts = 0;
    };

    std::optional<User> userForTokenOfKind(const QString &token, const QString &kind) const;
    User &userForPhoneLocked(const QString &phone, bool *created);
    Phone &addPhoneLocked(qint32 ownerId, const QString &title, qint64 startTime, qint64 endTime);
    QString newTokenLocked(const QString &kind, qint32 userId, qint64 ttlMs);
    void saveLocked() const;
    QJsonObject toJsonLocked() const;
    bool fromJson(const QJsonObject &root);

    const Limits m_limits;
    mutable QMutex m_mutex;
    QString m_dir;
    QVector<User> m_users;
    QVector<Phone> m_phones;
    QHash<QString, Token> m_tokens;
    QHash<QString, Code> m_codes;
    Announcement m_announcement;
    qint32 m_nextUserId = 10001;
    qint64 m_nextSid = 1;
};
