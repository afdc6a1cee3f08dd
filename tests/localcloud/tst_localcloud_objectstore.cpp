// The object store's own rules, through raw HTTP against the real binary,
// signed here by hand.

#include "tests/support/localcloud.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using TestSupport::LocalCloud;

namespace {

const QByteArray Bucket = "tarvix-store";

struct Answer
{
    int status = 0;
    QMap<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

QByteArray encode(const QByteArray &text, bool encodeSlash)
{
    QByteArray out;
    for (const char ch : text) {
        const uchar c = uchar(ch);
        if (isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || (c == '/' && !encodeSlash))
            out += ch;
        else
            out += '%' + QByteArray::number(c, 16).rightJustified(2, '0').toUpper();
    }
    return out;
}

QByteArray hmacHex(const QByteArray &key, const QByteArray &message)
{
    return QMessageAuthenticationCode::hash(message, key, QCryptographicHash::Sha256).toHex();
}

// The signature part of an Authorization value for the given parts.
QByteArray signature(const QJsonObject &credentials, const QByteArray &timestamp, const QByteArray &method,
                     const QByteArray &path, const QByteArray &canonicalQuery, const QByteArray &host,
                     const QByteArray &token)
{
    const QByteArray prefix = "bce-auth-v1/" + credentials.value("accessKeyId").toString().toLatin1() + '/' + timestamp
                              + "/1200";
    const QByteArray key = hmacHex(credentials.value("secretAccessKey").toString().toLatin1(), prefix);
    const QByteArray canonical = method + '\n' + encode(path, false) + '\n' + canonicalQuery + "\nhost:"
                                 + encode(host, true) + "\nx-bce-security-token:" + encode(token, true);
    return hmacHex(key, canonical);
}

} // namespace

class TestLocalCloudObjectStore final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refusals_data();
    void refusals();
    void handSignedPutIsStoredAndListed();
    void cutTransferLeavesNoObject();
    void objectsSurviveARestart();

private:
    Answer send(const QByteArray &head, const QByteArray &body = QByteArray()) const;
    QByteArray signedHead(const QByteArray &path, const QByteArray &query, qint64 length) const;

    std::unique_ptr<LocalCloud> m_cloud;
    QJsonObject m_credentials;
};

void TestLocalCloudObjectStore::initTestCase()
{
    m_cloud = std::make_unique<LocalCloud>(QStringList{QStringLiteral("--seed"), QStringLiteral("empty")});
    QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
    m_credentials = m_cloud->issueStsCredentials(QString::fromLatin1(Bucket));
    QVERIFY(!m_credentials.isEmpty());
}

Answer TestLocalCloudObjectStore::send(const QByteArray &head, const QByteArray &body) const
{
    Answer answer;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), m_cloud->objectStorePort());
    if (!socket.waitForConnected(5000))
        return answer;
    socket.write(head + "Connection: close\r\n\r\n" + body);
    QByteArray raw;
    while (socket.waitForReadyRead(10000))
        raw += socket.readAll();
    raw += socket.readAll();
    const int end = raw.indexOf("\r\n\r\n");
    if (end < 0)
        return answer;
    const QList<QByteArray> lines = raw.left(end).split('\n');
    answer.status = lines.value(0).split(' ').value(1).toInt();
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        answer.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    answer.body = raw.mid(end + 4);
    return answer;
}

QByteArray TestLocalCloudObjectStore::signedHead(const QByteArray &path, const QByteArray &query, qint64 length) const
{
    const QByteArray host = "bj.bos.localhost:" + QByteArray::number(m_cloud->objectStorePort());
    const QByteArray token = m_credentials.value("sessionToken").toString().toLatin1();
    const QByteArray timestamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")).toLatin1();
    const QByteArray auth = "bce-auth-v1/" + m_credentials.value("accessKeyId").toString().toLatin1() + '/' + timestamp
                            + "/1200/host;x-bce-security-token/"
                            + signature(m_credentials, timestamp, "PUT", path, query, host, token);
    return "PUT " + encode(path, false) + (query.isEmpty() ? QByteArray() : '?' + query) + " HTTP/1.1\r\nHost: " + host
           + "\r\nx-bce-security-token: " + token + "\r\nAuthorization: " + auth
           + "\r\nContent-Length: " + QByteArray::number(length) + "\r\n";
}

void TestLocalCloudObjectStore::refusals_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("code");
    const QByteArray host = "Host: 127.0.0.1\r\n";
    QTest::newRow("no authorization") << "PUT /tarvix-store/k HTTP/1.1\r\n" + host + "Content-Length: 3\r\n" << 403
                                      << "AccessDenied";
    QTest::newRow("malformed authorization")
        << "PUT /tarvix-store/k HTTP/1.1\r\n" + host + "Authorization: bce-auth-v1/x\r\nContent-Length: 3\r\n" << 400
        << "InvalidAuthorization";
    QTest::newRow("other method") << "GET /tarvix-store/k HTTP/1.1\r\n" + host << 405 << "MethodNotAllowed";
    QTest::newRow("bad bucket name") << "PUT /Ab/k HTTP/1.1\r\n" + host + "Content-Length: 3\r\n" << 400
                                     << "InvalidBucketName";
    QTest::newRow("no key") << "PUT /tarvix-store/ HTTP/1.1\r\n" + host + "Content-Length: 3\r\n" << 400
                            << "InvalidObjectName";
    QTest::newRow("broken escape") << "PUT /tarvix-store/a%zz HTTP/1.1\r\n" + host + "Content-Length: 3\r\n" << 400
                                   << "InvalidURI";
    QTest::newRow("no length") << "PUT /tarvix-store/k HTTP/1.1\r\n" + host << 411 << "MissingContentLength";
    QTest::newRow("chunked") << "PUT /tarvix-store/k HTTP/1.1\r\n" + host + "Transfer-Encoding: chunked\r\n" << 411
                             << "MissingContentLength";
}

