#include "tests/bos/stderrcapture.h"
#include "upload/bos/auth.h"
#include "upload/bos/bce_log.h"
#include "upload/bos/http_request.h"

#include <QRegularExpression>
#include <QtTest>

using namespace bos;
using Query = QList<QPair<QByteArray, QByteArray>>;

namespace {

HttpRequest putRequest(const std::string &host, const std::string &path)
{
    HttpRequest request;
    request.set_method(HTTP_METHOD_PUT);
    request.set_host(host);
    request.set_path(path);
    return request;
}

QByteArray q(const std::string &text)
{
    return QByteArray::fromStdString(text);
}

} // namespace

class TestBosSigner : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { set_bce_log_level(BCE_WARN); }

    void canonicalRequest_data();
    void canonicalRequest();
    void authorizationValue_data();
    void authorizationValue();
    void signAddsTokenBeforeAuthorization_data();
    void signAddsTokenBeforeAuthorization();
    void digestsAreLowerHex();
    void timestampIsUtcSeconds();
    void debugLogMasksToken();
};

void TestBosSigner::canonicalRequest_data()
{
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<Query>("query");
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("no token: four lines") << QByteArray("bj.bos.localhost") << QByteArray("/bkt/f.apk") << Query()
                                          << QByteArray() << QByteArray("PUT\n/bkt/f.apk\n\nhost:bj.bos.localhost");
    QTest::newRow("token line last, encoded with slash")
        << QByteArray("bj.bos.localhost") << QByteArray("/bkt/f.apk") << Query() << QByteArray("tok/en+=")
        << QByteArray("PUT\n/bkt/f.apk\n\nhost:bj.bos.localhost\nx-bce-security-token:tok%2Fen%2B%3D");
    QTest::newRow("blank and plus in path") << QByteArray("h") << QByteArray("/dir/a b+c.apk") << Query() << QByteArray()
                                            << QByteArray("PUT\n/dir/a%20b%2Bc.apk\n\nhost:h");
    QTest::newRow("UTF-8 path, upper-case escapes")
        << QByteArray("h") << QByteArray("/d/\xe4\xb8\xad\xe6\x96\x87.txt") << Query() << QByteArray()
        << QByteArray("PUT\n/d/%E4%B8%AD%E6%96%87.txt\n\nhost:h");
    QTest::newRow("unreserved characters stay") << QByteArray("h") << QByteArray("/a-b_c.d~e/F9") << Query()
                                                << QByteArray() << QByteArray("PUT\n/a-b_c.d~e/F9\n\nhost:h");
    QTest::newRow("host with port") << QByteArray("bkt.bj.bos.localhost:8080") << QByteArray("/f") << Query()
                                    << QByteArray() << QByteArray("PUT\n/f\n\nhost:bkt.bj.bos.localhost%3A8080");
    QTest::newRow("query sorted, empty value keeps =")
        << QByteArray("h") << QByteArray("/f") << Query{{"b", "2"}, {"a", ""}} << QByteArray()
        << QByteArray("PUT\n/f\na=&b=2\nhost:h");
    QTest::newRow("query trimmed and encoded, equal pairs once")
        << QByteArray("h") << QByteArray("/f") << Query{{" x ", "1/2"}, {"x\t", "1/2"}} << QByteArray()
        << QByteArray("PUT\n/f\nx=1%2F2\nhost:h");
}

void TestBosSigner::canonicalRequest()
{
    QFETCH(QByteArray, host);
    QFETCH(QByteArray, path);
    QFETCH(Query, query);
    QFETCH(QByteArray, token);
    QFETCH(QByteArray, expected);
    HttpRequest request = putRequest(host.toStdString(), path.toStdString());
    for (const auto &param : query)
        request.add_query(param.first.toStdString(), param.second.toStdString());
    QCOMPARE(q(DefaultSigner::canonical_request(request, token.toStdString())), expected);
}

