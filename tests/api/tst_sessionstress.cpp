#include "api/utils.h"
#include "app/appevent.h"
#include "app/async.h"
#include "tests/support/localcloud.h"
#include "tests/support/tempsettings.h"

#include <QCoreApplication>
#include <QtTest>

#include <atomic>
#include <memory>
#include <vector>

// Sign-in and expiry again and again while 24 previews keep fetching their
// connection data on worker threads: workers read the session the GUI
// thread rewrites, and their late expired answers meet newer sessions.
// Meant for the sanitizer build as much as for the plain one.
class TestSessionStress : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    std::unique_ptr<TestSupport::LocalCloud> m_cloud;

private slots:
    void initTestCase()
    {
        QVERIFY(m_settings.isValid());
        m_cloud = std::make_unique<TestSupport::LocalCloud>(
            QStringList{QStringLiteral("--seed"), QStringLiteral("empty"), QStringLiteral("--resend-interval"),
                        QStringLiteral("0")});
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = m_cloud->apiBase();
        Utils::overrideServiceBases(bases);
    }

    void signInAndExpiryWhilePreviewsFetch()
    {
        const QString owner = QStringLiteral("13900000024");
        QStringList serials;
        for (int i = 0; i < 24; ++i)
            serials << m_cloud->addPhone(owner, QStringLiteral("云机%1").arg(i + 1))
                           .value(QStringLiteral("server_sn"))
                           .toString();
        QVERIFY(!serials.contains(QString()));

        int expiries = 0;
        connect(AppEvent::instance(), &AppEvent::sessionExpired, this, [&expiries] { ++expiries; });

        // 24 cards, each fetching again as soon as its answer is in.
        std::atomic<bool> running{true};
        std::atomic<int> fetched{0};
        std::vector<std::unique_ptr<QObject>> cards;
        std::function<void(QObject *, QString)> fetch = [&](QObject *card, QString sn) {
            Async::run(
                card,
                [sn] {
                    ControlInfo info;
                    const bool ok = Utils::instance()->fetchControlInfo(sn, &info);
                    return ok && info.isComplete();
                },
                [&, card, sn](bool ok) {
                    fetched += ok ? 1 : 0;
                    if (running)
                        fetch(card, sn);
                });
        };
        for (const QString &sn : qAsConst(serials)) {
            cards.push_back(std::make_unique<QObject>());
            fetch(cards.back().get(), sn);
        }

        constexpr int Rounds = 200;
        for (int round = 0; round < Rounds; ++round) {
            QVERIFY(Utils::instance()->sendMsg(owner));
            const QString code = m_cloud->smsCode(owner);
            QVERIFY(Utils::instance()->login(owner, code).isEmpty());
            const QString token = AppEvent::instance()->token();
            QVERIFY(!token.isEmpty());

            // Late expired answers of the round before arrive now: none
            // may end this session.
            QTest::qWait(5);
            QCOMPARE(AppEvent::instance()->token(), token);
            QCOMPARE(AppEvent::instance()->phone(), owner);

            const int before = expiries;
            QVERIFY(m_cloud->expireTokenValue(token) > 0);
            QVERIFY(Utils::instance()->serverList().isEmpty());
            QVERIFY(expiries > before);
            QVERIFY(AppEvent::instance()->token().isEmpty());
        }
        running = false;
        cards.clear(); // drops what has not started
        Async::stopAll();
        QVERIFY2(fetched > 0, "the previews never got their connection data");
        qInfo() << "connection data fetched" << fetched.load() << "times over" << Rounds << "sessions";
    }
};

QTEST_GUILESS_MAIN(TestSessionStress)
#include "tst_sessionstress.moc"
