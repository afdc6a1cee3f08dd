#define QTEST_QPA_MOUSE_HANDLING
#include "resources/tarvixresources.h"
#include "stream/menubutton.h"
#include "stream/videorender.h"

#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <cstring>

namespace {

// One relayed record, copied while the emitting call runs.
struct Record
{
    QString otype;
    int oper = 0;
    int x = 0;
    int y = 0;
    float f = 0;
};

void fillFrame(VideoRender &view, quint32 argb)
{
    auto *pixels = reinterpret_cast<quint32 *>(view.getFrameBuffer());
    std::fill(pixels, pixels + view.getDstWidth() * view.getDstHeight(), argb);
}

} // namespace

class TestVideoRender : public QObject
{
    Q_OBJECT

private:
    QVector<Record> m_records;

    void record(VideoRender &view)
    {
        connect(&view, &VideoRender::sendSigleOperateDataVD, this,
                [this](const QString &otype, int oper, int *datax, int *datay, float *dataf) {
                    Record r;
                    r.otype = otype;
                    r.oper = oper;
                    r.x = datax ? datax[0] : -99;
                    r.y = datay ? datay[0] : -99;
                    r.f = dataf ? dataf[0] : -99.f;
                    m_records << r;
                },
                Qt::DirectConnection);
    }

private slots:
    void initTestCase() { initTarvixResources(); }
    void init() { m_records.clear(); }

    void widgetTree()
    {
        VideoRender view;
        QCOMPARE(view.objectName(), QStringLiteral("VideoRender"));
        QCOMPARE(view.geometry(), QRect(0, 0, 500, 880));
        QCOMPARE(QString::fromLatin1(view.metaObject()->className()), QStringLiteral("VideoRender"));
        QCOMPARE(view.qt_metacast("VideoDisplayWinBase"), static_cast<void *>(static_cast<VideoDisplayWinBase *>(&view)));
        QCOMPARE(view.qt_metacast("SWDataSourceListener"), static_cast<void *>(static_cast<SWDataSourceListener *>(&view)));

        auto *content = view.findChild<QLabel *>(QStringLiteral("Content"));
        QVERIFY(content);
        QCOMPARE(content->geometry(), QRect(0, 0, 500, 880));
        QVERIFY(!content->pixmap(Qt::ReturnByValue).isNull());

        auto *panel = view.findChild<QWidget *>(QStringLiteral("phoneControl"));
        QVERIFY(panel);
        QCOMPARE(panel->geometry(), QRect(1, 650, 498, 230));
        QVERIFY(panel->isHidden());

        auto *combo = view.findChild<QComboBox *>(QStringLiteral("comboBox"));
        QVERIFY(combo);
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QCOMPARE(items, (QStringList{"自动", "高清", "标清", "流畅"}));
        QCOMPARE(combo->currentIndex(), 0);

        const QVector<QPair<QString, QString>> labels{{"screen", "横竖屏切换"}, {"quit", "退出云机"}};
        for (const auto &l : labels) {
            auto *label = view.findChild<QLabel *>(l.first);
            QVERIFY2(label, qPrintable(l.first));
            QCOMPARE(label->text(), l.second);
            QCOMPARE(label->metaObject()->className(), "ClickableLabel");
            QCOMPARE(label->property("class").toString(), QStringLiteral("btn"));
            QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);
        }
        QCOMPARE(view.findChild<QLabel *>(QStringLiteral("quit"))->size(), QSize(80, 30));

        const QVector<QPair<QString, QString>> buttons{{"reboot", "重启"}, {"reset", "恢复出厂设置"}, {"uploadFile", "文件上传"}};
        for (const auto &b : buttons) {
            auto *button = view.findChild<MenuButton *>(b.first);
            QVERIFY2(button, qPrintable(b.first));
            QCOMPARE(button->text(), b.second);
            QVERIFY(!QPixmap(button->iconPath()).isNull());
        }
        for (const char *name : {"titleWidget", "icon", "id", "serverSn", "widget", "widgetContent"})
            QVERIFY2(view.findChild<QWidget *>(QLatin1String(name)), name);

