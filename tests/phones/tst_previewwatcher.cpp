#include "phones/previewwatcher.h"

#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

// Which card previews stream: a column of ten cards 100 pixels high in a
// viewport 250 high (cards 0-2 on screen at the top, 5-7 at 500), with
// cards whose starts are fakes that write what they were asked to do.

namespace {

QStringList g_log;

class FakeCard final : public QWidget, public WatchedPreview
{
public:
    FakeCard(const QString &name, QWidget *parent)
        : QWidget(parent)
        , m_name(name)
    {
        setFixedSize(100, 100);
    }

    // Starts wait in the queue until run() instead of going on at once.
    static bool startsWait;

    QString watchedServerSn() const override { return m_name; }
    Phase previewPhase() const override { return m_phase; }
    void resumePreview(bool onScreen) override
    {
        if (m_phase == Phase::Running || (m_phase == Phase::Waiting && (m_onScreen || !onScreen)))
            return;
        g_log << QStringLiteral("start %1 %2").arg(m_name, onScreen ? QStringLiteral("on") : QStringLiteral("kept"));
        m_onScreen = onScreen;
        m_phase = startsWait ? Phase::Waiting : Phase::Running;
    }
    void dropWaitingStart() override
    {
        if (m_phase != Phase::Waiting)
            return;
        g_log << QStringLiteral("drop %1").arg(m_name);
        m_phase = Phase::Off;
    }
    void pausePreview() override
    {
        g_log << QStringLiteral("stop %1").arg(m_name);
        m_phase = Phase::Off;
    }
    void run()
    {
        if (m_phase == Phase::Waiting)
            m_phase = Phase::Running;
    }

private:
    QString m_name;
    Phase m_phase = Phase::Off;
    bool m_onScreen = false;
};

bool FakeCard::startsWait = false;

} // namespace

class TestPreviewWatcher : public QObject
{
    Q_OBJECT

private:
    static constexpr int Grace = 300;

    // Lets the watcher take its look.
    static void turn()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }

