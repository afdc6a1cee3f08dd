#include "localcloud/core/cloudstate.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QSaveFile>

#include <iterator>

namespace {

const QString TimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

qint64 nowSecs()
{
    return QDateTime::currentSecsSinceEpoch();
}

QString localTimeText(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs).toString(TimeFormat);
}

QString randomHex(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    for (int i = 0; i < bytes; ++i)
        raw[i] = char(QRandomGenerator::system()->bounded(256));
    return QString::fromLatin1(raw.toHex());
}

struct DemoPhone
{
    const char *title;
    qint64 startOffset; // seconds from now
    qint64 endOffset;
};

constexpr qint64 Hour = 3600;
constexpr qint64 Day = 24 * Hour;

// Rental periods chosen so the list shows every remaining-time text:
// weeks, days and hours, hours, minutes, expired.
const DemoPhone DemoPhones[] = {
    {"云手机01", -10 * Day, 14 * Day},
    {"游戏挂机", -2 * Day, 3 * Day + 5 * Hour},
    {"办公助手", -1 * Day, 6 * Hour},
    {"直播推流", -20 * Day, 30 * Day},
    {"测试机", -Hour, 40 * 60},
    {"过期云机", -31 * Day, -Day},
    {"小号专用", -5 * Day, Day + 2 * Hour},
};

const QString DemoPhoneNumber = QStringLiteral("13800138000");

} // namespace

bool CloudState::Phone::isExpired() const
{
    return endTime <= nowSecs();
}

QJsonObject CloudState::Phone::toRecord() const
{
    return QJsonObject{
        {QStringLiteral("server_sn"), serverSn},
        {QStringLiteral("server_title"), title},
        {QStringLiteral("start_time"), localTimeText(startTime)},
        {QStringLiteral("end_time"), localTimeText(endTime)},
        {QStringLiteral("op_status"), opStatus},
        {QStringLiteral("sid"), sid},
        {QStringLiteral("idc_id"), idcId},
        {QStringLiteral("idc_sn"), idcSn},
        {QStringLiteral("order_sn"), orderSn},
        {QStringLiteral("serid"), serid},
        {QStringLiteral("pad_code"), padCode},
    };
}

CloudState::CloudState(const Limits &limits)
    : m_limits(limits)
{
}

QString CloudState::stateFile() const
{
    return m_dir + QStringLiteral("/state.json");
}

bool CloudState::open(const QString &dir, QString *error)
{
    QMutexLocker lock(&m_mutex);
    if (!QDir().mkpath(dir)) {
        *error = QStringLiteral("cannot create the state folder %1").arg(dir);
        return false;
    }
    m_dir = QDir(dir).absolutePath();
    QFile file(stateFile());
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject() || !fromJson(document.object())) {
        *error = QStringLiteral("%1 is damaged (%2); move it away to start afresh")
                     .arg(file.fileName(), parseError.error == QJsonParseError::NoError
                                               ? QStringLiteral("unexpected content")
                                               : parseError.errorString());
        return false;
    }
    return true;
}

bool CloudState::isEmpty() const
{
    QMutexLocker lock(&m_mutex);
    return m_users.isEmpty() && m_phones.isEmpty();
}

void CloudState::seedDemo()
{
    QMutexLocker lock(&m_mutex);
    bool created = false;
    const qint32 ownerId = userForPhoneLocked(DemoPhoneNumber, &created).id;
    const qint64 now = nowSecs();
    int index = 0;
    for (Phone &phone : m_phones) {
        if (!phone.demo)
            continue;
        if (index < int(std::size(DemoPhones))) {
            phone.startTime = now + DemoPhones[index].startOffset;
            phone.endTime = now + DemoPhones[index].endOffset;
        }
        ++index;
    }
    for (; index < int(std::size(DemoPhones)); ++index) {
        const DemoPhone &demo = DemoPhones[index];
        Phone &phone = addPhoneLocked(ownerId, QString::fromUtf8(demo.title), now + demo.startOffset,
                                      now + demo.endOffset);
        phone.demo = true;
        if (phone.endTime <= now)
            phone.opStatus = 2;
    }
    saveLocked();
}

