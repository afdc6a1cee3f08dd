#include "widgets/toast.h"

#include <QElapsedTimer>
#include <QtTest>

class TestToast : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        Toast::instance()->window()->hide();
    }

    void newMessageReplacesTextAndRestartsThePeriod()
    {
        Toast *toast = Toast::instance();
        QElapsedTimer clock;
        clock.start();
        toast->show(1, QStringLiteral("刷新成功"));
        QTest::qWait(500);
        toast->show(2, QStringLiteral("验证码下发失败"));
        const qint64 second = clock.elapsed();

        QCOMPARE(toast->window()->text(), QStringLiteral("验证码下发失败"));
        QVERIFY(toast->window()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!toast->window()->isVisible(), 10000);
        // Timers never fire early by more than the coarse slack (5 %), so the
        // hide is tied to the second message, not to the first.
        QVERIFY2(clock.elapsed() - second >= 1900, qPrintable(QString::number(clock.elapsed() - second)));
        QVERIFY(!toast->isTimerRunning());
    }

    void anchoredToastIsCentredAndKeepsItsPlace()
    {
        QWidget anchor;
        anchor.setGeometry(300, 200, 40, 20); // smaller than the toast
        anchor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&anchor));

        Toast::instance()->show(0, QStringLiteral("云机重启成功，请稍等两分钟"), &anchor);
        ToastDlg *dlg = Toast::instance()->window();
        const QPoint a = anchor.mapToGlobal(QPoint(0, 0));
        QCOMPARE(dlg->pos(), QPoint(a.x() + (anchor.width() - dlg->width()) / 2,
                                    a.y() + (anchor.height() - dlg->height()) / 2));
        QVERIFY(dlg->width() > anchor.width());

        const QPoint anchored = dlg->pos();
        Toast::instance()->show(1, QStringLiteral("刷新成功"));
        QCOMPARE(dlg->pos(), anchored);
    }

    // Whether focus really stays is checked on a real X server (tst_startup);
    // the offscreen platform activates every window it shows.
    void toastWindowFlags()
    {
        Toast::instance()->show(2, QStringLiteral("网络异常"));
        ToastDlg *dlg = Toast::instance()->window();
        QVERIFY(dlg->testAttribute(Qt::WA_ShowWithoutActivating));
        QVERIFY(dlg->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(dlg->windowFlags() & Qt::FramelessWindowHint);
    }
};

QTEST_MAIN(TestToast)
#include "tst_toast.moc"
