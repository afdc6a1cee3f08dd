#include "localcloud/console/consoleservice.h"

#include "localcloud/core/activitylog.h"
#include "localcloud/phonefarm/phonefarm.h"
#include "localcloud/core/formdata.h"
#include "localcloud/core/httputil.h"
#include "localcloud/core/stscredentials.h"
#include "localcloud/objectstore/objectstore.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QUuid>

#include <httplib.h>

namespace {

QString newUid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).remove(QLatin1Char('-'));
}

bool isMd5(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{32}$"));
    return pattern.match(text).hasMatch();
}

// An installed app is known by a package name made from the file name.
QString packageFor(const QString &fileName)
{
    QString base = QFileInfo(fileName).completeBaseName().toLower();
    base.replace(QRegularExpression(QStringLiteral("[^a-z0-9_]")), QStringLiteral("_"));
    if (base.isEmpty() || base.at(0).isDigit())
        base.prepend(QLatin1Char('a'));
    return QStringLiteral("com.tarvix.") + base;
}

} // namespace

QJsonObject ConsoleService::File::toJson() const
{
    return QJsonObject{{QStringLiteral("uid"), uid},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("size"), double(size)},
                       {QStringLiteral("md5"), md5},
                       {QStringLiteral("url"), url},
                       {QStringLiteral("own"), own},
                       {QStringLiteral("pkg"), pkg},
                       {QStringLiteral("versionCode"), versionCode},
                       {QStringLiteral("versionName"), versionName},
                       {QStringLiteral("groupCode"), QString::fromLatin1(GroupCode)},
                       {QStringLiteral("userId"), userId},
                       {QStringLiteral("createTime"), double(createTime)}};
}

QJsonObject ConsoleService::Task::toJson() const
{
    return QJsonObject{{QStringLiteral("uid"), uid},
                       {QStringLiteral("userId"), userId},
                       {QStringLiteral("scriptCode"), scriptCode},
                       {QStringLiteral("fileUid"), fileUid},
                       {QStringLiteral("codes"), QJsonArray::fromStringList(codes)},
                       {QStringLiteral("params"), params},
                       {QStringLiteral("batchUid"), batchUid},
                       {QStringLiteral("outcome"), outcome},
                       {QStringLiteral("reason"), reason},
                       {QStringLiteral("createTime"), double(createTime)}};
}

ConsoleService::ConsoleService(CloudState &state, ActivityLog &log, PhoneFarm &farm, StsCredentials &credentials,
                               ObjectStore &objectStore, qint64 credentialTtlSeconds)
    : m_state(state)
    , m_log(log)
    , m_farm(farm)
    , m_credentials(credentials)
    , m_objectStore(objectStore)
    , m_credentialTtlSeconds(credentialTtlSeconds)
{
}

ConsoleService::~ConsoleService()
{
    stop();
}

bool ConsoleService::listen(const QString &host, quint16 port, const QString &certFile, const QString &keyFile,
                            QString *error)
{
    m_server = std::make_unique<httplib::SSLServer>(QFile::encodeName(certFile).constData(),
                                                    QFile::encodeName(keyFile).constData());
    if (!m_server->is_valid()) {
        *error = QStringLiteral("the console cannot use %1").arg(certFile);
        return false;
    }
    // Forms and task bodies are small.
    m_server->set_payload_max_length(1024 * 1024);
    const auto route = [this](Handler handler) {
        return [this, handler](const httplib::Request &request, httplib::Response &response) {
            serve(request, response, handler);
        };
    };
    m_server->Get("/console/file/bosStsToken", route(&ConsoleService::stsToken));
    m_server->Post("/console/file", route(&ConsoleService::registerFile));
    m_server->Post("/console/file/list", route(&ConsoleService::listFiles));
    m_server->Post("/console/task/commitV2", route(&ConsoleService::commitTask));
    m_server->set_error_handler([](const httplib::Request &, httplib::Response &response) {
        if (!response.body.empty())
            return;
        HttpUtil::sendJson(response, response.status,
                           QJsonObject{{QStringLiteral("httpStatus"), response.status},
                                       {QStringLiteral("message"), response.status == 404
                                                                       ? QStringLiteral("no such route")
                                                                       : QStringLiteral("bad request")}});
    });
    const std::string address = host.toStdString();
    const int bound = port == 0 ? m_server->bind_to_any_port(address)
                                : (m_server->bind_to_port(address, port) ? port : -1);
    if (bound <= 0) {
        *error = QStringLiteral("cannot listen on %1:%2 for the console").arg(host).arg(port);
        return false;
    }
    m_port = quint16(bound);
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    return true;
}