CloudState::CodeIssue CloudState::issueCode(const QString &phone)
{
    QMutexLocker lock(&m_mutex);
    const qint64 now = nowMs();
    CodeIssue issue;
    const auto existing = m_codes.constFind(phone);
    if (existing != m_codes.constEnd() && now - existing->sentAtMs < m_limits.resendIntervalMs) {
        issue.outcome = CodeOutcome::TooSoon;
        issue.retryAfterSeconds = (m_limits.resendIntervalMs - (now - existing->sentAtMs) + 999) / 1000;
        return issue;
    }
    Code code;
    code.code = QStringLiteral("%1").arg(QRandomGenerator::system()->bounded(1000000), 6, 10, QLatin1Char('0'));
    code.sentAtMs = now;
    code.expiresAtMs = now + m_limits.codeTtlMs;
    m_codes.insert(phone, code);
    saveLocked();
    issue.code = code.code;
    return issue;
}

QJsonObject CloudState::codeInfo(const QString &phone) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_codes.constFind(phone);
    if (it == m_codes.constEnd())
        return {};
    return QJsonObject{
        {QStringLiteral("phone"), phone},
        {QStringLiteral("code"), it->code},
        {QStringLiteral("sent_at"), QDateTime::fromMSecsSinceEpoch(it->sentAtMs).toString(Qt::ISODate)},
        {QStringLiteral("expires_at"), QDateTime::fromMSecsSinceEpoch(it->expiresAtMs).toString(Qt::ISODate)},
        {QStringLiteral("valid"), !it->code.isEmpty() && it->expiresAtMs > nowMs()},
    };
}

CloudState::SignIn CloudState::signIn(const QString &phone, const QString &code)
{
    QMutexLocker lock(&m_mutex);
    SignIn result;
    auto it = m_codes.find(phone);
    if (it == m_codes.end() || it->code.isEmpty()) {
        result.outcome = SignInOutcome::NoCode;
        return result;
    }
    if (it->expiresAtMs <= nowMs()) {
        result.outcome = SignInOutcome::ExpiredCode;
        return result;
    }
    if (it->code != code) {
        result.outcome = SignInOutcome::WrongCode;
        // A code can't be guessed by trying them all.
        if (++it->wrongAttempts >= m_limits.maxCodeAttempts)
            it->code.clear();
        saveLocked();
        return result;
    }
    it->code.clear(); // one sign-in per code
    result.outcome = SignInOutcome::SignedIn;
    result.user = userForPhoneLocked(phone, &result.newUser);
    result.token = newTokenLocked(QStringLiteral("user"), result.user.id, m_limits.tokenTtlMs);
    result.wssToken = newTokenLocked(QStringLiteral("wss"), result.user.id, m_limits.tokenTtlMs);
    saveLocked();
    return result;
}

std::optional<CloudState::User> CloudState::userForToken(const QString &token) const
{
    return userForTokenOfKind(token, QStringLiteral("user"));
}

std::optional<CloudState::User> CloudState::userForPushToken(const QString &token) const
{
    return userForTokenOfKind(token, QStringLiteral("wss"));
}

std::optional<CloudState::User> CloudState::userForTokenOfKind(const QString &token, const QString &kind) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_tokens.constFind(token);
    if (token.isEmpty() || it == m_tokens.constEnd() || it->kind != kind
        || it->expiresAtMs <= nowMs())
        return std::nullopt;
    for (const User &user : m_users) {
        if (user.id == it->userId)
            return user;
    }
    return std::nullopt;
}

std::optional<CloudState::User> CloudState::userForConsoleToken(const QString &token) const
{
    QMutexLocker lock(&m_mutex);
    const auto it = m_tokens.constFind(token);
    if (token.isEmpty() || it == m_tokens.constEnd() || it->kind != QLatin1String("console")
        || it->expiresAtMs <= nowMs())
        return std::nullopt;
    for (const User &user : m_users) {
        if (user.id == it->userId)
            return user;
    }
    return std::nullopt;
}

std::optional<CloudState::User> CloudState::userByPhone(const QString &phone) const
{
    QMutexLocker lock(&m_mutex);
    for (const User &user : m_users) {
        if (user.phone == phone)
            return user;
    }
    return std::nullopt;
}

