#define QTEST_QPA_MOUSE_HANDLING
#include "resources/tarvixresources.h"
#include "widgets/slidenavigation.h"

#include <QFontMetrics>
#include <QWindow>
#include <QtTest>

class TestSlideNavigation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initTarvixResources(); }
    void verticalItems();
    void horizontalItems();
    void ignoresEmptyAndDuplicateTexts();
    void moves_data();
    void moves();
    void clickingTheCurrentItemEmitsButDoesNotMove();
    void keys_data();
    void keys();
    void slideStepsThenSettles_data();
    void slideStepsThenSettles();
    void animationEndsOnTheItem_data();
    void animationEndsOnTheItem();
};

static void fillMainWindowBar(SlideNavigation &nav)
{
    nav.setOrientation(SlideNavigation::Vertical);
    nav.setFixed(true);
    nav.addItem(QStringLiteral("云手机"));
    nav.addItem(QStringLiteral("购买"));
}

void TestSlideNavigation::verticalItems()
{
    SlideNavigation nav;
    fillMainWindowBar(nav);
    const QFontMetrics fm(nav.font());
    const int w = fm.horizontalAdvance(QStringLiteral("云手机"));
    const int h = fm.height();

    QCOMPARE(nav.count(), 2);
    QCOMPARE(nav.minimumSize(), QSize(w + 60, 2 * h + 60));
    QCOMPARE(nav.itemRect(0), QRectF(0, 0, w + 60, h + 30));
    QCOMPARE(nav.itemRect(1), QRectF(0, h + 30, w + 60, h + 30));
    QCOMPARE(nav.sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    QCOMPARE(nav.sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(nav.currentIndex(), -1);
    QVERIFY(nav.barRect().isNull());

    // A fixed bar keeps its items where they are when it grows.
    nav.resize(400, 500);
    QCOMPARE(nav.itemRect(1), QRectF(0, h + 30, w + 60, h + 30));
}

void TestSlideNavigation::horizontalItems()
{
    SlideNavigation nav;
    nav.setFixed(true);
    const QStringList texts{"上传文件", "上传中", "历史"};
    for (const QString &t : texts)
        nav.addItem(t);
    const QFontMetrics fm(nav.font());
    const int h = fm.height();
    int x = 0;
    for (int i = 0; i < texts.size(); ++i) {
        const int w = fm.horizontalAdvance(texts[i]);
        QCOMPARE(nav.itemRect(i), QRectF(x, 0, 30 + w, 30 + h));
        QCOMPARE(nav.itemText(i), texts[i]);
        x += 30 + w;
    }
    QCOMPARE(nav.minimumSize(), QSize(x, 30 + h));
    QCOMPARE(nav.sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(nav.sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
}

void TestSlideNavigation::ignoresEmptyAndDuplicateTexts()
{
    SlideNavigation nav;
    fillMainWindowBar(nav);
    const QSize before = nav.minimumSize();
    nav.addItem(QString());
    nav.addItem(QStringLiteral("购买"));
    QCOMPARE(nav.count(), 2);
    QCOMPARE(nav.minimumSize(), before);
}

void TestSlideNavigation::moves_data()
{
    QTest::addColumn<int>("start"); // -1: nothing selected yet
    QTest::addColumn<QString>("move");
    QTest::addColumn<int>("expectedIndex"); // -1: no signal, nothing changes
    QTest::newRow("first") << -1 << "first" << 0;
    QTest::newRow("last") << -1 << "last" << 2;
    QTest::newRow("next from nothing") << -1 << "next" << 0;
    QTest::newRow("previous from nothing") << -1 << "previous" << -1;
    QTest::newRow("next") << 1 << "next" << 2;
    QTest::newRow("next past the end") << 2 << "next" << -1;
    QTest::newRow("previous") << 1 << "previous" << 0;
    QTest::newRow("previous before the start") << 0 << "previous" << -1;
    QTest::newRow("index -1") << 1 << "index:-1" << -1;
    QTest::newRow("index count") << 1 << "index:3" << -1;
    QTest::newRow("current index") << 1 << "index:1" << -1;
    QTest::newRow("index") << 0 << "index:2" << 2;
    QTest::newRow("text") << 0 << "text:历史" << 2;
    QTest::newRow("unknown text") << 0 << "text:没有" << -1;
    QTest::newRow("current text") << 0 << "text:上传文件" << -1;
    QTest::newRow("point in the middle item") << 0 << "point:middle" << 1;
    QTest::newRow("point outside") << 0 << "point:outside" << -1;
}

void TestSlideNavigation::moves()
{
    QFETCH(int, start);
    QFETCH(QString, move);
    QFETCH(int, expectedIndex);

    SlideNavigation nav;
    nav.setFixed(true);
    for (const char *t : {"上传文件", "上传中", "历史"})
        nav.addItem(QString::fromUtf8(t));
    nav.moveTo(start);

    QSignalSpy spy(&nav, &SlideNavigation::itemClicked);
    if (move == "first")
        nav.moveToFirst();
    else if (move == "last")
        nav.moveToLast();
    else if (move == "next")
        nav.moveToNext();
    else if (move == "previous")
        nav.moveToPrevious();
    else if (move.startsWith("index:"))
        nav.moveTo(move.mid(6).toInt());
    else if (move.startsWith("text:"))
        nav.moveTo(move.mid(5));
    else if (move == "point:middle")
        nav.moveTo(nav.itemRect(1).center());
    else if (move == "point:outside")
        nav.moveTo(QPointF(-5, -5));

    if (expectedIndex < 0) {
        QCOMPARE(spy.count(), 0);
        QCOMPARE(nav.currentIndex(), start);
    } else {
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first().at(0).toInt(), expectedIndex);
        QCOMPARE(spy.first().at(1).toString(), nav.itemText(expectedIndex));
        QCOMPARE(nav.currentIndex(), expectedIndex);
        QCOMPARE(nav.targetRect(), nav.itemRect(expectedIndex));
    }
}

void TestSlideNavigation::clickingTheCurrentItemEmitsButDoesNotMove()
{
    SlideNavigation nav;
    fillMainWindowBar(nav);
    nav.show();
    QVERIFY(QTest::qWaitForWindowExposed(&nav));
    QWindow *window = nav.windowHandle();

    QSignalSpy spy(&nav, &SlideNavigation::itemClicked);
    // First selection: the bar jumps straight onto the item.
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, nav.itemRect(1).center().toPoint());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(nav.currentIndex(), 1);
    QCOMPARE(nav.barRect(), nav.itemRect(1));

    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, nav.itemRect(1).center().toPoint());
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toInt(), 1);
    QCOMPARE(spy.at(1).at(1).toString(), QStringLiteral("购买"));
    QCOMPARE(nav.barRect(), nav.itemRect(1));

    // Below the last item there is nothing to choose.
    nav.resize(nav.width(), nav.minimumHeight() + 100);
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, QPoint(5, nav.minimumHeight() + 50));
    QCOMPARE(spy.count(), 2);

    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, nav.itemRect(0).center().toPoint());
    QCOMPARE(spy.count(), 3);
    QCOMPARE(nav.currentIndex(), 0);
}

