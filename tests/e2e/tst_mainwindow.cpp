#include "app/appevent.h"
#include "api/utils.h"
#include "phones/mainwindow.h"
#include "phones/userpanel.h"
#include "phones/mouselistener.h"
#include "phones/systemtray.h"
#include "resources/tarvixresources.h"
#include "tests/support/screenshot.h"
#include "tests/support/tempsettings.h"
#include "widgets/clickablelabel.h"
#include "widgets/pushbutton.h"
#include "widgets/titlewidget.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(Qt::MouseButton)

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

QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QString xdotool(const QStringList &args)
{
    return run(QStringLiteral("xdotool"), args);
}

QString xprop(const QString &window, const QString &property)
{
    return run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, property});
}

QStringList point(const QPoint &p)
{
    return {QString::number(p.x()), QString::number(p.y())};
}

// A real pointer click through the X server, as a person gives it.
void clickAt(const QPoint &global, int button = 1)
{
    // No --sync: it waits forever when the pointer is already there.
    xdotool(QStringList{QStringLiteral("mousemove")} + point(global)
            + QStringList{QStringLiteral("click"), QString::number(button)});
}

QPoint centreOf(QWidget *widget)
{
    return widget->mapToGlobal(widget->rect().center());
}

// A spot of the desktop that no window of this suite covers.
const QPoint Desktop(1580, 985);

} // namespace