int CloudState::expireTokens(const QString &phone, const QString &token)
{
    QMutexLocker lock(&m_mutex);
    qint32 userId = 0;
    for (const User &user : m_users) {
        if (!phone.isEmpty() && user.phone == phone)
            userId = user.id;
    }
    const qint64 now = nowMs();
    int count = 0;
    for (Token &entry : m_tokens) {
        const bool match = (!token.isEmpty() && entry.value == token) || (userId != 0 && entry.userId == userId);
        if (match && entry.expiresAtMs > now) {
            entry.expiresAtMs = now;
            ++count;
        }
    }
    if (count > 0)
        saveLocked();
    return count;
}

QString CloudState::issueConsoleToken(qint32 userId)
{
    QMutexLocker lock(&m_mutex);
    const QString token = newTokenLocked(QStringLiteral("console"), userId, m_limits.consoleTokenTtlMs);
    saveLocked();
    return token;
}

QVector<CloudState::Phone> CloudState::phonesOf(qint32 userId) const
{
    QMutexLocker lock(&m_mutex);
    QVector<Phone> phones;
    for (const Phone &phone : m_phones) {
        if (phone.ownerId == userId)
            phones.append(phone);
    }
    return phones;
}

QVector<CloudState::Phone> CloudState::allPhones() const
{
    QMutexLocker lock(&m_mutex);
    return m_phones;
}

std::optional<CloudState::Phone> CloudState::findPhone(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    for (const Phone &phone : m_phones) {
        if (!key.isEmpty() && (phone.serverSn == key || phone.padCode == key))
            return phone;
    }
    return std::nullopt;
}

std::optional<CloudState::Phone> CloudState::setEndTime(const QString &key, qint64 endTime)
{
    QMutexLocker lock(&m_mutex);
    for (Phone &phone : m_phones) {
        if (!key.isEmpty() && (phone.serverSn == key || phone.padCode == key)) {
            phone.endTime = endTime;
            phone.opStatus = endTime <= nowSecs() ? 2 : 1;
            saveLocked();
            return phone;
        }
    }
    return std::nullopt;
}

CloudState::Phone CloudState::addPhone(const QString &ownerPhone, const QString &title, qint64 startTime,
                                       qint64 endTime)
{
    QMutexLocker lock(&m_mutex);
    bool created = false;
    const qint32 ownerId = userForPhoneLocked(ownerPhone, &created).id;
    const Phone phone = addPhoneLocked(ownerId, title, startTime, endTime);
    saveLocked();
    return phone;
}

QVector<CloudState::Phone> CloudState::addPhones(const QString &ownerPhone, const QStringList &titles,
                                                qint64 startTime, qint64 endTime)
{
    QMutexLocker lock(&m_mutex);
    bool created = false;
    const qint32 ownerId = userForPhoneLocked(ownerPhone, &created).id;
    QVector<Phone> phones;
    phones.reserve(titles.size());
    for (const QString &title : titles)
        phones.push_back(addPhoneLocked(ownerId, title, startTime, endTime));
    saveLocked();
    return phones;
}

CloudState::Session CloudState::openSession(const User &user, const Phone &phone, const QString &clientType,
                                            int idleSeconds)
{
    Session session;
    session.sessionId = randomHex(16);
    session.userId = user.id;
    session.padCode = phone.padCode;
    session.clientType = clientType;
    session.idleSeconds = idleSeconds;
    return session;
}

CloudState::Announcement CloudState::announcement() const
{
    QMutexLocker lock(&m_mutex);
    return m_announcement;
}

void CloudState::announce(const Announcement &announcement)
{
    QMutexLocker lock(&m_mutex);
    m_announcement = announcement;
    saveLocked();
}

CloudState::User &CloudState::userForPhoneLocked(const QString &phone, bool *created)
{
    *created = false;
    for (User &user : m_users) {
        if (user.phone == phone)
            return user;
    }
    User user;
    user.id = m_nextUserId++;
    user.phone = phone;
    user.userName = QStringLiteral("用户") + phone.right(4);
    m_users.append(user);
    *created = true;
    return m_users.last();
}

