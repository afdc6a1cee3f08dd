#include "tests/bos/stderrcapture.h"
#include "tests/support/localcloud.h"
#include "upload/bos/bce_log.h"
#include "upload/bos/client_impl.h"
#include "upload/bos/stream.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace bos;
using TestSupport::LocalCloud;

namespace {

const QString Bucket = QStringLiteral("tarvix-test");

struct Progress
{
    std::atomic<int> calls{0};
    std::atomic<int64_t> done{0};
    std::atomic<int64_t> total{0};
};

void onProgress(int64_t, int64_t done, int64_t total, void *data)
{
    auto *progress = static_cast<Progress *>(data);
    progress->calls++;
    progress->done = done;
    progress->total = total;
}

struct PutResult
{
    int ret = -1;
    QString code;
    QString requestId; // the one the client sent
    QString etag;
};

BceCredentials credentialsFrom(const QJsonObject &json)
{
    return BceCredentials{json.value(QStringLiteral("accessKeyId")).toString().toStdString(),
                          json.value(QStringLiteral("secretAccessKey")).toString().toStdString(),
                          json.value(QStringLiteral("sessionToken")).toString().toStdString()};
}

} // namespace

class TestBosLocalStore : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void putStoresExactBytes_data();
    void putStoresExactBytes();
    void keyKeepsBlanksPlusAndChinese();
    void refusalsAreFinal_data();
    void refusalsAreFinal();
    void serverErrors_data();
    void serverErrors();
    void cutTransferIsRetried();
    void slowStoreStillCompletes();
    void cancelStopsAtOnce();
    void fileShrunkUnderwayIsNotStored();
    void logsKeepSecrets();
    void warnThresholdLogsFailuresOnly();

private:
    QString writeFile(const QString &name, const QByteArray &data);
    PutResult put(const BceCredentials &credentials, const ClientOptions &options, const QString &key,
                  const QString &file, Progress *progress = nullptr, const std::atomic<bool> *cancel = nullptr);
    PutResult put(const QString &key, const QString &file);
    ClientOptions options() const;
    // The store's records of one request id, oldest first.
    QList<QJsonObject> attempts(const QString &requestId) const;
    QJsonObject stored(const QString &key) const;

    std::unique_ptr<LocalCloud> m_cloud;
    QTemporaryDir m_dir;
    QJsonObject m_credentials;
};

void TestBosLocalStore::initTestCase()
{
    set_bce_log_level(BCE_WARN);
    m_cloud = std::make_unique<LocalCloud>(QStringList{QStringLiteral("--seed"), QStringLiteral("empty")});
    QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
    m_credentials = m_cloud->issueStsCredentials(Bucket);
    QVERIFY(!m_credentials.isEmpty());
    QVERIFY(!m_credentials.value(QStringLiteral("sessionToken")).toString().isEmpty());
}

void TestBosLocalStore::init()
{
    QVERIFY(m_cloud->clearStoreFaults());
    QVERIFY(m_cloud->setStoreClockOffset(0));
}

QString TestBosLocalStore::writeFile(const QString &name, const QByteArray &data)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return QString();
    return path;
}

ClientOptions TestBosLocalStore::options() const
{
    ClientOptions options;
    options.endpoint = m_cloud->objectStoreEndpoint().toStdString();
    options.timeout = 60;
    return options;
}

PutResult TestBosLocalStore::put(const BceCredentials &credentials, const ClientOptions &options, const QString &key,
                                 const QString &file, Progress *progress, const std::atomic<bool> *cancel)
{
    PutResult result;
    ClientImpl client(credentials, options);
    auto stream = FileInputStream::open(file.toStdString());
    if (!stream)
        return result;
    PutObjectRequest request(Bucket.toStdString(), key.toStdString(), std::move(stream));
    request.set_storage_class("STANDARD");
    if (progress)
        request.set_progress_callback(onProgress, progress);
    request.set_cancel_flag(cancel);
    PutObjectResponse response;
    result.ret = client.put_object(request, response);
    result.code = QString::fromStdString(response.error().code);
    result.requestId = QString::fromStdString(request.request_id());
    result.etag = QString::fromStdString(response.etag());
    return result;
}

