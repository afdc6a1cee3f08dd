#include "app/async.h"

#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <QtTest>

#include <atomic>

// The async helper: work off the calling thread, results back on the
// context's thread, nothing for a context that has gone or cancelled.
class TestAsync : public QObject
{
    Q_OBJECT

private slots:
    void resultReachesContextThread()
    {
        QObject context;
        QThread *worker = nullptr;
        QThread *deliveredOn = nullptr;
        int result = 0;
        Async::run(
            &context,
            [&worker] {
                worker = QThread::currentThread();
                return 42;
            },
            [&](int value) {
                deliveredOn = QThread::currentThread();
                result = value;
            });
        QTRY_COMPARE(result, 42);
        QVERIFY(worker && worker != QThread::currentThread());
        QCOMPARE(deliveredOn, QThread::currentThread());
    }

    void voidWorkStillReportsDone()
    {
        QObject context;
        std::atomic<bool> worked{false};
        bool done = false;
        Async::run(&context, [&worked] { worked = true; }, [&] { done = worked.load(); });
        QTRY_VERIFY(done);
    }

    // A context destroyed while its work runs gets no result.
    void goneContextGetsNothing()
    {
        QSemaphore started;
        QSemaphore release;
        auto *context = new QObject;
        bool delivered = false;
        Async::run(
            context,
            [&] {
                started.release();
                release.acquire();
                return true;
            },
            [&](bool) { delivered = true; });
        QVERIFY(started.tryAcquire(1, 5000));
        delete context;
        release.release();
        QTest::qWait(100);
        QVERIFY(!delivered);
    }

    // Work that has not started is dropped on cancel() and on destruction;
    // work of other contexts goes on in order.
    void pendingWorkIsDropped_data()
    {
        QTest::addColumn<bool>("destroyInsteadOfCancel");
        QTest::newRow("cancel") << false;
        QTest::newRow("destroyed") << true;
    }

    void pendingWorkIsDropped()
    {
        QFETCH(bool, destroyInsteadOfCancel);
        QThreadPool oneAtATime;
        oneAtATime.setMaxThreadCount(1);
        QSemaphore started;
        QSemaphore release;
        QStringList ran;
        QStringList done;
        QMutex ranMutex;
        auto work = [&](const QString &name, bool block) {
            return [&, name, block] {
                {
                    QMutexLocker lock(&ranMutex);
                    ran << name;
                }
                if (block) {
                    started.release();
                    release.acquire();
                }
                return name;
            };
        };
        auto note = [&done](const QString &name) { done << name; };

        QObject stays;
        auto *goes = new QObject;
        Async::run(&oneAtATime, &stays, work(QStringLiteral("first"), true), note);
        Async::run(&oneAtATime, goes, work(QStringLiteral("dropped1"), false), note);
        Async::run(&oneAtATime, goes, work(QStringLiteral("dropped2"), false), note);
        Async::run(&oneAtATime, &stays, work(QStringLiteral("last"), false), note);
        QVERIFY(started.tryAcquire(1, 5000));
        if (destroyInsteadOfCancel)
            delete goes;
        else
            QCOMPARE(Async::cancel(goes), 2);
        release.release();
        QTRY_COMPARE(done, (QStringList{QStringLiteral("first"), QStringLiteral("last")}));
        oneAtATime.waitForDone();
        QCOMPARE(ran, (QStringList{QStringLiteral("first"), QStringLiteral("last")}));
        if (!destroyInsteadOfCancel)
            delete goes;
    }
};

QTEST_GUILESS_MAIN(TestAsync)
#include "tst_async.moc"
