#include "app/appevent.h"
#include "api/utils.h"
#include "phones/mainwindow.h"
#include "phones/userpanel.h"
#include "phones/systemtray.h"
#include "resources/tarvixresources.h"
#include "tests/support/tempsettings.h"
#include "widgets/clickablelabel.h"
#include "widgets/flowlayout.h"
#include "widgets/pushbutton.h"
#include "widgets/slidenavigation.h"
#include "widgets/titlewidget.h"

#include <QAction>
#include <QComboBox>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QtTest>

// Stands in for the account library's panel: records what it is given.
class StubPanel final : public UserPanel
{
public:
    void setUserName(const QString &name) override { m_name = name; }
    void setPhoneNumber(const QString &phone) override { m_phone = phone; }
    QString m_name;
    QString m_phone;
};

namespace {

QStringList g_messages;

void collectMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_messages << message;
}

} // namespace

// The main window on the offscreen platform, where no system-wide mouse
// source exists and the application's event filter stands in.
class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    MainWindow *m_window = nullptr;

    template<typename T>
    T *child(const char *name) const
    {
        T *found = m_window->findChild<T *>(QLatin1String(name));
        if (!found)
            qWarning("no child %s", name);
        return found;
    }
    TitleWidget *title() const { return child<TitleWidget>("titleWidget"); }
    PushButton *titleButton(const char *name) const { return title()->findChild<PushButton *>(QLatin1String(name)); }

    void sendMouse(QWidget *target, QEvent::Type type, const QPoint &local, Qt::MouseButtons buttons)
    {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, local, target->mapToGlobal(local), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }

    void restoreNormal()
    {
        if (title()->isMaximizedLook())
            QTest::mouseClick(titleButton("maxButton"), Qt::LeftButton);
        m_window->show();
        QTRY_VERIFY(!m_window->isMaximized() && m_window->isVisible());
    }