void TestSlideNavigation::keys_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("expectedIndex");
    // Start from item 1 of 0..3.
    QTest::newRow("home") << true << int(Qt::Key_Home) << 0;
    QTest::newRow("end") << true << int(Qt::Key_End) << 3;
    QTest::newRow("left") << true << int(Qt::Key_Left) << 0;
    QTest::newRow("up") << true << int(Qt::Key_Up) << 0;
    QTest::newRow("right") << true << int(Qt::Key_Right) << 2;
    QTest::newRow("down") << true << int(Qt::Key_Down) << 2;
    QTest::newRow("other key") << true << int(Qt::Key_A) << 1;
    QTest::newRow("home, disabled") << false << int(Qt::Key_Home) << 1;
    QTest::newRow("down, disabled") << false << int(Qt::Key_Down) << 1;
}

void TestSlideNavigation::keys()
{
    QFETCH(bool, enabled);
    QFETCH(int, key);
    QFETCH(int, expectedIndex);

    SlideNavigation nav;
    nav.setOrientation(SlideNavigation::Vertical);
    nav.setFixed(true);
    for (const char *t : {"云手机", "购买", "上传", "关于"})
        nav.addItem(QString::fromUtf8(t));
    nav.moveTo(1);
    nav.setEnableKeyMove(true);
    nav.setEnableKeyMove(enabled);

    QSignalSpy spy(&nav, &SlideNavigation::itemClicked);
    QTest::keyClick(&nav, Qt::Key(key));
    QCOMPARE(nav.currentIndex(), expectedIndex);
    QCOMPARE(spy.count(), expectedIndex == 1 ? 0 : 1);
}

