#include "api/utils.h"
#include "phones/phonedetail.h"
#include "phones/previewstarter.h"
#include "resources/tarvixresources.h"
#include "stream/phonecontroller.h"
#include "stream/videorendermini.h"
#include "widgets/clickablelabel.h"
#include "widgets/titlewidget.h"
#include "widgets/toast.h"

#include <QCheckBox>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QtTest>

#include <atomic>
#include <memory>

// One phone card on its own: check box and frame, hover button, the enter
// flow with its control window, preview restarts and the group-control
// hooks. Connection data comes from a stand-in fetch that counts its calls.
class TestPhoneDetail : public QObject
{
    Q_OBJECT

private:
    std::atomic<int> m_fetches{0};
    std::unique_ptr<PreviewStarter> m_starter;
    QList<QPointer<PhoneController>> m_windows;

    std::unique_ptr<PhoneDetail> makeCard()
    {
        auto card = std::make_unique<PhoneDetail>();
        card->setRemainingText(QStringLiteral("剩余2天3小时"));
        card->setOpStatus(1);
        card->setTitle(QStringLiteral("云机-01"));
        card->setServerSn(QStringLiteral("SN-01"));
        card->setSid(11);
        card->setIdcId(12);
        card->setIdcSn(QStringLiteral("IDC-13"));
        card->setOrderSn(QStringLiteral("O-14"));
        card->setSerid(15);
        card->setPreviewStarter(m_starter.get());
        card->resize(154, 290);
        return card;
    }

    static QString frameStyle(PhoneDetail &card)
    {
        return card.findChild<QWidget *>(QStringLiteral("widget"))->styleSheet();
    }

    PhoneController *enter(PhoneDetail &card)
    {
        card.findChild<QPushButton *>(QStringLiteral("enterBtn"))->click();
        PhoneController *window = card.controlWindow();
        if (window)
            m_windows << window;
        return window;
    }

