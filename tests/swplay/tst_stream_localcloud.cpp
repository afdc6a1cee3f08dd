// The whole road of a stream without a window: sign in at a real local cloud,
// fetch the control data through the client's own operation, open a session
// with it and operate the phone; the admin API tells what reached the phone.

#include "api/phonerecord.h"
#include "app/appevent.h"
#include "api/utils.h"
#include "tests/support/localcloud.h"
#include "tests/support/tempsettings.h"
#include "tests/swplay/testview.h"

#include <QJsonArray>
#include <QtTest>

class TestStreamLocalCloud final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_cloud.isReady(), qPrintable(m_cloud.errorString()));
        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = m_cloud.apiBase();
        Utils::overrideServiceBases(bases);
        SWRuntime::getInstance()->setTimeouts(2000, 2000, 5000, 200);

        QVERIFY(Utils::instance()->sendMsg(TestSupport::LocalCloud::demoPhone()));
        const QString code = m_cloud.smsCode(TestSupport::LocalCloud::demoPhone());
        QCOMPARE(Utils::instance()->login(TestSupport::LocalCloud::demoPhone(), code), QString());

        // The first phone rented for at least another hour.
        const QVector<PhoneRecord> phones = PhoneRecord::listFromAnswer(Utils::instance()->serverList().toUtf8());
        const QDateTime inAnHour = QDateTime::currentDateTime().addSecs(3600);
        for (const PhoneRecord &p : phones) {
            if (QDateTime::fromString(p.endTime, QStringLiteral("yyyy-MM-dd HH:mm:ss")) > inAnHour) {
                m_serverSn = p.serverSn;
                break;
            }
        }
        QVERIFY(!m_serverSn.isEmpty());
    }

    void sessionFromARealFlowToken()
    {
        ControlInfo info;
        QVERIFY(Utils::instance()->fetchControlInfo(m_serverSn, &info));
        QVERIFY(info.isComplete());

        TestStream s;
        s.start(quint16(info.controlPort), info.sessionId.toUtf8(), info.padCode.toUtf8(), info.userId);
        QTRY_VERIFY_WITH_TIMEOUT(s.view.frames > 0, 2000);
        QCOMPARE(s.view.lastFrame().size(), QSize(720, 1280));

        const int x = 321;
        const int y = 654;
        const int none = -1;
        const float pressure = 0.0f;
        QCOMPARE(s.source->sendTouchEvent(0, 1, &x, &y, &pressure), 0);
        QCOMPARE(s.source->sendTouchEvent(1, 1, &none, &none, &pressure), 0);
        QJsonArray touches;
        QTRY_VERIFY_WITH_TIMEOUT((touches = m_cloud.phoneState(m_serverSn).value("touches").toArray()).size() >= 2, 5000);
        const QJsonObject down = touches.at(touches.size() - 2).toObject();
        QCOMPARE(down.value("x").toInt(), x);
        QCOMPARE(down.value("y").toInt(), y);

        // A kick through the operator's side ends the session with its reason.
        QVERIFY(m_cloud.kick(m_serverSn));
        QTRY_VERIFY_WITH_TIMEOUT(s.view.last(QStringLiteral("disconnected")).startsWith(QStringLiteral("disconnected:196613")),
                                 5000);
    }

    void forgedSessionIsRefused()
    {
        ControlInfo info;
        QVERIFY(Utils::instance()->fetchControlInfo(m_serverSn, &info));
        TestStream s;
        s.start(quint16(info.controlPort), "forged-" + info.sessionId.toUtf8(), info.padCode.toUtf8(), info.userId);
        QTRY_VERIFY_WITH_TIMEOUT(!s.view.last(QStringLiteral("disconnected")).isEmpty(), 10000);
        QVERIFY2(s.view.last(QStringLiteral("disconnected")).startsWith(QStringLiteral("disconnected:196621")),
                 qPrintable(s.view.events().join(',')));
        QCOMPARE(s.view.frames.load(), 0);
    }

private:
    TestSupport::TempSettings m_settings;
    TestSupport::LocalCloud m_cloud;
    QString m_serverSn;
};

QTEST_MAIN(TestStreamLocalCloud)
#include "tst_stream_localcloud.moc"