private slots:
    void init()
    {
        g_log.clear();
        FakeCard::startsWait = false;
    }

    void streamsWhatCanBeSeen_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("scrolled out: stopped after the grace")
            << QStringList{"scroll 500", "settle"}
            << QStringList{"start c5 on", "start c6 on", "start c7 on", "stop c0", "stop c1", "stop c2"};
        QTest::newRow("back in: started again")
            << QStringList{"scroll 500", "settle", "scroll 0", "settle"}
            << QStringList{"start c5 on", "start c6 on", "start c7 on", "stop c0", "stop c1", "stop c2",
                           "start c0 on", "start c1 on", "start c2 on", "stop c5", "stop c6", "stop c7"};
        QTest::newRow("out and back within the grace: no churn")
            << QStringList{"scroll 500", "scroll 0", "settle"}
            << QStringList{"start c5 on", "start c6 on", "start c7 on", "stop c5", "stop c6", "stop c7"};
        QTest::newRow("kept while off view")
            << QStringList{"keep c1", "scroll 500", "settle"}
            << QStringList{"start c5 on", "start c6 on", "start c7 on", "stop c0", "stop c2"};
        QTest::newRow("a keeper change starts it")
            << QStringList{"scroll 500", "settle", "keep c1", "settle", "unkeep c1", "settle"}
            << QStringList{"start c5 on", "start c6 on", "start c7 on", "stop c0", "stop c1", "stop c2",
                           "start c1 kept", "stop c1"};
        QTest::newRow("minimised: all stop but the kept")
            << QStringList{"keep c0", "minimise", "settle", "restore", "settle"}
            << QStringList{"stop c1", "stop c2", "start c1 on", "start c2 on"};
        QTest::newRow("hidden: all stop but the kept")
            << QStringList{"keep c2", "hide", "settle", "show", "settle"}
            << QStringList{"stop c0", "stop c1", "start c0 on", "start c1 on"};
        QTest::newRow("a start that has not begun goes when its card leaves")
            << QStringList{"starts wait", "scroll 500", "scroll 0", "settle"}
            << QStringList{"start c5 on", "start c6 on", "start c7 on", "drop c5", "drop c6", "drop c7"};
        QTest::newRow("on screen before kept, top left first")
            << QStringList{"quietly keep c9", "quietly keep c8", "scroll 500", "settle"}
            << QStringList{"start c5 on", "start c6 on", "start c7 on", "start c8 kept", "start c9 kept", "stop c0",
                           "stop c1", "stop c2"};
        QTest::newRow("a kept start still waiting moves forward on screen")
            << QStringList{"starts wait", "keep c6", "scroll 500", "run", "settle"}
            << QStringList{"start c6 kept", "start c5 on", "start c6 on", "start c7 on", "stop c0", "stop c1",
                           "stop c2"};
    }

    void streamsWhatCanBeSeen()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, expected);

        QScrollArea area;
        area.setFrameShape(QFrame::NoFrame);
        area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        auto *cards = new QWidget;
        auto *column = new QVBoxLayout(cards);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        QVector<FakeCard *> fakes;
        QVector<PreviewWatcher::Card> watched;
        for (int i = 0; i < 10; ++i) {
            auto *card = new FakeCard(QStringLiteral("c%1").arg(i), cards);
            column->addWidget(card);
            fakes << card;
            watched.push_back({card, card});
        }
        area.setWidget(cards);
        area.resize(100, 250);
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));

        QSet<QString> kept;
        PreviewWatcher watcher(&area);
        watcher.setGrace(Grace);
        watcher.setKeeper([&kept](const QString &sn) { return kept.contains(sn); });
        watcher.setCards(watched);
        turn();
        QCOMPARE(g_log, (QStringList{"start c0 on", "start c1 on", "start c2 on"}));
        QCOMPARE(watcher.onScreenCount(), 3);
        g_log.clear();

        for (const QString &step : qAsConst(steps)) {
            const QString arg = step.section(QLatin1Char(' '), -1);
            if (step.startsWith(QLatin1String("scroll"))) {
                area.verticalScrollBar()->setValue(arg.toInt());
                turn();
            } else if (step == QLatin1String("settle")) {
                // Past every grace period that may be running.
                QTest::qWait(Grace * 3);
            } else if (step.startsWith(QLatin1String("quietly keep"))) {
                kept.insert(arg);
            } else if (step.startsWith(QLatin1String("keep"))) {
                kept.insert(arg);
                watcher.reevaluate();
                turn();
            } else if (step.startsWith(QLatin1String("unkeep"))) {
                kept.remove(arg);
                watcher.reevaluate();
                turn();
            } else if (step == QLatin1String("minimise")) {
                area.showMinimized();
                turn();
            } else if (step == QLatin1String("restore")) {
                area.showNormal();
                turn();
            } else if (step == QLatin1String("hide")) {
                area.hide();
                turn();
            } else if (step == QLatin1String("show")) {
                area.show();
                turn();
            } else if (step == QLatin1String("starts wait")) {
                // The ones on screen already run; only new starts wait.
                FakeCard::startsWait = true;
            } else if (step == QLatin1String("run")) {
                for (FakeCard *card : qAsConst(fakes))
                    card->run();
            } else {
                QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
            }
        }
        QCOMPARE(g_log, expected);
    }

    // Cards of an earlier list are forgotten, not stopped; deleted cards
    // are never asked again.
    void newListForgetsTheOldCards()
    {
        QScrollArea area;
        auto *cards = new QWidget;
        auto *column = new QVBoxLayout(cards);
        auto *first = new FakeCard(QStringLiteral("a"), cards);
        column->addWidget(first);
        area.setWidget(cards);
        area.resize(120, 250);
        area.show();
        QVERIFY(QTest::qWaitForWindowExposed(&area));
        PreviewWatcher watcher(&area);
        watcher.setGrace(Grace);
        watcher.setCards({{first, first}});
        turn();
        QCOMPARE(g_log, QStringList{"start a on"});

        auto *second = new FakeCard(QStringLiteral("b"), cards);
        column->addWidget(second);
        watcher.setCards({{second, second}});
        delete first;
        turn();
        area.hide();
        QTest::qWait(Grace * 3);
        QCOMPARE(g_log, (QStringList{"start a on", "start b on", "stop b"}));
    }
};

QTEST_MAIN(TestPreviewWatcher)
#include "tst_previewwatcher.moc"