private slots:
    void initTestCase()
    {
        initTarvixResources();
        ServiceBases bases = Utils::compiledServiceBases();
        // Nothing listens there: requests fail at once instead of reaching a
        // local cloud that may run on this machine.
        bases.api = QStringLiteral("http://127.0.0.1:9");
        Utils::overrideServiceBases(bases);
        AppEvent::instance()->setPhone(QStringLiteral("13800138000"));

        const QtMessageHandler previous = qInstallMessageHandler(collectMessage);
        m_window = MainWindow::instance();
        qInstallMessageHandler(previous);
        QVERIFY2(g_messages.contains(QStringLiteral("<<<<<<<<<< 全局鼠标事件监听器安装失败 >>>>>>>>>>")),
                 qPrintable(g_messages.join(QLatin1Char('\n'))));
        QCOMPARE(MainWindow::instance(), m_window);

        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
    }

    void widgetTree_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        const QList<QPair<const char *, const char *>> widgets = {
            {"titleWidget", "TitleWidget"},       {"slideNav", "SlideNavigation"},
            {"stackedWidget", "QStackedWidget"},  {"page", "QWidget"},
            {"page_2", "QWidget"},                {"treeWidget", "QTreeWidget"},
            {"widget", "QWidget"},                {"cancelSelectionBtn", "ClickableLabel"},
            {"allSelectionBtn", "ClickableLabel"}, {"reverseSelectioBtn", "ClickableLabel"},
            {"groupControlBtn", "ClickableLabel"}, {"refreshBtn", "ClickableLabel"},
            {"comboBox", "QComboBox"},            {"scrollArea", "QScrollArea"},
            {"PhoneWidget", "QWidget"},
        };
        for (const auto &w : widgets)
            QTest::newRow(w.first) << QString::fromLatin1(w.first) << QString::fromLatin1(w.second);
        for (const char *layout : {"verticalLayout_2", "horizontalLayout", "horizontalLayout_2", "verticalLayout",
                                   "horizontalLayout_3"})
            QTest::newRow(layout) << QString::fromLatin1(layout) << QStringLiteral("QLayout");
    }

    void widgetTree()
    {
        QFETCH(QString, name);
        QFETCH(QString, className);
        QObject *found = m_window->findChild<QObject *>(name);
        QVERIFY2(found, qPrintable(name));
        QVERIFY2(found->inherits(className.toLatin1()), found->metaObject()->className());
    }

    void constructionSettings()
    {
        QCOMPARE(m_window->objectName(), QStringLiteral("MainWindow"));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("Mervane云手机"));
        QCOMPARE(m_window->minimumSize(), QSize(500, 320));
        QCOMPARE(m_window->size(), QSize(1120, 680));
        QVERIFY(m_window->hasMouseTracking());
        QVERIFY(m_window->styleSheet().startsWith(QStringLiteral("#MainWindow{\n\nbox-shadow")));
        QVERIFY(!QGuiApplication::quitOnLastWindowClosed());

        auto *nav = child<SlideNavigation>("slideNav");
        QCOMPARE(nav->orientation(), int(SlideNavigation::Vertical));
        QVERIFY(nav->isFixed());
        QCOMPARE(nav->count(), 2);
        QCOMPARE(nav->itemText(0), QStringLiteral("云手机"));
        QCOMPARE(nav->itemText(1), QStringLiteral("购买"));
        QCOMPARE(nav->styleSheet(), QStringLiteral("#slideNav{\nbackground: #F9F9F9;\n}"));

        QVERIFY(titleButton("settingButton")->isHidden());
        QVERIFY(!titleButton("closeButton")->isHidden());
        QCOMPARE(title()->minimumHeight(), 50);
        QCOMPARE(title()->maximumHeight(), 60);
        QCOMPARE(title()->userName(), QStringLiteral("13800138000"));

        auto *tool = child<QWidget>("widget");
        QCOMPARE(tool->maximumHeight(), 48);
        QVERIFY(tool->styleSheet().startsWith(QStringLiteral("ClickableLabel{\n\tbackground: #FFFFFF;")));
        QCOMPARE(child<ClickableLabel>("cancelSelectionBtn")->text(), QStringLiteral("取消选择"));
        QCOMPARE(child<ClickableLabel>("groupControlBtn")->contentsMargins(), QMargins(12, 8, 12, 8));
        QCOMPARE(child<ClickableLabel>("refreshBtn")->toolTip(), QStringLiteral("刷新"));
        auto *combo = child<QComboBox>("comboBox");
        QCOMPARE(combo->lineEdit()->placeholderText(), QStringLiteral("批量操作"));
        QCOMPARE(combo->currentIndex(), -1);

        auto *tree = child<QTreeWidget>("treeWidget");
        QCOMPARE(tree->maximumWidth(), 250);
        QCOMPARE(tree->headerItem()->text(0), QStringLiteral("分组"));
        QCOMPARE(tree->headerItem()->text(1), QStringLiteral("剩余时间"));
        QCOMPARE(tree->topLevelItemCount(), 0);

        // The card area: empty, showing the no-phone picture, cards to come
        // into its flow layout.
        auto *cards = child<QWidget>("PhoneWidget");
        QCOMPARE(child<QScrollArea>("scrollArea")->widget(), cards);
        QCOMPARE(cards->property("class").toString(), QStringLiteral("noPhone"));
        QCOMPARE(cards->contentsMargins(), QMargins(20, 20, 20, 20));
        QCOMPARE(m_window->cardLayout(), cards->layout());
        QCOMPARE(m_window->cardLayout()->horizontalSpacing(), 10);
        QCOMPARE(m_window->cardLayout()->verticalSpacing(), 0);
        QCOMPARE(m_window->cardLayout()->count(), 0);
    }

    void pageSwitching()
    {
        auto *nav = child<SlideNavigation>("slideNav");
        auto *pages = child<QStackedWidget>("stackedWidget");
        // The first item is chosen shortly after construction.
        QTRY_COMPARE(nav->currentIndex(), 0);
        QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("page"));

        nav->moveTo(1);
        QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("page_2"));

        // Back on the phone page the title bar shows the session's number again.
        AppEvent::instance()->setPhone(QStringLiteral("13900139000"));
        nav->moveTo(0);
        QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("page"));
        QCOMPARE(title()->userName(), QStringLiteral("13900139000"));
        QCOMPARE(child<QWidget>("PhoneWidget")->property("class").toString(), QStringLiteral("noPhone"));

        m_window->switchPage(7);
        QCOMPARE(pages->currentIndex(), 0);
    }

    // With a tray host closing hides into the tray; without one the window
    // is minimised, since nothing would bring a hidden window back. Escape
    // does nothing either way.
    void closeWithAndWithoutTrayHost_data()
    {
        QTest::addColumn<bool>("trayHost");
        QTest::newRow("tray host") << true;
        QTest::newRow("no tray host") << false;
    }
    void closeWithAndWithoutTrayHost()
    {
        QFETCH(bool, trayHost);
        m_window->setTrayHostCheck([trayHost] { return trayHost; });
        QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
        auto putAwayAs = [&] {
            if (trayHost) {
                QVERIFY(!m_window->isVisible());
            } else {
                QVERIFY(m_window->isVisible());
                QTRY_VERIFY(m_window->isMinimized());
            }
        };

        QTest::mouseClick(titleButton("closeButton"), Qt::LeftButton);
        putAwayAs();
        emit m_window->systemTray()->activated(QSystemTrayIcon::Trigger);
        QTRY_VERIFY(m_window->isVisible() && !m_window->isMinimized());

        // The window manager's close takes the same way.
        m_window->close();
        putAwayAs();
        m_window->bringBack();
        QTRY_VERIFY(m_window->isVisible() && !m_window->isMinimized());

        QTest::keyClick(m_window, Qt::Key_Escape);
        QVERIFY(m_window->isVisible());
        QVERIFY(!m_window->isMinimized());
        QCOMPARE(lastClosed.count(), 0);
        m_window->setTrayHostCheck(nullptr);
    }

    void trayActivation_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("shows");
        QTest::newRow("click") << int(QSystemTrayIcon::Trigger) << true;
        QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << true;
        QTest::newRow("context menu") << int(QSystemTrayIcon::Context) << false;
        QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
    }

    void trayActivation()
    {
        QFETCH(int, reason);
        QFETCH(bool, shows);
        m_window->hide();
        emit m_window->systemTray()->activated(QSystemTrayIcon::ActivationReason(reason));
        QCOMPARE(m_window->isVisible(), shows);
        m_window->show();
    }

    void trayMenu()
    {
        SystemTray *tray = m_window->systemTray();
        QCOMPARE(tray->toolTip(), QStringLiteral("Mervane云手机"));
        QVERIFY(!tray->icon().isNull());
        QMenu *menu = tray->contextMenu();
        QVERIFY(menu);
        QCOMPARE(menu->width(), 100);
        QStringList texts;
        for (QAction *action : menu->actions())
            texts << action->text();
        QCOMPARE(texts, QStringList({QStringLiteral("打开"), QStringLiteral("退出")}));
        QCOMPARE(tray->openAction()->text(), QStringLiteral("打开"));
        QCOMPARE(tray->quitAction()->text(), QStringLiteral("退出"));
    }

    void minimiseAndBringBack()
    {
        QTest::mouseClick(titleButton("minButton"), Qt::LeftButton);
        QTRY_VERIFY(m_window->isMinimized());
        emit m_window->systemTray()->activated(QSystemTrayIcon::Trigger);
        QTRY_VERIFY(!m_window->isMinimized());
        QVERIFY(m_window->isVisible());
        QVERIFY(!m_window->isMaximized());
    }

    void maximiseAndRestore()
    {
        restoreNormal();
        auto *outer = child<QLayout>("verticalLayout_2");
        QTest::mouseClick(titleButton("maxButton"), Qt::LeftButton);
        QTRY_VERIFY(m_window->isMaximized());
        QVERIFY(m_window->isShadowHidden());
        QVERIFY(title()->isMaximizedLook());
        QCOMPARE(outer->contentsMargins(), QMargins());

        // Minimised while maximised comes back maximised.
        QTest::mouseClick(titleButton("minButton"), Qt::LeftButton);
        QTRY_VERIFY(m_window->isMinimized());
        emit m_window->systemTray()->activated(QSystemTrayIcon::DoubleClick);
        QTRY_VERIFY(m_window->isMaximized());

        QTest::mouseClick(titleButton("maxButton"), Qt::LeftButton);
        QTRY_VERIFY(!m_window->isMaximized());
        QVERIFY(!m_window->isShadowHidden());
        QVERIFY(!title()->isMaximizedLook());
        QCOMPARE(outer->contentsMargins(), QMargins(10, 10, 10, 10));
        QTRY_COMPARE(m_window->size(), QSize(1120, 680));
    }

    void dragOfTheMaximisedTitleBarRestores()
    {
        restoreNormal();
        QTest::mouseClick(titleButton("maxButton"), Qt::LeftButton);
        QTRY_VERIFY(m_window->isMaximized());
        const QPoint spot(m_window->width() / 2, 25);

        // Pressing and releasing without moving keeps it maximised.
        sendMouse(title(), QEvent::MouseButtonPress, spot, Qt::LeftButton);
        sendMouse(title(), QEvent::MouseButtonRelease, spot, Qt::NoButton);
        sendMouse(title(), QEvent::MouseMove, spot + QPoint(40, 10), Qt::NoButton);
        QVERIFY(m_window->isMaximized());

        // The press right after is the second of a double click.
        sendMouse(title(), QEvent::MouseButtonDblClick, spot, Qt::LeftButton);
        const QPoint grabbed = title()->mapToGlobal(spot + QPoint(5, 0));
        sendMouse(title(), QEvent::MouseMove, spot + QPoint(5, 0), Qt::LeftButton);
        QTRY_VERIFY(!m_window->isMaximized());
        QVERIFY(!title()->isMaximizedLook());
        QVERIFY(!m_window->isShadowHidden());
        QCOMPARE(m_window->size(), QSize(1120, 680));
        // The window is under the cursor, with the cursor on its title bar.
        QVERIFY(m_window->geometry().contains(grabbed));
        QVERIFY(title()->rect().contains(title()->mapFromGlobal(grabbed)));

        // ...and keeps following it.
        const QPoint before = m_window->pos();
        QMouseEvent move(QEvent::MouseMove, QPointF(), grabbed + QPoint(30, 20), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(m_window, &move);
        QCOMPARE(m_window->pos(), before + QPoint(30, 20));
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(), grabbed + QPoint(30, 20), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(m_window, &release);
    }

    // The same left press opens the panel (200 ms) and orders a hide
    // (100 ms): the hide runs first and the panel stays. The next left press
    // anywhere hides it; with no system-wide source that comes through the
    // application's event filter.
    void userPanelOpensAndAnyLeftPressHidesIt()
    {
        restoreNormal();
        m_window->move(0, 0);
        StubPanel panel;
        m_window->setUserPanel(&panel);

        auto *icon = title()->findChild<ClickableLabel *>(QStringLiteral("ClickableLabel"));
        QVERIFY(icon);
        QWindow *window = m_window->windowHandle();
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, icon->mapTo(m_window, icon->rect().center()));
        QTRY_VERIFY(panel.isVisible());
        QCOMPARE(panel.size(), QSize(228, 244));
        QCOMPARE(panel.m_phone, AppEvent::instance()->phone());

        // A right press does not close it; a left press elsewhere does.
        const QPoint elsewhere = child<QWidget>("PhoneWidget")->mapTo(m_window, QPoint(50, 50));
        QTest::mouseClick(window, Qt::RightButton, Qt::NoModifier, elsewhere);
        QTest::qWait(300);
        QVERIFY(panel.isVisible());
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, elsewhere);
        QTRY_VERIFY(!panel.isVisible());

        // Opened again, at the new press.
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, icon->mapTo(m_window, icon->rect().center()));
        QTRY_VERIFY(panel.isVisible());
        m_window->setUserPanel(nullptr);
    }

    // Last: it ends the event loop, as it ends the client.
    void quitActionEndsTheClient()
    {
        QTimer::singleShot(0, m_window->systemTray()->quitAction(), &QAction::trigger);
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(2); });
        guard.start(20000);
        QCOMPARE(QCoreApplication::exec(), 0);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