void ConsoleService::stop()
{
    if (m_server)
        m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

void ConsoleService::serve(const httplib::Request &request, httplib::Response &response, Handler handler)
{
    m_log.addRequest(HttpUtil::rawRequest(QStringLiteral("console"), request));
    const QString token = HttpUtil::bearerToken(request);
    const std::optional<CloudState::User> user = m_state.userForConsoleToken(token);
    Reply reply;
    if (!user) {
        reply.httpStatus = 401;
        reply.message = token.isEmpty() ? QStringLiteral("missing console token")
                                        : QStringLiteral("console token unknown or expired");
    } else {
        reply = (this->*handler)(*user, request);
    }
    QJsonObject body{{QStringLiteral("httpStatus"), reply.httpStatus}};
    if (!reply.data.isUndefined())
        body.insert(QStringLiteral("data"), reply.data);
    if (!reply.message.isEmpty())
        body.insert(QStringLiteral("message"), reply.message);
    // The envelope carries the outcome; the HTTP status says the same.
    HttpUtil::sendJson(response, reply.httpStatus, body);
    m_log.console(QStringLiteral("console %1 %2 user %3 -> %4%5")
                      .arg(QString::fromStdString(request.method), HttpUtil::path(request))
                      .arg(user ? QString::number(user->id) : QStringLiteral("-"))
                      .arg(reply.httpStatus)
                      .arg(reply.message.isEmpty() ? QString() : QStringLiteral(" ") + reply.message));
}

QString ConsoleService::bucketPathOf(qint32 userId)
{
    return QStringLiteral("users/%1").arg(userId);
}

ConsoleService::Reply ConsoleService::stsToken(const CloudState::User &user, const httplib::Request &request)
{
    const QString group = FormData::parse(HttpUtil::queryString(request)).value(QStringLiteral("groupCode"));
    if (group != QLatin1String(GroupCode))
        return Reply{400, QJsonValue::Undefined, QStringLiteral("unknown groupCode")};
    const StsCredentials::Credential credential =
        m_credentials.issue(m_credentialTtlSeconds, QString::fromLatin1(Bucket));
    {
        QMutexLocker lock(&m_mutex);
        m_issuedKeys.insert(credential.accessKeyId, user.id);
    }
    m_log.addEvent(QStringLiteral("console_sts"), QJsonObject{{QStringLiteral("userId"), user.id},
                                                              {QStringLiteral("accessKeyId"), credential.accessKeyId}});
    const QJsonObject data{
        {QStringLiteral("accessKeyId"), credential.accessKeyId},
        {QStringLiteral("secretAccessKey"), credential.secretAccessKey},
        {QStringLiteral("sessionToken"), credential.sessionToken},
        {QStringLiteral("bucket"), credential.bucket},
        {QStringLiteral("bucketPath"), bucketPathOf(user.id)},
        {QStringLiteral("endpoint"), m_objectStore.endpoint()},
        {QStringLiteral("expiration"),
         QDateTime::fromMSecsSinceEpoch(credential.expiresAtMs, Qt::UTC).toString(Qt::ISODate)}};
    return Reply{200, data, QString()};
}

bool ConsoleService::findObject(qint32 userId, const QString &url, qint64 *size, QString *md5, QString *why) const
{
    const QString prefix = m_objectStore.endpoint() + QLatin1Char('/') + QLatin1String(Bucket) + QLatin1Char('/');
    if (!url.startsWith(prefix)) {
        *why = QStringLiteral("url does not name this object store's bucket");
        return false;
    }
    const QString key = url.mid(prefix.size());
    if (!key.startsWith(bucketPathOf(userId) + QLatin1Char('/'))) {
        *why = QStringLiteral("url is outside the user's bucket path");
        return false;
    }
    const QJsonArray objects = m_objectStore.objects(QString::fromLatin1(Bucket));
    for (const QJsonValue &value : objects) {
        const QJsonObject object = value.toObject();
        if (object.value(QStringLiteral("key")).toString() == key) {
            *size = qint64(object.value(QStringLiteral("size")).toDouble());
            *md5 = object.value(QStringLiteral("md5")).toString();
            return true;
        }
    }
    *why = QStringLiteral("no stored object at that url");
    return false;
}

ConsoleService::Reply ConsoleService::registerFile(const CloudState::User &user, const httplib::Request &request)
{
    const FormData form = FormData::parse(QByteArray::fromStdString(request.body));
    File file;
    file.uid = newUid();
    file.userId = user.id;
    file.name = form.value(QStringLiteral("name"));
    file.md5 = form.value(QStringLiteral("md5")).toLower();
    file.url = form.value(QStringLiteral("url"));
    file.own = form.value(QStringLiteral("own"));
    file.pkg = form.value(QStringLiteral("pkg"));
    file.versionCode = form.value(QStringLiteral("versionCode"));
    file.versionName = form.value(QStringLiteral("versionName"));
    bool sizeOk = false;
    file.size = form.value(QStringLiteral("size")).toLongLong(&sizeOk);
    if (form.value(QStringLiteral("groupCode")) != QLatin1String(GroupCode))
        return Reply{400, QJsonValue::Undefined, QStringLiteral("unknown groupCode")};
    if (file.name.isEmpty() || !sizeOk || file.size < 0 || !isMd5(file.md5))
        return Reply{400, QJsonValue::Undefined, QStringLiteral("name, size and md5 are required")};

    qint64 storedSize = 0;
    QString storedMd5;
    QString why;
    if (!findObject(user.id, file.url, &storedSize, &storedMd5, &why))
        return Reply{400, QJsonValue::Undefined, why};
    if (storedMd5 != file.md5 || storedSize != file.size)
        return Reply{400, QJsonValue::Undefined, QStringLiteral("md5 or size does not match the stored object")};

    QMutexLocker lock(&m_mutex);
    for (const File &existing : qAsConst(m_files)) {
        if (existing.userId == user.id && existing.name == file.name)
            return Reply{500, QJsonValue::Undefined, QStringLiteral("sqlUniqueError")};
    }
    file.createTime = QDateTime::currentMSecsSinceEpoch();
    file.sequence = m_nextSequence++;
    m_files.append(file);
    lock.unlock();
    m_log.addEvent(QStringLiteral("console_file"), file.toJson());
    return Reply{200, file.toJson(), QString()};
}

ConsoleService::Reply ConsoleService::listFiles(const CloudState::User &user, const httplib::Request &request)
{
    const FormData query = FormData::parse(HttpUtil::queryString(request));
    if (query.value(QStringLiteral("groupCode")) != QLatin1String(GroupCode))
        return Reply{400, QJsonValue::Undefined, QStringLiteral("unknown groupCode")};
    QJsonParseError parseError;
    const QJsonDocument body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body), &parseError);
    if (parseError.error != QJsonParseError::NoError || !body.isObject())
        return Reply{400, QJsonValue::Undefined, QStringLiteral("body is not a JSON object")};
    // Only name conditions with "eq" are known; anything else is refused
    // rather than silently ignored.
    QStringList names;
    for (const QJsonValue &value : body.object().value(QStringLiteral("conditions")).toArray()) {
        const QJsonObject condition = value.toObject();
        if (condition.value(QStringLiteral("key")).toString() != QLatin1String("name")
            || condition.value(QStringLiteral("operator")).toString() != QLatin1String("eq"))
            return Reply{400, QJsonValue::Undefined, QStringLiteral("unsupported condition")};
        names.append(condition.value(QStringLiteral("value")).toString());
    }
    const int size = qBound(1, query.value(QStringLiteral("size"), QStringLiteral("20")).toInt(), 1000);
    const int page = qMax(0, query.value(QStringLiteral("page")).toInt());

    QVector<File> matching;
    {
        QMutexLocker lock(&m_mutex);
        for (const File &file : qAsConst(m_files)) {
            if (file.userId == user.id && std::all_of(names.cbegin(), names.cend(), [&](const QString &name) {
                    return file.name == name;
                }))
                matching.append(file);
        }
    }
    std::sort(matching.begin(), matching.end(), [](const File &a, const File &b) { return a.sequence > b.sequence; });
    QJsonArray content;
    for (int i = page * size; i < matching.size() && i < (page + 1) * size; ++i)
        content.append(matching.at(i).toJson());
    const QJsonObject data{{QStringLiteral("content"), content},
                           {QStringLiteral("totalElements"), matching.size()},
                           {QStringLiteral("size"), size},
                           {QStringLiteral("number"), page}};
    return Reply{200, data, QString()};
}

