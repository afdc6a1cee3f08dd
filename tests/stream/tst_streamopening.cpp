#include "api/utils.h"
#include "resources/tarvixresources.h"
#include "stream/videorender.h"
#include "widgets/toast.h"

#include <QLabel>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

// A backend that answers every request with one fixed body.
class FakeBackend final : public QObject
{
public:
    FakeBackend()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    m_pending[socket] += socket->readAll();
                    const QByteArray &request = m_pending[socket];
                    const int end = request.indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    const QByteArray head = request.left(end).toLower();
                    const int at = head.indexOf("content-length:");
                    const int length = at < 0 ? 0 : head.mid(at + 15, head.indexOf("\r\n", at) - at - 15).trimmed().toInt();
                    if (request.size() < end + 4 + length)
                        return;
                    ++requests;
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: "
                                  + QByteArray::number(body.size()) + "\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }

    QByteArray body;
    int requests = 0;

private:
    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_pending;
};

namespace {

QByteArray answer(const QString &ip, int port, const QString &session, int user, const QString &pad)
{
    return QStringLiteral(R"({"code":200,"msg":"ok","data":{"padCode":"%5","resultInfo":{"sessionId":"%3","userId":%4,)"
                          R"("controlList":[{"controlInfoList":[{"controlIp":"%1","controlPort":%2}]}]}}})")
        .arg(ip)
        .arg(port)
        .arg(session)
        .arg(user)
        .arg(pad)
        .toUtf8();
}

} // namespace

class TestStreamOpening : public QObject
{
    Q_OBJECT

private:
    FakeBackend m_backend;

    // SetServerSN as the control window runs it: on a worker thread.
    void openOnWorker(VideoRender &view, const QString &sn)
    {
        QThread *worker = QThread::create([&view, sn] { view.SetServerSN(sn); });
        worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 20000);
        delete worker;
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase()
    {
        initTarvixResources();
        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = m_backend.base();
        Utils::overrideServiceBases(bases);
    }

    void refusedOpenings_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("toast");
        QTest::newRow("not json") << QByteArray("<html>") << QStringLiteral("投屏失败,请重试");
        QTest::newRow("refused") << QByteArray(R"({"code":500,"msg":"no","data":{}})") << QStringLiteral("投屏失败,请重试");
        QTest::newRow("no control list")
            << QByteArray(R"({"code":200,"msg":"ok","data":{"padCode":"P","resultInfo":{"sessionId":"s","userId":1,"controlList":[]}}})")
            << QStringLiteral("投屏失败,请重试");
        QTest::newRow("empty pad code") << answer("127.0.0.1", 9, "s", 1, "") << QStringLiteral("参数不完整");
        QTest::newRow("empty ip") << answer("", 9, "s", 1, "P") << QStringLiteral("参数不完整");
        QTest::newRow("empty session") << answer("127.0.0.1", 9, "", 1, "P") << QStringLiteral("参数不完整");
        QTest::newRow("zero port") << answer("127.0.0.1", 0, "s", 1, "P") << QStringLiteral("参数不完整");
        QTest::newRow("zero user") << answer("127.0.0.1", 9, "s", 0, "P") << QStringLiteral("参数不完整");
    }
    // The window stays with its background picture and the SN is shown.
    void refusedOpenings()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, toast);
        m_backend.body = body;
        Toast::instance()->window()->setText(QString());
        VideoRender view;
        view.show();
        openOnWorker(view, QStringLiteral("SN-1"));
        QTRY_COMPARE(Toast::instance()->window()->text(), toast);
        QVERIFY(!view.hasStream());
        QCOMPARE(view.findChild<QLabel *>(QStringLiteral("serverSn"))->text(), QStringLiteral("SN-1"));
        QCOMPARE(view.serverSn(), QStringLiteral("SN-1"));
        QVERIFY(view.isVisible());
    }

    void completeDataStartsStream()
    {
        m_backend.body = answer("127.0.0.1", 9, "session", 7, "PAD");
        VideoRender view;
        openOnWorker(view, QStringLiteral("SN-2"));
        QVERIFY(view.hasStream());
    }

    // Closed while the backend was still answering: nothing starts afterwards.
    void stoppedBeforeAnswerStartsNothing()
    {
        m_backend.body = answer("127.0.0.1", 9, "session", 7, "PAD");
        VideoRender view;
        // The answer reaches the view only through the event loop, after the stop.
        view.openServerSN(QStringLiteral("SN-3"));
        view.stopStream();
        QTest::qWait(1000);
        QVERIFY(!view.hasStream());
    }
};

QTEST_MAIN(TestStreamOpening)
#include "tst_streamopening.moc"