void TestSlideNavigation::slideStepsThenSettles_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::newRow("vertical, down") << int(SlideNavigation::Vertical) << 0 << 1;
    QTest::newRow("vertical, up") << int(SlideNavigation::Vertical) << 2 << 0;
    QTest::newRow("horizontal, right") << int(SlideNavigation::Horizontal) << 0 << 2;
    QTest::newRow("horizontal, left") << int(SlideNavigation::Horizontal) << 2 << 1;
}

// Drives the ticks by hand (no event loop runs), so every step is visible.
void TestSlideNavigation::slideStepsThenSettles()
{
    QFETCH(int, orientation);
    QFETCH(int, from);
    QFETCH(int, to);

    SlideNavigation nav;
    nav.setOrientation(orientation);
    nav.setFixed(true);
    for (const char *t : {"云手机", "购买", "上传文件"})
        nav.addItem(QString::fromUtf8(t));
    nav.moveTo(from);
    QCOMPARE(nav.barRect(), nav.itemRect(from));
    nav.moveTo(to);
    QCOMPARE(nav.currentIndex(), to); // at once; only the bar is animated
    QCOMPARE(nav.barRect(), nav.itemRect(from));

    const bool horizontal = orientation == SlideNavigation::Horizontal;
    const auto lead = [horizontal](const QRectF &r) { return horizontal ? r.left() : r.top(); };
    const qreal target = lead(nav.itemRect(to));
    const qreal direction = to > from ? 1 : -1;

    // Slide: steps of 15 until the leading edge reaches or passes the item's.
    int steps = 0;
    while (nav.isAnimating() && steps < 1000) {
        const QRectF before = nav.barRect();
        const bool reached = direction > 0 ? lead(before) >= target : lead(before) <= target;
        if (reached)
            break;
        nav.doSlide();
        ++steps;
        QCOMPARE(lead(nav.barRect()) - lead(before), 15.0 * direction);
        QCOMPARE(nav.barRect().size(), before.size());
    }
    QVERIFY(steps > 0);
    QVERIFY(direction > 0 ? lead(nav.barRect()) >= target : lead(nav.barRect()) <= target);

    // Shake: each edge creeps 2 toward the item's edge, or lands on it once
    // it is that close.
    int shakes = 0;
    while (nav.barRect() != nav.itemRect(to) && shakes < 1000) {
        const QRectF before = nav.barRect();
        nav.doShake();
        ++shakes;
        const QRectF after = nav.barRect();
        const QRectF goal = nav.itemRect(to);
        const qreal edges[4][3] = {{before.left(), after.left(), goal.left()},
                                   {before.top(), after.top(), goal.top()},
                                   {before.right(), after.right(), goal.right()},
                                   {before.bottom(), after.bottom(), goal.bottom()}};
        for (const auto &e : edges) {
            const qreal before = e[0], after = e[1], goal = e[2];
            if (qFuzzyCompare(1 + after, 1 + goal))
                continue;
            QCOMPARE(after - before, goal > before ? 2.0 : -2.0);
            QVERIFY(qAbs(goal - after) > 2.0);
        }
    }
    QCOMPARE(nav.barRect(), nav.itemRect(to));
}

void TestSlideNavigation::animationEndsOnTheItem_data()
{
    QTest::addColumn<int>("orientation");
    QTest::newRow("vertical") << int(SlideNavigation::Vertical);
    QTest::newRow("horizontal") << int(SlideNavigation::Horizontal);
}

void TestSlideNavigation::animationEndsOnTheItem()
{
    QFETCH(int, orientation);
    SlideNavigation nav;
    nav.setOrientation(orientation);
    nav.setFixed(true);
    for (const char *t : {"云手机", "购买", "上传文件", "关于我们"})
        nav.addItem(QString::fromUtf8(t));
    nav.show();
    QVERIFY(QTest::qWaitForWindowExposed(&nav));

    nav.moveToFirst();
    for (int to : {3, 1, 2, 0}) {
        nav.moveTo(to);
        QTRY_VERIFY_WITH_TIMEOUT(!nav.isAnimating(), 10000);
        QCOMPARE(nav.barRect(), nav.itemRect(to));
    }
    // A new choice while the bar is still moving wins.
    nav.moveTo(3);
    QTest::qWait(20);
    nav.moveTo(1);
    QTRY_VERIFY_WITH_TIMEOUT(!nav.isAnimating(), 10000);
    QCOMPARE(nav.barRect(), nav.itemRect(1));
}

QTEST_MAIN(TestSlideNavigation)
#include "tst_slidenavigation.moc"
