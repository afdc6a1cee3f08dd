#include "api/phonerecord.h"
#include "app/appevent.h"
#include "api/utils.h"
#include "resources/tarvixresources.h"
#include "stream/inputmapping.h"
#include "stream/menubutton.h"
#include "stream/phonecontroller.h"
#include "stream/videorender.h"
#include "tests/e2e/xinput.h"
#include "tests/e2e/xkeymap.h"
#include "tests/support/localcloud.h"
#include "tests/support/screenshot.h"
#include "tests/support/tempsettings.h"
#include "tests/support/waitfor.h"
#include "widgets/clickablelabel.h"
#include "widgets/infodialog.h"
#include "widgets/toast.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QInputMethodEvent>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <memory>

using TestSupport::click;
using TestSupport::pointerTo;
using TestSupport::whenModal;
using TestSupport::waitFor;
using TestSupport::xdotool;

namespace {

QString applyStyleSheet()
{
    QFile file(QStringLiteral(":/style/style.css"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("no style sheet");
    qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
    return QString();
}

} // namespace

// The control window against a real local cloud, driven with X input.
class TestControlWindow : public QObject
{
    Q_OBJECT

private:
    TestSupport::TempSettings m_settings;
    std::unique_ptr<TestSupport::LocalCloud> m_cloud;
    QVector<PhoneRecord> m_phones;
    QList<PhoneController *> m_windows;

    PhoneController *open(int phoneIndex)
    {
        const PhoneRecord &phone = m_phones.at(phoneIndex);
        auto *window = new PhoneController;
        m_windows << window;
        window->move(40, 40);
        window->show();
        window->setCurrentId(phone.serverTitle);
        window->setCurrentTime(Utils::remainingTimeText(3600 * 30));
        window->startStream(phone.serverSn);
        window->activateWindow();
        return window;
    }

    QJsonObject state(int phoneIndex) const { return m_cloud->phoneState(m_phones.at(phoneIndex).serverSn); }
    QString notes() const { return state(0).value(QStringLiteral("notes")).toString(); }

    // Phone 0's notes app open, and the window taking the keyboard.
    void openNotes(PhoneController *window)
    {
        if (state(0).value(QStringLiteral("screen")).toString() != QLatin1String("notes")) {
            QVERIFY(click(window->findChild<QWidget *>(QStringLiteral("homeControl"))));
            QTRY_COMPARE(state(0).value(QStringLiteral("screen")).toString(), QStringLiteral("home"));
            QVERIFY(click(window->videoRender(), viewPointFor(window, QPoint(90, 320))));
            QTRY_COMPARE(state(0).value(QStringLiteral("screen")).toString(), QStringLiteral("notes"));
        }
        window->activateWindow();
        QTRY_VERIFY(window->isActiveWindow());
    }

    bool waitForPicture(PhoneController *window)
    {
        return waitFor([window] { return window->videoRender()->frameCounters().shown > 0; });
    }


    // The panel's controls are reached by clicking the header's icon.
    void openPanel(PhoneController *window)
    {
        auto *panel = window->findChild<QWidget *>(QStringLiteral("phoneControl"));
        if (!panel->isVisible())
            click(window->findChild<QWidget *>(QStringLiteral("icon")));
        QTRY_VERIFY(panel->isVisible());
    }

    QPoint viewPointFor(PhoneController *window, const QPoint &phone)
    {
        VideoRender *view = window->videoRender();
        if (view->isPortrait())
            return QPoint(phone.x() * view->width() / 720 + 1, phone.y() * view->height() / 1280 + 1);
        return QPoint(phone.y() * view->width() / 1280 + 1, view->height() - phone.x() * view->height() / 720);
    }

    // Touches after the given count, as the phone recorded them.
    QJsonArray touchesSince(int phoneIndex, int count)
    {
        const QJsonArray all = state(phoneIndex).value(QStringLiteral("touches")).toArray();
        QJsonArray out;
        for (int i = count; i < all.size(); ++i)
            out.append(all.at(i));
        return out;
    }
    int touchCount(int phoneIndex) { return state(phoneIndex).value(QStringLiteral("touches")).toArray().size(); }

    void checkClickLands(PhoneController *window, int phoneIndex, const QPoint &viewPos)
    {
        VideoRender *view = window->videoRender();
        const int before = touchCount(phoneIndex);
        QVERIFY(click(view, viewPos));
        QJsonArray touches;
        QVERIFY(waitFor([&] {
            touches = touchesSince(phoneIndex, before);
            return touches.size() >= 2;
        }));
        const QPoint expected = InputMapping::toPhone(viewPos, view->size(), QSize(720, 1280), view->isPortrait());
        const QJsonObject down = touches.first().toObject();
        QCOMPARE(down.value(QStringLiteral("action")).toInt(), 0);
        QCOMPARE(down.value(QStringLiteral("x")).toInt(), expected.x());
        QCOMPARE(down.value(QStringLiteral("y")).toInt(), expected.y());
        const QJsonObject up = touches.last().toObject();
        QCOMPARE(up.value(QStringLiteral("action")).toInt(), 1);
        QCOMPARE(up.value(QStringLiteral("x")).toInt(), -1);
        QCOMPARE(up.value(QStringLiteral("y")).toInt(), -1);
    }

private slots:
    void initTestCase()
    {
        initTarvixResources();
        QCOMPARE(applyStyleSheet(), QString());
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
        m_phones = PhoneRecord::listFromAnswer(Utils::instance()->serverList().toUtf8());
        QVERIFY(m_phones.size() >= 5);
    }

    void cleanupTestCase()
    {
        qDeleteAll(m_windows);
        m_windows.clear();
        m_cloud.reset();
    }

    void cleanup()
    {
        if (QTest::currentTestFailed() && m_cloud)
            qWarning().noquote() << m_cloud->consoleLog().right(4000);
    }

    // The frame is there at once; the picture follows when the phone sends it.
    void opensAndShowsLiveScreen()
    {
        QElapsedTimer clock;
        clock.start();
        PhoneController *window = open(0);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        for (const char *name : {"widget", "titleWidget", "videoRender", "sysMenu", "pasteBtn", "mcl", "currentID"})
            QVERIFY2(window->findChild<QWidget *>(QLatin1String(name))->isVisible(), name);
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("currentID"))->text(), m_phones.at(0).serverTitle);
        const bool earlyPicture = window->videoRender()->frameCounters().shown > 0;
        QTest::qWait(100);
        TestSupport::grabScreen(QStringLiteral("controlwindow-opening"));

        QVERIFY(waitForPicture(window));
        qInfo("first picture %lld ms after opening%s", qint64(clock.elapsed()),
              earlyPicture ? " (already there at the first check)" : "");
        QVERIFY(window->videoRender()->hasStream());
        QTest::qWait(300);
        TestSupport::grabScreen(QStringLiteral("controlwindow-portrait"));

        // The header shows the server SN under the phone's id once opened.
        QTRY_COMPARE(window->findChild<QLabel *>(QStringLiteral("serverSn"))->text(), m_phones.at(0).serverSn);
    }