void TestBosSigner::authorizationValue_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QByteArray>("expected");
    // Signatures computed apart from this code, with Python's hmac module.
    QTest::newRow("with token")
        << QByteArray("tok/en+=")
        << QByteArray("bce-auth-v1/AKIDEXAMPLE/2023-03-30T21:49:00Z/1200/host;x-bce-security-token/"
                      "da4e1168b690956cbe6ebc2602d6e5445c03adbbeac17206de6e8ed1a3152acb");
    QTest::newRow("without token")
        << QByteArray()
        << QByteArray("bce-auth-v1/AKIDEXAMPLE/2023-03-30T21:49:00Z/1200/host/"
                      "b827e5d5db1cf8c79c95984f1181331a0daa36bd59cf8dd027dc36485acbe537");
}

void TestBosSigner::authorizationValue()
{
    QFETCH(QByteArray, token);
    QFETCH(QByteArray, expected);
    const HttpRequest request = putRequest("bkt.bj.bos.localhost:8080", "/bkt/dir/a b+c.apk");
    const BceCredentials credentials{"AKIDEXAMPLE", "SECRETEXAMPLE", token.toStdString()};
    QCOMPARE(q(DefaultSigner::authorization(request, credentials, "2023-03-30T21:49:00Z", 1200)), expected);
}

void TestBosSigner::signAddsTokenBeforeAuthorization_data()
{
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QStringList>("headers");
    QTest::newRow("token") << QByteArray("raw/token+=") << QStringList{"x-bce-date:D", "x-bce-security-token:raw/token+=",
                                                                        "Authorization"};
    QTest::newRow("no token") << QByteArray() << QStringList{"x-bce-date:D", "Authorization"};
}

void TestBosSigner::signAddsTokenBeforeAuthorization()
{
    QFETCH(QByteArray, token);
    QFETCH(QStringList, headers);
    HttpRequest request = putRequest("h", "/b/k");
    request.set_header("x-bce-date", "D");
    DefaultSigner signer(BceCredentials{"AK", "SK", token.toStdString()}, 1200);
    signer.sign(request);
    QCOMPARE(int(request.headers().size()), headers.size());
    for (int i = 0; i < headers.size(); ++i)
        QVERIFY2(QString::fromStdString(request.headers()[size_t(i)]).startsWith(headers[i]),
                 request.headers()[size_t(i)].c_str());
    const QString auth = QString::fromStdString(request.header("Authorization"));
    // Default period: the prefix ends with the timestamp, a slash and 1200.
    QVERIFY2(QRegularExpression(QStringLiteral("^bce-auth-v1/AK/\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ/1200/host(;x-bce-"
                                               "security-token)?/[0-9a-f]{64}$"))
                 .match(auth)
                 .hasMatch(),
             qPrintable(auth));
    QCOMPARE(auth.contains(QLatin1String(";x-bce-security-token/")), !token.isEmpty());
}

void TestBosSigner::digestsAreLowerHex()
{
    // RFC 4231, test case 2.
    QCOMPARE(q(to_hex(hmac_sha256("Jefe", "what do ya want for nothing?"))),
             QByteArray("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"));
    QCOMPARE(q(to_hex(std::string("\x00\xab\xff", 3))), QByteArray("00abff"));
}

void TestBosSigner::timestampIsUtcSeconds()
{
    const QString stamp = QString::fromStdString(utc_timestamp());
    const QDateTime parsed = QDateTime::fromString(stamp, QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
    QVERIFY2(parsed.isValid(), qPrintable(stamp));
    QDateTime utc = parsed;
    utc.setTimeSpec(Qt::UTC);
    QVERIFY(qAbs(utc.secsTo(QDateTime::currentDateTimeUtc())) < 5);
}

void TestBosSigner::debugLogMasksToken()
{
    const std::string token = "SESSIONTOKEN/secret+value=";
    set_bce_log_level(BCE_DEBUG);
    StderrCapture capture;
    HttpRequest request = putRequest("h", "/b/k");
    DefaultSigner(BceCredentials{"AK", "SECRETKEY", token}, 1200).sign(request);
    const QByteArray log = capture.text();
    set_bce_log_level(BCE_WARN);
    QVERIFY2(log.contains("canonical request: [PUT\n/b/k\n\nhost:h\nx-bce-security-token:"), log.constData());
    QVERIFY(!log.contains("SESSIONTOKEN/secret"));
    QVERIFY(!log.contains(q(uri_encode(token, true))));
    QVERIFY(!log.contains("SECRETKEY"));
}

QTEST_GUILESS_MAIN(TestBosSigner)
#include "tst_bos_signer.moc"
