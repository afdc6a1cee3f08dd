#define QTEST_QPA_MOUSE_HANDLING
#include "resources/tarvixresources.h"
#include "widgets/clickablelabel.h"

#include <QVBoxLayout>
#include <QWindow>
#include <QtTest>

class TestClickableLabel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initTarvixResources(); }
    void constructionDefaults();
    void clicksOnLeftPressOnly_data();
    void clicksOnLeftPressOnly();
};

void TestClickableLabel::constructionDefaults()
{
    ClickableLabel label;
    QCOMPARE(label.objectName(), QStringLiteral("ClickableLabel"));
    QCOMPARE(label.size(), QSize(272, 252));
    QCOMPARE(label.windowTitle(), QStringLiteral("Form"));
    QVERIFY(label.styleSheet().isEmpty());
}

void TestClickableLabel::clicksOnLeftPressOnly_data()
{
    QTest::addColumn<int>("buttonValue");
    QTest::addColumn<QPoint>("releaseOffset");
    QTest::addColumn<int>("clicks");
    QTest::newRow("left, released inside") << int(Qt::LeftButton) << QPoint(0, 0) << 1;
    QTest::newRow("left, released outside") << int(Qt::LeftButton) << QPoint(0, 150) << 1;
    QTest::newRow("right") << int(Qt::RightButton) << QPoint(0, 0) << 0;
    QTest::newRow("middle") << int(Qt::MiddleButton) << QPoint(0, 0) << 0;
}

void TestClickableLabel::clicksOnLeftPressOnly()
{
    QFETCH(int, buttonValue);
    const auto button = Qt::MouseButton(buttonValue);
    QFETCH(QPoint, releaseOffset);
    QFETCH(int, clicks);

    QWidget host;
    host.resize(300, 300);
    auto *layout = new QVBoxLayout(&host);
    auto *label = new ClickableLabel(&host);
    label->setText(QStringLiteral("用户"));
    layout->addWidget(label);
    layout->addStretch();
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));

    QSignalSpy clicked(label, &ClickableLabel::clicked);
    QWindow *window = host.windowHandle();
    const QPoint at = label->geometry().center();
    QTest::mousePress(window, button, Qt::NoModifier, at);
    // Counted on the press, before any release.
    QCOMPARE(clicked.count(), clicks);
    QTest::mouseRelease(window, button, Qt::NoModifier, at + releaseOffset);
    QCOMPARE(clicked.count(), clicks);
}

QTEST_MAIN(TestClickableLabel)
#include "tst_clickablelabel.moc"
