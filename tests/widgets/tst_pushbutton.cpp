#define QTEST_QPA_MOUSE_HANDLING
#include "resources/tarvixresources.h"
#include "widgets/draggablewidget.h"
#include "widgets/pushbutton.h"

#include <QImage>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWindow>
#include <QtTest>

// Pictures of our own, so the checks do not depend on the artwork: the
// normal one red, the hover one blue.
class TestPushButton : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void takesTheSizeOfItsPicture();
    void hoverAndPressSwitchPictures();
    void clicksOnReleaseInsideOnly_data();
    void clicksOnReleaseInsideOnly();
    void keyboardNeverClicks_data();
    void keyboardNeverClicks();
    void hoverPathOfResourcePicture();
    void missingPictureKeepsAUsableButton();

private:
    struct Host
    {
        DraggableWidget window;
        PushButton *button = nullptr;
    };
    void makeHost(Host &host);
    QColor shownColour(PushButton *button) const;

    QTemporaryDir m_dir;
    QString m_picture;
};

void TestPushButton::initTestCase()
{
    initTarvixResources();
    QVERIFY(m_dir.isValid());
    m_picture = m_dir.filePath(QStringLiteral("min"));
    QImage normal(40, 30, QImage::Format_ARGB32);
    normal.fill(Qt::red);
    QVERIFY(normal.save(m_picture + QStringLiteral(".png")));
    QImage hover(40, 30, QImage::Format_ARGB32);
    hover.fill(Qt::blue);
    QVERIFY(hover.save(m_picture + QStringLiteral("_hover.png")));
}

void TestPushButton::makeHost(Host &host)
{
    host.window.resize(300, 200);
    auto *layout = new QVBoxLayout(&host.window);
    host.button = new PushButton(&host.window);
    host.button->setPicture(m_picture);
    layout->addWidget(host.button, 0, Qt::AlignCenter);
    host.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host.window));
}

QColor TestPushButton::shownColour(PushButton *button) const
{
    return button->grab().toImage().pixelColor(button->width() / 2, button->height() / 2);
}

void TestPushButton::takesTheSizeOfItsPicture()
{
    PushButton button;
    QCOMPARE(button.displayState(), int(PushButton::Normal));
    QCOMPARE(button.cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(button.contentsMargins(), QMargins(20, 0, 20, 0));
    button.setPicture(m_picture);
    QCOMPARE(button.size(), QSize(40, 30));
    QCOMPARE(button.minimumSize(), QSize(40, 30));
    QCOMPARE(button.maximumSize(), QSize(40, 30));
}

void TestPushButton::hoverAndPressSwitchPictures()
{
    Host host;
    makeHost(host);
    PushButton *button = host.button;
    QWindow *window = host.window.windowHandle();
    const QPoint inside = button->geometry().center();
    const QPoint outside(5, 5);

    QTest::mouseMove(window, outside);
    QCOMPARE(button->displayState(), int(PushButton::Normal));
    QCOMPARE(shownColour(button), QColor(Qt::red));

    QTest::mouseMove(window, inside);
    QCOMPARE(button->displayState(), int(PushButton::Hovered));
    QCOMPARE(shownColour(button), QColor(Qt::blue));

    QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, inside);
    QCOMPARE(button->displayState(), int(PushButton::Pressed));
    QCOMPARE(shownColour(button), QColor(Qt::blue));

    QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, inside);
    QCOMPARE(button->displayState(), int(PushButton::Hovered));

    QTest::mouseMove(window, outside);
    QCOMPARE(button->displayState(), int(PushButton::Normal));
    QCOMPARE(shownColour(button), QColor(Qt::red));
}

void TestPushButton::clicksOnReleaseInsideOnly_data()
{
    QTest::addColumn<int>("buttonValue");
    QTest::addColumn<bool>("releaseInside");
    QTest::addColumn<int>("clicks");
    QTest::newRow("left, inside") << int(Qt::LeftButton) << true << 1;
    QTest::newRow("left, outside") << int(Qt::LeftButton) << false << 0;
    QTest::newRow("right, inside") << int(Qt::RightButton) << true << 0;
}

void TestPushButton::clicksOnReleaseInsideOnly()
{
    QFETCH(int, buttonValue);
    const auto button = Qt::MouseButton(buttonValue);
    QFETCH(bool, releaseInside);
    QFETCH(int, clicks);

    Host host;
    makeHost(host);
    QWindow *window = host.window.windowHandle();
    const QPoint inside = host.button->geometry().center();
    const QPoint outside = host.button->geometry().bottomRight() + QPoint(30, 30);
    const QPoint windowStart = host.window.pos();

    QSignalSpy clicked(host.button, &PushButton::clicked);
    QTest::mouseMove(window, inside);
    QTest::mousePress(window, button, Qt::NoModifier, inside);
    const QPoint releaseAt = releaseInside ? inside : outside;
    QTest::mouseMove(window, releaseAt);
    QTest::mouseRelease(window, button, Qt::NoModifier, releaseAt);

    QCOMPARE(clicked.count(), clicks);
    if (clicks == 1)
        QCOMPARE(clicked.first().first().toBool(), false);
    // The button took the press: its window never started a drag.
    QCOMPARE(host.window.pos(), windowStart);
}

void TestPushButton::keyboardNeverClicks_data()
{
    QTest::addColumn<int>("key");
    QTest::newRow("space") << int(Qt::Key_Space);
    QTest::newRow("return") << int(Qt::Key_Return);
    QTest::newRow("enter") << int(Qt::Key_Enter);
}

void TestPushButton::keyboardNeverClicks()
{
    QFETCH(int, key);
    Host host;
    makeHost(host);
    host.window.activateWindow();
    host.button->setFocus();
    QSignalSpy clicked(host.button, &PushButton::clicked);
    QSignalSpy rejected(&host.window, &QDialog::rejected);
    QTest::keyClick(host.button, Qt::Key(key));
    QCOMPARE(clicked.count(), 0);
    QCOMPARE(rejected.count(), 0);
    QVERIFY(host.window.isVisible());
}

void TestPushButton::hoverPathOfResourcePicture()
{
    PushButton button;
    button.setPicture(QStringLiteral(":/image/phone/min"));
    QCOMPARE(button.currentPicture(), QStringLiteral(":/image/phone/min"));
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(&button, &enter);
    QCOMPARE(button.currentPicture(), QStringLiteral(":/image/phone/min_hover"));
    // When the artwork is there, the button has the size of the normal picture.
    const QPixmap normal(QStringLiteral(":/image/phone/min.png"));
    if (!normal.isNull())
        QCOMPARE(button.size(), normal.size());
}

void TestPushButton::missingPictureKeepsAUsableButton()
{
    PushButton button;
    const QSize before = button.size();
    button.setPicture(m_dir.filePath(QStringLiteral("nothing-here")));
    QCOMPARE(button.size(), before);
    QVERIFY(!button.grab().isNull()); // paints without a picture
}

QTEST_MAIN(TestPushButton)
#include "tst_pushbutton.moc"
