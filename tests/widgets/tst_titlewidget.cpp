#define QTEST_QPA_MOUSE_HANDLING
#include "resources/tarvixresources.h"
#include "widgets/clickablelabel.h"
#include "widgets/draggablewidget.h"
#include "widgets/pushbutton.h"
#include "widgets/titlewidget.h"

#include <QLabel>
#include <QVBoxLayout>
#include <QWindow>
#include <QtTest>

class TestTitleWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initTarvixResources(); }
    void init();
    void cleanup();
    void layout();
    void clicksEmit_data();
    void clicksEmit();
    void maximiseRestoreToggles();
    void switchesHideAndShow_data();
    void switchesHideAndShow();
    void showsTheUserNameItIsGiven();

private:
    DraggableWidget *m_window = nullptr;
    TitleWidget *m_title = nullptr;
};

void TestTitleWidget::init()
{
    m_window = new DraggableWidget;
    m_window->resize(900, 300);
    auto *layout = new QVBoxLayout(m_window);
    layout->setContentsMargins(10, 10, 10, 10);
    m_title = new TitleWidget(m_window);
    layout->addWidget(m_title);
    layout->addStretch();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestTitleWidget::cleanup()
{
    delete m_window;
    m_window = nullptr;
}

void TestTitleWidget::layout()
{
    QCOMPARE(m_title->height(), 60);
    QCOMPARE(m_title->contentsMargins(), QMargins(0, 5, 5, 0));
    QCOMPARE(m_title->findChild<QLabel *>("appIcon")->contentsMargins(), QMargins(20, 0, 12, 0));
    QCOMPARE(m_title->findChild<QLabel *>("userName")->contentsMargins(), QMargins(10, 0, 10, 0));
    QCOMPARE(m_title->findChild<ClickableLabel *>()->cursor().shape(), Qt::PointingHandCursor);

    // Brand on the left, then user, then the window buttons in this order.
    const QStringList order{"appIcon", "appName", "ClickableLabel", "userName",
                            "settingButton", "minButton", "maxButton", "closeButton"};
    int lastX = -1;
    for (const QString &name : order) {
        auto *w = m_title->findChild<QWidget *>(name);
        QVERIFY2(w, qPrintable(name));
        QVERIFY2(w->x() >= lastX, qPrintable(name));
        lastX = w->x();
    }
    // The window buttons hug the top of the row, just under the 5-pixel margin.
    QCOMPARE(m_title->findChild<PushButton *>("closeButton")->y(), 5);
    QCOMPARE(m_title->findChild<PushButton *>("minButton")->picture(), QStringLiteral(":/image/phone/min"));
    QCOMPARE(m_title->findChild<PushButton *>("settingButton")->picture(), QStringLiteral(":/image/sysButton/setting"));
    QCOMPARE(m_title->findChild<PushButton *>("closeButton")->picture(), QStringLiteral(":/image/phone/close"));
}

void TestTitleWidget::clicksEmit_data()
{
    QTest::addColumn<QString>("element");
    QTest::addColumn<QByteArray>("signal");
    QTest::newRow("close") << "closeButton" << QByteArray(SIGNAL(windowClosed()));
    QTest::newRow("minimise") << "minButton" << QByteArray(SIGNAL(windowMin()));
    QTest::newRow("maximise") << "maxButton" << QByteArray(SIGNAL(windowMax()));
    QTest::newRow("settings") << "settingButton" << QByteArray(SIGNAL(windowSetting()));
    QTest::newRow("user icon") << "ClickableLabel" << QByteArray(SIGNAL(openUserInfo()));
}

void TestTitleWidget::clicksEmit()
{
    QFETCH(QString, element);
    QFETCH(QByteArray, signal);

    const QList<QByteArray> all{SIGNAL(windowClosed()), SIGNAL(windowMin()), SIGNAL(windowMax()),
                                SIGNAL(windowBackNormal()), SIGNAL(windowSetting()), SIGNAL(openUserInfo())};
    QList<QSignalSpy *> spies;
    for (const QByteArray &s : all)
        spies.append(new QSignalSpy(m_title, s.constData()));

    auto *w = m_title->findChild<QWidget *>(element);
    QVERIFY(w);
    QWindow *window = m_window->windowHandle();
    const QPoint at = w->mapTo(m_window, w->rect().center());
    const QPoint windowStart = m_window->pos();
    QTest::mouseMove(window, at);
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);

    for (int i = 0; i < all.size(); ++i)
        QCOMPARE(spies[i]->count(), all[i] == signal ? 1 : 0);
    QCOMPARE(m_window->pos(), windowStart);
    qDeleteAll(spies);
}