    void clicksLandInPortraitAndLandscape()
    {
        PhoneController *window = m_windows.last();
        checkClickLands(window, 0, QPoint(100, 150));
        checkClickLands(window, 0, QPoint(333, 20));

        openPanel(window);
        QTest::qWait(300);
        TestSupport::grabScreen(QStringLiteral("controlwindow-panel"));
        QVERIFY(click(window->findChild<QWidget *>(QStringLiteral("screen"))));
        QTRY_COMPARE(window->size(), QSize(918, 520));
        QTRY_VERIFY(!window->videoRender()->isPortrait());
        QTRY_COMPARE(window->findChild<QLabel *>(QStringLiteral("Content"))->size(), window->videoRender()->size());
        // The panel covers the bottom; a press on the picture above it hides it.
        checkClickLands(window, 0, QPoint(600, 60));
        checkClickLands(window, 0, QPoint(20, 100));
        QTest::qWait(300);
        TestSupport::grabScreen(QStringLiteral("controlwindow-landscape"));

        openPanel(window);
        QVERIFY(click(window->findChild<QWidget *>(QStringLiteral("screen"))));
        QTRY_COMPARE(window->size(), QSize(520, 918));
        QTRY_VERIFY(window->videoRender()->isPortrait());
    }

    void dragGivesDownMovesUp()
    {
        PhoneController *window = m_windows.last();
        VideoRender *view = window->videoRender();
        const int before = touchCount(0);
        const QPoint from = view->mapToGlobal(QPoint(100, 300));
        QStringList args = pointerTo(from) + QStringList{QStringLiteral("mousedown"), QStringLiteral("1")};
        for (int step = 1; step <= 5; ++step)
            args += pointerTo(from + QPoint(step * 30, step * 20)) + QStringList{QStringLiteral("sleep"), QStringLiteral("0.05")};
        args += QStringList{QStringLiteral("mouseup"), QStringLiteral("1")};
        QVERIFY(xdotool(args));
        QJsonArray touches;
        QVERIFY(waitFor([&] {
            touches = touchesSince(0, before);
            return !touches.isEmpty() && touches.last().toObject().value(QStringLiteral("action")).toInt() == 1;
        }));
        QVERIFY(touches.size() >= 3);
        QCOMPARE(touches.first().toObject().value(QStringLiteral("action")).toInt(), 0);
        for (int i = 1; i < touches.size() - 1; ++i)
            QCOMPARE(touches.at(i).toObject().value(QStringLiteral("action")).toInt(), 2);
        const QJsonObject lastMove = touches.at(touches.size() - 2).toObject();
        const QPoint end = InputMapping::toPhone(QPoint(250, 400), view->size(), QSize(720, 1280), true);
        QCOMPARE(lastMove.value(QStringLiteral("x")).toInt(), end.x());
        QCOMPARE(lastMove.value(QStringLiteral("y")).toInt(), end.y());
        const QJsonObject up = touches.last().toObject();
        QCOMPARE(up.value(QStringLiteral("x")).toInt(), -1);
        QCOMPARE(up.value(QStringLiteral("y")).toInt(), -1);
    }