CloudState::Phone &CloudState::addPhoneLocked(qint32 ownerId, const QString &title, qint64 startTime,
                                               qint64 endTime)
{
    Phone phone;
    phone.sid = m_nextSid++;
    phone.serverSn = QStringLiteral("VS%1").arg(20240000 + phone.sid);
    phone.padCode = QStringLiteral("AC32010%1").arg(phone.sid, 6, 10, QLatin1Char('0'));
    phone.title = title;
    phone.startTime = startTime;
    phone.endTime = endTime;
    phone.opStatus = endTime <= nowSecs() ? 2 : 1;
    phone.idcId = 3;
    phone.idcSn = QStringLiteral("IDC-SZ-03");
    phone.orderSn = QStringLiteral("OD%1%2")
                        .arg(QDateTime::fromSecsSinceEpoch(startTime).toString(QStringLiteral("yyyyMMdd")))
                        .arg(phone.sid, 6, 10, QLatin1Char('0'));
    phone.serid = 50000 + phone.sid;
    phone.ownerId = ownerId;
    m_phones.append(phone);
    return m_phones.last();
}

QString CloudState::newTokenLocked(const QString &kind, qint32 userId, qint64 ttlMs)
{
    Token token;
    token.value = randomHex(24);
    token.kind = kind;
    token.userId = userId;
    token.expiresAtMs = nowMs() + ttlMs;
    m_tokens.insert(token.value, token);
    return token.value;
}

void CloudState::saveLocked() const
{
    if (m_dir.isEmpty())
        return;
    QSaveFile file(stateFile());
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning("localcloud: cannot write %s: %s", qPrintable(file.fileName()), qPrintable(file.errorString()));
        return;
    }
    file.write(QJsonDocument(toJsonLocked()).toJson(QJsonDocument::Indented));
    if (!file.commit())
        qWarning("localcloud: cannot write %s: %s", qPrintable(file.fileName()), qPrintable(file.errorString()));
}

QJsonObject CloudState::toJsonLocked() const
{
    QJsonArray users;
    for (const User &user : m_users) {
        users.append(QJsonObject{{QStringLiteral("id"), user.id},
                                 {QStringLiteral("phone"), user.phone},
                                 {QStringLiteral("username"), user.userName}});
    }
    QJsonArray phones;
    for (const Phone &phone : m_phones) {
        phones.append(QJsonObject{
            {QStringLiteral("server_sn"), phone.serverSn},
            {QStringLiteral("pad_code"), phone.padCode},
            {QStringLiteral("title"), phone.title},
            {QStringLiteral("start_time"), phone.startTime},
            {QStringLiteral("end_time"), phone.endTime},
            {QStringLiteral("op_status"), phone.opStatus},
            {QStringLiteral("sid"), phone.sid},
            {QStringLiteral("idc_id"), phone.idcId},
            {QStringLiteral("idc_sn"), phone.idcSn},
            {QStringLiteral("order_sn"), phone.orderSn},
            {QStringLiteral("serid"), phone.serid},
            {QStringLiteral("owner_id"), phone.ownerId},
            {QStringLiteral("demo"), phone.demo},
        });
    }
    QJsonArray tokens;
    const qint64 keepAfter = nowMs() - qint64(7) * 24 * 3600 * 1000;
    for (const Token &token : m_tokens) {
        if (token.expiresAtMs < keepAfter)
            continue;
        tokens.append(QJsonObject{{QStringLiteral("token"), token.value},
                                  {QStringLiteral("kind"), token.kind},
                                  {QStringLiteral("user_id"), token.userId},
                                  {QStringLiteral("expires_at_ms"), token.expiresAtMs}});
    }
    QJsonArray codes;
    for (auto it = m_codes.constBegin(); it != m_codes.constEnd(); ++it) {
        codes.append(QJsonObject{{QStringLiteral("phone"), it.key()},
                                 {QStringLiteral("code"), it->code},
                                 {QStringLiteral("sent_at_ms"), it->sentAtMs},
                                 {QStringLiteral("expires_at_ms"), it->expiresAtMs},
                                 {QStringLiteral("wrong_attempts"), it->wrongAttempts}});
    }
    return QJsonObject{
        {QStringLiteral("format"), 1},
        {QStringLiteral("next_user_id"), m_nextUserId},
        {QStringLiteral("next_sid"), m_nextSid},
        {QStringLiteral("users"), users},
        {QStringLiteral("phones"), phones},
        {QStringLiteral("tokens"), tokens},
        {QStringLiteral("codes"), codes},
        {QStringLiteral("announcement"),
         QJsonObject{{QStringLiteral("version"), m_announcement.version},
                     {QStringLiteral("notes"), m_announcement.notes},
                     {QStringLiteral("download"), m_announcement.download}}},
    };
}

