#include "api/utils.h"
#include "app/appevent.h"
#include "phones/mainwindow.h"
#include "phones/phonedetail.h"
#include "resources/tarvixresources.h"
#include "stream/phonecontroller.h"
#include "stream/videorender.h"
#include "stream/videorendermini.h"
#include "tests/e2e/xinput.h"
#include "tests/support/localcloud.h"
#include "tests/support/screenshot.h"
#include "tests/support/tempsettings.h"
#include "tests/support/waitfor.h"

#include <QCursor>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTreeWidget>
#include <QtTest>

#include <functional>
#include <memory>

// A user with a hundred phones on the main window of this process, against
// a local cloud, driven with X input on the suite's own X server: only the
// cards someone can see stream, and group control still reaches every
// checked phone, on screen or not. What reached the phones and which
// streams the farm holds are read back through the cloud's admin API.

namespace {

constexpr int Phones = 100;
constexpr int Grouped = 30;

using TestSupport::click;
using TestSupport::moveTo;
using TestSupport::waitFor;
using TestSupport::xdotool;

// Wheel steps over a widget: button 5 scrolls down, 4 up.
void wheel(QWidget *over, bool down, int steps)
{
    moveTo(over->mapToGlobal(over->rect().center()));
    xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(steps), QStringLiteral("--delay"),
             QStringLiteral("30"), down ? QStringLiteral("5") : QStringLiteral("4")});
    QTest::qWait(150);
}

// Share of pixels that differ clearly between two pictures of one size.
double difference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull())
        return 1.0;
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (qMax(qAbs(qRed(p) - qRed(q)), qMax(qAbs(qGreen(p) - qGreen(q)), qAbs(qBlue(p) - qBlue(q)))) > 48)
                ++differing;
        }
    }
    return double(differing) / (a.width() * a.height());
}

} // namespace

