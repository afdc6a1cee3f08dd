// The console's file and task operations of Utils, and the object-store
// upload between them.

#include "api/curlhttphelper.h"
#include "api/formbody.h"
#include "api/secretmask.h"
#include "app/appevent.h"
#include "app/logger.h"
#include "api/utils.h"
#include "upload/bos/bce_log.h"
#include "upload/bos/client_impl.h"
#include "upload/bos/stream.h"
#include "upload/bos/upload_request.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>

namespace {

const QString GroupCode = QStringLiteral("o_mervane");

struct ConsoleAnswer
{
    int transport = 0;
    bool json = false;
    QJsonObject object;
    bool ok() const { return transport == 0 && json && object.value(QStringLiteral("httpStatus")).toInt() == 200; }
    QJsonObject data() const { return object.value(QStringLiteral("data")).toObject(); }
};

QByteArray consoleToken()
{
    // AppEvent reads it under the credentials lock.
    return AppEvent::instance()->consoleToken().toUtf8();
}

QByteArray consoleUrl(const QString &path)
{
    return (Utils::instance()->consoleBaseUrl() + path).toUtf8();
}

ConsoleAnswer judge(int transport, const QByteArray &answer)
{
    ConsoleAnswer result;
    result.transport = transport;
    qDebug() << transport << " - " << SecretMask::maskText(QString::fromUtf8(answer));
    if (transport != 0)
        return result;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(answer, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        qDebug() << "JSON格式错误";
        return result;
    }
    result.json = true;
    result.object = document.object();
    if (!result.ok())
        qDebug() << "error";
    return result;
}

ConsoleAnswer postJson(const QString &path, const QJsonObject &body)
{
    const QByteArray text = QJsonDocument(body).toJson(QJsonDocument::Compact);
    qDebug() << "json: " << QString::fromUtf8(text);
    QByteArray answer;
    const int ret = CurlHttpHelper().postJsonBearer(consoleUrl(path), text, answer, consoleToken());
    return judge(ret, answer);
}

// Transfers of every upload share one count; every 61st chunk reports.
std::atomic<int> g_progressCount{0};

struct ProgressContext
{
    const Utils::UploadProgress *progress = nullptr;
};

void onUploadProgress(int64_t, int64_t done, int64_t total, void *userData)
{
    if (++g_progressCount <= 60)
        return;
    g_progressCount = 0;
    auto *context = static_cast<ProgressContext *>(userData);
    if (context && context->progress && *context->progress && total > 0)
        (*context->progress)(int(done * 100 / total));
}

bool commitTask(const QString &scriptCode, const QString &fileName, const QString &fileUid, const QJsonObject &params,
                const QString &serverSn, const QString *batchUid)
{
    QJsonObject task{{QStringLiteral("groupCode"), GroupCode},
                     {QStringLiteral("description"), fileName},
                     {QStringLiteral("intervalMilSeconds"), 0},
                     {QStringLiteral("maxBatchConcurrent"), 200},
                     {QStringLiteral("fileUid"), fileUid},
                     {QStringLiteral("codes"), QJsonArray{serverSn}},
                     {QStringLiteral("scriptCode"), scriptCode},
                     {QStringLiteral("waitRound"), false},
                     {QStringLiteral("onlyPush"), false},
                     {QStringLiteral("params"), params}};
    if (batchUid)
        task.insert(QStringLiteral("batchUid"), *batchUid);
    return postJson(QStringLiteral("/console/task/commitV2"), task).ok();
}

} // namespace

QString Utils::fileMd5(const QString &filePath, const std::atomic<bool> *cancel)
{
    QFile file(filePath);
    qint64 remaining = file.size();
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Md5);
    // A bigger chunk than the classic 10 KiB: same digest, far fewer calls.
    QByteArray buffer(1024 * 1024, Qt::Uninitialized);
    while (remaining > 0) {
        if (cancel && cancel->load())
            return QString();
        const qint64 got = file.read(buffer.data(), qMin<qint64>(remaining, buffer.size()));
        if (got <= 0)
            break;
        hash.addData(buffer.constData(), int(got));
        remaining -= got;
    }
    return QString::fromLatin1(hash.result().toHex());
}

bool Utils::fetchStsCredentials()
{
    QByteArray answer;
    const int ret = CurlHttpHelper().getBearer(
        consoleUrl(QStringLiteral("/console/file/bosStsToken?groupCode=o_mervane")), answer, consoleToken());
    qDebug() << "ret" << ret;
    if (ret != 0) {
        qDebug() << "request error";
        return false;
    }
    const ConsoleAnswer result = judge(ret, answer);
    if (!result.ok())
        return false;
    const QJsonObject data = result.data();
    StsCredentials credentials;
    credentials.accessKeyId = data.value(QStringLiteral("accessKeyId")).toString();
    credentials.secretAccessKey = data.value(QStringLiteral("secretAccessKey")).toString();
    credentials.sessionToken = data.value(QStringLiteral("sessionToken")).toString();
    credentials.bucket = data.value(QStringLiteral("bucket")).toString();
    credentials.bucketPath = data.value(QStringLiteral("bucketPath")).toString();
    credentials.endpoint = data.value(QStringLiteral("endpoint")).toString();
    setStsCredentials(credentials);
    return true;
}