void TestTitleWidget::maximiseRestoreToggles()
{
    auto *max = m_title->findChild<PushButton *>("maxButton");
    QCOMPARE(max->picture(), QStringLiteral(":/image/phone/screen-big"));
    QVERIFY(max->toolTip().isEmpty());
    QVERIFY(!m_title->isMaximizedLook());

    QSignalSpy maxSpy(m_title, &TitleWidget::windowMax);
    QSignalSpy normalSpy(m_title, &TitleWidget::windowBackNormal);

    m_title->toggleMaximized();
    QCOMPARE(maxSpy.count(), 1);
    QCOMPARE(normalSpy.count(), 0);
    QCOMPARE(max->picture(), QStringLiteral(":/image/phone/screen-standard"));
    QCOMPARE(max->toolTip(), QStringLiteral("back normal"));
    QVERIFY(m_title->isMaximizedLook());

    m_title->toggleMaximized();
    QCOMPARE(maxSpy.count(), 1);
    QCOMPARE(normalSpy.count(), 1);
    QCOMPARE(max->picture(), QStringLiteral(":/image/phone/screen-big"));
    QCOMPARE(max->toolTip(), QStringLiteral("max"));
    QVERIFY(!m_title->isMaximizedLook());
}

void TestTitleWidget::switchesHideAndShow_data()
{
    QTest::addColumn<QString>("switchName");
    QTest::addColumn<QStringList>("elements");
    QTest::newRow("max") << "setMaxButtonHidden" << QStringList{"maxButton"};
    QTest::newRow("setting") << "setSettingButtonHidden" << QStringList{"settingButton"};
    QTest::newRow("min") << "setMinButtonHidden" << QStringList{"minButton"};
    QTest::newRow("brand") << "setBrandHidden" << QStringList{"appIcon", "appName"};
    QTest::newRow("user") << "setUserInfoHidden" << QStringList{"ClickableLabel", "userName"};
}

void TestTitleWidget::switchesHideAndShow()
{
    QFETCH(QString, switchName);
    QFETCH(QStringList, elements);

    const QHash<QString, void (TitleWidget::*)(bool)> switches{
        {"setMaxButtonHidden", &TitleWidget::setMaxButtonHidden},
        {"setSettingButtonHidden", &TitleWidget::setSettingButtonHidden},
        {"setMinButtonHidden", &TitleWidget::setMinButtonHidden},
        {"setBrandHidden", &TitleWidget::setBrandHidden},
        {"setUserInfoHidden", &TitleWidget::setUserInfoHidden},
    };
    const auto toggle = switches.value(switchName);
    const QStringList everything{"appIcon", "appName", "ClickableLabel", "userName",
                                 "settingButton", "minButton", "maxButton", "closeButton"};

    (m_title->*toggle)(true);
    for (const QString &name : everything)
        QCOMPARE(m_title->findChild<QWidget *>(name)->isVisible(), !elements.contains(name));
    (m_title->*toggle)(false);
    for (const QString &name : everything)
        QVERIFY(m_title->findChild<QWidget *>(name)->isVisible());
}

void TestTitleWidget::showsTheUserNameItIsGiven()
{
    QVERIFY(m_title->userName().isEmpty());
    m_title->setUserName(QStringLiteral("13800138000"));
    QCOMPARE(m_title->findChild<QLabel *>("userName")->text(), QStringLiteral("13800138000"));
}

QTEST_MAIN(TestTitleWidget)
#include "tst_titlewidget.moc"
