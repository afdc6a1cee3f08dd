#include "account/login.h"
#include "account/sessionexpiry.h"
#include "app/appevent.h"
#include "api/utils.h"
#include "phones/mainwindow.h"
#include "phones/phonedetail.h"
#include "phones/purchase/jsbridge.h"
#include "phones/purchase/webpurchasepage.h"
#include "resources/tarvixresources.h"
#include "stream/videorendermini.h"
#include "tests/support/localcloud.h"
#include "tests/support/processmemory.h"
#include "tests/support/screenshot.h"
#include "tests/support/tempsettings.h"
#include "widgets/slidenavigation.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QLabel>
#include <QLayout>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSettings>
#include <QStackedWidget>
#include <QWebEngineView>
#include <QtTest>

#include <functional>
#include <memory>

// The purchase page inside the main window on a real X server, clicked as a
// person clicks (xdotool), against a local cloud that serves the page and
// carries out the rentals and renewals.

namespace {

QStringList g_paymentLines;
QtMessageHandler g_previousHandler = nullptr;

void collectPaymentLines(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("paymenturl ---- ")))
        g_paymentLines << message;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

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

bool waitFor(const std::function<bool()> &condition, int timeoutMs = 20000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (condition())
            return true;
        QTest::qWait(50);
    }
    return condition();
}

// Runs a script in the page and waits for its value.
QVariant runJs(QWebEngineView *view, const QString &script)
{
    QVariant result;
    bool done = false;
    view->page()->runJavaScript(script, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    waitFor([&] { return done; }, 10000);
    return result;
}

int childProcesses()
{
    int count = 0;
    const QString self = QString::number(QCoreApplication::applicationPid());
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // pid (comm) state ppid ...
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.value(1) == self.toLatin1())
            ++count;
    }
    return count;
}

} // namespace