    static void closeWithTitleBar(PhoneController *window)
    {
        auto *title = window->findChild<TitleWidget *>(QStringLiteral("titleWidget"));
        QTest::mouseClick(title->findChild<QWidget *>(QStringLiteral("closeButton")), Qt::LeftButton);
    }

private slots:
    void initTestCase()
    {
        initTarvixResources();
        QFile sheet(QStringLiteral(":/style/style.css"));
        QVERIFY(sheet.open(QIODevice::ReadOnly));
        qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()));
        // Nothing answers here: a control window's own fetch fails at once.
        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = QStringLiteral("http://127.0.0.1:9");
        Utils::overrideServiceBases(bases);
        // Complete data for a phone farm that is not there: the preview's
        // player exists and keeps trying in the background.
        m_starter = std::make_unique<PreviewStarter>(nullptr, [this](const QString &sn, ControlInfo *out) {
            ++m_fetches;
            if (sn.isEmpty())
                return false;
            out->controlIp = QStringLiteral("127.0.0.1");
            out->controlPort = 9;
            out->sessionId = QStringLiteral("session");
            out->userId = 7;
            out->padCode = QStringLiteral("pad-") + sn;
            return true;
        });
    }

    void cleanupTestCase()
    {
        for (const QPointer<PhoneController> &window : qAsConst(m_windows))
            delete window.data();
        m_starter.reset();
    }

    void buildsItsTree()
    {
        auto card = makeCard();
        QCOMPARE(card->objectName(), QStringLiteral("PhoneDetail"));
        QCOMPARE(card->minimumSize(), QSize(124, 244));
        for (const char *name : {"verticalLayout_2", "gridLayout", "horizontalLayout"})
            QVERIFY2(card->findChild<QLayout *>(QLatin1String(name)), name);
        QVERIFY(card->findChild<ClickableLabel *>(QStringLiteral("reloadBtn")));
        QVERIFY(card->findChild<VideoRenderMini *>(QStringLiteral("videorendermini")));
        QCOMPARE(card->findChild<QLabel *>(QStringLiteral("phoneState"))->text(), QStringLiteral("剩余2天3小时"));
        QCOMPARE(card->findChild<QLabel *>(QStringLiteral("label"))->text(), QStringLiteral("云机-01"));
        auto *enterBtn = card->findChild<QPushButton *>(QStringLiteral("enterBtn"));
        QCOMPARE(enterBtn->text(), QStringLiteral("进入云机"));
        QCOMPARE(enterBtn->property("class").toString(), QStringLiteral("btn-hover"));
        QVERIFY(enterBtn->isHidden());
        QCOMPARE(card->openWindowId(), QStringLiteral("-1"));
    }

    // A press on an empty part of the card toggles it; the frame follows.
    void pressTogglesCheckAndFrame()
    {
        auto card = makeCard();
        card->show();
        QVERIFY(QTest::qWaitForWindowExposed(card.get()));
        auto *box = card->findChild<QCheckBox *>(QStringLiteral("checkBox"));
        QWidget *preview = card->preview();

        QTest::ignoreMessage(QtDebugMsg, "选中");
        QTest::mouseClick(preview, Qt::LeftButton, {}, preview->rect().center());
        QCOMPARE(box->checkState(), Qt::Checked);
        QVERIFY(frameStyle(*card).contains(QStringLiteral("#0084DF")));

        QTest::ignoreMessage(QtDebugMsg, "取消");
        QTest::mouseClick(card.get(), Qt::LeftButton, {}, QPoint(card->width() / 2, card->height() - 10));
        QCOMPARE(box->checkState(), Qt::Unchecked);
        QVERIFY(frameStyle(*card).contains(QStringLiteral("#E3E3E3")));

        // Partly checked reads as checked.
        QTest::ignoreMessage(QtDebugMsg, "选中");
        card->setChecked(Qt::PartiallyChecked);
        QVERIFY(frameStyle(*card).contains(QStringLiteral("#0084DF")));
    }

    void hoverShowsEnterButtonCentred()
    {
        auto card = makeCard();
        card->show();
        QVERIFY(QTest::qWaitForWindowExposed(card.get()));
        auto *enterBtn = card->findChild<QPushButton *>(QStringLiteral("enterBtn"));
        QCOMPARE(enterBtn->geometry(), QRect(card->width() / 2 - 40, card->height() / 2 - 15, 80, 30));

        QCursor::setPos(card->mapToGlobal(card->rect().center()));
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(card.get(), &enter);
        QVERIFY(enterBtn->isVisible());

        QCursor::setPos(card->mapToGlobal(QPoint(card->width() + 50, 0)));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(card.get(), &leave);
        QVERIFY(!enterBtn->isVisible());
    }

    // Enter, enter again, close: one window, brought to the front, and the
    // preview restarted once the window is closed.
    void enterFlow()
    {
        QStringList pushed;
        PhoneDetail::setConfigPusher([&pushed](const QString &sn, int sid, int idcId, const QString &idcSn,
                                                const QString &orderSn, int serid) {
            pushed << QStringLiteral("%1,%2,%3,%4,%5,%6").arg(sn).arg(sid).arg(idcId).arg(idcSn, orderSn).arg(serid);
        });
        auto card = makeCard();
        card->show();
        card->startPreview();
        QTRY_VERIFY(card->preview()->hasStream());

        PhoneController *window = enter(*card);
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QCOMPARE(pushed, QStringList{QStringLiteral("SN-01,11,12,IDC-13,O-14,15")});
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("currentID"))->text(), QStringLiteral("云机-01"));
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("currentTime"))->text(), QStringLiteral("剩余2天3小时"));
        QCOMPARE(card->openWindowId(), QStringLiteral("SN-01"));

        // A second later the card shows the placeholder; the preview's
        // stream goes on, since group control relays through it.
        QTRY_VERIFY_WITH_TIMEOUT(card->preview()->isPictureHeld(), 3000);
        QVERIFY(card->preview()->hasStream());

        QCOMPARE(enter(*card), window);
        QCOMPARE(Toast::instance()->window()->text(), QStringLiteral("该云机已经打开"));
        QCOMPARE(pushed.size(), 1);

        closeWithTitleBar(window);
        QVERIFY(!window->isVisible());
        QVERIFY(!card->preview()->isPictureHeld());
        QVERIFY(card->preview()->hasStream());
        QCOMPARE(card->openWindowId(), QStringLiteral("-1"));

        // Entering after the close opens the same window again.
        PhoneController *second = enter(*card);
        QCOMPARE(second, window);
        QVERIFY(second->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(card->preview()->isPictureHeld(), 3000);
        second->close();
        QVERIFY(!second->isVisible());
        QVERIFY(!card->preview()->isPictureHeld());
        PhoneDetail::setConfigPusher(nullptr);
    }

    void reloadIconRestartsPreview()
    {
        auto card = makeCard();
        card->show();
        const int fetches = m_fetches;
        QTest::mouseClick(card->findChild<ClickableLabel *>(QStringLiteral("reloadBtn")), Qt::LeftButton);
        QTRY_COMPARE(m_fetches.load(), fetches + 1);
        QTRY_VERIFY(card->preview()->hasStream());

        // A failed fetch leaves the preview as it is.
        card->setServerSn(QString());
        QTest::ignoreMessage(QtDebugMsg, "VideoRender: 投屏失败,请重试");
        card->startPreview();
        QTRY_COMPARE(m_fetches.load(), fetches + 2);
        QTest::qWait(50);
        QVERIFY(card->preview()->hasStream());
    }

    // The hooks group control uses, through the card's window.
    void groupControlHooks()
    {
        auto card = makeCard();
        card->show();
        QSignalSpy sync(card.get(), &PhoneDetail::syncOperateDataToPC);
        int x = 5, y = 6;
        float f = 0.0f;
        card->relayOperation(QStringLiteral("OnTouchEvent"), 0, &x, &y, &f, QString());
        QCOMPARE(sync.count(), 1);
        QCOMPARE(sync.at(0).at(0).toString(), QStringLiteral("OnTouchEvent"));

        QStringList asked;
        connect(card.get(), &PhoneDetail::getMachineControlStatusPD, this,
                [&asked](const QString &code, const QString &sn, int status) {
                    asked << QStringLiteral("%1 %2 %3").arg(code, sn).arg(status);
                    return 2;
                });
        QSignalSpy records(card.get(), &PhoneDetail::sendSigleOperateDataPD);
        PhoneController *window = enter(*card);
        QVERIFY(window);

        // The window asks a second after opening and shows the answer.
        QTRY_COMPARE_WITH_TIMEOUT(window->controlStatus(), 2, 3000);
        QCOMPARE(asked, QStringList{QStringLiteral("云机-01 SN-01 -1")});

        card->setMachineControlStatus(1);
        QCOMPARE(window->controlStatus(), 1);

        // The window's records leave the card with its server_sn.
        QApplication::clipboard()->setText(QStringLiteral("hello"));
        QTest::mouseClick(window->findChild<ClickableLabel *>(QStringLiteral("pasteBtn")), Qt::LeftButton);
        QCOMPARE(records.count(), 1);
        QCOMPARE(records.at(0).at(0).toString(), QStringLiteral("SN-01"));
        QCOMPARE(records.at(0).at(1).toString(), QStringLiteral("copyContent"));
        QCOMPARE(records.at(0).at(6).toInt(), 1);
        QCOMPARE(records.at(0).at(7).toString(), QStringLiteral("hello"));
        window->close();
    }
};

QTEST_MAIN(TestPhoneDetail)
#include "tst_phonedetail.moc"
