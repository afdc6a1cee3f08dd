#define QTEST_QPA_MOUSE_HANDLING
#include "resources/tarvixresources.h"
#include "widgets/clickablelabel.h"
#include "widgets/draggablewidget.h"
#include "widgets/pushbutton.h"

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>
#include <QtTest>

class TestDraggableWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initTarvixResources(); }
    void paintsPanelAndShadow_data();
    void paintsPanelAndShadow();
    void dragsBySurfacesThatDoNotTakeThePress_data();
    void dragsBySurfacesThatDoNotTakeThePress();
    void moveWithoutPressDoesNotMove();
    void rightButtonDoesNotDrag();
};

static QImage paintOf(QWidget *w)
{
    QImage image(w->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    w->render(&image, QPoint(), QRegion(), QWidget::RenderFlags()); // own painting only
    return image;
}

void TestDraggableWidget::paintsPanelAndShadow_data()
{
    QTest::addColumn<bool>("shadowHidden");
    QTest::newRow("shadow") << false;
    QTest::newRow("maximised look") << true;
}

void TestDraggableWidget::paintsPanelAndShadow()
{
    QFETCH(bool, shadowHidden);
    DraggableWidget w;
    w.resize(200, 120);
    w.setShadowHidden(true);
    w.setShadowHidden(shadowHidden);
    const QImage image = paintOf(&w);
    const int midY = image.height() / 2;

    // The middle is always the opaque white panel.
    QCOMPARE(image.pixelColor(100, midY), QColor(255, 255, 255));

    if (shadowHidden) {
        // White right up to every edge, no shadow lines.
        for (const QPoint &p : {QPoint(0, 0), QPoint(199, 119), QPoint(0, midY), QPoint(100, 0)})
            QCOMPARE(image.pixelColor(p), QColor(255, 255, 255));
    } else {
        // A faint shadow in the 10-pixel margin, darkest next to the panel,
        // and the panel starting right after it.
        QVERIFY(image.pixelColor(0, 0).alpha() <= 1);
        const int inner = image.pixelColor(9, midY).alpha();
        const int middle = image.pixelColor(5, midY).alpha();
        const int outer = image.pixelColor(0, midY).alpha();
        QVERIFY2(inner > middle && middle > outer,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(inner).arg(middle).arg(outer)));
        QVERIFY(inner < 40);
        QCOMPARE(image.pixelColor(10, midY).alpha(), 255);
        QCOMPARE(image.pixelColor(189, midY).alpha(), 255);
    }
}

void TestDraggableWidget::dragsBySurfacesThatDoNotTakeThePress_data()
{
    QTest::addColumn<QString>("surface");
    QTest::addColumn<bool>("drags");
    QTest::newRow("empty area") << "" << true;
    QTest::newRow("plain label") << "label" << true;
    QTest::newRow("clickable label") << "clickable" << false;
    QTest::newRow("push button") << "button" << false;
    QTest::newRow("picture button") << "picture" << false;
    QTest::newRow("check box") << "check" << false;
    QTest::newRow("item view") << "view" << false;
}

void TestDraggableWidget::dragsBySurfacesThatDoNotTakeThePress()
{
    QFETCH(QString, surface);
    QFETCH(bool, drags);

    DraggableWidget w;
    w.setGeometry(100, 100, 400, 300);
    auto *layout = new QVBoxLayout(&w);
    layout->setContentsMargins(20, 20, 20, 150);
    QWidget *child = nullptr;
    if (surface == "label")
        child = new QLabel(QStringLiteral("标签"), &w);
    else if (surface == "clickable")
        child = new ClickableLabel(&w);
    else if (surface == "button")
        child = new QPushButton(QStringLiteral("按钮"), &w);
    else if (surface == "picture")
        child = new PushButton(&w);
    else if (surface == "check")
        child = new QCheckBox(QStringLiteral("勾选"), &w);
    else if (surface == "view")
        child = new QListWidget(&w);
    if (child)
        layout->addWidget(child);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    QWindow *window = w.windowHandle();
    QPoint pressAt = child ? child->geometry().center() : QPoint(200, 250);
    if (surface == "check") // on the box itself, not the empty rest of its row
        pressAt = child->geometry().topLeft() + QPoint(8, child->height() / 2);
    const QPoint start = w.pos();
    QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, pressAt);
    QTest::mouseMove(window, pressAt + QPoint(30, 17));
    // The window has moved under the cursor: the cursor now sits at the
    // same window position again, so the next move is relative to that.
    const QPoint firstStep = w.pos() - start;
    const QPoint cursor = window->mapToGlobal(pressAt + QPoint(-5, 4));
    QTest::mouseMove(window, pressAt + QPoint(-5, 4));
    // Release where the cursor now is; a different spot would add a move.
    QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, window->mapFromGlobal(cursor));

    if (drags) {
        QCOMPARE(firstStep, QPoint(30, 17));
        QCOMPARE(w.pos(), start + QPoint(25, 21));
    } else {
        QCOMPARE(w.pos(), start);
    }
}

void TestDraggableWidget::moveWithoutPressDoesNotMove()
{
    DraggableWidget w;
    w.setGeometry(100, 100, 300, 200);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWindow *window = w.windowHandle();
    const QPoint start = w.pos();

    QTest::mouseMove(window, QPoint(50, 50));
    QTest::mouseMove(window, QPoint(120, 90));
    QCOMPARE(w.pos(), start);

    // After a full drag ends, moving no longer drags.
    QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
    QTest::mouseMove(window, QPoint(150, 100));
    QCOMPARE(w.pos(), start);
}

void TestDraggableWidget::rightButtonDoesNotDrag()
{
    DraggableWidget w;
    w.setGeometry(100, 100, 300, 200);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWindow *window = w.windowHandle();
    const QPoint start = w.pos();

    QTest::mousePress(window, Qt::RightButton, Qt::NoModifier, QPoint(50, 50));
    QTest::mouseMove(window, QPoint(90, 80));
    QTest::mouseRelease(window, Qt::RightButton, Qt::NoModifier, QPoint(90, 80));
    QCOMPARE(w.pos(), start);
}

QTEST_MAIN(TestDraggableWidget)
#include "tst_draggablewidget.moc"
