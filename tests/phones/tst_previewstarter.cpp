#include "phones/previewstarter.h"

#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>

// Preview starts: one at a time off the GUI thread, results back on it,
// nothing for a card that has gone.
class TestPreviewStarter : public QObject
{
    Q_OBJECT

private slots:
    void startsOneAtATimeInOrder()
    {
        std::atomic<int> running{0};
        std::atomic<int> mostAtOnce{0};
        std::atomic<bool> offGuiThread{true};
        PreviewStarter starter(nullptr, [&](const QString &sn, ControlInfo *out) {
            const int now = ++running;
            mostAtOnce = qMax(mostAtOnce.load(), now);
            if (QThread::currentThread() == QCoreApplication::instance()->thread())
                offGuiThread = false;
            QThread::msleep(15);
            out->padCode = QStringLiteral("pad-") + sn;
            --running;
            return sn != QLatin1String("SN2");
        });

        QObject card;
        QStringList done;
        bool allOnGuiThread = true;
        for (int i = 0; i < 5; ++i) {
            const QString sn = QStringLiteral("SN%1").arg(i);
            starter.start(&card, sn, [&, sn](bool ok, const ControlInfo &info) {
                allOnGuiThread = allOnGuiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
                done << QStringLiteral("%1:%2:%3").arg(sn).arg(ok).arg(info.padCode);
            });
        }
        QTRY_COMPARE(done.size(), 5);
        QCOMPARE(mostAtOnce.load(), 1);
        QVERIFY(offGuiThread);
        QVERIFY(allOnGuiThread);
        QCOMPARE(done, (QStringList{"SN0:1:pad-SN0", "SN1:1:pad-SN1", "SN2:0:pad-SN2", "SN3:1:pad-SN3",
                                    "SN4:1:pad-SN4"}));
        QCOMPARE(starter.waiting(), 0);
    }

    // Waiting starts of a deleted card are dropped; so is the one on the
    // wire when the card goes before the answer.
    void goneCardsGetNothing()
    {
        QSemaphore onWire;
        QSemaphore release;
        QStringList fetched;
        PreviewStarter starter(nullptr, [&](const QString &sn, ControlInfo *) {
            fetched << sn;
            onWire.release();
            release.acquire();
            return true;
        });

        auto *gone = new QObject;
        QObject stays;
        int goneDone = 0;
        int staysDone = 0;
        starter.start(gone, QStringLiteral("A"), [&](bool, const ControlInfo &) { ++goneDone; });
        starter.start(gone, QStringLiteral("B"), [&](bool, const ControlInfo &) { ++goneDone; });
        starter.start(&stays, QStringLiteral("C"), [&](bool, const ControlInfo &) { ++staysDone; });
        QVERIFY(onWire.tryAcquire(1, 5000)); // "A" is being fetched
        starter.cancel(gone);
        delete gone;
        QCOMPARE(starter.waiting(), 1);
        release.release(2);

        QTRY_COMPARE(staysDone, 1);
        QTest::qWait(50);
        QCOMPARE(goneDone, 0);
        QCOMPARE(fetched, (QStringList{QStringLiteral("A"), QStringLiteral("C")}));
    }

    // Deleting the starter drops what waits and lets the fetch on the wire end.
    void stopsWithStartsWaiting()
    {
        QSemaphore onWire;
        std::atomic<int> calls{0};
        QObject card;
        int done = 0;
        {
            PreviewStarter starter(nullptr, [&](const QString &, ControlInfo *) {
                ++calls;
                onWire.release();
                QThread::msleep(50);
                return true;
            });
            for (int i = 0; i < 4; ++i)
                starter.start(&card, QString::number(i), [&](bool, const ControlInfo &) { ++done; });
            QVERIFY(onWire.tryAcquire(1, 5000));
        }
        QCOMPARE(calls.load(), 1);
        QCoreApplication::processEvents();
        QVERIFY(done <= 1);
    }

    // Cards on screen go before the kept ones still waiting, in the order
    // asked for among each; a card's start counts as waiting until it begins.
    void onScreenStartsGoFirst()
    {
        QSemaphore onWire;
        QSemaphore release;
        QStringList fetched;
        PreviewStarter starter(nullptr, [&](const QString &sn, ControlInfo *) {
            fetched << sn;
            onWire.release();
            release.acquire();
            return true;
        });
        QObject first, kept1, kept2, seen1, seen2;
        const auto nothing = [](bool, const ControlInfo &) {};
        starter.start(&first, QStringLiteral("first"), nothing);
        QVERIFY(onWire.tryAcquire(1, 5000)); // on the wire, no longer waiting
        QVERIFY(!starter.isWaiting(&first));
        starter.start(&kept1, QStringLiteral("kept1"), nothing, PreviewStarter::Priority::Background);
        starter.start(&kept2, QStringLiteral("kept2"), nothing, PreviewStarter::Priority::Background);
        starter.start(&seen1, QStringLiteral("seen1"), nothing);
        starter.start(&seen2, QStringLiteral("seen2"), nothing);
        QVERIFY(starter.isWaiting(&kept1) && starter.isWaiting(&seen2));
        QCOMPARE(starter.waiting(), 4);
        // Dropped before its turn: no longer waiting, never fetched.
        QCOMPARE(starter.cancel(&kept1), 1);
        QVERIFY(!starter.isWaiting(&kept1));
        QCOMPARE(starter.waiting(), 3);
        release.release(4);
        QTRY_COMPARE(fetched.size(), 4);
        QCOMPARE(fetched, (QStringList{"first", "seen1", "seen2", "kept2"}));
        QTRY_COMPARE(starter.waiting(), 0);
    }
};

QTEST_GUILESS_MAIN(TestPreviewStarter)
#include "tst_previewstarter.moc"