ConsoleService::Reply ConsoleService::refuseTask(Task task, int status, const QString &why)
{
    task.outcome = QStringLiteral("refused");
    task.reason = why;
    {
        QMutexLocker lock(&m_mutex);
        m_tasks.append(task);
    }
    m_log.addEvent(QStringLiteral("console_task"), task.toJson());
    return Reply{status, QJsonValue::Undefined, why};
}

ConsoleService::Reply ConsoleService::commitTask(const CloudState::User &user, const httplib::Request &request)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(request.body), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return Reply{400, QJsonValue::Undefined, QStringLiteral("body is not a JSON object")};
    const QJsonObject body = document.object();
    Task task;
    task.uid = newUid();
    task.userId = user.id;
    task.createTime = QDateTime::currentMSecsSinceEpoch();
    task.scriptCode = body.value(QStringLiteral("scriptCode")).toString();
    task.fileUid = body.value(QStringLiteral("fileUid")).toString();
    task.params = body.value(QStringLiteral("params")).toObject();
    task.batchUid = body.value(QStringLiteral("batchUid")).toString();
    for (const QJsonValue &code : body.value(QStringLiteral("codes")).toArray())
        task.codes.append(code.toString());

    if (body.value(QStringLiteral("groupCode")).toString() != QLatin1String(GroupCode))
        return refuseTask(task, 400, QStringLiteral("unknown groupCode"));
    const bool push = task.scriptCode == QLatin1String("vmFilePush");
    const bool install = task.scriptCode == QLatin1String("appInstall");
    if (!push && !install)
        return refuseTask(task, 400, QStringLiteral("unknown scriptCode"));
    if (task.codes.isEmpty())
        return refuseTask(task, 400, QStringLiteral("no phones in codes"));

    QVector<CloudState::Phone> phones;
    for (const QString &code : qAsConst(task.codes)) {
        const std::optional<CloudState::Phone> phone = m_state.findPhone(code);
        if (!phone || phone->serverSn != code || phone->ownerId != user.id)
            return refuseTask(task, 403, QStringLiteral("phone %1 is not the user's").arg(code));
        if (phone->isExpired())
            return refuseTask(task, 403, QStringLiteral("phone %1 has expired").arg(code));
        phones.append(*phone);
    }

    std::optional<File> file;
    {
        QMutexLocker lock(&m_mutex);
        for (const File &candidate : qAsConst(m_files)) {
            if (candidate.uid == task.fileUid && candidate.userId == user.id)
                file = candidate;
        }
    }
    if (!file)
        return refuseTask(task, 404, QStringLiteral("no such file"));
    // The file's URL names an object that a later upload under the same key
    // may have replaced: what the phone gets is what is stored now.
    qint64 size = 0;
    QString storedMd5;
    QString why;
    if (!findObject(user.id, file->url, &size, &storedMd5, &why))
        return refuseTask(task, 409, why);
    const QString md5 = task.params.value(QStringLiteral("md5")).toString().toLower();
    if (md5 != storedMd5)
        return refuseTask(task, 409, QStringLiteral("md5 does not match the file"));
    const QString fileName = task.params.value(QStringLiteral("fileName")).toString();
    if (fileName.isEmpty() || fileName.contains(QLatin1Char('/')))
        return refuseTask(task, 400, QStringLiteral("fileName missing or not a bare name"));

    if (push) {
        const QString destDir = task.params.value(QStringLiteral("destDir")).toString();
        if (!destDir.startsWith(QLatin1String("/storage/emulated/0")) || destDir.contains(QLatin1String("..")))
            return refuseTask(task, 400, QStringLiteral("destDir outside the phone's storage"));
        QString dir = destDir;
        while (dir.endsWith(QLatin1Char('/')))
            dir.chop(1);
        for (const CloudState::Phone &phone : qAsConst(phones))
            m_farm.pushFileInfo(phone.padCode, dir + QLatin1Char('/') + fileName, size, storedMd5);
    } else {
        if (!fileName.endsWith(QLatin1String(".apk"), Qt::CaseInsensitive))
            return refuseTask(task, 400, QStringLiteral("not an APK"));
        const QString label = QFileInfo(fileName).completeBaseName();
        for (const CloudState::Phone &phone : qAsConst(phones))
            m_farm.installApp(phone.padCode, packageFor(fileName), label);
    }
    task.outcome = QStringLiteral("done");
    {
        QMutexLocker lock(&m_mutex);
        m_tasks.append(task);
    }
    m_log.addEvent(QStringLiteral("console_task"), task.toJson());
    return Reply{200, QJsonObject{{QStringLiteral("uid"), task.uid}}, QString()};
}

