#include "api/phonerecord.h"
#include "api/utils.h"
#include "app/appevent.h"
#include "phones/mainwindow.h"
#include "phones/model/phonechecks.h"
#include "phones/phonedetail.h"
#include "resources/tarvixresources.h"
#include "stream/phonecontroller.h"
#include "stream/videorender.h"
#include "stream/videorendermini.h"
#include "tests/e2e/xinput.h"
#include "tests/support/localcloud.h"
#include "tests/support/processmemory.h"
#include "tests/support/screenshot.h"
#include "tests/support/tempsettings.h"
#include "tests/support/waitfor.h"
#include "widgets/toast.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <memory>

// Group control and the batch operations on the main window of this
// process, against a local cloud, driven with X input (XTEST) on the
// suite's own X server; what reached each phone is read back through the
// cloud's admin API.

using TestSupport::click;
using TestSupport::moveTo;
using TestSupport::whenModal;
using TestSupport::waitFor;
using TestSupport::xdotool;

using TestSupport::residentKiB;

class TestGroupControlE2E : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    std::unique_ptr<TestSupport::LocalCloud> m_cloud;
    MainWindow *m_main = nullptr;

    PhoneDetail *card(int i) const { return m_main->phoneCards().value(i); }
    QString sn(int i) const { return card(i)->serverSn(); }
    QWidget *mainChild(const char *name) const { return m_main->findChild<QWidget *>(QLatin1String(name)); }
    static QString mcl(PhoneController *w) { return w->findChild<QLabel *>(QStringLiteral("mcl"))->text(); }
    static QString toastText() { return Toast::instance()->window()->text(); }
    QJsonValue phoneValue(int i, const char *key) const { return m_cloud->phoneState(sn(i)).value(QLatin1String(key)); }

    // Touches the phone recorded from the given moment on.
    int touchesSince(const QString &serial, qint64 since) const
    {
        int n = 0;
        for (const QJsonValue &t : m_cloud->phoneState(serial).value(QStringLiteral("touches")).toArray()) {
            if (qint64(t.toObject().value(QStringLiteral("time")).toDouble()) >= since)
                ++n;
        }
        return n;
    }

    // A click (down and up) in the window's picture; then the number of
    // touches each of the first four phones recorded for it, once nothing
    // more arrives.
    QVector<int> tapIn(PhoneController *window)
    {
        // Brought forward first, as a person would, so the click lands in it.
        window->raise();
        QTest::qWait(200);
        const qint64 since = QDateTime::currentMSecsSinceEpoch();
        QTest::qWait(20);
        VideoRender *view = window->videoRender();
        click(view, QPoint(view->width() / 3, view->height() / 4));
        QVector<int> counts;
        waitFor([&] { return touchesSince(window->videoRender()->serverSn(), since) >= 2; }, 5000);
        QTest::qWait(700);
        for (int i = 0; i < 4; ++i)
            counts << touchesSince(sn(i), since);
        return counts;
    }

    void setChecked(int i, bool checked)
    {
        if ((card(i)->checkState() == Qt::Checked) == checked)
            return;
        // A spot of the card that no child takes.
        QWidget *preview = card(i)->findChild<QWidget *>(QStringLiteral("videorendermini"));
        click(preview, QPoint(preview->width() / 2, 25));
    }

    PhoneController *enter(int i, const QPoint &at)
    {
        PhoneDetail *c = card(i);
        moveTo(c->mapToGlobal(QPoint(5, 5)));
        moveTo(c->mapToGlobal(c->rect().center()));
        auto *button = c->findChild<QPushButton *>(QStringLiteral("enterBtn"));
        if (!waitFor([&] { return button->isVisible(); }, 3000))
            return nullptr;
        click(button);
        if (!waitFor([&] { return c->controlWindow() && c->controlWindow()->isVisible(); }, 5000))
            return nullptr;
        PhoneController *w = c->controlWindow();
        w->move(at);
        if (!waitFor([&] { return w->videoRender()->hasStream() && w->videoRender()->frameCounters().shown > 0; }))
            return nullptr;
        // Past the window's own first status question.
        QTest::qWait(1300);
        return w;
    }

    bool previewIsLive(int i)
    {
        VideoRenderMini *preview = card(i)->preview();
        const auto before = preview->frameCounters().shown;
        return waitFor([&] { return !preview->isPictureHeld() && preview->frameCounters().shown > before; }, 3000);
    }