bool CloudState::fromJson(const QJsonObject &root)
{
    if (root.value(QStringLiteral("format")).toInt() != 1)
        return false;
    m_nextUserId = root.value(QStringLiteral("next_user_id")).toInt(10001);
    m_nextSid = qint64(root.value(QStringLiteral("next_sid")).toDouble(1));
    for (const QJsonValue &value : root.value(QStringLiteral("users")).toArray()) {
        const QJsonObject object = value.toObject();
        User user;
        user.id = object.value(QStringLiteral("id")).toInt();
        user.phone = object.value(QStringLiteral("phone")).toString();
        user.userName = object.value(QStringLiteral("username")).toString();
        m_users.append(user);
    }
    for (const QJsonValue &value : root.value(QStringLiteral("phones")).toArray()) {
        const QJsonObject object = value.toObject();
        Phone phone;
        phone.serverSn = object.value(QStringLiteral("server_sn")).toString();
        phone.padCode = object.value(QStringLiteral("pad_code")).toString();
        phone.title = object.value(QStringLiteral("title")).toString();
        phone.startTime = qint64(object.value(QStringLiteral("start_time")).toDouble());
        phone.endTime = qint64(object.value(QStringLiteral("end_time")).toDouble());
        phone.opStatus = object.value(QStringLiteral("op_status")).toInt(1);
        phone.sid = qint64(object.value(QStringLiteral("sid")).toDouble());
        phone.idcId = qint64(object.value(QStringLiteral("idc_id")).toDouble());
        phone.idcSn = object.value(QStringLiteral("idc_sn")).toString();
        phone.orderSn = object.value(QStringLiteral("order_sn")).toString();
        phone.serid = qint64(object.value(QStringLiteral("serid")).toDouble());
        phone.ownerId = object.value(QStringLiteral("owner_id")).toInt();
        phone.demo = object.value(QStringLiteral("demo")).toBool();
        m_phones.append(phone);
    }
    for (const QJsonValue &value : root.value(QStringLiteral("tokens")).toArray()) {
        const QJsonObject object = value.toObject();
        Token token;
        token.value = object.value(QStringLiteral("token")).toString();
        token.kind = object.value(QStringLiteral("kind")).toString();
        token.userId = object.value(QStringLiteral("user_id")).toInt();
        token.expiresAtMs = qint64(object.value(QStringLiteral("expires_at_ms")).toDouble());
        if (!token.value.isEmpty())
            m_tokens.insert(token.value, token);
    }
    for (const QJsonValue &value : root.value(QStringLiteral("codes")).toArray()) {
        const QJsonObject object = value.toObject();
        Code code;
        code.code = object.value(QStringLiteral("code")).toString();
        code.sentAtMs = qint64(object.value(QStringLiteral("sent_at_ms")).toDouble());
        code.expiresAtMs = qint64(object.value(QStringLiteral("expires_at_ms")).toDouble());
        code.wrongAttempts = object.value(QStringLiteral("wrong_attempts")).toInt();
        m_codes.insert(object.value(QStringLiteral("phone")).toString(), code);
    }
    const QJsonObject announcement = root.value(QStringLiteral("announcement")).toObject();
    if (!announcement.isEmpty()) {
        m_announcement.version = announcement.value(QStringLiteral("version")).toString();
        m_announcement.notes = announcement.value(QStringLiteral("notes")).toString();
        m_announcement.download = announcement.value(QStringLiteral("download")).toString();
    }
    return true;
}
