#include "api/phonerecord.h"
#include "app/appevent.h"
#include "api/utils.h"
#include "resources/tarvixresources.h"
#include "stream/videorendermini.h"
#include "tests/support/localcloud.h"
#include "tests/support/screenshot.h"
#include "widgets/toast.h"

#include <QJsonArray>
#include <QLabel>
#include <QtTest>

#include <memory>

// The card's preview against a real local cloud: its own low-rate stream,
// thumbnails on the GUI thread, relayed input through its own session.
class TestVideoRenderMini : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestSupport::LocalCloud> m_cloud;
    QVector<PhoneRecord> m_phones;

    ControlInfo fetch(int phone)
    {
        ControlInfo info;
        if (!Utils::instance()->fetchControlInfo(m_phones.at(phone).serverSn, &info))
            qWarning("no connection data for %s", qPrintable(m_phones.at(phone).serverSn));
        return info;
    }

    static QImage picture(VideoRenderMini &preview)
    {
        return preview.findChild<QLabel *>(QStringLiteral("Content"))->pixmap(Qt::ReturnByValue).toImage();
    }

    int touchCount(int phone)
    {
        return m_cloud->phoneState(m_phones.at(phone).serverSn).value(QStringLiteral("touches")).toArray().size();
    }

private slots:
    void initTestCase()
    {
        initTarvixResources();
        m_cloud = std::make_unique<TestSupport::LocalCloud>();
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = m_cloud->apiBase();
        Utils::overrideServiceBases(bases);
        const QString token = m_cloud->signIn(TestSupport::LocalCloud::demoPhone());
        QVERIFY2(!token.isEmpty(), qPrintable(m_cloud->errorString()));
        AppEvent::instance()->setToken(token);
        m_phones = PhoneRecord::listFromAnswer(Utils::instance()->serverList().toUtf8());
        QVERIFY(m_phones.size() >= 2);
    }

    void cleanup()
    {
        if (QTest::currentTestFailed() && m_cloud)
            qWarning().noquote() << m_cloud->consoleLog().right(3000);
    }

    void disconnectReasons_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reason");
        QTest::newRow("kicked") << 196613 << QStringLiteral("被其他人踢掉");
        QTest::newRow("idle") << 196614 << QStringLiteral("无操作超时断开");
        QTest::newRow("session") << 196621 << QStringLiteral("session失效");
        QTest::newRow("refused") << 196809 << QStringLiteral("控制服务拒绝连接 串号");
        QTest::newRow("other") << 327681 << QStringLiteral("*********");
    }

    void disconnectReasons()
    {
        QFETCH(int, code);
        QFETCH(QString, reason);
        QCOMPARE(VideoRenderMini::disconnectReason(code), reason);
    }

    void startsWithPlaceholder()
    {
        VideoRenderMini preview;
        QCOMPARE(preview.objectName(), QStringLiteral("VideoRenderMini"));
        QCOMPARE(preview.geometry(), QRect(0, 0, 100, 170));
        QCOMPARE(picture(preview).size(), QSize(100, 170));
        QVERIFY(!preview.hasStream());
    }

    void incompleteDataStartsNothing()
    {
        VideoRenderMini preview;
        preview.show();
        ControlInfo info = fetch(0);
        info.padCode.clear();
        preview.openPreview(m_phones.at(0).serverTitle, info);
        QVERIFY(!preview.hasStream());
        QCOMPARE(Toast::instance()->window()->text(), QStringLiteral("参数不完整"));
    }

    // Live thumbnails; a relayed touch reaches the phone through the
    // preview's own session, a record relayed before the stream or with
    // arrays missing never does; placeholder and stop put the picture back.
    void streamsAndCarriesRelayedInput()
    {
        VideoRenderMini preview;
        preview.show();
        const QImage placeholder = picture(preview);
        const int atStart = touchCount(0);
        int early = 10;
        float pressure = 0.0f;
        preview.applyOperation(QStringLiteral("OnTouchEvent"), 0, &early, &early, &pressure, QString());
        preview.openPreview(m_phones.at(0).serverTitle, fetch(0));
        QVERIFY(preview.hasStream());
        QTRY_VERIFY_WITH_TIMEOUT(preview.frameCounters().shown >= 2, 15000);
        QCOMPARE(picture(preview).size(), QSize(100, 170));
        QVERIFY(picture(preview) != placeholder);
        // The library converts straight to the card's size: no full frame is held.
        QCOMPARE(QSize(preview.getDstWidth(), preview.getDstHeight()), QSize(100, 170));
        TestSupport::grabWidget(&preview, QStringLiteral("videorendermini-live"));

        int x = 360, y = 640;
        float f = 0.0f;
        // Incomplete records are skipped (and their arrays never read).
        preview.applyOperation(QStringLiteral("OnTouchEvent"), 0, &x, &y, nullptr, QString());
        preview.applyOperation(QStringLiteral("OnTouchEvent"), 0, nullptr, nullptr, nullptr, QString());
        preview.applyOperation(QStringLiteral("sendKeyEvent"), 3, nullptr, nullptr, nullptr, QString());
        preview.applyOperation(QStringLiteral("OnTouchEvent"), 0, &x, &y, &f, QString());
        x = -1;
        y = -1;
        preview.applyOperation(QStringLiteral("OnTouchEvent"), 1, &x, &y, &f, QString());
        // One connection carries them in order: once the last has arrived,
        // everything sent before it has too.
        QTRY_VERIFY_WITH_TIMEOUT(touchCount(0) >= atStart + 2, 10000);
        QCOMPARE(touchCount(0), atStart + 2);

        preview.showPlaceholder();
        QCOMPARE(picture(preview), placeholder);
        preview.stopPreview();
        QVERIFY(!preview.hasStream());
        const quint64 shown = preview.frameCounters().shown;
        QTest::qWait(2500);
        QCOMPARE(preview.frameCounters().shown, shown);
        QCOMPARE(picture(preview), placeholder);
    }

    // Paused (scrolled out of view): the farm's session ends, the last
    // picture stays; a view deleted right after a pause waits for it.
    void pauseKeepsTheLastPicture()
    {
        const auto sessions = [&] {
            return m_cloud->phoneState(m_phones.at(0).serverSn).value(QStringLiteral("sessions")).toArray().size();
        };
        QTRY_COMPARE_WITH_TIMEOUT(sessions(), 0, 10000);
        VideoRenderMini preview;
        preview.show();
        const QImage placeholder = picture(preview);
        preview.openPreview(m_phones.at(0).serverTitle, fetch(0));
        QTRY_VERIFY_WITH_TIMEOUT(preview.frameCounters().shown >= 1, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(sessions(), 1, 10000);
        preview.pausePreview();
        QVERIFY(!preview.hasStream());
        QTRY_COMPARE_WITH_TIMEOUT(sessions(), 0, 10000);
        QVERIFY(picture(preview) != placeholder);

        // Opened again: the stream comes back over the kept picture.
        preview.openPreview(m_phones.at(0).serverTitle, fetch(0));
        const quint64 shown = preview.frameCounters().shown;
        QTRY_VERIFY_WITH_TIMEOUT(preview.frameCounters().shown > shown, 15000);
        for (int i = 0; i < 5; ++i) {
            auto gone = std::make_unique<VideoRenderMini>();
            gone->openPreview(m_phones.at(1).serverTitle, fetch(1));
            QTest::qWait(50 * i);
            gone->pausePreview();
        }
        QVERIFY(preview.hasStream());
    }

    // A preview going away ends its own stream, not the others'.
    void endingOnePreviewKeepsTheOthers()
    {
        VideoRenderMini staying;
        auto leaving = std::make_unique<VideoRenderMini>();
        staying.openPreview(m_phones.at(1).serverTitle, fetch(1));
        leaving->openPreview(m_phones.at(0).serverTitle, fetch(0));
        QTRY_VERIFY_WITH_TIMEOUT(staying.frameCounters().received >= 1 && leaving->frameCounters().received >= 1,
                                 15000);
        leaving.reset();
        const quint64 received = staying.frameCounters().received;
        QTRY_VERIFY_WITH_TIMEOUT(staying.frameCounters().received >= received + 2, 10000);

        // A new start replaces the running stream.
        staying.openPreview(m_phones.at(1).serverTitle, fetch(1));
        const quint64 after = staying.frameCounters().received;
        QTRY_VERIFY_WITH_TIMEOUT(staying.frameCounters().received >= after + 2, 10000);
    }
};

QTEST_MAIN(TestVideoRenderMini)
#include "tst_videorendermini.moc"