private slots:
    void initTestCase()
    {
        initTarvixResources();
        QFile style(QStringLiteral(":/style/style.css"));
        QVERIFY(style.open(QIODevice::ReadOnly));
        qApp->setStyleSheet(QString::fromUtf8(style.readAll()));
        QVERIFY(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("version")}) == 0);
        m_cloud = std::make_unique<TestSupport::LocalCloud>();
        QVERIFY2(m_cloud->isReady(), qPrintable(m_cloud->errorString()));
        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = m_cloud->apiBase();
        Utils::overrideServiceBases(bases);
        const QString token = m_cloud->signIn(TestSupport::LocalCloud::demoPhone());
        QVERIFY2(!token.isEmpty(), qPrintable(m_cloud->errorString()));
        AppEvent::instance()->setPhone(TestSupport::LocalCloud::demoPhone());
        AppEvent::instance()->setToken(token);

        m_main = MainWindow::instance();
        m_main->move(0, 0);
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main));
        QTRY_VERIFY_WITH_TIMEOUT(m_main->phoneCards().size() >= 5, 10000);
        for (int i = 0; i < 4; ++i)
            QVERIFY2(waitFor([&] { return card(i)->preview()->frameCounters().shown > 0; }, 15000),
                     qPrintable(QStringLiteral("no preview on card %1").arg(i)));
    }

    void cleanup()
    {
        if (QTest::currentTestFailed()) {
            TestSupport::grabScreen(QStringLiteral("groupcontrol-failed-%1").arg(QLatin1String(QTest::currentTestFunction())));
            qWarning().noquote() << m_cloud->consoleLog().right(3000);
        }
    }

    void refusedWithoutTwoPhones()
    {
        QWidget *label = mainChild("groupControlBtn");
        click(label);
        QTRY_COMPARE(toastText(), QStringLiteral("请选择云机"));
        QVERIFY(!m_main->groupControl());
        setChecked(0, true);
        QTRY_COMPARE(m_main->checkedPhoneList(), QStringList{sn(0)});
        click(label);
        QTRY_COMPARE(toastText(), QStringLiteral("群控模式下云机至少勾选2台"));
        QVERIFY(!m_main->groupControl());
    }

    // A, B, C checked, windows for B and C: B leads, C follows; only the
    // master's input travels, once to each phone.
    void masterRelaysOnce()
    {
        setChecked(1, true);
        setChecked(2, true);
        QTRY_COMPARE(m_main->checkedPhoneList(), (QStringList{sn(0), sn(1), sn(2)}));
        PhoneController *b = enter(1, QPoint(760, 0));
        QVERIFY(b);
        PhoneController *c = enter(2, QPoint(1080, 0));
        QVERIFY(c);
        QCOMPARE(mcl(b), QStringLiteral("单机中"));

        click(mainChild("groupControlBtn"));
        QTRY_VERIFY(m_main->groupControl());
        QTRY_COMPARE(mcl(b), QStringLiteral("主控中"));
        QCOMPARE(mcl(c), QStringLiteral("被控中"));
        QCOMPARE(m_main->masterPhone(), sn(1));

        QCOMPARE(tapIn(b), (QVector<int>{2, 2, 2, 0}));
        QCOMPARE(b->findChild<QLabel *>(QStringLiteral("mcl"))->toolTip(), QStringLiteral("已同步到 2 台云机"));
        TestSupport::grabScreen(QStringLiteral("groupcontrol-master-b"));
        QCOMPARE(tapIn(c), (QVector<int>{0, 0, 2, 0}));
    }

    void controlledWindowTakesOver()
    {
        PhoneController *b = card(1)->controlWindow();
        PhoneController *c = card(2)->controlWindow();
        QVERIFY(b && c);
        click(c->findChild<QWidget *>(QStringLiteral("mcl")));
        QTRY_COMPARE(mcl(c), QStringLiteral("主控中"));
        QCOMPARE(mcl(b), QStringLiteral("被控中"));
        QCOMPARE(tapIn(c), (QVector<int>{2, 2, 2, 0}));
        TestSupport::grabScreen(QStringLiteral("groupcontrol-master-c"));
    }

    void uncheckingTheMasterAndTheMinimum()
    {
        PhoneController *b = card(1)->controlWindow();
        PhoneController *c = card(2)->controlWindow();
        QVERIFY(b && c);
        setChecked(2, false);
        QTRY_COMPARE(m_main->checkedPhoneList(), (QStringList{sn(0), sn(1)}));
        QTRY_COMPARE(mcl(b), QStringLiteral("主控中"));
        QCOMPARE(mcl(c), QStringLiteral("单机中"));
        QCOMPARE(m_main->masterPhone(), sn(1));

        // One of exactly two: refused, and the card is checked again.
        setChecked(0, false);
        QTRY_COMPARE(toastText(), QStringLiteral("群控模式下云机至少勾选2台"));
        QTRY_COMPARE(card(0)->checkState(), Qt::Checked);
        QCOMPARE(m_main->checkedPhoneList(), (QStringList{sn(0), sn(1)}));
    }

    // "退出云机" from a controlled window: its card is live again and group
    // control still reaches the phone, through the preview.
    void exitedWindowStillReached()
    {
        PhoneController *b = card(1)->controlWindow();
        PhoneController *c = card(2)->controlWindow();
        QVERIFY(b && c);
        setChecked(2, true);
        QTRY_COMPARE(mcl(c), QStringLiteral("被控中"));
        click(c->findChild<QWidget *>(QStringLiteral("mcl")));
        QTRY_COMPARE(mcl(c), QStringLiteral("主控中"));
        QTRY_COMPARE(mcl(b), QStringLiteral("被控中"));

        // Its panel reaches under C's window; a person would bring B forward.
        b->raise();
        QTest::qWait(200);
        click(b->findChild<QWidget *>(QStringLiteral("icon")));
        QWidget *quit = b->findChild<QWidget *>(QStringLiteral("quit"));
        QTRY_VERIFY(quit->isVisible());
        click(quit);
        QTRY_VERIFY(!b->isVisible());
        QVERIFY2(previewIsLive(1), "card B shows no live preview after 退出云机");
        QCOMPARE(tapIn(c), (QVector<int>{2, 2, 2, 0}));
    }

    void switchingOffTellsEveryWindow()
    {
        PhoneController *c = card(2)->controlWindow();
        QVERIFY(c);
        PhoneController *b = enter(1, QPoint(760, 0));
        QVERIFY(b);
        QCOMPARE(b, card(1)->controlWindow()); // the same window again
        QTRY_COMPARE(mcl(b), QStringLiteral("被控中"));
        click(mainChild("groupControlBtn"));
        QTRY_VERIFY(!m_main->groupControl());
        QTRY_COMPARE(mcl(b), QStringLiteral("单机中"));
        QCOMPARE(mcl(c), QStringLiteral("单机中"));
        QCOMPARE(tapIn(c), (QVector<int>{0, 0, 2, 0}));

        // Every ending gives the preview back: the title bar for B, a close
        // from the program for C (the window manager's is further on).
        b->raise();
        QTest::qWait(200);
        click(b->findChild<QWidget *>(QStringLiteral("closeButton")));
        QTRY_VERIFY(!b->isVisible());
        QVERIFY(c->close() == false || !c->isVisible());
        QTRY_VERIFY(!c->isVisible());
        QVERIFY(!c->videoRender()->hasStream());
        QVERIFY2(previewIsLive(1), "card B");
        QVERIFY2(previewIsLive(2), "card C");
    }

    // Typing and pasting in the master, as a person does: every checked
    // phone's notes gain the text once, exactly as typed; the unchecked
    // phone gains nothing.
    void typingAndPasteRelayedOnce()
    {
        PhoneController *b = enter(1, QPoint(760, 0));
        QVERIFY(b);
        click(mainChild("groupControlBtn"));
        QTRY_COMPARE(mcl(b), QStringLiteral("主控中"));
        QCOMPARE(m_main->checkedPhoneList(), (QStringList{sn(0), sn(1), sn(2)}));

        // The notes app open on all three through the master alone: Home,
        // then the first icon of the home screen.
        b->raise();
        QTest::qWait(200);
        click(b->findChild<QWidget *>(QStringLiteral("homeControl")));
        for (int i : {0, 1, 2})
            QTRY_COMPARE(phoneValue(i, "screen").toString(), QStringLiteral("home"));
        VideoRender *view = b->videoRender();
        QVERIFY(view->isPortrait());
        click(view, QPoint(90 * view->width() / 720 + 1, 320 * view->height() / 1280 + 1));
        for (int i : {0, 1, 2})
            QTRY_COMPARE(phoneValue(i, "screen").toString(), QStringLiteral("notes"));

        QStringList notes;
        for (int i = 0; i < 4; ++i)
            notes << phoneValue(i, "notes").toString();
        const auto notesGained = [&](const QString &gained) {
            for (int i : {0, 1, 2}) {
                if (!waitFor([&] { return phoneValue(i, "notes").toString() == notes.at(i) + gained; }, 15000))
                    return false;
            }
            // Nothing more arrives: each phone got it once.
            QTest::qWait(1000);
            for (int i : {0, 1, 2}) {
                if (phoneValue(i, "notes").toString() != notes.at(i) + gained)
                    return false;
            }
            return phoneValue(3, "notes").toString() == notes.at(3);
        };

        b->activateWindow();
        QTRY_VERIFY(b->isActiveWindow());
        const QString typed = QStringLiteral("Hello World! (a:b) 你好");
        QVERIFY(TestSupport::typeText(typed));
        QVERIFY2(notesGained(typed), qPrintable(phoneValue(0, "notes").toString() + QLatin1Char('|') +
                                                phoneValue(2, "notes").toString()));
        TestSupport::grabScreen(QStringLiteral("groupcontrol-typed"));

        const QString pasted = QStringLiteral("群控粘贴 ünïcode ✓");
        QGuiApplication::clipboard()->setText(pasted);
        click(b->findChild<QWidget *>(QStringLiteral("pasteBtn")));
        for (int i : {0, 1, 2})
            QTRY_COMPARE(phoneValue(i, "clipboard").toString(), pasted);
        QVERIFY2(notesGained(typed + pasted), qPrintable(phoneValue(0, "notes").toString()));
        QVERIFY(phoneValue(3, "clipboard").toString() != pasted);
    }

    // The window manager's close (Alt+F4 under openbox) ends a controlled
    // window the way every other ending does: its card is live again and
    // group control still reaches the phone.
    void windowManagerCloseStillReached()
    {
        TestSupport::WindowManager manager;
        QVERIFY2(manager.isRunning(), "no window manager (openbox) on the display");
        PhoneController *b = card(1)->controlWindow();
        QVERIFY(b && b->isVisible());
        QCOMPARE(mcl(b), QStringLiteral("主控中"));
        PhoneController *c = enter(2, QPoint(1080, 0));
        QVERIFY(c);
        QTRY_COMPARE(mcl(c), QStringLiteral("被控中"));
        QVERIFY(card(2)->preview()->isPictureHeld());

        QVERIFY(manager.closeWithAltF4(c));
        QTRY_VERIFY(!c->isVisible());
        QVERIFY(!c->videoRender()->hasStream());
        QVERIFY(c->hasEnded());
        QVERIFY2(previewIsLive(2), "card C shows no live preview after Alt+F4");
        QVERIFY(b->isVisible());
        QCOMPARE(tapIn(b), (QVector<int>{2, 2, 2, 0}));

        click(b->findChild<QWidget *>(QStringLiteral("closeButton")));
        QTRY_VERIFY(!b->isVisible());
        QVERIFY2(previewIsLive(1), "card B");
    }

    // A rebuild while on: group control is left and every window told.
    void rebuildLeavesGroupControl()
    {
        PhoneController *b = enter(1, QPoint(760, 0));
        QVERIFY(b);
        QTRY_COMPARE(mcl(b), QStringLiteral("主控中"));
        m_main->refreshPhoneList(false);
        QVERIFY(!m_main->groupControl());
        QTRY_COMPARE(mcl(b), QStringLiteral("单机中"));
        QTRY_VERIFY(m_main->checkedPhoneList().isEmpty());
        // The new card owns the still open window.
        QTRY_COMPARE(card(1)->controlWindow(), b);
        click(b->findChild<QWidget *>(QStringLiteral("closeButton")));
        QTRY_VERIFY(!b->isVisible());
        QVERIFY(waitFor([&] { return card(1)->preview()->frameCounters().shown > 0; }, 8000));
    }

    void batchRebootAndCancelledReset()
    {
        setChecked(0, true);
        setChecked(1, true);
        QTRY_COMPARE(m_main->checkedPhoneList(), (QStringList{sn(0), sn(1)}));
        const int boots0 = m_cloud->phoneState(sn(0)).value(QStringLiteral("bootCount")).toInt();
        const int boots1 = m_cloud->phoneState(sn(1)).value(QStringLiteral("bootCount")).toInt();
        auto *combo = m_main->findChild<QComboBox *>(QStringLiteral("comboBox"));
        QCOMPARE(combo->currentIndex(), -1);
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->lineEdit()->placeholderText(), QStringLiteral("批量操作"));

        const auto choose = [&](int index) {
            // The arrow: the line edit itself only shows the text.
            click(combo, QPoint(combo->width() - 10, combo->height() / 2));
            QTRY_VERIFY(combo->view()->isVisible());
            TestSupport::grabScreen(QStringLiteral("groupcontrol-batch-list"));
            QTest::qWait(200);
            const QRect item = combo->view()->visualRect(combo->model()->index(index, 0));
            moveTo(QPoint(combo->view()->window()->geometry().center().x(),
                          combo->view()->viewport()->mapToGlobal(item.center()).y()));
            xdotool({QStringLiteral("click"), QStringLiteral("1")});
        };

        // Reset, cancelled: nothing is sent.
        const int requestsBefore = m_cloud->lastRequests().size();
        QString title;
        whenModal([&](QWidget *dialog) {
            title = dialog->windowTitle();
            click(dialog->findChild<QPushButton *>(QStringLiteral("cancel")));
        });
        choose(1);
        QTRY_COMPARE(title, QStringLiteral("恢复出厂设置"));
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QTest::qWait(300);
        for (const QJsonValue &r : m_cloud->lastRequests(10))
            QVERIFY(!r.toObject().value(QStringLiteral("path")).toString().contains(QStringLiteral("reset_arm_server")));
        Q_UNUSED(requestsBefore);
        QCOMPARE(m_main->checkedPhoneList(), (QStringList{sn(0), sn(1)}));

        // Reboot, confirmed: one request with both phones in tree order.
        const QString first = sn(0);
        const QString second = sn(1);
        whenModal([&](QWidget *dialog) {
            title = dialog->windowTitle();
            TestSupport::grabScreen(QStringLiteral("groupcontrol-batch-reboot-dialog"));
            click(dialog->findChild<QPushButton *>(QStringLiteral("ok")));
        });
        choose(0);
        QTRY_COMPARE(title, QStringLiteral("重启手机"));
        QTRY_COMPARE(toastText(), QStringLiteral("云机重启成功，请稍等两分钟"));
        QJsonArray reboots;
        for (const QJsonValue &r : m_cloud->lastRequests(20)) {
            if (r.toObject().value(QStringLiteral("path")).toString().contains(QStringLiteral("restart_arm_server")))
                reboots.append(r);
        }
        QCOMPARE(reboots.size(), 1);
        const QString body = reboots.first().toObject().value(QStringLiteral("body")).toString();
        QVERIFY2(body.indexOf(first) >= 0 && body.indexOf(first) < body.indexOf(second), qPrintable(body));
        QTRY_VERIFY(m_cloud->phoneState(first).value(QStringLiteral("bootCount")).toInt() > boots0);
        QTRY_VERIFY(m_cloud->phoneState(second).value(QStringLiteral("bootCount")).toInt() > boots1);
        QTRY_VERIFY(m_main->checkedPhoneList().isEmpty());
        for (PhoneDetail *c : m_main->phoneCards())
            QCOMPARE(c->checkState(), Qt::Unchecked);
        QCOMPARE(combo->currentText(), QStringLiteral("批量重启"));
    }

    // Twenty openings of one phone reuse its window: memory stays flat.
    void reopeningDoesNotGrowMemory()
    {
        const auto cycle = [&] {
            PhoneController *w = enter(3, QPoint(760, 0));
            if (!w)
                return false;
            w->raise();
            click(w->findChild<QWidget *>(QStringLiteral("closeButton")));
            return waitFor([&] { return !w->isVisible(); }, 5000);
        };
        for (int i = 0; i < 3; ++i)
            QVERIFY(cycle());
        PhoneController *window = card(3)->controlWindow();
        // Past the freed memory's hand-back after the last ending.
        QTest::qWait(1500);
        const qint64 before = residentKiB();
        for (int i = 0; i < 20; ++i) {
            QVERIFY(cycle());
            if (qEnvironmentVariableIsSet("TARVIX_MEMORY_TRACE"))
                qInfo("opening %d: %lld KiB", i, residentKiB());
        }
        QTest::qWait(1500);
        const qint64 after = residentKiB();
        qInfo("resident memory %lld KiB -> %lld KiB over 20 openings", before, after);
        QCOMPARE(card(3)->controlWindow(), window);
        if (TestSupport::residentMemoryIsMeaningful())
            QVERIFY2(after - before < 10 * 1024, qPrintable(QStringLiteral("grew %1 KiB").arg(after - before)));
    }
};

QTEST_MAIN(TestGroupControlE2E)
#include "tst_groupcontrol.moc"