PutResult TestBosLocalStore::put(const QString &key, const QString &file)
{
    return put(credentialsFrom(m_credentials), options(), key, file);
}

QList<QJsonObject> TestBosLocalStore::attempts(const QString &requestId) const
{
    QList<QJsonObject> found;
    for (const QJsonValue &value : m_cloud->storeRequests()) {
        const QJsonObject request = value.toObject();
        if (request.value(QStringLiteral("request_id")).toString() == requestId)
            found.prepend(request);
    }
    return found;
}

QJsonObject TestBosLocalStore::stored(const QString &key) const
{
    for (const QJsonValue &value : m_cloud->storedObjects(Bucket)) {
        if (value.toObject().value(QStringLiteral("key")).toString() == key)
            return value.toObject();
    }
    return QJsonObject();
}

void TestBosLocalStore::putStoresExactBytes_data()
{
    QTest::addColumn<bool>("virtualHost");
    QTest::addColumn<int>("size");
    QTest::newRow("virtual-host style") << true << (3 * 1024 * 1024 + 17);
    QTest::newRow("path style") << false << (3 * 1024 * 1024 + 17);
    QTest::newRow("empty file") << true << 0;
}

void TestBosLocalStore::putStoresExactBytes()
{
    QFETCH(bool, virtualHost);
    QFETCH(int, size);
    QByteArray data(size, Qt::Uninitialized);
    for (char &byte : data)
        byte = char(QRandomGenerator::global()->bounded(256));
    const QString key = QStringLiteral("dir/%1-%2.bin").arg(virtualHost).arg(size);
    const QString file = writeFile(QStringLiteral("exact.bin"), data);
    ClientOptions opts = options();
    opts.use_virtual_host = virtualHost;
    Progress progress;
    const PutResult result = put(credentialsFrom(m_credentials), opts, key, file, &progress);
    QCOMPARE(result.ret, 0);

    const QString md5 = QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
    const QJsonObject object = stored(key);
    QCOMPARE(object.value(QStringLiteral("md5")).toString(), md5);
    QCOMPARE(qint64(object.value(QStringLiteral("size")).toDouble()), qint64(size));
    QCOMPARE(result.etag, md5);
    QCOMPARE(progress.done.load(), int64_t(size));
    QCOMPARE(progress.total.load(), int64_t(size));
    QVERIFY(size == 0 || progress.calls >= 2);

    const QList<QJsonObject> sent = attempts(result.requestId);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].value(QStringLiteral("style")).toString(),
             virtualHost ? QStringLiteral("virtual-host") : QStringLiteral("path"));
    // The header list as it went over the wire.
    QStringList names;
    for (const QJsonValue &header : sent[0].value(QStringLiteral("headers")).toArray())
        names << header.toArray().at(0).toString();
    names.removeAll(QStringLiteral("Accept")); // libcurl's own
    QCOMPARE(names, (QStringList{"Host", "User-Agent", "x-bce-storage-class", "x-bce-request-id", "x-bce-date",
                                 "x-bce-security-token", "Authorization", "Content-Length"}));
}

void TestBosLocalStore::keyKeepsBlanksPlusAndChinese()
{
    const QString name = QStringLiteral("my app+1 安装包 (v2).apk");
    const QString file = writeFile(name, QByteArray("payload"));
    QVERIFY(!file.isEmpty());
    const PutResult result = put(QStringLiteral("files/") + name, file);
    QCOMPARE(result.ret, 0);
    QCOMPARE(stored(QStringLiteral("files/") + name).value(QStringLiteral("size")).toInt(), 7);
}

