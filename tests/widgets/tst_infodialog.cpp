#define QTEST_QPA_MOUSE_HANDLING
#include "resources/tarvixresources.h"
#include "widgets/infodialog.h"

#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

class TestInfoDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initTarvixResources(); }
    void startsInTwoButtonMode();
    void textsAreFilled();
    void results_data();
    void results();
    void centerOver_data();
    void centerOver();
};

void TestInfoDialog::startsInTwoButtonMode()
{
    InfoDialog dialog;
    QCOMPARE(dialog.objectName(), QStringLiteral("InfoDialog"));
    QCOMPARE(dialog.size(), QSize(304, 222));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Dialog"));
    QCOMPARE(dialog.layout()->objectName(), QStringLiteral("verticalLayout"));
    QCOMPARE(dialog.layout()->contentsMargins(), QMargins(44, 44, 44, 44));
    QCOMPARE(dialog.findChild<QLabel *>("attention")->text(), QStringLiteral("请注意"));
    QCOMPARE(dialog.findChild<QLabel *>("attention")->alignment(), Qt::AlignCenter);
    auto *content = dialog.findChild<QLabel *>("Content");
    QVERIFY(content->wordWrap());
    QVERIFY(content->openExternalLinks());
    QCOMPARE(content->sizePolicy().verticalStretch(), 1);

    const struct
    {
        const char *name;
        const char *text;
        const char *cssClass;
    } buttons[] = {{"cancel", "取消", "dialog_btn_cancle"},
                   {"ok", "确定", "dialog_btn_confirm"},
                   {"cancelclose", "确定", "dialog_btn_confirm"}};
    for (const auto &b : buttons) {
        auto *button = dialog.findChild<QPushButton *>(b.name);
        QVERIFY2(button, b.name);
        QCOMPARE(button->text(), QString::fromUtf8(b.text));
        QCOMPARE(button->property("class").toString(), QString::fromLatin1(b.cssClass));
    }
    // cancel, spacer, ok in one row; cancelclose alone below it.
    auto *row = dialog.findChild<QHBoxLayout *>("horizontalLayout");
    QVERIFY(row);
    QCOMPARE(row->count(), 3);
    QCOMPARE(row->itemAt(0)->widget()->objectName(), QStringLiteral("cancel"));
    QVERIFY(row->itemAt(1)->spacerItem());
    QCOMPARE(row->itemAt(2)->widget()->objectName(), QStringLiteral("ok"));
    QVERIFY(dialog.findChild<QPushButton *>("cancelclose")->isHidden());
}

void TestInfoDialog::textsAreFilled()
{
    InfoDialog dialog;
    dialog.setAttentionText(QStringLiteral("确定重启手机?"));
    dialog.setWindowTitle(QStringLiteral("重启手机"));
    dialog.setContentText(QStringLiteral("重启需要一分钟左右，期间无法对云手机进行操作"));
    dialog.setConfirmText(QStringLiteral("立刻升级"));

    auto *attention = dialog.findChild<QLabel *>("attention");
    QCOMPARE(attention->text(), QStringLiteral("确定重启手机?"));
    QVERIFY(attention->font().bold());
    QCOMPARE(dialog.findChild<QLabel *>("Content")->text(),
             QStringLiteral("重启需要一分钟左右，期间无法对云手机进行操作"));
    QCOMPARE(dialog.findChild<QPushButton *>("ok")->text(), QStringLiteral("立刻升级"));
}

void TestInfoDialog::results_data()
{
    QTest::addColumn<bool>("singleButton");
    QTest::addColumn<QString>("action"); // a button's name or "escape"
    QTest::addColumn<int>("result");
    QTest::newRow("ok") << false << "ok" << 1;
    QTest::newRow("cancel") << false << "cancel" << 0;
    QTest::newRow("escape") << false << "escape" << 0;
    QTest::newRow("single button") << true << "cancelclose" << 0;
    QTest::newRow("single, escape") << true << "escape" << 0;
}

void TestInfoDialog::results()
{
    QFETCH(bool, singleButton);
    QFETCH(QString, action);
    QFETCH(int, result);

    InfoDialog dialog;
    dialog.setAttentionText(QStringLiteral("检查更新"));
    dialog.setContentText(QStringLiteral("当前版本为最新版本!"));
    if (singleButton)
        dialog.setSingleButtonText(QStringLiteral("知道了"));

    bool checked = false;
    QTimer::singleShot(0, &dialog, [&] {
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        // Exactly the buttons of the mode are visible.
        QCOMPARE(dialog.findChild<QPushButton *>("ok")->isVisible(), !singleButton);
        QCOMPARE(dialog.findChild<QPushButton *>("cancel")->isVisible(), !singleButton);
        auto *single = dialog.findChild<QPushButton *>("cancelclose");
        QCOMPARE(single->isVisible(), singleButton);
        if (singleButton)
            QCOMPARE(single->text(), QStringLiteral("知道了"));
        checked = true;

        if (action == QLatin1String("escape")) {
            QTest::keyClick(&dialog, Qt::Key_Escape);
        } else {
            auto *button = dialog.findChild<QPushButton *>(action);
            QTest::mouseClick(button, Qt::LeftButton);
        }
    });
    // Safety net so a broken button cannot hang the suite.
    QTimer::singleShot(10000, &dialog, [&] { dialog.done(99); });

    QCOMPARE(dialog.exec(), result);
    QVERIFY(checked);
}

void TestInfoDialog::centerOver_data()
{
    QTest::addColumn<QRect>("anchor");
    QTest::addColumn<QSize>("window");
    QTest::addColumn<QPoint>("expected");
    QTest::newRow("larger anchor") << QRect(100, 50, 800, 600) << QSize(304, 222) << QPoint(348, 239);
    // Smaller anchor: the window overhangs equally, offsets go negative.
    QTest::newRow("smaller anchor") << QRect(400, 300, 100, 40) << QSize(304, 222) << QPoint(298, 209);
    // Odd differences are halved toward zero, not rounded down: -203 / 2 = -101.
    QTest::newRow("odd, negative") << QRect(400, 300, 101, 41) << QSize(304, 222) << QPoint(299, 210);
    QTest::newRow("odd, positive") << QRect(50, 60, 305, 223) << QSize(304, 222) << QPoint(50, 60);
    QTest::newRow("equal") << QRect(10, 20, 304, 222) << QSize(304, 222) << QPoint(10, 20);
}

void TestInfoDialog::centerOver()
{
    QFETCH(QRect, anchor);
    QFETCH(QSize, window);
    QFETCH(QPoint, expected);

    // The anchor is a child, so its global position goes through its window.
    QWidget top;
    top.setGeometry(anchor.x() - 7, anchor.y() - 9, anchor.width() + 20, anchor.height() + 20);
    QWidget child(&top);
    child.setGeometry(7, 9, anchor.width(), anchor.height());
    top.show();
    QVERIFY(QTest::qWaitForWindowExposed(&top));
    QCOMPARE(child.mapToGlobal(QPoint(0, 0)), anchor.topLeft());

    InfoDialog dialog;
    dialog.resize(window);
    ::centerOver(&dialog, &child);
    QCOMPARE(dialog.pos(), expected);
    ::centerOver(&dialog, nullptr); // no anchor: stays put
    QCOMPARE(dialog.pos(), expected);
}

QTEST_MAIN(TestInfoDialog)
#include "tst_infodialog.moc"