class TestFleet : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    std::unique_ptr<TestSupport::LocalCloud> m_cloud;
    MainWindow *m_main = nullptr;
    QStringList m_serials;

    PhoneDetail *card(int i) const { return m_main->phoneCards().value(i); }
    QScrollArea *cardArea() const { return m_main->findChild<QScrollArea *>(QStringLiteral("scrollArea")); }

    // Whether any part of the card shows in the card area, worked out here
    // from the widgets' places, not asked of the client's own watcher.
    bool inView(int i) const
    {
        QWidget *viewport = cardArea()->viewport();
        const QRect rect(card(i)->mapTo(viewport, QPoint(0, 0)), card(i)->size());
        return rect.intersects(viewport->rect());
    }
    // Entirely out of view, with a margin so no rounding makes it count.
    bool farFromView(int i) const
    {
        QWidget *viewport = cardArea()->viewport();
        const QRect rect(card(i)->mapTo(viewport, QPoint(0, 0)), card(i)->size());
        return !rect.adjusted(0, -20, 0, 20).intersects(viewport->rect());
    }
    QList<int> cardsInView() const
    {
        QList<int> in;
        for (int i = 0; i < Phones; ++i) {
            if (inView(i))
                in << i;
        }
        return in;
    }

    int previewSessions(int i) const
    {
        int count = 0;
        const QJsonArray sessions = m_cloud->phoneState(m_serials.at(i)).value(QStringLiteral("sessions")).toArray();
        for (const QJsonValue &s : sessions) {
            if (s.toObject().value(QStringLiteral("frameRate")).toInt() == 1)
                ++count;
        }
        return count;
    }

    int touchesSince(int i, qint64 since) const
    {
        int n = 0;
        for (const QJsonValue &t : m_cloud->phoneState(m_serials.at(i)).value(QStringLiteral("touches")).toArray()) {
            if (qint64(t.toObject().value(QStringLiteral("time")).toDouble()) >= since)
                ++n;
        }
        return n;
    }

    // The card's preview on the X screen shows a picture of the phone, not
    // the placeholder and not nothing.
    bool paintsPicture(const QImage &shot, int i) const
    {
        VideoRenderMini *preview = card(i)->preview();
        const QLabel *content = preview->findChild<QLabel *>(QStringLiteral("Content"));
        const QPixmap shown = content ? content->pixmap(Qt::ReturnByValue) : QPixmap();
        if (shown.isNull())
            return false;
        const QRect where(content->mapToGlobal(QPoint(0, 0)), shown.size());
        const QImage onScreen = shot.copy(where.intersected(shot.rect()));
        const QImage placeholder = QPixmap(QStringLiteral(":/image/phone/PhoneState_Recovy.png"))
                                       .scaled(shown.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                       .toImage()
                                       .convertToFormat(QImage::Format_RGB32);
        QImage blank(onScreen.size(), QImage::Format_RGB32);
        blank.fill(onScreen.pixel(onScreen.width() / 2, onScreen.height() / 2));
        return onScreen.size() == shown.size() && difference(onScreen, placeholder) > 0.2
            && difference(onScreen, blank) > 0.05;
    }

    // Every card in view paints a new picture after this moment.
    bool viewLive(const QMap<int, quint64> &shownBefore)
    {
        return waitFor(
            [&] {
                for (int i : cardsInView()) {
                    VideoRenderMini *preview = card(i)->preview();
                    if (!preview->isLive() || preview->frameCounters().shown <= shownBefore.value(i))
                        return false;
                }
                return true;
            },
            15000);
    }

    QMap<int, quint64> shownNow() const
    {
        QMap<int, quint64> shown;
        for (int i = 0; i < Phones; ++i)
            shown.insert(i, card(i)->preview()->frameCounters().shown);
        return shown;
    }

    void scrollToEnd(bool down)
    {
        QScrollBar *bar = cardArea()->verticalScrollBar();
        const int target = down ? bar->maximum() : bar->minimum();
        for (int round = 0; round < 40 && bar->value() != target; ++round)
            wheel(cardArea()->viewport(), down, 10);
    }

private slots:
    void initTestCase()
    {
        initTarvixResources();
        QFile style(QStringLiteral(":/style/style.css"));
        QVERIFY(style.open(QIODevice::ReadOnly));
        qApp->setStyleSheet(QString::fromUtf8(style.readAll()));
        QVERIFY(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("version")}) == 0);
        m_cloud = std::make_unique<TestSupport::LocalCloud>(QStringList{QStringLiteral("--seed"), QStringLiteral("empty")});
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
        const QString owner = QStringLiteral("13700000100");
        const QJsonArray added = m_cloud->addPhones(owner, QStringLiteral("机群"), Phones, 24 * 30);
        QCOMPARE(added.size(), Phones);
        for (const QJsonValue &phone : added)
            m_serials << phone.toObject().value(QStringLiteral("server_sn")).toString();
        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = m_cloud->apiBase();
        Utils::overrideServiceBases(bases);
        const QString token = m_cloud->signIn(owner);
        QVERIFY2(!token.isEmpty(), qPrintable(m_cloud->errorString()));
        AppEvent::instance()->setPhone(owner);
        AppEvent::instance()->setToken(token);

        m_main = MainWindow::instance();
        m_main->move(0, 0);
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main));
        QTRY_COMPARE_WITH_TIMEOUT(m_main->phoneCards().size(), Phones, 20000);
        for (int i = 0; i < Phones; ++i)
            QCOMPARE(card(i)->serverSn(), m_serials.at(i));
        QVERIFY(viewLive({}));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed()) {
            TestSupport::grabScreen(QStringLiteral("fleet-failed-%1").arg(QLatin1String(QTest::currentTestFunction())));
            qWarning().noquote() << m_cloud->consoleLog().right(3000);
        }
    }

    // Scrolled to the end: the cards in view are live, those scrolled away
    // hold no stream on the farm; back at the top they are live again.
    void onlyCardsInViewStream()
    {
        const QList<int> top = cardsInView();
        QVERIFY2(top.size() >= 6 && top.size() < Phones / 2, qPrintable(QString::number(top.size())));
        for (int i : top)
            QVERIFY2(waitFor([&] { return previewSessions(i) == 1; }, 10000), qPrintable(m_serials.at(i)));

        QMap<int, quint64> before = shownNow();
        scrollToEnd(true);
        QCOMPARE(cardArea()->verticalScrollBar()->value(), cardArea()->verticalScrollBar()->maximum());
        QVERIFY(inView(Phones - 1));
        QVERIFY(viewLive(before));
        const QImage shot = QImage(TestSupport::grabScreen(QStringLiteral("fleet-end"))).convertToFormat(QImage::Format_RGB32);
        QVERIFY(!shot.isNull());
        for (int i : cardsInView()) {
            if (card(i)->preview()->visibleRegion().boundingRect().height() >= card(i)->preview()->height())
                QVERIFY2(paintsPicture(shot, i), qPrintable(QStringLiteral("card %1").arg(i)));
        }

        for (int i : top) {
            QVERIFY(farFromView(i));
            QVERIFY2(waitFor([&] { return previewSessions(i) == 0; }, 10000),
                     qPrintable(QStringLiteral("card %1 still streams").arg(i)));
        }
        // Nothing between the two ends streams either.
        for (int i = 0; i < Phones; ++i) {
            if (farFromView(i))
                QVERIFY2(waitFor([&] { return !card(i)->preview()->hasStream(); }, 10000), qPrintable(QString::number(i)));
        }

        before = shownNow();
        scrollToEnd(false);
        QVERIFY(inView(0));
        QVERIFY(viewLive(before));
        for (int i : cardsInView())
            QVERIFY2(waitFor([&] { return previewSessions(i) == 1; }, 10000), qPrintable(m_serials.at(i)));
        TestSupport::grabScreen(QStringLiteral("fleet-top-again"));
        QVERIFY(waitFor([&] { return previewSessions(Phones - 1) == 0; }, 10000));
    }

    // Thirty phones checked in the tree, group control on from a master
    // window: a tap reaches each of the other 29 once, off screen or not.
    void groupControlReachesCardsOutOfView()
    {
        auto *tree = m_main->findChild<QTreeWidget *>(QStringLiteral("treeWidget"));
        QTreeWidgetItem *group = tree->topLevelItem(0);
        QVERIFY(group);
        for (int row = 0; row < Grouped; ++row) {
            QTreeWidgetItem *item = group->child(row);
            for (int round = 0; round < 20 && !tree->viewport()->rect().contains(tree->visualItemRect(item)); ++round)
                wheel(tree->viewport(), true, 2);
            const QRect rect = tree->visualItemRect(item);
            click(tree->viewport(), QPoint(rect.left() + 60, rect.center().y()));
        }
        QStringList expected = m_serials.mid(0, Grouped);
        QTRY_COMPARE(m_main->checkedPhoneList(), expected);

        QList<int> outOfView;
        for (int i = 0; i < Grouped; ++i) {
            if (farFromView(i))
                outOfView << i;
        }
        QVERIFY2(outOfView.size() >= 5, qPrintable(QString::number(outOfView.size())));

        PhoneDetail *first = card(0);
        moveTo(first->mapToGlobal(QPoint(5, 5)));
        moveTo(first->mapToGlobal(first->rect().center()));
        auto *enterBtn = first->findChild<QPushButton *>(QStringLiteral("enterBtn"));
        QVERIFY(waitFor([&] { return enterBtn->isVisible(); }, 3000));
        click(enterBtn);
        QVERIFY(waitFor([&] { return first->controlWindow() && first->controlWindow()->isVisible(); }, 5000));
        PhoneController *master = first->controlWindow();
        master->move(1120, 0);
        QVERIFY(waitFor([&] { return master->videoRender()->frameCounters().shown > 0; }, 10000));
        QTest::qWait(1300); // past the window's own first status question

        click(m_main->findChild<QWidget *>(QStringLiteral("groupControlBtn")));
        QTRY_VERIFY(m_main->groupControl());
        QTRY_COMPARE(master->findChild<QLabel *>(QStringLiteral("mcl"))->text(), QStringLiteral("主控中"));
        // The checked phones off screen are kept streaming: group control
        // relays through those streams.
        for (int i = 0; i < Grouped; ++i)
            QVERIFY2(waitFor([&] { return previewSessions(i) == 1; }, 20000), qPrintable(QStringLiteral("card %1").arg(i)));
        for (int i : outOfView)
            QVERIFY(card(i)->preview()->isLive());

        master->raise();
        QTest::qWait(200);
        const qint64 since = QDateTime::currentMSecsSinceEpoch();
        QTest::qWait(20);
        VideoRender *view = master->videoRender();
        click(view, QPoint(view->width() / 3, view->height() / 4));
        QVERIFY(waitFor([&] { return touchesSince(0, since) >= 2; }, 5000));
        QVERIFY(waitFor(
            [&] {
                for (int i = 1; i < Grouped; ++i) {
                    if (touchesSince(i, since) < 2)
                        return false;
                }
                return true;
            },
            5000));
        QTest::qWait(700);
        for (int i = 0; i < Grouped; ++i)
            QVERIFY2(touchesSince(i, since) == 2, qPrintable(QStringLiteral("card %1: %2").arg(i).arg(touchesSince(i, since))));
        for (int i : {Grouped, Grouped + 1, Phones - 1})
            QCOMPARE(touchesSince(i, since), 0);
        QCOMPARE(master->findChild<QLabel *>(QStringLiteral("mcl"))->toolTip(),
                 QStringLiteral("已同步到 %1 台云机").arg(Grouped - 1));
        TestSupport::grabScreen(QStringLiteral("fleet-group-control"));

        // Off again: the phones off screen let their streams go.
        click(m_main->findChild<QWidget *>(QStringLiteral("groupControlBtn")));
        QTRY_VERIFY(!m_main->groupControl());
        master->raise();
        QTest::qWait(200);
        click(master->findChild<QWidget *>(QStringLiteral("closeButton")));
        QTRY_VERIFY(!master->isVisible());
        for (int i : outOfView)
            QVERIFY2(waitFor([&] { return previewSessions(i) == 0; }, 10000), qPrintable(QStringLiteral("card %1").arg(i)));
    }
};

QTEST_MAIN(TestFleet)
#include "tst_fleet.moc"