// The main window on a real X server under a window manager, driven with
// real pointer input (xdotool). Xvfb has no system tray host, so the tray
// icon's menu actions are triggered directly.
class TestMainWindowE2e : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    QProcess m_windowManager;
    MainWindow *m_window = nullptr;

    TitleWidget *title() const { return m_window->findChild<TitleWidget *>(QStringLiteral("titleWidget")); }
    PushButton *titleButton(const char *name) const { return title()->findChild<PushButton *>(QLatin1String(name)); }

    void maximise()
    {
        if (!m_window->isMaximized())
            clickAt(centreOf(titleButton("maxButton")));
        QTRY_VERIFY(m_window->isMaximized());
        QTRY_COMPARE(m_window->geometry(), m_window->screen()->availableGeometry());
    }

    void restoreNormal()
    {
        if (!m_window->isVisible())
            m_window->systemTray()->openAction()->trigger();
        if (title()->isMaximizedLook())
            clickAt(centreOf(titleButton("maxButton")));
        QTRY_VERIFY(!m_window->isMaximized());
        QTRY_COMPARE(m_window->size(), QSize(1120, 680));
    }

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QEvent::Type>();
        qRegisterMetaType<Qt::MouseButton>();
        initTarvixResources();
        QFile sheet(QStringLiteral(":/style/style.css"));
        QVERIFY(sheet.open(QIODevice::ReadOnly));
        qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));

        m_windowManager.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_windowManager.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        QVERIFY2(m_windowManager.waitForStarted(10000), "openbox is missing: scripts/install-deps installs it");
        QTRY_VERIFY_WITH_TIMEOUT(run(QStringLiteral("xprop"), {QStringLiteral("-root"),
                                                                QStringLiteral("_NET_SUPPORTING_WM_CHECK")})
                                     .contains(QStringLiteral("window id")),
                                 10000);

        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = QStringLiteral("http://127.0.0.1:9");
        Utils::overrideServiceBases(bases);
        AppEvent::instance()->setPhone(QStringLiteral("13800138000"));

        const QtMessageHandler previous = qInstallMessageHandler(collectMessage);
        m_window = MainWindow::instance();
        qInstallMessageHandler(previous);
        QVERIFY2(g_messages.contains(QStringLiteral("<<<<<<<<<< 全局鼠标事件监听器安装成功 >>>>>>>>>>")),
                 qPrintable(g_messages.join(QLatin1Char('\n'))));

        m_window->move(120, 80);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QTest::qWait(300);
    }

    void cleanupTestCase()
    {
        m_window->hide();
        m_windowManager.terminate();
        m_windowManager.waitForFinished(5000);
    }

    void screenshots()
    {
        restoreNormal();
        QTest::qWait(300);
        QVERIFY(!TestSupport::grabScreen(QStringLiteral("mainwindow-normal")).isEmpty());
        maximise();
        QTest::qWait(300);
        QVERIFY(!TestSupport::grabScreen(QStringLiteral("mainwindow-maximised")).isEmpty());
        restoreNormal();
    }

    void listenerSeesRealClicks_data()
    {
        QTest::addColumn<int>("source");
        QTest::newRow("RECORD") << int(MouseListener::XRecord);
        QTest::newRow("XInput2") << int(MouseListener::XInput2);
    }

    // On the desktop, outside every window of the client.
    void listenerSeesRealClicks()
    {
        QFETCH(int, source);
        std::unique_ptr<MouseListener> listener = MouseListener::create(MouseListener::Source(source));
        QVERIFY(listener);
        QSignalSpy actions(listener.get(), &MouseListener::mouseAction);
        QSignalSpy wheel(listener.get(), &MouseListener::wheelAction);

        // A relative move, as a real mouse gives: the server reports absolute
        // (warped) pointer moves on no raw XInput2 stream.
        xdotool(QStringList{QStringLiteral("mousemove")} + point(Desktop - QPoint(100, 100)));
        xdotool({QStringLiteral("mousemove_relative"), QStringLiteral("--"), QStringLiteral("30"), QStringLiteral("20")});
        // Not the right button: on the desktop it opens the window manager's menu.
        clickAt(Desktop, 1);
        clickAt(Desktop, 8);
        xdotool({QStringLiteral("click"), QStringLiteral("4")});
        xdotool({QStringLiteral("click"), QStringLiteral("5")});

        auto seen = [&actions](QEvent::Type type, Qt::MouseButton button) {
            for (const QList<QVariant> &a : actions) {
                if (a.at(0).value<QEvent::Type>() == type && a.at(1).value<Qt::MouseButton>() == button)
                    return true;
            }
            return false;
        };
        QTRY_VERIFY(seen(QEvent::MouseButtonRelease, Qt::XButton1));
        QVERIFY(seen(QEvent::MouseMove, Qt::NoButton));
        QVERIFY(seen(QEvent::MouseButtonPress, Qt::LeftButton));
        QVERIFY(seen(QEvent::MouseButtonRelease, Qt::LeftButton));
        QVERIFY(seen(QEvent::MouseButtonPress, Qt::XButton1));
        QTRY_COMPARE(wheel.count(), 2);
        QCOMPARE(wheel.at(0).at(0).toInt(), 120);
        QCOMPARE(wheel.at(1).at(0).toInt(), -120);
    }

    // The installed listener closes the user panel on a click in another
    // application (here: the bare desktop).
    void clickElsewhereHidesTheUserPanel()
    {
        restoreNormal();
        StubPanel panel;
        panel.setStyleSheet(QStringLiteral("background: #EEF5FF;"));
        m_window->setUserPanel(&panel);

        auto *icon = title()->findChild<ClickableLabel *>(QStringLiteral("ClickableLabel"));
        QVERIFY(icon);
        clickAt(centreOf(icon));
        QTRY_VERIFY(panel.isVisible());
        QCOMPARE(panel.size(), QSize(228, 244));
        QCOMPARE(panel.m_phone, AppEvent::instance()->phone());
        QVERIFY((panel.pos() - centreOf(icon)).manhattanLength() <= 2);

        // Other buttons leave it open.
        clickAt(centreOf(m_window->findChild<QWidget *>(QStringLiteral("PhoneWidget"))), 3);
        QTest::qWait(300);
        QVERIFY(panel.isVisible());
        clickAt(Desktop, 1);
        QTRY_VERIFY(!panel.isVisible());
        m_window->setUserPanel(nullptr);
    }

    // Xvfb has no tray host: closing minimises, so the window stays within
    // reach (the window manager iconifies it), and comes back active.
    void closeMinimisesWithoutATrayHost()
    {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        restoreNormal();
        const QString id = QString::number(m_window->winId());
        clickAt(centreOf(titleButton("closeButton")));
        QTRY_VERIFY(m_window->isMinimized());
        QVERIFY(m_window->isVisible());
        QTRY_VERIFY(xprop(id, QStringLiteral("WM_STATE")).contains(QStringLiteral("Iconic")));
        m_window->bringBack();
        QTRY_VERIFY(xprop(id, QStringLiteral("WM_STATE")).contains(QStringLiteral("Normal")));
        QTRY_COMPARE(xdotool({QStringLiteral("getactivewindow")}), id);

        // Escape leaves it where it is.
        xdotool({QStringLiteral("key"), QStringLiteral("Escape")});
        QTest::qWait(300);
        QVERIFY(m_window->isVisible());
        QVERIFY(!m_window->isMinimized());
    }

    void maximiseAndRestore()
    {
        restoreNormal();
        const QRect normal = m_window->geometry();
        maximise();
        QVERIFY(m_window->isShadowHidden());
        clickAt(centreOf(titleButton("maxButton")));
        QTRY_VERIFY(!m_window->isMaximized());
        QTRY_COMPARE(m_window->geometry(), normal);
        QVERIFY(!m_window->isShadowHidden());
    }

    void dragOfTheMaximisedTitleBarRestoresIt()
    {
        restoreNormal();
        maximise();
        const QPoint grab = title()->mapToGlobal(QPoint(title()->width() / 2, 25));

        // Pressed and released in place: still maximised.
        clickAt(grab);
        QTest::qWait(200);
        QVERIFY(m_window->isMaximized());

        xdotool(QStringList{QStringLiteral("mousemove")} + point(grab)
                + QStringList{QStringLiteral("mousedown"), QStringLiteral("1")});
        QPoint to = grab;
        for (int step = 0; step < 8; ++step) {
            to += QPoint(-20, 15);
            xdotool(QStringList{QStringLiteral("mousemove")} + point(to));
            QTest::qWait(50);
        }
        xdotool({QStringLiteral("mouseup"), QStringLiteral("1")});
        QTRY_VERIFY(!m_window->isMaximized());
        QVERIFY(!title()->isMaximizedLook());
        QTRY_COMPARE(m_window->size(), QSize(1120, 680));
        // It followed the cursor: the cursor is on its title bar.
        QTRY_VERIFY(title()->rect().contains(title()->mapFromGlobal(to)));
        QVERIFY(!TestSupport::grabScreen(QStringLiteral("mainwindow-drag-restored")).isEmpty());
    }

    // The real client with a saved session opens the main window straight
    // away. Without a tray host its close button minimises it; a second
    // start is refused with the message, ends with 0 and brings the first
    // client's window back to the front.
    void secondStartBringsTheMinimisedWindowBack()
    {
        m_window->hide();
        QSettings saved(m_settings.settingsFile(), QSettings::IniFormat);
        saved.setValue(QStringLiteral("login/autologin"), true);
        saved.setValue(QStringLiteral("user/phone"), QStringLiteral("13800138000"));
        saved.setValue(QStringLiteral("user/username"), QStringLiteral("demo"));
        saved.setValue(QStringLiteral("user/token"), QStringLiteral("token-of-the-test"));
        saved.setValue(QStringLiteral("user/wss_token"), QStringLiteral("wss-token-of-the-test"));
        saved.sync();

        QTemporaryDir workDir;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TARVIX_TEST_API_BASE"), QStringLiteral("http://127.0.0.1:9"));
        auto start = [&](QProcess &client) {
            client.setProcessEnvironment(env);
            client.setWorkingDirectory(workDir.path());
            client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            client.start(QStringLiteral(TARVIX_BIN_DIR "/tarvix-testhost"), QStringList());
            return client.waitForStarted(10000);
        };
        QProcess client;
        QVERIFY(start(client));

        const QStringList visibleMain{QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                      QStringLiteral("--name"), QStringLiteral("^Mervane云手机$")};
        QString id;
        QTRY_VERIFY_WITH_TIMEOUT(!(id = xdotool(visibleMain)).isEmpty(), 20000);
        id = id.section(QLatin1Char('\n'), 0, 0);
        QTest::qWait(500);
        QVERIFY(!TestSupport::grabScreen(QStringLiteral("mainwindow-client")).isEmpty());

        // Where the close button sits: top right, inside the shadow margin
        // and the title bar's own margins.
        QMap<QString, int> geometry;
        for (const QString &line : xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id})
                                       .split(QLatin1Char('\n')))
            geometry.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1).toInt());
        QCOMPARE(geometry.value(QStringLiteral("WIDTH")), 1120);
        const QSize button = QPixmap(QStringLiteral(":/image/phone/close.png")).size();
        const QPoint close(geometry.value(QStringLiteral("X")) + 1120 - 10 - 5 - button.width() / 2,
                           geometry.value(QStringLiteral("Y")) + 10 + 5 + button.height() / 2);
        clickAt(close);
        QTRY_VERIFY_WITH_TIMEOUT(xprop(id, QStringLiteral("WM_STATE")).contains(QStringLiteral("Iconic")), 10000);
        QVERIFY(xdotool(visibleMain).isEmpty());
        QTest::qWait(300);
        QCOMPARE(client.state(), QProcess::Running);

        QProcess second;
        QVERIFY(start(second));
        QString box;
        QTRY_VERIFY_WITH_TIMEOUT(!(box = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                   QStringLiteral("--name"), QStringLiteral("^提示信息$")}))
                                      .isEmpty(),
                                 20000);
        box = box.section(QLatin1Char('\n'), 0, 0);
        QTest::qWait(300);
        QVERIFY(!TestSupport::grabScreen(QStringLiteral("mainwindow-second-start")).isEmpty());
        xdotool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), box});
        xdotool({QStringLiteral("key"), QStringLiteral("--window"), box, QStringLiteral("Return")});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);

        // The first client's main window is back: mapped, not iconic, active.
        QTRY_VERIFY_WITH_TIMEOUT(xdotool(visibleMain).split(QLatin1Char('\n')).contains(id), 10000);
        QTRY_VERIFY(xprop(id, QStringLiteral("WM_STATE")).contains(QStringLiteral("Normal")));
        QTRY_COMPARE_WITH_TIMEOUT(xdotool({QStringLiteral("getactivewindow")}), id, 10000);
        QTest::qWait(500);
        QVERIFY(!TestSupport::grabScreen(QStringLiteral("mainwindow-brought-back")).isEmpty());
        QCOMPARE(client.state(), QProcess::Running);
        client.kill();
        client.waitForFinished(10000);
    }
};

QTEST_MAIN(TestMainWindowE2e)
#include "tst_mainwindow.moc"