void TestBosLocalStore::refusalsAreFinal_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("code");
    QTest::newRow("tampered signature") << "secret" << 403 << "SignatureDoesNotMatch";
    QTest::newRow("wrong token") << "token" << 403 << "InvalidSessionToken";
    QTest::newRow("no token") << "no-token" << 403 << "InvalidSessionToken";
    QTest::newRow("unknown key") << "key" << 403 << "InvalidAccessKeyId";
    QTest::newRow("expired credentials") << "expired" << 403 << "ExpiredToken";
    QTest::newRow("validity period over") << "period" << 403 << "RequestExpired";
    QTest::newRow("other bucket") << "bucket" << 403 << "AccessDenied";
    // Refused before the body: the answer still reaches the client mid-upload.
    QTest::newRow("wrong token, large body") << "token-large" << 403 << "InvalidSessionToken";
}

void TestBosLocalStore::refusalsAreFinal()
{
    QFETCH(QString, what);
    QFETCH(int, status);
    QFETCH(QString, code);
    QJsonObject issued = m_credentials;
    if (what == QLatin1String("expired") || what == QLatin1String("bucket")) {
        issued = m_cloud->issueStsCredentials(what == QLatin1String("bucket") ? QStringLiteral("another-bucket") : Bucket);
        if (what == QLatin1String("expired"))
            QVERIFY(m_cloud->expireStsCredentials(issued.value(QStringLiteral("accessKeyId")).toString()));
    }
    BceCredentials credentials = credentialsFrom(issued);
    if (what == QLatin1String("secret"))
        credentials.secret_access_key[0] = credentials.secret_access_key[0] == 'a' ? 'b' : 'a';
    else if (what.startsWith(QLatin1String("token")))
        credentials.security_token.back() = 'X';
    else if (what == QLatin1String("no-token"))
        credentials.security_token.clear();
    else if (what == QLatin1String("key"))
        credentials.access_key_id = "0000";
    else if (what == QLatin1String("period"))
        QVERIFY(m_cloud->setStoreClockOffset(1800)); // past the 1200 s period, not the credentials' hour

    const QString key = QStringLiteral("refused/") + what;
    const QByteArray body = what.endsWith(QLatin1String("large")) ? QByteArray(48 * 1024 * 1024, 'L') : QByteArray("abc");
    const PutResult result = put(credentials, options(), key, writeFile(QStringLiteral("refused.bin"), body));
    QCOMPARE(result.ret, status);
    QCOMPARE(result.code, code);
    QCOMPARE(attempts(result.requestId).size(), 1);
    QVERIFY(stored(key).isEmpty());
}

void TestBosLocalStore::serverErrors_data()
{
    QTest::addColumn<int>("faults");
    QTest::addColumn<int>("httpStatus");
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("ret");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("attemptCount");

    QTest::newRow("503 then success") << 1 << 503 << "json" << 0 << "" << 2;
    QTest::newRow("503 three times") << 3 << 503 << "json" << 503 << "ServiceUnavailable" << 3;
    QTest::newRow("502 not JSON, three times") << 3 << 502 << "text" << 1000 << "MalformedJson" << 3;
    QTest::newRow("500 empty, then success") << 1 << 500 << "empty" << 0 << "" << 2;
    QTest::newRow("501 is final") << 1 << 501 << "json" << 501 << "NotImplemented" << 1;
}

void TestBosLocalStore::serverErrors()
{
    QFETCH(int, faults);
    QFETCH(int, httpStatus);
    QFETCH(QString, body);
    QFETCH(int, ret);
    QFETCH(QString, code);
    QFETCH(int, attemptCount);
    QVERIFY(m_cloud->addStoreFault(QJsonObject{{"kind", "error"}, {"status", httpStatus}, {"body", body},
                                               {"count", faults}, {"bucket", Bucket}}));
    const QByteArray data(200 * 1024 + 3, 'x');
    const QString key = QStringLiteral("errors/%1-%2-%3").arg(faults).arg(httpStatus).arg(body);
    const PutResult result = put(key, writeFile(QStringLiteral("errors.bin"), data));
    QCOMPARE(result.ret, ret);
    QCOMPARE(result.code, code);

    const QList<QJsonObject> sent = attempts(result.requestId);
    QCOMPARE(sent.size(), attemptCount);
    for (int i = 0; i < sent.size(); ++i) {
        const bool last = i == sent.size() - 1;
        QCOMPARE(sent[i].value(QStringLiteral("status")).toInt(), last && ret == 0 ? 200 : httpStatus);
        // Every attempt sent the whole body again.
        QCOMPARE(qint64(sent[i].value(QStringLiteral("body_size")).toDouble()), qint64(data.size()));
    }
    QCOMPARE(stored(key).isEmpty(), ret != 0);
}

