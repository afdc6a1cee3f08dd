#include "upload/bos/bce_log.h"
#include "upload/bos/bce_response.h"
#include "upload/bos/client_impl.h"
#include "upload/bos/http_request.h"
#include "upload/bos/http_response.h"
#include "upload/bos/stream.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace bos;

class TestBosHttp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { set_bce_log_level(BCE_FATAL); }

    void url();
    void headerLines_data();
    void headerLines();
    void bodies();
    void etag_data();
    void etag();
    void errorAnswers_data();
    void errorAnswers();
    void destination_data();
    void destination();
    void requestIdFormat();
    void fileStream();
};

void TestBosHttp::url()
{
    HttpRequest request;
    request.set_host("bj.bos.localhost:8080");
    request.set_path("/bkt/my dir/\xe4\xb8\xad a+b.apk");
    QCOMPARE(QString::fromStdString(request.url()),
             QStringLiteral("http://bj.bos.localhost:8080/bkt/my%20dir/%E4%B8%AD%20a%2Bb.apk"));
    request.add_query("uploads", "");
    request.add_query("prefix", "a/b c");
    QCOMPARE(QString::fromStdString(request.url()),
             QStringLiteral("http://bj.bos.localhost:8080/bkt/my%20dir/%E4%B8%AD%20a%2Bb.apk?prefix=a%2Fb%20c&uploads"));
    request.set_header("Expect", "");
    request.set_header("Content-Length", int64_t(0));
    QCOMPARE(request.headers()[0], std::string("Expect;"));
    QCOMPARE(request.headers()[1], std::string("Content-Length:0"));
}

void TestBosHttp::headerLines_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");

    QTest::newRow("status line") << QStringList{"HTTP/1.1 404 Not Found"} << true << 404 << "Not Found" << ""
                                 << "";
    QTest::newRow("two-word status line") << QStringList{"HTTP/1.1 200"} << false << 0 << "" << "" << "";
    QTest::newRow("status not a number") << QStringList{"HTTP/1.1 2x0 OK"} << false << 0 << "" << "" << "";
    QTest::newRow("empty lines ignored") << QStringList{"", "HTTP/1.1 200 OK", ""} << true << 200 << "OK" << ""
                                         << "";
    QTest::newRow("name lower-cased") << QStringList{"HTTP/1.1 200 OK", "ETag: \"abc\""} << true << 200 << "OK"
                                      << "etag" << "\"abc\"";
    QTest::newRow("value keeps colons") << QStringList{"HTTP/1.1 200 OK", "Location:  http://h:1/p "} << true << 200
                                        << "OK" << "location" << "http://h:1/p";
    QTest::newRow("last repeat wins") << QStringList{"HTTP/1.1 200 OK", "X-A: 1", "x-a: 2"} << true << 200 << "OK"
                                      << "x-a" << "2";
    QTest::newRow("header without colon") << QStringList{"HTTP/1.1 200 OK", "broken header"} << false << 200 << "OK"
                                          << "" << "";
    QTest::newRow("interim answer, then the real one")
        << QStringList{"HTTP/1.1 100 Continue", "", "HTTP/1.1 201 Created", "X-B: y"} << true << 201 << "Created"
        << "x-b" << "y";
}

void TestBosHttp::headerLines()
{
    QFETCH(QStringList, lines);
    QFETCH(bool, accepted);
    QFETCH(int, status);
    QFETCH(QString, reason);
    QFETCH(QString, name);
    QFETCH(QString, value);
    HttpResponse response;
    bool ok = true;
    for (const QString &line : lines)
        ok = ok && response.parse_line(line.toStdString());
    QCOMPARE(ok, accepted);
    QCOMPARE(response.status_code(), status);
    QCOMPARE(QString::fromStdString(response.reason()), reason);
    if (!name.isEmpty())
        QCOMPARE(QString::fromStdString(response.header(name.toStdString())), value);
}

void TestBosHttp::bodies()
{
    HttpResponse refused;
    QVERIFY(refused.parse_line("HTTP/1.1 403 Forbidden"));
    QCOMPARE(refused.write_body("{\"code\":", 8), size_t(8));
    QCOMPARE(refused.write_body("1}", 2), size_t(2));
    QCOMPARE(QString::fromStdString(refused.error_body()), QStringLiteral("{\"code\":1}"));

    HttpResponse fine;
    QVERIFY(fine.parse_line("HTTP/1.1 200 OK"));
    QCOMPARE(fine.write_body("dropped", 7), size_t(7));
    QVERIFY(fine.error_body().empty());

    refused.reset();
    QCOMPARE(refused.status_code(), 0);
    QVERIFY(refused.error_body().empty());
    QVERIFY(refused.parse_line("HTTP/1.1 200 OK"));
}

void TestBosHttp::etag_data()
{
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("expected");
    QTest::newRow("quoted") << "\"d41d8cd98f00b204e9800998ecf8427e\"" << "d41d8cd98f00b204e9800998ecf8427e";
    QTest::newRow("unquoted") << "abc" << "abc";
    QTest::newRow("one quote") << "\"" << "\"";
    QTest::newRow("two quotes") << "\"\"" << "";
    QTest::newRow("quote at one end") << "\"abc" << "\"abc";
}

void TestBosHttp::etag()
{
    QFETCH(QString, header);
    QFETCH(QString, expected);
    PutObjectResponse response;
    QVERIFY(response.http_response().parse_line("HTTP/1.1 200 OK"));
    QVERIFY(response.http_response().parse_line("ETag: " + header.toStdString()));
    response.handle_response();
    QVERIFY(response.is_ok());
    QCOMPARE(QString::fromStdString(response.etag()), expected);
}

