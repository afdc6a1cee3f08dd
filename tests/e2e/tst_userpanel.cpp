#include "account/aboutus.h"
#include "account/login.h"
#include "account/userinfo.h"
#include "app/appevent.h"
#include "api/utils.h"
#include "phones/mainwindow.h"
#include "resources/tarvixresources.h"
#include "tests/support/localcloud.h"
#include "tests/support/screenshot.h"
#include "tests/support/tempsettings.h"
#include "widgets/clickablelabel.h"
#include "widgets/infodialog.h"
#include "widgets/titlewidget.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <functional>
#include <memory>

// The user panel and the About page on a real X server, clicked as a
// person clicks (xdotool), against a local cloud that announces versions.

namespace {

void xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    p.waitForFinished(10000);
}

void clickAt(const QPoint &global)
{
    xdotool({QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y())});
    QTest::qWait(100);
    xdotool({QStringLiteral("click"), QStringLiteral("1")});
    QTest::qWait(100);
}

QPoint centreOf(QWidget *widget)
{
    return widget->mapToGlobal(widget->rect().center());
}

// Stands in for the system's browser.
class Browser final : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

// What the modal update-check dialog showed, read and answered from inside
// its own event loop.
struct DialogSeen
{
    bool done = false;
    QString title;
    QString attention;
    QString content;
    QStringList buttons;
    QPoint centre;
};

} // namespace

class TestUserPanel : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    std::unique_ptr<TestSupport::LocalCloud> m_cloud;
    MainWindow *m_window = nullptr;
    Browser m_browser;

    UserInfo *panel() const { return qobject_cast<UserInfo *>(m_window->userPanel()); }

    template <typename T>
    T *panelChild(const char *name) const
    {
        return panel()->findChild<T *>(QLatin1String(name));
    }

    void openPanel()
    {
        if (panel() && panel()->isVisible()) {
            panel()->hide();
        }
        auto *icon = m_window->findChild<TitleWidget *>(QStringLiteral("titleWidget"))
                         ->findChild<ClickableLabel *>(QStringLiteral("ClickableLabel"));
        QVERIFY(icon);
        clickAt(centreOf(icon));
        QTRY_VERIFY(panel() && panel()->isVisible());
        QTest::qWait(200);
    }

    // Clicks `trigger`, then answers the update-check dialog with the button
    // named `answer` ("ok" or "cancelclose") once it shows.
    DialogSeen runUpdateCheck(QWidget *trigger, const char *answer, const QString &screenshot)
    {
        DialogSeen seen;
        QTimer poll;
        poll.setInterval(100);
        connect(&poll, &QTimer::timeout, this, [&] {
            InfoDialog *dialog = nullptr;
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *d = qobject_cast<InfoDialog *>(w); d && d->isVisible())
                    dialog = d;
            }
            if (!dialog || seen.done)
                return;
            poll.stop();
            QTest::qWait(300);
            seen.title = dialog->windowTitle();
            seen.attention = dialog->findChild<QLabel *>(QStringLiteral("attention"))->text();
            seen.content = dialog->findChild<QLabel *>(QStringLiteral("Content"))->text();
            for (QPushButton *b : dialog->findChildren<QPushButton *>()) {
                if (b->isVisible())
                    seen.buttons << b->text();
            }
            seen.centre = dialog->geometry().center();
            TestSupport::grabScreen(screenshot);
            seen.done = true;
            clickAt(centreOf(dialog->findChild<QPushButton *>(QLatin1String(answer))));
        });
        poll.start();
        clickAt(centreOf(trigger));
        for (int waited = 0; !seen.done && waited < 15000; waited += 50)
            QTest::qWait(50);
        QTest::qWait(300);
        return seen;
    }

