#include "app/singleinstance.h"

#include <QLocalSocket>
#include <QProcess>
#include <QThread>
#include <QSharedMemory>
#include <QUuid>
#include <QtTest>

#include <atomic>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

// Keys of their own, so the suite never meets a real client.
class TestSingleInstance : public QObject
{
    Q_OBJECT

private:
    QString m_semKey = QStringLiteral("tst-sem-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QString m_memKey = QStringLiteral("tst-mem-") + QUuid::createUuid().toString(QUuid::WithoutBraces);

private slots:
    void secondGuardIsRefused()
    {
        auto first = std::make_unique<SingleInstanceGuard>(m_semKey, m_memKey);
        QVERIFY(first->tryBecomeOnlyInstance());
        SingleInstanceGuard second(m_semKey, m_memKey);
        QVERIFY(!second.tryBecomeOnlyInstance());
        // The refused one does not take the running instance's mark away.
        SingleInstanceGuard third(m_semKey, m_memKey);
        QVERIFY(!third.tryBecomeOnlyInstance());
        first.reset();
    }

    void segmentOfAKilledInstanceDoesNotLockOut()
    {
        // A child that becomes the instance and is then killed without any cleanup.
        const pid_t child = fork();
        if (child == 0) {
            SingleInstanceGuard guard(m_semKey, m_memKey + QStringLiteral("-k"));
            guard.tryBecomeOnlyInstance();
            for (;;)
                pause();
        }
        QVERIFY(child > 0);
        // Wait until the child holds the segment.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QSharedMemory probe(m_memKey + QStringLiteral("-k"));
                const bool attached = probe.attach();
                return attached;
            }(),
            10000);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);

        SingleInstanceGuard next(m_semKey, m_memKey + QStringLiteral("-k"));
        QVERIFY(next.tryBecomeOnlyInstance());
        // The killed one's socket file is no obstacle either.
        SingleInstanceGuard refused(m_semKey, m_memKey + QStringLiteral("-k"));
        QVERIFY(!refused.tryBecomeOnlyInstance());
        QLocalSocket probe;
        probe.connectToServer(next.serverName());
        QVERIFY(probe.waitForConnected(2000));
    }

    // A refused start asks the running instance, which lives on its own
    // thread here as it would in its own process, to show its window.
    void refusedStartAsksTheInstanceToShow()
    {
        const QString key = m_memKey + QStringLiteral("-s");
        QThread thread;
        thread.start();
        auto *running = new SingleInstanceGuard(m_semKey, key);
        running->moveToThread(&thread);
        std::atomic<int> shown{0};
        connect(running, &SingleInstanceGuard::showRequested, running, [&shown] { ++shown; }, Qt::DirectConnection);
        bool only = false;
        QMetaObject::invokeMethod(running, [&] { only = running->tryBecomeOnlyInstance(); },
                                  Qt::BlockingQueuedConnection);
        QVERIFY(only);

        SingleInstanceGuard second(m_semKey, key);
        QVERIFY(!second.tryBecomeOnlyInstance());
        QVERIFY(second.askRunningInstanceToShow());
        QCOMPARE(shown.load(), 1);
        QVERIFY(second.askRunningInstanceToShow());
        QCOMPARE(shown.load(), 2);

        // Anything else on the socket shows nothing and is let go.
        for (const QByteArray &junk : {QByteArray("hello\n"), QByteArray(500, 'x')}) {
            QLocalSocket socket;
            socket.connectToServer(second.serverName());
            QVERIFY(socket.waitForConnected(2000));
            socket.write(junk);
            QVERIFY(socket.waitForBytesWritten(2000));
            QVERIFY(socket.state() == QLocalSocket::UnconnectedState || socket.waitForDisconnected(2000));
        }
        QCOMPARE(shown.load(), 2);

        QMetaObject::invokeMethod(running, [running] { delete running; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
        // Nobody listens any more: the question fails at once rather than hang.
        QVERIFY(!second.askRunningInstanceToShow(500));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
