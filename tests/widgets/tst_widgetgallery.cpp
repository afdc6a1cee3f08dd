#include "resources/tarvixresources.h"
#include "tests/support/screenshot.h"
#include "widgets/draggablewidget.h"
#include "widgets/flowlayout.h"
#include "widgets/infodialog.h"
#include "widgets/pushbutton.h"
#include "widgets/slidenavigation.h"
#include "widgets/titlewidget.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

// The common widgets together on a real X server, as a person sees them:
// screenshots for review, and a drag made with the X server's own pointer.
class TestWidgetGallery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void windowWithTitleAndNavigation();
    void rebootConfirmation();
    void updateNotice();
    void dragWithTheRealPointer();

private:
    void buildWindow();
    bool xdotool(const QStringList &args);

    // Without a compositing manager X paints the transparent shadow margin
    // black; the client always runs under one on a desktop.
    QProcess m_compositor;
    DraggableWidget *m_window = nullptr;
    TitleWidget *m_title = nullptr;
    SlideNavigation *m_nav = nullptr;
};

void TestWidgetGallery::initTestCase()
{
    initTarvixResources();
    if (!QStandardPaths::findExecutable(QStringLiteral("xcompmgr")).isEmpty()) {
        m_compositor.start(QStringLiteral("xcompmgr"), QStringList());
        m_compositor.waitForStarted(5000);
        QTest::qWait(300);
    }
    QFile style(QStringLiteral(":/style/style.css"));
    if (style.open(QIODevice::ReadOnly))
        qApp->setStyleSheet(QString::fromUtf8(style.readAll()));
    buildWindow();
}

void TestWidgetGallery::cleanupTestCase()
{
    delete m_window;
    if (m_compositor.state() != QProcess::NotRunning) {
        m_compositor.terminate();
        if (!m_compositor.waitForFinished(5000))
            m_compositor.kill();
    }
}

void TestWidgetGallery::buildWindow()
{
    m_window = new DraggableWidget;
    m_window->setObjectName(QStringLiteral("GalleryWindow"));
    m_window->resize(900, 600);
    m_window->move(60, 60);

    auto *outer = new QVBoxLayout(m_window);
    // Leave the shadow margin free.
    outer->setContentsMargins(DraggableWidget::ShadowMargin, DraggableWidget::ShadowMargin,
                              DraggableWidget::ShadowMargin, DraggableWidget::ShadowMargin);
    outer->setSpacing(0);

    m_title = new TitleWidget(m_window);
    m_title->setSettingButtonHidden(true);
    m_title->setUserName(QStringLiteral("13800138000"));
    outer->addWidget(m_title);

    auto *body = new QHBoxLayout;
    body->setSpacing(0);
    m_nav = new SlideNavigation(m_window);
    m_nav->setOrientation(SlideNavigation::Vertical);
    m_nav->setFixed(true);
    m_nav->addItem(QStringLiteral("云手机"));
    m_nav->addItem(QStringLiteral("购买"));
    body->addWidget(m_nav);

    auto *scroll = new QScrollArea(m_window);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto *cards = new QWidget(scroll);
    auto *flow = new FlowLayout(cards, 10, 10, 10);
    for (int i = 1; i <= 7; ++i) {
        auto *card = new QLabel(QStringLiteral("云手机 %1\n剩余 29天").arg(i), cards);
        card->setAlignment(Qt::AlignCenter);
        card->setFixedSize(150, 100);
        card->setStyleSheet(QStringLiteral("background:#f4f7fa;border:1px solid #dde3e8;border-radius:6px;"));
        flow->addWidget(card);
    }
    scroll->setWidget(cards);
    body->addWidget(scroll, 1);
    outer->addLayout(body, 1);

    QTimer::singleShot(10, m_nav, [this] { m_nav->moveToFirst(); });
    m_window->show();
}