        view.setPhoneId(QStringLiteral("Phone-7"));
        QCOMPARE(view.findChild<QLabel *>(QStringLiteral("id"))->text(), QStringLiteral("Phone-7"));
    }

    void relayoutFollowsResize()
    {
        VideoRender view;
        view.show();
        view.resize(900, 400);
        auto *panel = view.findChild<QWidget *>(QStringLiteral("phoneControl"));
        auto *content = view.findChild<QLabel *>(QStringLiteral("Content"));
        QTRY_COMPARE(content->geometry(), QRect(0, 0, 900, 400));
        QCOMPARE(panel->geometry(), QRect(1, 170, 898, 230));
    }

    void togglePanel()
    {
        VideoRender view;
        view.show();
        auto *panel = view.findChild<QWidget *>(QStringLiteral("phoneControl"));
        view.togglePanel();
        QVERIFY(panel->isVisible());
        view.togglePanel();
        QVERIFY(!panel->isVisible());
    }

    void rotateTwice()
    {
        VideoRender view;
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.togglePanel();
        QSignalSpy sizes(&view, &VideoRender::sizeChange);
        auto *screen = view.findChild<QLabel *>(QStringLiteral("screen"));
        QTest::mouseClick(screen, Qt::LeftButton);
        QVERIFY(!view.isPortrait());
        QCOMPARE(view.size(), QSize(900, 400));
        QTRY_COMPARE(view.findChild<QWidget *>(QStringLiteral("phoneControl"))->y(), 170);
        QTest::mouseClick(screen, Qt::LeftButton);
        QVERIFY(view.isPortrait());
        QCOMPARE(view.size(), QSize(500, 790));
        QCOMPARE(sizes.count(), 2);
        QCOMPARE(sizes.at(0).at(0).toBool(), true);
        QCOMPARE(sizes.at(1).at(0).toBool(), false);
    }

    void quitEmitsExitBeforeClose()
    {
        VideoRender view;
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QStringList order;
        connect(&view, &VideoRender::exitVideoRender, this, [&] { order << "exit"; });
        connect(&view, &VideoRender::closePhoneController, this, [&] { order << "close"; });
        view.togglePanel();
        QTest::mouseClick(view.findChild<QLabel *>(QStringLiteral("quit")), Qt::LeftButton);
        QCOMPARE(order, (QStringList{"exit", "close"}));
        QVERIFY(!view.isVisible());
    }

    // Before the stream exists touches are still announced; keys are not.
    void inputBeforeStream()
    {
        VideoRender view;
        view.resize(500, 790);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        record(view);

        QTest::mouseMove(&view, QPoint(100, 100));
        QMouseEvent moveBefore(QEvent::MouseMove, QPointF(100, 100), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &moveBefore);
        QCOMPARE(m_records.size(), 0);

        QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, QPoint(250, 395));
        QMouseEvent move(QEvent::MouseMove, QPointF(260, 400), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &move);
        QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, QPoint(300, 500));
        const int afterRelease = m_records.size();
        QMouseEvent moveAfter(QEvent::MouseMove, QPointF(270, 410), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &moveAfter);
        QCOMPARE(m_records.size(), afterRelease);

        // Down, moves (the window system adds one to the release point), up.
        QVERIFY(m_records.size() >= 3);
        QCOMPARE(m_records.first().otype, QStringLiteral("OnTouchEvent"));
        QCOMPARE(m_records.first().oper, 0);
        for (int i = 1; i < m_records.size() - 1; ++i)
            QCOMPARE(m_records.at(i).oper, 2);
        QCOMPARE(m_records.last().oper, 1);
        QCOMPARE(m_records.last().x, -1);
        QCOMPARE(m_records.last().y, -1);
        QCOMPARE(m_records.last().f, 0.0f);

        // Keys are announced only once they went to a stream; relayed
        // records are never announced again.
        view.sendKey(Qt::Key_A);
        view.sendNavigationKey(1);
        view.pasteText(QStringLiteral("文本"));
        int x = 1, y = 2;
        float f = 0;
        view.applyOperation(QStringLiteral("OnTouchEvent"), 0, &x, &y, &f, QString());
        QCOMPARE(m_records.size(), afterRelease);
        QVERIFY(!view.hasStream());
    }

    void pressHidesPanelOutsideItsRectangle()
    {
        VideoRender view;
        view.resize(500, 790);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        auto *panel = view.findChild<QWidget *>(QStringLiteral("phoneControl"));
        view.togglePanel();
        QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        QVERIFY(panel->isVisible());
        QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, QPoint(10, 400));
        QVERIFY(!panel->isVisible());
    }

    void pressOnPanelStaysOnPanel()
    {
        VideoRender view;
        view.resize(500, 790);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTRY_COMPARE(view.findChild<QLabel *>(QStringLiteral("Content"))->height(), 790);
        record(view);
        view.togglePanel();
        auto *panel = view.findChild<QWidget *>(QStringLiteral("phoneControl"));
        QTest::mouseClick(panel, Qt::LeftButton, Qt::NoModifier, QPoint(5, 100));
        QCOMPARE(m_records.size(), 0);
        QVERIFY(panel->isVisible());
    }

    void menuButtonClicksOnReleaseInside()
    {
        QWidget window;
        window.resize(600, 300);
        auto &button = *new MenuButton(&window);
        QCOMPARE(button.objectName(), QStringLiteral("MenuButton"));
        QCOMPARE(button.size(), QSize(151, 145));
        button.setIcon(QStringLiteral(":/image/phone/icon_reboot.png"));
        QCOMPARE(button.findChild<QLabel *>(QStringLiteral("menu_icon"))->contentsMargins(), QMargins(20, 10, 20, 10));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy clicks(&button, &MenuButton::clicked);
        QTest::mouseClick(&button, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
        QCOMPARE(clicks.count(), 1);
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        QTest::mousePress(&button, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
        QTest::mouseRelease(&button, Qt::LeftButton, Qt::NoModifier, QPoint(400, 50));
        QCOMPARE(clicks.count(), 1);
        QTest::mouseClick(&button, Qt::RightButton, Qt::NoModifier, QPoint(50, 50));
        QCOMPARE(clicks.count(), 1);

        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(&button, &enter);
        QCOMPARE(button.findChild<QLabel *>(QStringLiteral("text"))->styleSheet(), QStringLiteral("color: #3D3D3D;"));
    }

    // Frames faster than the GUI thread: only the newest waits, and it
    // arrives scaled for the current orientation.
    void framesCoalesce()
    {
        VideoRender view;
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.togglePanel();
        auto *content = view.findChild<QLabel *>(QStringLiteral("Content"));
        QThread *library = QThread::create([&view] {
            for (quint32 colour : {0xffff0000u, 0xff00ff00u, 0xff0000ffu}) {
                fillFrame(view, colour);
                view.onFrameReady();
            }
        });
        library->start();
        QVERIFY(library->wait(10000));
        delete library;
        QCoreApplication::processEvents();
        const VideoRender::FrameCounters counters = view.frameCounters();
        QCOMPARE(counters.received, quint64(3));
        QCOMPARE(counters.shown, quint64(1));
        QCOMPARE(counters.replaced, quint64(2));
        QImage shown = content->pixmap(Qt::ReturnByValue).toImage();
        QCOMPARE(shown.size(), QSize(500, 790));
        QCOMPARE(shown.pixel(250, 395), 0xff0000ffu);

        // The library converts straight to the view's size: the picture,
        // or in landscape the picture before it is turned.
        QCOMPARE(QSize(view.getDstWidth(), view.getDstHeight()), QSize(500, 790));
        // Landscape: the phone's top rows land on the left edge.
        QTest::mouseClick(view.findChild<QLabel *>(QStringLiteral("screen")), Qt::LeftButton);
        QCOMPARE(QSize(view.getDstWidth(), view.getDstHeight()), QSize(400, 900));
        auto *pixels = reinterpret_cast<quint32 *>(view.getFrameBuffer());
        std::fill(pixels, pixels + 400 * 900, 0xff000000u);
        std::fill(pixels, pixels + 400 * 45, 0xffffffffu);
        view.onFrameReady();
        QTRY_COMPARE(view.frameCounters().shown, quint64(2));
        shown = content->pixmap(Qt::ReturnByValue).toImage();
        QCOMPARE(shown.size(), QSize(900, 400));
        QCOMPARE(shown.pixel(5, 200), 0xffffffffu);
        QCOMPARE(shown.pixel(800, 200), 0xff000000u);
    }

    // A disconnect from a library thread names the code and the phone and
    // asks the window to close.
    void disconnectReportsCode()
    {
        VideoRender view;
        view.setPhoneId(QStringLiteral("P-1"));
        QSignalSpy reported(&view, &VideoRender::OnConnectedSignal);
        QSignalSpy closing(&view, &VideoRender::closePhoneController);
        QThread *library = QThread::create([&view] { view.onDisconnected(196613, "kicked"); });
        library->start();
        QVERIFY(library->wait(10000));
        delete library;
        QTRY_COMPARE(reported.count(), 1);
        QCOMPARE(reported.at(0).at(0).toString(), QStringLiteral("196613"));
        QCOMPARE(reported.at(0).at(1).toString(), QStringLiteral("P-1"));
        QCOMPARE(closing.count(), 1);
    }
};

QTEST_MAIN(TestVideoRender)
#include "tst_videorender.moc"