class TestPurchase : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    std::unique_ptr<TestSupport::LocalCloud> m_cloud;
    MainWindow *m_window = nullptr;

    SlideNavigation *nav() const { return m_window->findChild<SlideNavigation *>(QStringLiteral("slideNav")); }
    QStackedWidget *pages() const { return m_window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget")); }
    QWidget *purchasePageWidget() const { return m_window->findChild<QWidget *>(QStringLiteral("page_2")); }
    WebPurchasePage *purchase() const { return qobject_cast<WebPurchasePage *>(m_window->purchasePage()); }
    QWebEngineView *view() const { return purchase() ? purchase()->view() : nullptr; }

    void clickNavItem(int index)
    {
        const QRectF item = nav()->itemRect(index);
        clickAt(nav()->mapToGlobal(item.center().toPoint()));
    }

    // The page has loaded its document and drawn its controls (or its notice).
    bool pageReady(QWebEngineView *v)
    {
        return v
            && runJs(v, QStringLiteral("document.readyState == 'complete' && "
                                       "!!(document.getElementById('rent') || document.getElementById('notice'))"))
                   .toBool();
    }

    // An element of the page, on the screen.
    QRect elementOnScreen(const QString &id)
    {
        const QVariantList box =
            runJs(view(), QStringLiteral("(function(){var e=document.getElementById('%1'); if(!e) return [];"
                                         "e.scrollIntoView({block:'center'}); var r=e.getBoundingClientRect();"
                                         "return [r.left,r.top,r.width,r.height];})()")
                              .arg(id))
                .toList();
        if (box.size() != 4)
            return QRect();
        const qreal zoom = view()->zoomFactor();
        const QRect local(qRound(box[0].toDouble() * zoom), qRound(box[1].toDouble() * zoom),
                          qRound(box[2].toDouble() * zoom), qRound(box[3].toDouble() * zoom));
        return local.translated(view()->mapToGlobal(QPoint(0, 0)));
    }

    void clickElement(const QString &id)
    {
        const QRect r = elementOnScreen(id);
        QVERIFY2(r.isValid(), qPrintable(id));
        clickAt(r.center());
    }

    PhoneDetail *card(const QString &serverSn) const
    {
        for (PhoneDetail *c : m_window->phoneCards()) {
            if (c->serverSn() == serverSn)
                return c;
        }
        return nullptr;
    }

    QJsonObject cloudPhone(const QString &title) const
    {
        for (const QJsonValue &p : m_cloud->phones()) {
            if (p.toObject().value(QStringLiteral("server_title")).toString() == title)
                return p.toObject();
        }
        return QJsonObject();
    }

    bool backOnPhonePage(int phones)
    {
        return waitFor([&] {
            return pages()->currentIndex() == 0 && nav()->currentIndex() == 0 && !nav()->isAnimating()
                && m_window->phoneCards().size() == phones;
        });
    }

private slots:
    void initTestCase()
    {
        initTarvixResources();
        QFile sheet(QStringLiteral(":/style/style.css"));
        QVERIFY(sheet.open(QIODevice::ReadOnly));
        qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));

        m_cloud = std::make_unique<TestSupport::LocalCloud>();
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
        const QString token = m_cloud->signIn(TestSupport::LocalCloud::demoPhone());
        QVERIFY2(!token.isEmpty(), qPrintable(m_cloud->errorString()));

        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = m_cloud->apiBase();
        bases.pay = m_cloud->apiBase() + QStringLiteral("/pay");
        bases.pages = m_cloud->apiBase();
        Utils::overrideServiceBases(bases);
        AppEvent *event = AppEvent::instance();
        event->setPhone(TestSupport::LocalCloud::demoPhone());
        event->setToken(token);
        event->setUserName(QStringLiteral("用户8000"));

        g_previousHandler = qInstallMessageHandler(collectPaymentLines);
        followSessionExpiry(qApp);
        installPurchasePage();
        m_window = MainWindow::instance();
        m_window->move(0, 0);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window));
        QVERIFY(backOnPhonePage(7));
    }

    void cleanupTestCase()
    {
        qInstallMessageHandler(g_previousHandler);
        // As the client does when it quits: no page outlives the web engine.
        delete view();
        m_window->hide();
        Login::instance()->hide();
    }

    // "购买" shows the operator's page with the plans and the user's phones;
    // the address carries the five parameters in order.
    void purchaseItemShowsThePage()
    {
        g_paymentLines.clear();
        clickNavItem(1);
        QTRY_COMPARE(pages()->currentIndex(), 1);
        QTRY_VERIFY(view());
        QVERIFY(waitFor([this] { return pageReady(view()); }));
        QCOMPARE(view()->parentWidget(), purchasePageWidget());
        QCOMPARE(purchasePageWidget()->layout()->indexOf(view()), 0);
        QCOMPARE(view()->zoomFactor(), 0.9);

        QCOMPARE(g_paymentLines.size(), 1);
        static const QRegularExpression address(QStringLiteral(
            "^paymenturl ---- http://127\\.0\\.0\\.1:\\d+/pay\\?appkey=7a3f19c2e4b8d6051f9e2c7d4a6b8e01"
            "&channel_code=qelvane_pc_official&phone=13800138000&token=[0-9a-f]{4}\\*\\*\\*&radom=\\d{1,2}$"));
        QVERIFY2(address.match(g_paymentLines.first()).hasMatch(), qPrintable(g_paymentLines.first()));

        QCOMPARE(runJs(view(), QStringLiteral("document.querySelectorAll('.plan').length")).toInt(), 3);
        QCOMPARE(runJs(view(), QStringLiteral("document.querySelectorAll('#phones tr').length")).toInt(), 7);
        QVERIFY(runJs(view(), QStringLiteral("document.body.innerText")).toString().contains(QStringLiteral("测试机")));
        QTest::qWait(500);
        QVERIFY(!TestSupport::grabScreen(QStringLiteral("purchase-page")).isEmpty());
    }

    // A 7-day rental on the page: the page tells the client through the
    // bridge, and the client is back on the phone page with eight phones,
    // the new one streaming its preview.
    void rentingReturnsToThePhonePage()
    {
        if (pages()->currentIndex() != 1) {
            clickNavItem(1);
            QVERIFY(waitFor([this] { return pageReady(view()); }));
        }
        const int before = m_cloud->phones().size();
        clickElement(QStringLiteral("plan-7"));
        QTRY_VERIFY(runJs(view(), QStringLiteral("document.getElementById('plan-7').className")).toString().contains(
            QStringLiteral("sel")));
        clickElement(QStringLiteral("rent"));

        QVERIFY2(backOnPhonePage(8), qPrintable(m_cloud->consoleLog().right(3000)));
        QCOMPARE(m_cloud->phones().size(), before + 1);
        const QJsonArray rents = m_cloud->events(QStringLiteral("pay_rent"));
        QCOMPARE(rents.size(), 1);
        const QJsonObject rented = rents.first().toObject();
        QCOMPARE(rented.value(QStringLiteral("days")).toInt(), 7);
        const QString serverSn = rented.value(QStringLiteral("server_sn")).toString();

        PhoneDetail *newCard = card(serverSn);
        QVERIFY(newCard);
        QVERIFY(waitFor([newCard] {
            return newCard->preview()->hasStream() && newCard->preview()->frameCounters().shown > 0;
        }, 30000));
        QTest::qWait(300);
        TestSupport::grabScreen(QStringLiteral("purchase-after-rent"));
    }

    // The phone that ends within the hour: its remaining time is orange; a
    // click on it opens the page with the phone preselected, and after the
    // renewal its card shows the longer time.
    void renewingFromTheCard()
    {
        const QJsonObject phone = cloudPhone(QStringLiteral("测试机"));
        const QString serverSn = phone.value(QStringLiteral("server_sn")).toString();
        QVERIFY(!serverSn.isEmpty());
        PhoneDetail *before = card(serverSn);
        QVERIFY(before);
        QVERIFY(before->endsSoon());
        const QString timeBefore = before->remainingText();
        QLabel *state = before->findChild<QLabel *>(QStringLiteral("phoneState"));
        m_window->findChild<QScrollArea *>(QStringLiteral("scrollArea"))->ensureWidgetVisible(before);
        QTest::qWait(200);

        // Orange text on the card, as a person sees it.
        const QImage shot = QImage(TestSupport::grabScreen(QStringLiteral("purchase-card-ending"))).convertToFormat(QImage::Format_RGB32);
        const QRect where(state->mapToGlobal(QPoint(0, 0)), state->size());
        int orange = 0;
        for (int y = where.top(); y <= where.bottom(); ++y) {
            for (int x = where.left(); x <= where.right(); ++x) {
                const QRgb p = shot.pixel(x, y);
                if (qRed(p) > 220 && qGreen(p) > 90 && qGreen(p) < 160 && qBlue(p) < 60)
                    ++orange;
            }
        }
        QVERIFY2(orange > 20, qPrintable(QString::number(orange)));

        g_paymentLines.clear();
        clickAt(where.center());
        QTRY_COMPARE(pages()->currentIndex(), 1);
        QTRY_COMPARE(nav()->currentIndex(), 1);
        QCOMPARE(g_paymentLines.size(), 1);
        QVERIFY2(g_paymentLines.first().endsWith(QStringLiteral("&server_sn=") + serverSn), qPrintable(g_paymentLines.first()));
        QVERIFY(waitFor([this] { return pageReady(view()); }));
        QCOMPARE(runJs(view(), QStringLiteral("document.querySelector('tr.sel') ? document.querySelector('tr.sel').id : ''"))
                     .toString(),
                 QStringLiteral("phone-") + serverSn);
        QTest::qWait(300);
        TestSupport::grabScreen(QStringLiteral("purchase-renew-preselected"));

        clickElement(QStringLiteral("plan-1"));
        clickElement(QStringLiteral("renew"));
        QVERIFY2(backOnPhonePage(8), qPrintable(m_cloud->consoleLog().right(3000)));

        const QJsonObject renewed = cloudPhone(QStringLiteral("测试机"));
        const QDateTime oldEnd = QDateTime::fromString(phone.value(QStringLiteral("end_time")).toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const QDateTime newEnd = QDateTime::fromString(renewed.value(QStringLiteral("end_time")).toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QCOMPARE(oldEnd.secsTo(newEnd), 24 * 3600);
        PhoneDetail *after = card(serverSn);
        QVERIFY(after);
        QVERIFY2(after->remainingText() != timeBefore, qPrintable(after->remainingText()));
        QVERIFY(!after->endsSoon());
    }

    // Each opening replaces the one before: one view, one bridge, whatever
    // the number of openings.
    void reopeningReleasesEarlierPages()
    {
        pages()->setCurrentIndex(0);
        m_window->switchPage(1);
        QVERIFY(waitFor([this] { return pageReady(view()); }));
        QTest::qWait(500);
        const qint64 startKb = TestSupport::residentKiB();
        const int startProcesses = childProcesses();
        for (int i = 1; i < 20; ++i) {
            m_window->switchPage(1);
            QVERIFY(waitFor([this] { return pageReady(view()); }));
        }
        QTest::qWait(500);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTest::qWait(500);
        QCOMPARE(purchasePageWidget()->findChildren<QWebEngineView *>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
        QCOMPARE(m_window->findChildren<JSBridge *>().size(), 1);
        QVERIFY(waitFor([&] { return childProcesses() <= startProcesses + 1; }, 10000));
        qInfo("openings 1 to 20: resident %lld kB -> %lld kB, child processes %d -> %d", startKb, TestSupport::residentKiB(),
              startProcesses, childProcesses());
        // Back, as the page would send the client.
        emit purchase()->bridge()->sigRecvMsgFromJS(QStringLiteral("done"));
        QVERIFY(backOnPhonePage(8));
    }

    // Last: it signs the user out. The page opened with an expired token
    // signs the user out first and then shows the page's own notice.
    void expiredTokenSignsOut()
    {
        QVERIFY(m_cloud->expireToken(TestSupport::LocalCloud::demoPhone()) > 0);
        g_paymentLines.clear();
        clickNavItem(1);
        QTRY_VERIFY(Login::instance()->isVisible());
        QTRY_VERIFY(!m_window->isVisible());
        QVERIFY(AppEvent::instance()->token().isEmpty());
        QCOMPARE(g_paymentLines.size(), 1);
        QVERIFY2(g_paymentLines.first().contains(QStringLiteral("&phone=&token=&radom=")), qPrintable(g_paymentLines.first()));
        QVERIFY(waitFor([this] { return pageReady(view()); }));
        QVERIFY(runJs(view(), QStringLiteral("document.body.innerText")).toString().contains(QStringLiteral("登录已失效")));
        QCOMPARE(runJs(view(), QStringLiteral("document.querySelectorAll('button').length")).toInt(), 0);
        QTest::qWait(300);
        TestSupport::grabScreen(QStringLiteral("purchase-expired-login"));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(QStringLiteral("1.1.0"));
    TestPurchase test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_purchase.moc"