void TestBosLocalStore::cutTransferIsRetried()
{
    QVERIFY(m_cloud->addStoreFault(QJsonObject{{"kind", "cut"}, {"count", 1}}));
    QByteArray data(4 * 1024 * 1024 + 5, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 + i / 4096);
    const PutResult result = put(QStringLiteral("cut/whole.bin"), writeFile(QStringLiteral("cut.bin"), data));
    QCOMPARE(result.ret, 0);

    const QList<QJsonObject> sent = attempts(result.requestId);
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent[0].value(QStringLiteral("status")).toInt(), 0); // no answer: cut
    QVERIFY(sent[0].value(QStringLiteral("body_size")).toDouble() < data.size());
    QCOMPARE(sent[1].value(QStringLiteral("status")).toInt(), 200);
    QCOMPARE(stored(QStringLiteral("cut/whole.bin")).value(QStringLiteral("md5")).toString(),
             QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex()));
}

void TestBosLocalStore::slowStoreStillCompletes()
{
    QVERIFY(m_cloud->addStoreFault(QJsonObject{{"kind", "slow"}, {"bytesPerSecond", 512 * 1024}, {"count", 1}}));
    const QByteArray data(300 * 1024, 'w');
    const PutResult result = put(QStringLiteral("slow/s.bin"), writeFile(QStringLiteral("slow.bin"), data));
    QCOMPARE(result.ret, 0);
    QCOMPARE(attempts(result.requestId).size(), 1);
    QCOMPARE(stored(QStringLiteral("slow/s.bin")).value(QStringLiteral("md5")).toString(),
             QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex()));
}

void TestBosLocalStore::cancelStopsAtOnce()
{
    // A slow store keeps the upload running until the flag is set.
    QVERIFY(m_cloud->addStoreFault(QJsonObject{{"kind", "slow"}, {"bytesPerSecond", 1024 * 1024}, {"count", 1}}));
    const QByteArray data(16 * 1024 * 1024, 'c');
    const QString file = writeFile(QStringLiteral("cancel.bin"), data);
    Progress progress;
    std::atomic<bool> cancel{false};
    PutResult result;
    std::thread uploader([&] { result = put(credentialsFrom(m_credentials), options(), QStringLiteral("cancel/c.bin"), file,
                                            &progress, &cancel); });
    QTRY_VERIFY_WITH_TIMEOUT(progress.calls > 0, 20000);
    cancel = true;
    uploader.join();
    QCOMPARE(result.ret, 1001);
    QCOMPARE(result.code, QStringLiteral("Cancelled"));
    QVERIFY(progress.done < int64_t(data.size()));
    // One attempt, nothing stored once the store has read what was in
    // flight and seen the connection go.
    QTRY_COMPARE_WITH_TIMEOUT(attempts(result.requestId).size(), 1, 30000);
    QVERIFY(stored(QStringLiteral("cancel/c.bin")).isEmpty());
}