void TestLocalCloudObjectStore::refusals()
{
    QFETCH(QByteArray, head);
    QFETCH(int, status);
    QFETCH(QString, code);
    const Answer answer = send(head + "x-bce-request-id: rid-1\r\n", head.contains("Content-Length: 3") ? "abc" : "");
    QCOMPARE(answer.status, status);
    QCOMPARE(answer.json().value("code").toString(), code);
    QVERIFY(!answer.json().value("message").toString().isEmpty());
    QCOMPARE(answer.json().value("requestId").toString(), QStringLiteral("rid-1"));
    QCOMPARE(answer.headers.value("x-bce-request-id"), QByteArray("rid-1"));
    QVERIFY(!answer.headers.value("x-bce-debug-id").isEmpty());
}

void TestLocalCloudObjectStore::handSignedPutIsStoredAndListed()
{
    const QByteArray path = "/tarvix-store/手 signed+1.txt";
    const QByteArray body = "signed by hand";
    // Query parameters are signed too, sorted and encoded.
    const Answer answer = send(signedHead(path, "b=2&a=", body.size()), body);
    QCOMPARE(answer.status, 403); // signed without the query: refused
    QCOMPARE(answer.json().value("code").toString(), QStringLiteral("SignatureDoesNotMatch"));

    const QByteArray head = signedHead(path, "a=&b=2", body.size());
    const Answer stored = send(head, body);
    QCOMPARE(stored.status, 200);
    const QByteArray md5 = QCryptographicHash::hash(body, QCryptographicHash::Md5).toHex();
    QCOMPARE(stored.headers.value("etag"), '"' + md5 + '"');
    QVERIFY(!stored.headers.value("x-bce-request-id").isEmpty());

    const QJsonArray objects = m_cloud->storedObjects(QString::fromLatin1(Bucket));
    bool found = false;
    for (const QJsonValue &value : objects) {
        const QJsonObject object = value.toObject();
        if (object.value("key").toString() == QStringLiteral("手 signed+1.txt")) {
            found = true;
            QCOMPARE(object.value("md5").toString().toLatin1(), md5);
            QCOMPARE(object.value("size").toInt(), body.size());
        }
    }
    QVERIFY(found);

    // The request list holds what it takes to check the signature again.
    const QJsonObject last = m_cloud->storeRequests(1).at(0).toObject();
    QCOMPARE(last.value("path").toString(), QString::fromUtf8(path));
    QCOMPARE(last.value("body_size").toInt(), body.size());
    QStringList names;
    for (const QJsonValue &header : last.value("headers").toArray())
        names << header.toArray().at(0).toString();
    QCOMPARE(names, (QStringList{"Host", "x-bce-security-token", "Authorization", "Content-Length", "Connection"}));
    const QByteArray auth = last.value("headers").toArray().at(2).toArray().at(1).toString().toLatin1();
    const QByteArray token = last.value("headers").toArray().at(1).toArray().at(1).toString().toLatin1();
    const QByteArray hostHeader = last.value("headers").toArray().at(0).toArray().at(1).toString().toLatin1();
    QCOMPARE(auth.split('/').value(5), signature(m_credentials, auth.split('/').value(2), "PUT", path, "a=&b=2",
                                                 hostHeader, token));
}

void TestLocalCloudObjectStore::cutTransferLeavesNoObject()
{
    QVERIFY(m_cloud->addStoreFault(QJsonObject{{"kind", "cut"}}));
    const QByteArray body(1024 * 1024, 'z');
    const Answer answer = send(signedHead("/tarvix-store/cut.bin", QByteArray(), body.size()), body);
    QCOMPARE(answer.status, 0); // no answer at all
    const QJsonObject last = m_cloud->storeRequests(1).at(0).toObject();
    QCOMPARE(last.value("status").toInt(), 0);
    QVERIFY(last.value("body_size").toInt() < body.size());
    for (const QJsonValue &value : m_cloud->storedObjects())
        QVERIFY(value.toObject().value("key").toString() != QLatin1String("cut.bin"));
    QVERIFY(QDir(m_cloud->stateDir() + QStringLiteral("/objectstore/tmp")).isEmpty());
}

void TestLocalCloudObjectStore::objectsSurviveARestart()
{
    const QByteArray body = "kept";
    QCOMPARE(send(signedHead("/tarvix-store/kept.txt", QByteArray(), body.size()), body).status, 200);
    const QJsonArray before = m_cloud->storedObjects();
    QVERIFY(m_cloud->restart());
    QCOMPARE(m_cloud->storedObjects(), before);
}

QTEST_GUILESS_MAIN(TestLocalCloudObjectStore)
#include "tst_localcloud_objectstore.moc"