void TestWidgetGallery::windowWithTitleAndNavigation()
{
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QTRY_COMPARE(m_nav->currentIndex(), 0);
    QTRY_VERIFY(!m_nav->isAnimating());
    QVERIFY(!TestSupport::grabScreen(QStringLiteral("widgets-window")).isEmpty());

    m_nav->moveTo(1);
    QTRY_VERIFY_WITH_TIMEOUT(!m_nav->isAnimating(), 10000);
    QCOMPARE(m_nav->barRect(), m_nav->itemRect(1));
    m_title->toggleMaximized(); // the restore picture, as a maximised window shows
    QTest::qWait(100); // let it repaint before the screen is read
    QVERIFY(!TestSupport::grabScreen(QStringLiteral("widgets-window-second-item")).isEmpty());
    m_title->toggleMaximized();
    m_nav->moveTo(0);
    QTRY_VERIFY_WITH_TIMEOUT(!m_nav->isAnimating(), 10000);
}

void TestWidgetGallery::rebootConfirmation()
{
    InfoDialog dialog;
    dialog.setAttentionText(QStringLiteral("确定重启手机?"));
    dialog.setWindowTitle(QStringLiteral("重启手机"));
    dialog.setContentText(QStringLiteral("重启需要一分钟左右，期间无法对云手机进行操作"));
    centerOver(&dialog, m_window);

    QString shot;
    QTimer::singleShot(0, &dialog, [&] {
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::qWait(200);
        shot = TestSupport::grabScreen(QStringLiteral("widgets-reboot-dialog"));
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("cancel")), Qt::LeftButton);
    });
    QTimer::singleShot(20000, &dialog, [&] { dialog.done(99); });
    QCOMPARE(dialog.exec(), 0);
    QVERIFY(!shot.isEmpty());
}

void TestWidgetGallery::updateNotice()
{
    InfoDialog dialog;
    dialog.setAttentionText(QStringLiteral("检查更新"));
    dialog.setWindowTitle(QStringLiteral("检查更新"));
    dialog.setContentText(QStringLiteral("当前版本为最新版本!"));
    dialog.setSingleButtonText(QStringLiteral("确定"));
    centerOver(&dialog, m_window);

    QString shot;
    QTimer::singleShot(0, &dialog, [&] {
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::qWait(200);
        shot = TestSupport::grabScreen(QStringLiteral("widgets-update-notice"));
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("cancelclose")), Qt::LeftButton);
    });
    QTimer::singleShot(20000, &dialog, [&] { dialog.done(99); });
    QCOMPARE(dialog.exec(), 0);
    QVERIFY(!shot.isEmpty());
}

bool TestWidgetGallery::xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    return p.waitForFinished(10000) && p.exitCode() == 0;
}

void TestWidgetGallery::dragWithTheRealPointer()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("xdotool is not installed");
    m_window->raise();
    m_window->activateWindow();
    QTest::qWait(100);

    // Grab the window by the empty part of its title bar.
    const QPoint start = m_window->pos();
    const QPoint grip = m_title->mapToGlobal(QPoint(m_title->width() / 2, 30));
    QVERIFY(xdotool({"mousemove", QString::number(grip.x()), QString::number(grip.y())}));
    QTest::qWait(50);
    QVERIFY(xdotool({"mousedown", "1"}));
    QTest::qWait(50);
    for (int step = 1; step <= 4; ++step) {
        QVERIFY(xdotool({"mousemove", QString::number(grip.x() + 30 * step), QString::number(grip.y() + 10 * step)}));
        QTest::qWait(50);
    }
    QVERIFY(xdotool({"mouseup", "1"}));
    QTRY_COMPARE(m_window->pos(), start + QPoint(120, 40));

    // Moving afterwards, without a button, leaves the window where it is.
    QVERIFY(xdotool({"mousemove", QString::number(grip.x() + 300), QString::number(grip.y() + 200)}));
    QTest::qWait(200);
    QCOMPARE(m_window->pos(), start + QPoint(120, 40));
}

QTEST_MAIN(TestWidgetGallery)
#include "tst_widgetgallery.moc"