void TestBosLocalStore::fileShrunkUnderwayIsNotStored()
{
    const QString file = writeFile(QStringLiteral("shrinks.bin"), QByteArray(1024 * 1024, 's'));
    auto stream = FileInputStream::open(file.toStdString());
    QVERIFY(stream);
    QVERIFY(QFile::resize(file, 1000)); // after the stream took its size
    ClientImpl client(credentialsFrom(m_credentials), options());
    PutObjectRequest request(Bucket.toStdString(), "shrunk.bin", std::move(stream));
    PutObjectResponse response;
    QCOMPARE(client.put_object(request, response), 1001);
    QCOMPARE(QString::fromStdString(response.error().code), QStringLiteral("HttpExecuteFailure"));
    // Each attempt stopped short; the store kept none of them.
    QTRY_COMPARE(attempts(QString::fromStdString(request.request_id())).size(), 3);
    for (const QJsonObject &attempt : attempts(QString::fromStdString(request.request_id())))
        QCOMPARE(attempt.value(QStringLiteral("status")).toInt(), 0);
    QVERIFY(stored(QStringLiteral("shrunk.bin")).isEmpty());
}

void TestBosLocalStore::logsKeepSecrets()
{
    QVERIFY(m_cloud->addStoreFault(QJsonObject{{"kind", "error"}, {"status", 503}, {"count", 1}}));
    const std::string secret = m_credentials.value(QStringLiteral("secretAccessKey")).toString().toStdString();
    const std::string token = m_credentials.value(QStringLiteral("sessionToken")).toString().toStdString();
    QByteArray log;
    {
        set_bce_log_level(BCE_DEBUG);
        StderrCapture capture;
        const PutResult result = put(QStringLiteral("logs/l.bin"), writeFile(QStringLiteral("log.bin"), "log me"));
        log = capture.text();
        set_bce_log_level(BCE_WARN);
        QCOMPARE(result.ret, 0);
    }
    // The trace is there, with every kind of line...
    QVERIFY(log.contains("canonical request: ["));
    QVERIFY(log.contains("=> Send header"));
    QVERIFY(log.contains("send_request do retry. last ret status:503 retry count:2"));
    QVERIFY(log.contains("request finished, PUT "));
    // ...and no secret in any form.
    for (const std::string &hidden : {secret, token, uri_encode(token, true), token.substr(0, 20)})
        QVERIFY2(!log.contains(QByteArray::fromStdString(hidden)), hidden.c_str());
}

void TestBosLocalStore::warnThresholdLogsFailuresOnly()
{
    QByteArray log;
    PutResult fine, unreachable;
    {
        StderrCapture capture;
        fine = put(QStringLiteral("logs/quiet.bin"), writeFile(QStringLiteral("quiet.bin"), "quiet"));
        ClientOptions nowhere = options();
        nowhere.endpoint = "http://127.0.0.1:1"; // nothing listens there
        unreachable = put(credentialsFrom(m_credentials), nowhere, QStringLiteral("logs/nowhere.bin"),
                          writeFile(QStringLiteral("nowhere.bin"), "nowhere"));
        log = capture.text();
    }
    QCOMPARE(fine.ret, 0);
    QCOMPARE(unreachable.ret, 1001);
    QCOMPARE(unreachable.code, QStringLiteral("HttpExecuteFailure"));
    QVERIFY(!log.contains("request finished"));
    // A failed transfer is tried three times, each failure logged.
    const QList<QByteArray> lines = log.split('\n');
    int failed = 0;
    for (const QByteArray &line : lines) {
        if (!line.contains("request failed"))
            continue;
        ++failed;
        QVERIFY2(QRegularExpression(QStringLiteral("^\\[WARN\\]\\d{8} \\d\\d:\\d\\d:\\d\\d\\.\\d{1,3} http_client\\.cpp:\\d+ "
                                                   "curl:\\S+ request failed, returns:\\(7\\)"))
                     .match(QString::fromUtf8(line))
                     .hasMatch(),
                 line.constData());
    }
    QCOMPARE(failed, 3);
    QCOMPARE(log.count("http execute error: (1001)BOS client occurs error"), 3);
}

QTEST_GUILESS_MAIN(TestBosLocalStore)
#include "tst_bos_localstore.moc"
