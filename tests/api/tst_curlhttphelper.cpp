#include "api/curlhttphelper.h"
#include "app/logdestination.h"
#include "app/logger.h"
#include "tests/api/rawhttpserver.h"

#include <QTcpServer>
#include <QtTest>

#include <curl/curl.h>

namespace {

QMutex logMutex;
QStringList logLines;

void keepLogLine(const QString &message, int)
{
    QMutexLocker lock(&logMutex);
    logLines.append(message);
}

QStringList takeLogLines()
{
    QMutexLocker lock(&logMutex);
    return std::exchange(logLines, {});
}

enum Variant { PostForm, PostFormXToken, PostFormBearer, PostJsonBearer, GetXToken, GetBearer };

int call(Variant variant, const QByteArray &url, const QByteArray &body, QByteArray &answer, const QByteArray &token)
{
    CurlHttpHelper http;
    switch (variant) {
    case PostForm: return http.postForm(url, body, answer);
    case PostFormXToken: return http.postFormXToken(url, body, answer, token);
    case PostFormBearer: return http.postFormBearer(url, body, answer, token);
    case PostJsonBearer: return http.postJsonBearer(url, body, answer, token);
    case GetXToken: return http.getXToken(url, answer, token);
    case GetBearer: return http.getBearer(url, answer, token);
    }
    return -1;
}

// A port on which nothing listens: bound for a moment, then released.
quint16 deadPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

Q_DECLARE_METATYPE(Variant)

class TestCurlHttpHelper final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        Logging::Logger::instance().addDestination(Logging::DestinationFactory::makeFunctorDestination(&keepLogLine));
    }

    void sendsExactHeaderLines_data()
    {
        QTest::addColumn<Variant>("variant");
        QTest::addColumn<QByteArray>("requestLine");
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<QList<QByteArray>>("headers");

        const QByteArray form = "Content-Type:application/x-www-form-urlencoded";
        const QByteArray token = "tok-123";
        const QByteArray wideToken = QStringLiteral("tök令牌").toUtf8();
        QTest::newRow("postForm") << PostForm << QByteArray("POST /p?x=1 HTTP/1.1") << token
                                  << QList<QByteArray>{form};
        QTest::newRow("postFormXToken") << PostFormXToken << QByteArray("POST /p?x=1 HTTP/1.1") << token
                                        << QList<QByteArray>{form, "X-Token:Bearer tok-123"};
        QTest::newRow("postFormBearer") << PostFormBearer << QByteArray("POST /p?x=1 HTTP/1.1") << token
                                        << QList<QByteArray>{form, "Authorization:Bearer tok-123"};
        QTest::newRow("postJsonBearer") << PostJsonBearer << QByteArray("POST /p?x=1 HTTP/1.1") << token
                                        << QList<QByteArray>{"Content-Type:application/json; charset=utf-8",
                                                             "Authorization:Bearer tok-123"};
        QTest::newRow("getXToken") << GetXToken << QByteArray("GET /p?x=1 HTTP/1.1") << token
                                   << QList<QByteArray>{form, "X-Token:Bearer tok-123"};
        QTest::newRow("getBearer, UTF-8 token") << GetBearer << QByteArray("GET /p?x=1 HTTP/1.1") << wideToken
                                                << QList<QByteArray>{form, "Authorization:Bearer " + wideToken};
        QTest::newRow("line break in token dropped")
            << PostFormXToken << QByteArray("POST /p?x=1 HTTP/1.1") << QByteArray("ab\r\nEvil:1")
            << QList<QByteArray>{form, "X-Token:Bearer abEvil:1"};
    }

    void sendsExactHeaderLines()
    {
        QFETCH(Variant, variant);
        QFETCH(QByteArray, requestLine);
        QFETCH(QByteArray, token);
        QFETCH(QList<QByteArray>, headers);

        RawHttpServer server;
        server.setAnswer(200, "{\"code\":200}");
        // Bodies travel unchanged: encoding is the body builder's job.
        const QByteArray body = "b=1&a=x=y&c=+";
        QByteArray answer = "kept:";
        QCOMPARE(call(variant, server.baseUrl() + "/p?x=1", body, answer, token), 0);
        QCOMPARE(answer, QByteArray("kept:{\"code\":200}"));

        const QByteArray request = server.lastRequest();
        QVERIFY2(request.startsWith(requestLine + "\r\n"), request.constData());
        QList<QByteArray> sent;
        for (const QByteArray &line : RawHttpServer::headerLinesOf(request)) {
            if (line.startsWith("Content-Type") || line.startsWith("X-Token") || line.startsWith("Authorization")
                || line.startsWith("Evil"))
                sent.append(line);
        }
        QCOMPARE(sent, headers);
        // No user agent, nothing beyond what the operation asks for.
        QVERIFY(!request.contains("User-Agent"));
        if (requestLine.startsWith("POST"))
            QCOMPARE(RawHttpServer::bodyOf(request), body);
    }

    void errorStatusStillDeliversTheBody()
    {
        RawHttpServer server;
        server.setAnswer(500, "{\"code\":500,\"msg\":\"服务器错误\"}");
        QByteArray answer;
        QCOMPARE(CurlHttpHelper().postForm(server.baseUrl() + "/x", "a=1", answer), 0);
        QCOMPARE(QString::fromUtf8(answer), QStringLiteral("{\"code\":500,\"msg\":\"服务器错误\"}"));
    }

    void nothingListeningFails_data()
    {
        QTest::addColumn<Variant>("variant");
        QTest::newRow("postForm") << PostForm;
        QTest::newRow("postFormXToken") << PostFormXToken;
        QTest::newRow("getXToken") << GetXToken;
    }

    void nothingListeningFails()
    {
        QFETCH(Variant, variant);
        const QByteArray url = "http://127.0.0.1:" + QByteArray::number(deadPort()) + "/x";
        QByteArray answer;
        QCOMPARE(call(variant, url, "a=1", answer, "t"), int(CURLE_COULDNT_CONNECT));
        QVERIFY(answer.isEmpty());
    }

    // A server that takes the connection and never answers: the API's
    // requests give up like the short GETs instead of waiting for hours.
    void givesUpOnASilentServer_data()
    {
        QTest::addColumn<Variant>("variant");
        QTest::newRow("postForm") << PostForm;
        QTest::newRow("postFormXToken") << PostFormXToken;
        QTest::newRow("getXToken") << GetXToken;
    }

    void givesUpOnASilentServer()
    {
        QFETCH(Variant, variant);
        RawHttpServer server;
        server.setSilent(true);
        QByteArray answer;
        QCOMPARE(call(variant, server.baseUrl() + "/x", "a=1", answer, "t"), int(CURLE_OPERATION_TIMEDOUT));
        QCOMPARE(server.requests().size(), 1);
    }

    void logLinesKeepSecretsShort_data()
    {
        QTest::addColumn<Variant>("variant");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QStringList>("expectedLines");
        QTest::addColumn<QStringList>("secrets");

        const QString url = QStringLiteral("\"%1/p\"");
        QTest::newRow("postForm logs nothing")
            << PostForm << QByteArray("appkey=x") << QByteArray("{\"data\":{\"token\":\"abcdefghijklmnop\"}}")
            << QStringList{} << QStringList{"abcdefghijklmnop"};
        QTest::newRow("postFormXToken: two lines, session id shortened")
            << PostFormXToken << QByteArray("server_sn=S1")
            << QByteArray("{\"data\":{\"resultInfo\":{\"sessionId\":\"sess-0123456789\",\"userId\":7}}}")
            << QStringList{"INFO  * CurlHttpHelper>  Post url:  " + url
                               + "  parmas:  \"server_sn=S1\"  result1:  \"{\\\"data\\\":{\\\"resultInfo\\\":{\\\"sessionId\\\":\\\"sess***\\\",\\\"userId\\\":7}}}\" ",
                           "INFO  * ---RES--- Post url: " + url + " ---res: 0 "}
            << QStringList{"sess-0123456789"};
        QTest::newRow("getXToken: console token shortened")
            << GetXToken << QByteArray()
            << QByteArray("{\"code\":200,\"data\":{\"access_token\":\"console-secret-42\"}}")
            << QStringList{"INFO  * CurlHttpHelper>  Get url:  " + url
                           + "  result:  \"{\\\"code\\\":200,\\\"data\\\":{\\\"access_token\\\":\\\"cons***\\\"}}\" "}
            << QStringList{"console-secret-42"};
        QTest::newRow("getBearer: object-store keys shortened")
            << GetBearer << QByteArray()
            << QByteArray("{\"data\":{\"accessKeyId\":\"AK1\",\"secretAccessKey\":\"sk-abcdefghij\",\"sessionToken\":\"st-abcdefghij\"}}")
            << QStringList{"INFO  * CurlHttpHelper>  Get url:  " + url
                           + "  result:  \"{\\\"data\\\":{\\\"accessKeyId\\\":\\\"AK1\\\",\\\"secretAccessKey\\\":\\\"sk-a***\\\",\\\"sessionToken\\\":\\\"st-a***\\\"}}\" "}
            << QStringList{"sk-abcdefghij", "st-abcdefghij"};
        QTest::newRow("postFormBearer: form token field shortened")
            << PostFormBearer << QByteArray("name=a.apk&token=form-secret-99")
            << QByteArray("{}")
            << QStringList{"INFO  * CurlHttpHelper>  Post url:  " + url
                           + "  parmas:  \"name=a.apk&token=form***\"  result:  \"{}\" "}
            << QStringList{"form-secret-99"};
    }

    void logLinesKeepSecretsShort()
    {
        QFETCH(Variant, variant);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, expectedLines);
        QFETCH(QStringList, secrets);

        RawHttpServer server;
        server.setAnswer(200, answer);
        takeLogLines();
        QByteArray received;
        QCOMPARE(call(variant, server.baseUrl() + "/p", body, received, "header-token-secret"), 0);
        QCOMPARE(received, answer);

        QStringList lines = takeLogLines();
        // The timestamp varies; everything else is fixed.
        static const QRegularExpression stamp(QStringLiteral("^(INFO  )\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
        for (QString &line : lines)
            line.replace(stamp, QStringLiteral("\\1* "));
        QStringList expected;
        for (const QString &line : expectedLines)
            expected << QString(line).replace(QStringLiteral("%1"), QString::fromUtf8(server.baseUrl()));
        QCOMPARE(lines, expected);
        for (const QString &secret : secrets + QStringList{"header-token-secret"})
            QVERIFY2(!lines.join('\n').contains(secret), qPrintable(secret));
    }
};

QTEST_GUILESS_MAIN(TestCurlHttpHelper)
#include "tst_curlhttphelper.moc"
