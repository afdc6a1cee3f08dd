#include "app/singleinstance.h"

#include <QProcess>
#include <QSharedMemory>
#include <QUuid>
#include <QtTest>

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
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