private slots:
    void initTestCase()
    {
        QApplication::setApplicationVersion(QStringLiteral("1.1.0"));
        initTarvixResources();
        QFile sheet(QStringLiteral(":/style/style.css"));
        QVERIFY(sheet.open(QIODevice::ReadOnly));
        qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_browser, "open");

        m_cloud = std::make_unique<TestSupport::LocalCloud>();
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
        const QString token = m_cloud->signIn(TestSupport::LocalCloud::demoPhone());
        QVERIFY2(!token.isEmpty(), qPrintable(m_cloud->errorString()));

        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = m_cloud->apiBase();
        bases.pages = m_cloud->apiBase();
        Utils::overrideServiceBases(bases);
        AppEvent *event = AppEvent::instance();
        event->setPhone(TestSupport::LocalCloud::demoPhone());
        event->setToken(token);
        event->setUserName(QStringLiteral("云端用户"));
        QSettings *settings = Utils::instance()->settings();
        settings->setValue(QStringLiteral("user/phone"), event->phone());
        settings->setValue(QStringLiteral("user/username"), event->userName());
        settings->setValue(QStringLiteral("user/token"), token);
        settings->setValue(QStringLiteral("user/wss_token"), QStringLiteral("wss"));
        settings->sync();

        installUserPanel();
        m_window = MainWindow::instance();
        m_window->move(40, 40);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QTest::qWait(500);
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        m_window->hide();
        Login::instance()->hide();
    }

    void panelShowsTheUserAndCopiesTheNumber()
    {
        openPanel();
        QCOMPARE(panel()->windowTitle(), QStringLiteral("选项"));
        QCOMPARE(panel()->size(), QSize(228, 244));
        QCOMPARE(panelChild<QLabel>("label_2")->text(), QStringLiteral("云端用户"));
        QCOMPARE(panelChild<QLabel>("label_3")->text(), QStringLiteral("13800138000"));
        QCOMPARE(panelChild<QLabel>("label_6")->text(), QStringLiteral("官方Q群"));
        QVERIFY(!panelChild<QLabel>("label_7")->text().isEmpty());
        QVERIFY(!TestSupport::grabScreen(QStringLiteral("userpanel")).isEmpty());

        QApplication::clipboard()->setText(QStringLiteral("something else"));
        clickAt(centreOf(panelChild<QWidget>("copy")));
        QTRY_COMPARE(QApplication::clipboard()->text(), QStringLiteral("13800138000"));
    }

    // The server announces the running version: nothing to upgrade to.
    void updateCheckWithTheRunningVersion()
    {
        QVERIFY(m_cloud->announceVersion(QStringLiteral("1.1.0"), QString(), QStringLiteral("http://127.0.0.1:9/Tarvix-1.1.0.exe")));
        openPanel();
        m_browser.opened.clear();
        const DialogSeen seen = runUpdateCheck(panelChild<QWidget>("upload"), "cancelclose", QStringLiteral("userpanel-update-latest"));
        QVERIFY(seen.done);
        QCOMPARE(seen.title, QStringLiteral("检查更新"));
        QCOMPARE(seen.attention, QStringLiteral("检查更新"));
        QCOMPARE(seen.content, QStringLiteral("当前版本为最新版本!"));
        QCOMPARE(seen.buttons, QStringList{QStringLiteral("确定")});
        QVERIFY((seen.centre - m_window->geometry().center()).manhattanLength() <= 2);
        QVERIFY(m_browser.opened.isEmpty());
    }

    // A newer version: "立刻升级" opens its download address.
    void updateCheckWithANewerVersion()
    {
        const QString download = QStringLiteral("http://127.0.0.1:9/Tarvix-1.2.0.exe");
        QVERIFY(m_cloud->announceVersion(QStringLiteral("1.2.0"), QStringLiteral("<b>新功能</b>"), download));
        openPanel();
        m_browser.opened.clear();
        const DialogSeen seen = runUpdateCheck(panelChild<QWidget>("upload_icon"), "ok", QStringLiteral("userpanel-update-newer"));
        QVERIFY(seen.done);
        QCOMPARE(seen.content, QStringLiteral("当前版本为1.1.0，最新版本为1.2.0，是否立刻升级到最新版本？"));
        QVERIFY2(seen.buttons.contains(QStringLiteral("立刻升级")), qPrintable(seen.buttons.join(QLatin1Char(','))));
        QTRY_COMPARE(m_browser.opened, QList<QUrl>{QUrl(download)});
    }

    // One About window, shown centred over the main window at each opening;
    // its agreement links open the four pages.
    void aboutPage()
    {
        openPanel();
        clickAt(centreOf(panelChild<QWidget>("about")));
        QTRY_VERIFY(panel()->aboutWindow() && panel()->aboutWindow()->isVisible());
        AboutUs *about = panel()->aboutWindow();
        QCOMPARE(about->windowTitle(), QStringLiteral("关于我们"));
        QCOMPARE(about->size(), QSize(318, 374));
        QCOMPARE(about->findChild<QLabel *>(QStringLiteral("label_4"))->text(), QStringLiteral("1.1.0"));
        QVERIFY((about->geometry().center() - m_window->geometry().center()).manhattanLength() <= 2);
        QTest::qWait(300);
        QVERIFY(!TestSupport::grabScreen(QStringLiteral("aboutus")).isEmpty());

        m_browser.opened.clear();
        const char *const links[] = {"xieyi1", "xieyi2", "xieyi3", "xieyi4"};
        for (const char *name : links)
            clickAt(centreOf(about->findChild<QWidget *>(QLatin1String(name))));
        const QString pages = m_cloud->apiBase();
        QTRY_COMPARE(m_browser.opened,
                     (QList<QUrl>{QUrl(pages + QStringLiteral("/user_agreement")), QUrl(pages + QStringLiteral("/privacy")),
                                  QUrl(pages + QStringLiteral("/disclaimer")),
                                  QUrl(pages + QStringLiteral("/delete_agreement"))}));

        // Moved away and closed; opened again it is the same window, centred again.
        about->move(0, 0);
        clickAt(centreOf(about->findChild<QWidget *>(QStringLiteral("updateClose"))));
        QTRY_VERIFY(!about->isVisible());
        openPanel();
        clickAt(centreOf(panelChild<QWidget>("about_icon")));
        QTRY_VERIFY(about->isVisible());
        QCOMPARE(panel()->aboutWindow(), about);
        QVERIFY((about->geometry().center() - m_window->geometry().center()).manhattanLength() <= 2);

        // Its own update check closes it first.
        QVERIFY(m_cloud->announceVersion(QStringLiteral("1.1.0"), QString(), QString()));
        const DialogSeen seen = runUpdateCheck(about->findChild<QWidget *>(QStringLiteral("update")), "cancelclose",
                                               QStringLiteral("aboutus-update"));
        QCOMPARE(seen.content, QStringLiteral("当前版本为最新版本!"));
        QVERIFY(!about->isVisible());
    }

    // Last: it signs the user out.
    void signOutShowsTheLoginWindow()
    {
        openPanel();
        clickAt(centreOf(panelChild<QWidget>("loginout")));
        QTRY_VERIFY(Login::instance()->isVisible());
        QVERIFY(!m_window->isVisible());
        QVERIFY(AppEvent::instance()->token().isEmpty());
        QSettings settings(m_settings.settingsFile(), QSettings::IniFormat);
        QVERIFY(!settings.contains(QStringLiteral("user/token")));
        QVERIFY(!settings.contains(QStringLiteral("user/phone")));
        QTest::qWait(300);
        TestSupport::grabScreen(QStringLiteral("userpanel-signed-out"));
    }
};

QTEST_MAIN(TestUserPanel)
#include "tst_userpanel.moc"
