#define QTEST_QPA_MOUSE_HANDLING
#include "resources/tarvixresources.h"
#include "stream/phonecontroller.h"
#include "stream/videorender.h"
#include "widgets/clickablelabel.h"
#include "widgets/pushbutton.h"
#include "widgets/titlewidget.h"
#include "widgets/toast.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QSignalSpy>
#include <QThread>
#include <QtTest>

class TestPhoneController : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initTarvixResources(); }

    void widgetTree()
    {
        PhoneController window;
        QCOMPARE(window.objectName(), QStringLiteral("PhoneController"));
        QCOMPARE(window.windowTitle(), QStringLiteral("云手机"));
        QCOMPARE(window.size(), QSize(520, 918));
        QCOMPARE(window.controlStatus(), -1);

        auto *mcl = window.findChild<ClickableLabel *>(QStringLiteral("mcl"));
        QVERIFY(mcl);
        QCOMPARE(mcl->text(), QStringLiteral("单机中"));
        QCOMPARE(mcl->styleSheet(), QStringLiteral("#mcl {color:#000000;border-radius: 10px 10px 10px 10px;}"));
        auto *paste = window.findChild<ClickableLabel *>(QStringLiteral("pasteBtn"));
        QVERIFY(paste);
        QCOMPARE(paste->text(), QStringLiteral("粘贴文本"));
        QVERIFY(window.findChild<ClickableLabel *>(QStringLiteral("icon")));
        QVERIFY(window.findChild<QLabel *>(QStringLiteral("currentID")));
        QVERIFY(window.findChild<QLabel *>(QStringLiteral("currentTime")));
        QVERIFY(window.findChild<TitleWidget *>(QStringLiteral("titleWidget")));
        QCOMPARE(window.findChild<QWidget *>(QStringLiteral("sysMenu"))->height(), 50);
        QCOMPARE(window.videoRender()->objectName(), QStringLiteral("videoRender"));

        const QVector<QPair<QString, QString>> keys{{"backControl", "返回"}, {"homeControl", "首页"}, {"menuControl", "菜单"}};
        for (const auto &k : keys) {
            auto *key = window.findChild<ClickableLabel *>(k.first);
            QVERIFY2(key, qPrintable(k.first));
            QCOMPARE(key->size(), QSize(44, 44));
            QCOMPARE(key->toolTip(), k.second);
            QCOMPARE(key->cursor().shape(), Qt::PointingHandCursor);
        }

        window.setCurrentId(QStringLiteral("Phone 3"));
        window.setCurrentTime(QStringLiteral("剩余1天2小时"));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("currentID"))->text(), QStringLiteral("Phone 3"));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("currentTime"))->text(), QStringLiteral("剩余1天2小时"));
        QCOMPARE(window.videoRender()->phoneId(), QStringLiteral("Phone 3"));

        // Only minimise and close are left on the title bar.
        window.show();
        QStringList visibleButtons;
        for (PushButton *b : window.findChildren<PushButton *>()) {
            if (b->isVisible())
                visibleButtons << b->objectName();
        }
        QCOMPARE(visibleButtons.size(), 2);
    }

    void statusQuery_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("highlighted");
        QTest::newRow("controlled") << 1 << QStringLiteral("被控中") << true;
        QTest::newRow("master") << 2 << QStringLiteral("主控中") << false;
        QTest::newRow("zero") << 0 << QStringLiteral("单机中") << false;
        QTest::newRow("three") << 3 << QStringLiteral("单机中") << false;
    }
    // Asked once a second after opening and on every click of the label.
    void statusQuery()
    {
        QFETCH(int, answer);
        QFETCH(QString, text);
        QFETCH(bool, highlighted);
        PhoneController window;
        QVector<int> asked;
        connect(&window, &PhoneController::getMachineControlStatusPC, this, [&](int current) {
            asked << current;
            return answer;
        });
        auto *mcl = window.findChild<ClickableLabel *>(QStringLiteral("mcl"));
        QTRY_COMPARE_WITH_TIMEOUT(asked.size(), 1, 3000);
        QCOMPARE(asked.at(0), -1);
        QCOMPARE(mcl->text(), text);
        QCOMPARE(mcl->styleSheet().contains(QLatin1String("solid")), highlighted);
        window.show();
        QTest::mouseClick(mcl, Qt::LeftButton);
        QCOMPARE(asked.size(), 2);
        QCOMPARE(asked.at(1), answer);
        QCOMPARE(window.controlStatus(), answer);
    }

    void rotationResizesWindow()
    {
        PhoneController window;
        window.show();
        emit window.videoRender()->sizeChange(true);
        QCOMPARE(window.size(), QSize(918, 520));
        emit window.videoRender()->sizeChange(false);
        QCOMPARE(window.size(), QSize(520, 918));
    }

    // A disconnect on a library thread: the toast names phone and code, the
    // window ends, and the card is told the phone dropped its streams.
    void disconnectClosesWithToast()
    {
        PhoneController window;
        window.setCurrentId(QStringLiteral("云机A"));
        window.show();
        QSignalSpy reload(&window, &PhoneController::reloadSDK);
        QThread *library = QThread::create([&window] { window.videoRender()->onDisconnected(196614); });
        library->start();
        QVERIFY(library->wait(10000));
        delete library;
        QTRY_VERIFY(!window.isVisible());
        QCOMPARE(Toast::instance()->window()->text(), QStringLiteral("云手机 云机A 断开连接.(196614)"));
        QCOMPARE(reload.count(), 1);
        QVERIFY(window.endedByPhone());
    }

    // Every way the window ends: hidden, stream stopped, role back to
    // standalone, the card told once.
    void everyEndingTakesOnePath_data()
    {
        QTest::addColumn<int>("way");
        QTest::addColumn<bool>("phoneLost");
        QTest::newRow("title bar") << 0 << false;
        QTest::newRow("window manager") << 1 << false;
        QTest::newRow("退出云机") << 2 << false;
        QTest::newRow("reboot or reset") << 3 << true;
    }

    void everyEndingTakesOnePath()
    {
        QFETCH(int, way);
        PhoneController window;
        window.show();
        window.setControlStatus(2);
        QSignalSpy reload(&window, &PhoneController::reloadSDK);
        switch (way) {
        case 0:
            emit window.findChild<TitleWidget *>(QStringLiteral("titleWidget"))->windowClosed();
            break;
        case 1:
            QVERIFY(!window.close()); // refused by the window, which ends itself instead
            break;
        case 2:
            window.videoRender()->stopStream();
            emit window.videoRender()->exitVideoRender();
            emit window.videoRender()->closePhoneController();
            break;
        default:
            emit window.videoRender()->closePhoneController();
            break;
        }
        QVERIFY(!window.isVisible());
        QVERIFY(window.hasEnded());
        QVERIFY(window.videoRender()->isStopped());
        QCOMPARE(window.controlStatus(), -1);
        QCOMPARE(reload.count(), 1);
        QTEST(window.endedByPhone(), "phoneLost");
    }

    // The view's records go out with the window's status; paste records are
    // the window's own and carry the clipboard text.
    void recordsCarryStatus()
    {
        PhoneController window;
        window.setControlStatus(2);
        window.show();
        QStringList seen;
        connect(&window, &PhoneController::sendSigleOperateDataPC, this,
                [&](const QString &otype, int oper, int *datax, int *datay, float *dataf, int mstatus, const QString &text) {
                    seen << QStringLiteral("%1 %2 %3 %4 %5 %6 [%7]")
                                .arg(otype)
                                .arg(oper)
                                .arg(datax[0])
                                .arg(datay[0])
                                .arg(double(dataf[0]))
                                .arg(mstatus)
                                .arg(text);
                });
        VideoRender *view = window.videoRender();
        QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
        QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
        QGuiApplication::clipboard()->setText(QStringLiteral("你好，云手机"));
        QTest::mouseClick(window.findChild<ClickableLabel *>(QStringLiteral("pasteBtn")), Qt::LeftButton);
        QCOMPARE(seen.size(), 3);
        QVERIFY(seen.at(0).startsWith(QLatin1String("OnTouchEvent 0 ")));
        QVERIFY(seen.at(0).endsWith(QLatin1String(" 0 2 []")));
        QCOMPARE(seen.at(1), QStringLiteral("OnTouchEvent 1 -1 -1 0 2 []"));
        QCOMPARE(seen.at(2), QStringLiteral("copyContent -1 -1 -1 -1 2 [你好，云手机]"));
    }

    // Escape goes to the phone like any key; it does not close the window.
    void escapeDoesNotClose()
    {
        PhoneController window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(window.isVisible());
    }
};

QTEST_MAIN(TestPhoneController)
#include "tst_phonecontroller.moc"