    void keysNavigationAndPaste()
    {
        PhoneController *window = m_windows.last();
        // Open the notes app: the first icon of the home screen.
        QVERIFY(click(window->findChild<QWidget *>(QStringLiteral("homeControl"))));
        QTRY_COMPARE(state(0).value(QStringLiteral("screen")).toString(), QStringLiteral("home"));
        QVERIFY(click(window->videoRender(), viewPointFor(window, QPoint(90, 320))));
        QTRY_COMPARE(state(0).value(QStringLiteral("screen")).toString(), QStringLiteral("notes"));
        const QString notesBefore = state(0).value(QStringLiteral("notes")).toString();

        window->activateWindow();
        QTRY_VERIFY(window->isActiveWindow());
        QVERIFY(TestSupport::typeText(QStringLiteral("hi, all"), 60));
        QTRY_COMPARE(state(0).value(QStringLiteral("notes")).toString(), notesBefore + QStringLiteral("hi, all"));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("BackSpace")}));
        QTRY_COMPARE(state(0).value(QStringLiteral("notes")).toString(), notesBefore + QStringLiteral("hi, al"));

        const QString chinese = QStringLiteral("你好，云手机！");
        QGuiApplication::clipboard()->setText(chinese);
        QVERIFY(click(window->findChild<QWidget *>(QStringLiteral("pasteBtn"))));
        QTRY_COMPARE(state(0).value(QStringLiteral("clipboard")).toString(), chinese);
        QCOMPARE(state(0).value(QStringLiteral("notes")).toString(), notesBefore + QStringLiteral("hi, al") + chinese);

        // Back leaves the notes, Home keeps the home screen, Menu opens and closes the menu.
        QVERIFY(click(window->findChild<QWidget *>(QStringLiteral("backControl"))));
        QTRY_COMPARE(state(0).value(QStringLiteral("screen")).toString(), QStringLiteral("home"));
        QVERIFY(click(window->videoRender(), viewPointFor(window, QPoint(90, 320))));
        QTRY_COMPARE(state(0).value(QStringLiteral("screen")).toString(), QStringLiteral("notes"));
        QVERIFY(click(window->findChild<QWidget *>(QStringLiteral("homeControl"))));
        QTRY_COMPARE(state(0).value(QStringLiteral("screen")).toString(), QStringLiteral("home"));
        QVERIFY(click(window->findChild<QWidget *>(QStringLiteral("menuControl"))));
        QTRY_VERIFY(state(0).value(QStringLiteral("menuOpen")).toBool());
        QVERIFY(click(window->findChild<QWidget *>(QStringLiteral("menuControl"))));
        QTRY_VERIFY(!state(0).value(QStringLiteral("menuOpen")).toBool());

        QList<int> codes;
        for (const QJsonValue &k : state(0).value(QStringLiteral("keys")).toArray())
            codes << k.toObject().value(QStringLiteral("code")).toInt();
        QVERIFY(codes.contains(158) && codes.contains(172) && codes.contains(139));
    }

    // Typing as a person types: X key presses through xdotool (it types
    // Chinese by binding the characters' keysyms to spare keycodes), read
    // back from the phone's notes.
    void typingReachesNotesAsTyped()
    {
        PhoneController *window = m_windows.last();
        openNotes(window);
        // Every record the window announces, copied while it is emitted.
        struct Record
        {
            QString otype;
            int oper;
            int code;
            QString text;
        };
        QVector<Record> all;
        QStringList records; // the texts of the "sendText" ones
        QObject recording;
        connect(window, &PhoneController::sendSigleOperateDataPC, &recording,
                [&](const QString &otype, int oper, int *datax, int *, float *, int, const QString &copycontent) {
                    all.append({otype, oper, datax ? datax[0] : 0, copycontent});
                    if (otype == QLatin1String("sendText"))
                        records << copycontent;
                });
        const QString before = notes();
        const QString typed = QStringLiteral("Hello World! (a:b) 你好");
        // With a keyboard layout that has the Chinese characters on keys of
        // their own.
        QVERIFY(TestSupport::typeText(typed));
        QTRY_COMPARE_WITH_TIMEOUT(notes(), before + typed, 15000);
        // Capitals, shifted symbols and Chinese went as text and were announced.
        QCOMPARE(records.join(QString()), QStringLiteral("HW!(:)你好"));

        // The records alone repeat the typing, as group control repeats it
        // on another phone.
        const QVector<Record> typing = all;
        for (const Record &r : typing) {
            int x = r.otype == QLatin1String("sendText") ? -1 : r.code;
            int y = -1;
            float f = -1.0f;
            const bool key = r.otype == QLatin1String("sendKeyEvent");
            window->applyOperation(r.otype, r.oper, &x, key ? nullptr : &y, key ? nullptr : &f, r.text);
        }
        QTRY_COMPARE(notes(), before + typed + typed);
        QCOMPARE(all.size(), typing.size()); // applying announces nothing

        // An input method's commits: pinyin, kana, an emoji picker.
        records.clear();
        QCOMPARE(QGuiApplication::focusObject(), static_cast<QObject *>(window));
        const QStringList commits{QStringLiteral("云手机"), QStringLiteral("こんにちは"), QStringLiteral("🙂👍")};
        for (const QString &commit : commits) {
            QInputMethodEvent composing(commit.left(1), {});
            QCoreApplication::sendEvent(QGuiApplication::focusObject(), &composing);
            QInputMethodEvent commitEvent;
            commitEvent.setCommitString(commit);
            QCoreApplication::sendEvent(QGuiApplication::focusObject(), &commitEvent);
        }
        QTRY_COMPARE(notes(), before + typed + typed + commits.join(QString()));
        QCOMPARE(records, commits);
        QTest::qWait(300);
        TestSupport::grabScreen(QStringLiteral("controlwindow-typed-notes"));
    }

    void keyCases_data()
    {
        // xdotool invocations, and what the notes gain.
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("gained");
        QString ascii;
        for (char c = 0x20; c < 0x7f; ++c)
            ascii += QLatin1Char(c);
        const QString type = QStringLiteral("type");
        const QString key = QStringLiteral("key");
        QTest::newRow("shift+letter") << QStringList{key, "shift+h shift+i"} << "HI";
        QTest::newRow("caps lock") << QStringList{key, "Caps_Lock", type, "ab1;", key, "Caps_Lock", type, "c"}
                                   << "AB1;c";
        QTest::newRow("caps lock and shift") << QStringList{key, "Caps_Lock shift+a Caps_Lock"} << "a";
        QTest::newRow("printable ascii, first half") << QStringList{type, ascii.left(48)} << ascii.left(48);
        QTest::newRow("printable ascii, second half") << QStringList{type, ascii.mid(48)} << ascii.mid(48);
        QTest::newRow("enter") << QStringList{type, "x", key, "Return"} << "x\n";
        QTest::newRow("keypad enter") << QStringList{key, "KP_Enter"} << "\n";
        QTest::newRow("backspace") << QStringList{type, "xyz", key, "BackSpace"} << "xy";
        QTest::newRow("backspace takes chinese whole") << QStringList{type, "你好", key, "BackSpace"} << "你";
        QTest::newRow("unmapped key sends nothing") << QStringList{key, "F5", type, "z"} << "z";
        QTest::newRow("shortcut types nothing") << QStringList{key, "ctrl+b", type, "y"} << "y";
    }
    void keyCases()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, gained);
        PhoneController *window = m_windows.last();
        openNotes(window);
        QVERIFY(TestSupport::bindCharactersToSpareKeys(QStringLiteral("你好")));
        const QString before = notes();
        for (int i = 0; i + 1 < steps.size(); i += 2) {
            QStringList args{steps.at(i), QStringLiteral("--delay"), QStringLiteral("40")};
            if (steps.at(i) == QLatin1String("key"))
                args += steps.at(i + 1).split(QLatin1Char(' '));
            else
                args << steps.at(i + 1);
            QVERIFY2(xdotool(args), qPrintable(steps.at(i + 1)));
        }
        QTRY_COMPARE_WITH_TIMEOUT(notes(), before + gained, 15000);
        // No key press without a phone code ever reached the phone.
        for (const QJsonValue &k : state(0).value(QStringLiteral("keys")).toArray())
            QVERIFY(k.toObject().value(QStringLiteral("code")).toInt() != 0);
    }

    void smoothLevelAndExit()
    {
        PhoneController *window = m_windows.last();
        openPanel(window);
        auto *combo = window->findChild<QComboBox *>(QStringLiteral("comboBox"));
        QVERIFY(click(combo));
        QTRY_VERIFY(combo->view()->isVisible());
        QTest::qWait(200);
        // The list's rows are as wide as the popup, whatever the view says.
        const QRect item = combo->view()->visualRect(combo->model()->index(3, 0));
        const QPoint target(combo->view()->window()->geometry().center().x(),
                            combo->view()->viewport()->mapToGlobal(item.center()).y());
        QVERIFY(xdotool(pointerTo(target) + QStringList{QStringLiteral("click"), QStringLiteral("1")}));
        QTRY_COMPARE(combo->currentText(), QStringLiteral("流畅"));
        QTRY_COMPARE(state(0).value(QStringLiteral("level")).toInt(), 3);

        QVERIFY(click(window->findChild<QWidget *>(QStringLiteral("quit"))));
        QTRY_VERIFY(!window->isVisible());
        QTRY_VERIFY(state(0).value(QStringLiteral("sessions")).toArray().isEmpty());
    }

    void cancelledRebootSendsNothing()
    {
        PhoneController *window = open(1);
        QVERIFY(waitForPicture(window));
        const qint64 lastEvent = [this] {
            const QJsonArray all = m_cloud->events();
            return all.isEmpty() ? qint64(0) : qint64(all.last().toObject().value(QStringLiteral("id")).toDouble());
        }();
        openPanel(window);
        bool dialogSeen = false;
        whenModal([&](QWidget *dialog) {
            dialogSeen = qobject_cast<InfoDialog *>(dialog) != nullptr;
            click(dialog->findChild<QPushButton *>(QStringLiteral("cancel")));
        });
        QVERIFY(click(window->findChild<QWidget *>(QStringLiteral("reboot"))));
        QTRY_VERIFY(dialogSeen);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QTest::qWait(500);
        QVERIFY(window->isVisible());
        QCOMPARE(m_cloud->events(QStringLiteral("reboot"), lastEvent).size(), 0);
        window->videoRender()->stopStream();
        window->close();
    }

    void confirmedRebootClosesWithToast()
    {
        PhoneController *window = open(2);
        QVERIFY(waitForPicture(window));
        const int bootsBefore = state(2).value(QStringLiteral("bootCount")).toInt();
        openPanel(window);
        QString title;
        whenModal([&](QWidget *dialog) {
            title = dialog->windowTitle();
            TestSupport::grabScreen(QStringLiteral("controlwindow-reboot-dialog"));
            click(dialog->findChild<QPushButton *>(QStringLiteral("ok")));
        });
        QVERIFY(click(window->findChild<QWidget *>(QStringLiteral("reboot"))));
        QTRY_COMPARE(title, QStringLiteral("重启手机"));
        QTRY_VERIFY(!window->isVisible());
        QTRY_COMPARE(Toast::instance()->window()->text(), QStringLiteral("云机重启成功，请稍等两分钟"));
        QVERIFY(Toast::instance()->window()->isVisible());
        QTRY_VERIFY(state(2).value(QStringLiteral("bootCount")).toInt() > bootsBefore);
    }

    void kickClosesWithReason()
    {
        PhoneController *window = open(3);
        QVERIFY(waitForPicture(window));
        QVERIFY(m_cloud->kick(m_phones.at(3).serverSn));
        QTRY_VERIFY(!window->isVisible());
        QCOMPARE(Toast::instance()->window()->text(),
                 QStringLiteral("云手机 %1 断开连接.(196613)").arg(m_phones.at(3).serverTitle));
    }

    void standaloneStatusAfterASecond()
    {
        PhoneController *window = open(4);
        int asked = 0;
        connect(window, &PhoneController::getMachineControlStatusPC, this, [&asked](int current) {
            ++asked;
            return current;
        });
        QCOMPARE(asked, 0);
        QTRY_COMPARE_WITH_TIMEOUT(asked, 1, 5000);
        auto *mcl = window->findChild<QLabel *>(QStringLiteral("mcl"));
        QCOMPARE(mcl->text(), QStringLiteral("单机中"));
        QVERIFY(mcl->isVisible());
        window->videoRender()->stopStream();
        window->close();
    }
};

QTEST_MAIN(TestControlWindow)
#include "tst_controlwindow.moc"