void ConsoleService::installAdmin(httplib::Server &admin)
{
    admin.Get("/admin/console/files", [this](const httplib::Request &, httplib::Response &response) {
        HttpUtil::sendJson(response, 200, QJsonObject{{QStringLiteral("files"), files()}});
    });
    admin.Get("/admin/console/tasks", [this](const httplib::Request &, httplib::Response &response) {
        HttpUtil::sendJson(response, 200, QJsonObject{{QStringLiteral("tasks"), tasks()}});
    });
    admin.Post("/admin/console/credentials/expire", [this](const httplib::Request &request,
                                                          httplib::Response &response) {
        QString phone = HttpUtil::fields(request).value(QStringLiteral("phone"));
        const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
        if (phone.isEmpty())
            phone = body.value(QStringLiteral("phone")).toString();
        const int count = expireCredentials(phone);
        m_log.console(QStringLiteral("admin console credentials expired for %1: %2")
                          .arg(phone.isEmpty() ? QStringLiteral("everybody") : phone)
                          .arg(count));
        HttpUtil::sendJson(response, 200, QJsonObject{{QStringLiteral("expired"), count}});
    });
}

QJsonArray ConsoleService::files() const
{
    QMutexLocker lock(&m_mutex);
    QJsonArray out;
    for (auto it = m_files.crbegin(); it != m_files.crend(); ++it)
        out.append(it->toJson());
    return out;
}

QJsonArray ConsoleService::tasks() const
{
    QMutexLocker lock(&m_mutex);
    QJsonArray out;
    for (auto it = m_tasks.crbegin(); it != m_tasks.crend(); ++it)
        out.append(it->toJson());
    return out;
}

int ConsoleService::expireCredentials(const QString &userPhone)
{
    std::optional<CloudState::User> user;
    if (!userPhone.isEmpty()) {
        user = m_state.userByPhone(userPhone);
        if (!user)
            return 0;
    }
    QHash<QString, qint32> keys;
    {
        QMutexLocker lock(&m_mutex);
        keys = m_issuedKeys;
    }
    int count = 0;
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        if ((!user || it.value() == user->id) && m_credentials.expire(it.key()))
            ++count;
    }
    return count;
}