void TestBosHttp::errorAnswers_data()
{
    QTest::addColumn<int>("httpStatus");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("message");

    QTest::newRow("store's JSON") << 403 << QByteArray(R"({"code":"SignatureDoesNotMatch","message":"m","requestId":"r"})")
                                  << 403 << "SignatureDoesNotMatch" << "m";
    QTest::newRow("not JSON") << 502 << QByteArray("<html>bad gateway</html>") << 1000 << "MalformedJson" << "";
    QTest::newRow("wrong types") << 500 << QByteArray(R"({"code":5,"message":"m","requestId":"r"})") << 1000
                                 << "MalformedJson" << "";
    QTest::newRow("empty body") << 500 << QByteArray() << 500 << "UnknownError" << "";
}

void TestBosHttp::errorAnswers()
{
    QFETCH(int, httpStatus);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, code);
    QFETCH(QString, message);
    PutObjectResponse response;
    QVERIFY(response.http_response().parse_line("HTTP/1.1 " + std::to_string(httpStatus) + " X"));
    QVERIFY(response.http_response().parse_line("x-bce-request-id: rid"));
    response.http_response().write_body(body.constData(), size_t(body.size()));
    response.handle_response();
    QVERIFY(response.is_fail());
    QCOMPARE(response.status(), status);
    QCOMPARE(QString::fromStdString(response.error().code), code);
    QCOMPARE(QString::fromStdString(response.error().message), message);
    QCOMPARE(QString::fromStdString(response.request_id()), QStringLiteral("rid"));
}

void TestBosHttp::destination_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<bool>("virtualHost");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("path");

    QTest::newRow("no scheme, service domain") << "bj.bos.localhost" << true << "http" << "b.bj.bos.localhost"
                                               << "/p/f.apk";
    QTest::newRow("scheme, port and a path dropped")
        << "https://bj.bos.localhost:8443/ignored/path" << true << "https" << "b.bj.bos.localhost:8443" << "/p/f.apk";
    QTest::newRow("outside the service domain") << "http://127.0.0.1:9000" << true << "http" << "127.0.0.1:9000"
                                                << "/b/p/f.apk";
    QTest::newRow("already names the bucket") << "http://b.bj.bos.localhost" << true << "http" << "b.bj.bos.localhost"
                                              << "/p/f.apk";
    QTest::newRow("bucket only a prefix of the first label")
        << "http://bx.bj.bos.localhost" << true << "http" << "b.bx.bj.bos.localhost" << "/p/f.apk";
    QTest::newRow("virtual host off") << "http://bj.bos.localhost" << false << "http" << "bj.bos.localhost"
                                      << "/b/p/f.apk";
}

void TestBosHttp::destination()
{
    QFETCH(QString, endpoint);
    QFETCH(bool, virtualHost);
    QFETCH(QString, scheme);
    QFETCH(QString, host);
    QFETCH(QString, path);
    ClientOptions options;
    options.endpoint = endpoint.toStdString();
    options.use_virtual_host = virtualHost;
    const Destination destination = resolve_destination(options, "b");
    QCOMPARE(QString::fromStdString(destination.scheme), scheme);
    QCOMPARE(QString::fromStdString(destination.host), host);
    QCOMPARE(QString::fromStdString(ObjectRequest("b", "p/f.apk").path(destination.bucket_in_host)), path);
}

void TestBosHttp::requestIdFormat()
{
    const QString first = QString::fromStdString(generate_request_id());
    QVERIFY2(QRegularExpression(QStringLiteral("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$"))
                 .match(first)
                 .hasMatch(),
             qPrintable(first));
    QVERIFY(first != QString::fromStdString(generate_request_id()));
}

void TestBosHttp::fileStream()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("数据 a+b.bin"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("0123456789");
    file.close();

    auto stream = FileInputStream::open(path.toStdString());
    QVERIFY(stream);
    QCOMPARE(stream->size(), int64_t(10));
    std::string text;
    QCOMPARE(stream->read(&text, 4), int64_t(4));
    QCOMPARE(QByteArray::fromStdString(text), QByteArray("0123"));
    QCOMPARE(stream->read(&text, 100), int64_t(6)); // clamped to what remains
    QCOMPARE(QByteArray::fromStdString(text), QByteArray("456789"));
    QCOMPARE(stream->read(&text, 4), int64_t(0));
    QCOMPARE(stream->seek(2), 0);
    QCOMPARE(stream->tell(), int64_t(2));
    QCOMPARE(stream->read(&text, 3), int64_t(3));
    QCOMPARE(QByteArray::fromStdString(text), QByteArray("234"));

    // A window of the file, over a handle the stream duplicates.
    QVERIFY(file.open(QIODevice::ReadOnly));
    FileInputStream window(file.handle(), 3, 4, false);
    file.close();
    QCOMPARE(window.size(), int64_t(4));
    QCOMPARE(window.read(&text, 10), int64_t(4));
    QCOMPARE(QByteArray::fromStdString(text), QByteArray("3456"));
    QCOMPARE(window.seek(1), 0);
    QCOMPARE(window.read(&text, 10), int64_t(3));
    QCOMPARE(QByteArray::fromStdString(text), QByteArray("456"));

    int error = 0;
    QVERIFY(!FileInputStream::open(dir.filePath(QStringLiteral("missing")).toStdString(), &error));
    QCOMPARE(error, ENOENT);
    QVERIFY(!FileInputStream::open(dir.path().toStdString(), &error));
}

QTEST_GUILESS_MAIN(TestBosHttp)
#include "tst_bos_http.moc"