QString Utils::uploadToObjectStore(const QString &fileName, const QString &filePath, const UploadProgress &progress,
                                   const std::atomic<bool> *cancel)
{
    bos::set_bce_log_level(3);
    for (int attempt = 1; attempt <= MaxUploadAttempts; ++attempt) {
        if (attempt > 1) {
            // Expired or refused credentials are the usual cause: fetch new ones.
            fetchStsCredentials();
        }
        if (cancel && cancel->load())
            return QString();
        const StsCredentials sts = stsCredentials();
        const QString key = sts.bucketPath + QLatin1Char('/') + fileName;
        // Secrets stay out of the log: the key id names the set well enough.
        LOG_INFO() << "ak " << sts.accessKeyId;
        LOG_INFO() << "sk " << SecretMask::shorten(sts.secretAccessKey);
        LOG_INFO() << "sts_token " << SecretMask::shorten(sts.sessionToken);
        LOG_INFO() << "bucket " << sts.bucket;
        LOG_INFO() << "bucketPath " << key;
        qDebug() << "filePath: " << filePath;

        bos::ClientOptions options;
        options.endpoint = sts.endpoint.toStdString();
        options.timeout = 12000;
        bos::ClientImpl client(
            bos::BceCredentials{sts.accessKeyId.toStdString(), sts.secretAccessKey.toStdString(),
                                sts.sessionToken.toStdString()},
            options);
        int openError = 0;
        std::unique_ptr<bos::FileInputStream> stream = bos::FileInputStream::open(filePath.toStdString(), &openError);
        if (!stream) {
            LOG_INFO() << "CreateFileA failed";
            LOG_INFO() << "error code: " << openError;
            return QString();
        }
        bos::PutObjectRequest request(sts.bucket.toStdString(), key.toStdString(), std::move(stream));
        request.set_storage_class("STANDARD");
        ProgressContext context{&progress};
        request.set_progress_callback(&onUploadProgress, &context);
        request.set_cancel_flag(cancel);
        bos::PutObjectResponse response;
        client.put_object(request, response);
        if (response.is_ok()) {
            qDebug("request-id:%s\n", response.request_id().c_str());
            qDebug("debug-id:%s\n", response.debug_id().c_str());
            qDebug("etag: %s\n", response.etag().c_str());
            return QStringLiteral("%1/%2/%3").arg(sts.endpoint, sts.bucket, key);
        }
        const bos::BceError error = response.error();
        qDebug("error-message:%s\n", error.message.c_str());
        LOG_INFO() << "upload attempt " << attempt << " failed: " << response.status() << " "
                   << QString::fromStdString(error.code) << " " << QString::fromStdString(error.message);
        if (cancel && cancel->load())
            return QString();
    }
    return QString();
}

QString Utils::createConsoleFile(const QString &fileName, qint64 size, const QString &md5, const QString &url)
{
    // Encoded like every other form, so "&", "=", "+" and Chinese arrive as typed.
    const FormBody form{{QStringLiteral("groupCode"), GroupCode},
                        {QStringLiteral("md5"), md5},
                        {QStringLiteral("name"), fileName},
                        {QStringLiteral("own"), QStringLiteral("app")},
                        {QStringLiteral("pkg"), QString()},
                        {QStringLiteral("size"), QString::number(size)},
                        {QStringLiteral("unzipPassword"), QString()},
                        {QStringLiteral("url"), url},
                        {QStringLiteral("versionCode"), QStringLiteral("0")},
                        {QStringLiteral("versionName"), QString()}};
    QByteArray answer;
    const int ret = CurlHttpHelper().postFormBearer(consoleUrl(QStringLiteral("/console/file")), form.toByteArray(),
                                                    answer, consoleToken());
    const ConsoleAnswer result = judge(ret, answer);
    if (result.ok())
        return result.data().value(QStringLiteral("uid")).toString();
    if (result.json && result.object.value(QStringLiteral("message")).toString() == QLatin1String("sqlUniqueError"))
        return findConsoleFileUid(fileName);
    return QString();
}

QString Utils::findConsoleFileUid(const QString &fileName)
{
    const QJsonObject body{
        {QStringLiteral("conditions"),
         QJsonArray{QJsonObject{{QStringLiteral("key"), QStringLiteral("name")},
                                {QStringLiteral("operator"), QStringLiteral("eq")},
                                {QStringLiteral("value"), fileName}}}}};
    const ConsoleAnswer result = postJson(
        QStringLiteral("/console/file/list?size=500&page=0&sort=createTime,DESC:&groupCode=o_mervane&includeSubGroup=true"),
        body);
    if (!result.ok())
        return QString();
    const QJsonArray content = result.data().value(QStringLiteral("content")).toArray();
    if (content.isEmpty())
        return QString();
    return content.first().toObject().value(QStringLiteral("uid")).toString();
}

bool Utils::commitFilePush(const QString &fileName, const QString &fileUid, const QString &md5,
                           const QString &serverSn, const QString &, bool toRoot)
{
    const QJsonObject params{{QStringLiteral("md5"), md5},
                             {QStringLiteral("fileName"), fileName},
                             {QStringLiteral("destDir"), toRoot ? phoneRootDir() : phoneDownloadDir()}};
    return commitTask(QStringLiteral("vmFilePush"), fileName, fileUid, params, serverSn, nullptr);
}

bool Utils::commitAppInstall(const QString &fileName, const QString &fileUid, const QString &md5,
                             const QString &serverSn, const QString &batchUid)
{
    const QJsonObject params{{QStringLiteral("md5"), md5},
                             {QStringLiteral("fileName"), fileName},
                             {QStringLiteral("autoDelete"), true},
                             {QStringLiteral("builtIn"), false},
                             {QStringLiteral("pkg"), QString()}};
    return commitTask(QStringLiteral("appInstall"), fileName, fileUid, params, serverSn, &batchUid);
}
