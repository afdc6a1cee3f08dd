#include "resources/tarvixresources.h"
#include "widgets/flowlayout.h"

#include <QPointer>
#include <QSpacerItem>
#include <QWidget>
#include <QtTest>

using Sizes = QList<QSize>;
using Points = QList<QPoint>;

// Nothing is shown: the geometry pass runs on a hidden container.
class TestFlowLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initTarvixResources(); }
    void placement_data();
    void placement();
    void sizeBehaviour();
    void itemAccess();
    void spacingFromTheStyle();
    void itemsWithoutWidget();
};

static QWidget *card(QWidget *parent, const QSize &size)
{
    auto *w = new QWidget(parent);
    w->setFixedSize(size);
    return w;
}

void TestFlowLayout::placement_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("margin");
    QTest::addColumn<int>("hSpacing");
    QTest::addColumn<int>("vSpacing");
    QTest::addColumn<Sizes>("items");
    QTest::addColumn<Points>("expected");
    QTest::addColumn<int>("height");

    const QSize c(150, 100);
    QTest::newRow("three cards a row")
        << 500 << 0 << 10 << 0 << Sizes{c, c, c, c}
        << Points{{0, 0}, {160, 0}, {320, 0}, {0, 100}} << 200;
    QTest::newRow("exact fit, right edge inclusive")
        << 470 << 0 << 10 << 0 << Sizes{c, c, c, c}
        << Points{{0, 0}, {160, 0}, {320, 0}, {0, 100}} << 200;
    QTest::newRow("one pixel short wraps the third")
        << 469 << 0 << 10 << 0 << Sizes{c, c, c}
        << Points{{0, 0}, {160, 0}, {0, 100}} << 200;
    QTest::newRow("margins and vertical spacing")
        << 400 << 12 << 10 << 8 << Sizes{c, c, c, c}
        << Points{{12, 12}, {172, 12}, {12, 120}, {172, 120}} << 232;
    QTest::newRow("row height is the tallest item")
        << 300 << 0 << 5 << 5 << Sizes{{100, 40}, {100, 90}, {100, 30}, {50, 20}}
        << Points{{0, 0}, {105, 0}, {0, 95}, {105, 95}} << 125;
    QTest::newRow("never wraps before the first item of a row")
        << 100 << 0 << 10 << 0 << Sizes{c, c}
        << Points{{0, 0}, {0, 100}} << 200;
    QTest::newRow("empty") << 500 << 7 << 10 << 0 << Sizes{} << Points{} << 14;
}

void TestFlowLayout::placement()
{
    QFETCH(int, width);
    QFETCH(int, margin);
    QFETCH(int, hSpacing);
    QFETCH(int, vSpacing);
    QFETCH(Sizes, items);
    QFETCH(Points, expected);
    QFETCH(int, height);

    QWidget container;
    auto *layout = new FlowLayout(&container, margin, hSpacing, vSpacing);
    QList<QWidget *> cards;
    for (const QSize &s : items) {
        cards.append(card(&container, s));
        layout->addWidget(cards.last());
    }

    QVERIFY(layout->hasHeightForWidth());
    QCOMPARE(layout->heightForWidth(width), height);
    // Measuring moves nothing.
    for (QWidget *w : cards)
        QCOMPARE(w->pos(), QPoint(0, 0));

    QCOMPARE(layout->doLayout(QRect(0, 0, width, 0), false), height);
    for (int i = 0; i < cards.size(); ++i) {
        QCOMPARE(cards[i]->pos(), expected[i]);
        QCOMPARE(cards[i]->size(), items[i]);
    }

    // The pass is relative to the rectangle it is given.
    QCOMPARE(layout->doLayout(QRect(40, 30, width, 0), false), height);
    if (!cards.isEmpty())
        QCOMPARE(cards[0]->pos(), expected[0] + QPoint(40, 30));

    // Through the layout machinery, as a resized container does.
    layout->setGeometry(QRect(0, 0, width, height));
    for (int i = 0; i < cards.size(); ++i)
        QCOMPARE(cards[i]->pos(), expected[i]);
}

void TestFlowLayout::sizeBehaviour()
{
    QWidget container;
    auto *layout = new FlowLayout(&container, 6, 10, 10);
    layout->addWidget(card(&container, {150, 100}));
    layout->addWidget(card(&container, {80, 120}));
    QCOMPARE(layout->expandingDirections(), Qt::Orientations());
    // Largest minimum size in each direction, plus the margin on both sides.
    QCOMPARE(layout->minimumSize(), QSize(162, 132));
    QCOMPARE(layout->sizeHint(), QSize(162, 132));
    QCOMPARE(layout->contentsMargins(), QMargins(6, 6, 6, 6));
}

void TestFlowLayout::itemAccess()
{
    QWidget container;
    auto *layout = new FlowLayout(&container, 0, 10, 10);
    QWidget *a = card(&container, {10, 10});
    QWidget *b = card(&container, {10, 10});
    layout->addWidget(a);
    layout->addWidget(b);

    QCOMPARE(layout->count(), 2);
    QCOMPARE(layout->itemAt(1)->widget(), b);
    QVERIFY(!layout->itemAt(2));
    QVERIFY(!layout->itemAt(-1));
    QVERIFY(!layout->takeAt(2));
    QVERIFY(!layout->takeAt(-1));

    QLayoutItem *taken = layout->takeAt(0);
    QCOMPARE(taken->widget(), a);
    QCOMPARE(layout->count(), 1);
    QCOMPARE(layout->itemAt(0)->widget(), b);
    delete taken;

    // Items still in the layout go with it; their widgets stay with the parent.
    QPointer<QWidget> keep(b);
    delete layout;
    QVERIFY(keep);
}

void TestFlowLayout::spacingFromTheStyle()
{
    QWidget container;
    auto *layout = new FlowLayout(&container, 0);
    QWidget *a = card(&container, {50, 20});
    QWidget *b = card(&container, {50, 20});
    layout->addWidget(a);
    layout->addWidget(b);
    layout->doLayout(QRect(0, 0, 500, 0), false);
    int expected = container.style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing, nullptr, &container);
    if (expected < 0)
        expected = a->style()->layoutSpacing(QSizePolicy::PushButton, QSizePolicy::PushButton, Qt::Horizontal);
    QVERIFY(expected >= 0);
    QCOMPARE(b->x(), 50 + expected);

    // Without a parent there is no style to ask but the items'.
    FlowLayout loose(nullptr, 0);
    QCOMPARE(loose.horizontalSpacing(), -1);
}

void TestFlowLayout::itemsWithoutWidget()
{
    QWidget container;
    auto *layout = new FlowLayout(&container, 0);
    layout->addItem(new QSpacerItem(40, 10));
    layout->addWidget(card(&container, {50, 20}));
    // A spacer has no widget to ask for its style; it must not matter.
    QVERIFY(layout->heightForWidth(300) >= 20);
    layout->doLayout(QRect(0, 0, 300, 0), false);
    QVERIFY(layout->itemAt(1)->widget()->x() >= 40);
}

QTEST_MAIN(TestFlowLayout)
#include "tst_flowlayout.moc"
