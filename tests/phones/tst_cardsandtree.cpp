#include "app/appevent.h"
#include "api/utils.h"
#include "phones/mainwindow.h"
#include "phones/phonedetail.h"
#include "phones/model/phonechecks.h"
#include "resources/tarvixresources.h"
#include "tests/api/rawhttpserver.h"
#include "widgets/clickablelabel.h"
#include "widgets/toast.h"

#include <QComboBox>
#include <QTreeWidget>
#include <QtTest>

namespace {

QStringList g_debug;

void collect(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        g_debug << message;
}

QByteArray listAnswer(const QStringList &titles)
{
    QByteArray data;
    for (int i = 0; i < titles.size(); ++i) {
        if (i)
            data += ',';
        data += QStringLiteral(R"({"server_sn":"SN-%1","server_title":"%2","start_time":"2024-01-01 00:00:00",)"
                               R"("end_time":"2099-01-01 00:00:00","op_status":1,"sid":%1})")
                    .arg(i)
                    .arg(titles.at(i))
                    .toUtf8();
    }
    return R"({"code":200,"msg":"ok","data":[)" + data + "]}";
}

} // namespace

// The phone page of the main window: the list build, the tree, the cards
// and the selection labels kept in step, against a stand-in backend that
// answers every request with one body (so previews get no connection data).
class TestCardsAndTree : public QObject
{
    Q_OBJECT

private:
    RawHttpServer m_backend;
    MainWindow *m_window = nullptr;

    QTreeWidget *tree() const { return m_window->findChild<QTreeWidget *>(QStringLiteral("treeWidget")); }
    QTreeWidgetItem *group() const { return tree()->topLevelItem(0); }
    QWidget *cardArea() const { return m_window->findChild<QWidget *>(QStringLiteral("PhoneWidget")); }
    QString comboStyle() const { return m_window->findChild<QComboBox *>(QStringLiteral("comboBox"))->styleSheet(); }
    void clickLabel(const char *name)
    {
        QTest::mouseClick(m_window->findChild<ClickableLabel *>(QLatin1String(name)), Qt::LeftButton);
    }
    QList<Qt::CheckState> rowStates() const
    {
        QList<Qt::CheckState> states;
        for (int i = 0; i < group()->childCount(); ++i)
            states << group()->child(i)->checkState(0);
        return states;
    }
    QList<Qt::CheckState> cardStates() const
    {
        QList<Qt::CheckState> states;
        for (PhoneDetail *card : m_window->phoneCards())
            states << card->checkState();
        return states;
    }
    void load(const QByteArray &answer, int status = 200)
    {
        m_backend.setAnswer(status, answer);
        m_window->refreshPhoneList(false);
        // Old cards go with the event loop.
        QTest::qWait(50);
    }

private slots:
    void initTestCase()
    {
        initTarvixResources();
        m_backend.setAnswer(200, listAnswer({QStringLiteral("云机A"), QStringLiteral("云机B"), QStringLiteral("云机A")}));
        ServiceBases bases = Utils::compiledServiceBases();
        bases.api = QString::fromLatin1(m_backend.baseUrl());
        Utils::overrideServiceBases(bases);
        AppEvent::instance()->setToken(QStringLiteral("token"));
        m_window = MainWindow::instance();
        m_window->show();
        QTRY_COMPARE(m_window->phoneCards().size(), 3);
    }

    void init()
    {
        m_window->leaveGroupControl();
        m_window->phoneChecks()->clearSelection();
    }

    // Build: one group row, rows and cards in server order, all unchecked;
    // the build itself reports no change of a row.
    void buildsTreeAndCards()
    {
        const QtMessageHandler previous = qInstallMessageHandler(collect);
        g_debug.clear();
        load(listAnswer({QStringLiteral("云机A"), QStringLiteral("云机B"), QStringLiteral("云机A")}));
        qInstallMessageHandler(previous);
        QVERIFY2(!g_debug.filter(QStringLiteral("serverSNList数组")).size(), qPrintable(g_debug.join('\n')));
        QVERIFY(g_debug.contains(QStringLiteral("current root size 3")));

        QCOMPARE(tree()->topLevelItemCount(), 1);
        QCOMPARE(group()->text(0), QStringLiteral("默认分组"));
        QCOMPARE(group()->text(1), QStringLiteral("已选(0)"));
        QVERIFY(group()->isExpanded());
        QCOMPARE(group()->flags(), Qt::ItemIsSelectable);
        const QStringList titles{QStringLiteral("云机A"), QStringLiteral("云机B"), QStringLiteral("云机A")};
        for (int i = 0; i < 3; ++i) {
            QTreeWidgetItem *row = group()->child(i);
            QCOMPARE(row->text(0), titles.at(i));
            QCOMPARE(row->text(1), Utils::remainingTimeText(std::numeric_limits<qint32>::max()));
            QCOMPARE(row->data(0, Qt::UserRole + 1).toString(), QStringLiteral("SN-%1").arg(i));
            QCOMPARE(row->flags(), Qt::ItemIsSelectable);
            QCOMPARE(m_window->phoneCards().at(i)->title(), titles.at(i));
            QCOMPARE(m_window->phoneCards().at(i)->serverSn(), QStringLiteral("SN-%1").arg(i));
        }
        QCOMPARE(rowStates(), (QList<Qt::CheckState>{Qt::Unchecked, Qt::Unchecked, Qt::Unchecked}));
        QCOMPARE(cardArea()->property("class").toString(), QStringLiteral("noPhoneNone"));
    }

    void cardsRowsAndBatchBoxInStep()
    {
        PhoneDetail *b = m_window->phoneCards().at(1);
        b->setChecked(Qt::Checked);
        QCOMPARE(rowStates(), (QList<Qt::CheckState>{Qt::Unchecked, Qt::Checked, Qt::Unchecked}));
        QCOMPARE(group()->checkState(0), Qt::PartiallyChecked);
        QCOMPARE(group()->text(1), QStringLiteral("已选(1)"));
        QCOMPARE(m_window->checkedPhoneList(), QStringList{QStringLiteral("SN-1")});
        QVERIFY(comboStyle().startsWith(QStringLiteral("#comboBox {color: #0598FE}")));

        // The same title checks every row and card that carries it.
        m_window->phoneCards().at(0)->setChecked(Qt::Checked);
        QCOMPARE(rowStates(), (QList<Qt::CheckState>{Qt::Checked, Qt::Checked, Qt::Checked}));
        QCOMPARE(cardStates(), (QList<Qt::CheckState>{Qt::Checked, Qt::Checked, Qt::Checked}));
        QCOMPARE(group()->checkState(0), Qt::Checked);

        // A click on the checked group row unchecks everything.
        emit tree()->itemClicked(group(), 0);
        QCOMPARE(cardStates(), (QList<Qt::CheckState>{Qt::Unchecked, Qt::Unchecked, Qt::Unchecked}));
        QVERIFY(comboStyle().startsWith(QStringLiteral("#comboBox {color: #333333}")));

        // A row's own state change goes through the same rules.
        group()->child(1)->setCheckState(0, Qt::Checked);
        QCOMPARE(cardStates(), (QList<Qt::CheckState>{Qt::Unchecked, Qt::Checked, Qt::Unchecked}));
        emit tree()->itemClicked(group()->child(1), 1);
        QCOMPARE(cardStates(), (QList<Qt::CheckState>{Qt::Unchecked, Qt::Unchecked, Qt::Unchecked}));
    }

    void selectionLabels()
    {
        clickLabel("allSelectionBtn");
        QCOMPARE(m_window->checkedPhoneList().size(), 3);
        clickLabel("cancelSelectionBtn");
        QVERIFY(m_window->checkedPhoneList().isEmpty());
        m_window->phoneCards().at(1)->setChecked(Qt::Checked);
        clickLabel("reverseSelectioBtn");
        QCOMPARE(m_window->checkedPhoneList(), (QStringList{QStringLiteral("SN-0"), QStringLiteral("SN-2")}));
        QCOMPARE(cardStates(), (QList<Qt::CheckState>{Qt::Checked, Qt::Unchecked, Qt::Checked}));
    }

    // Under group control two phones stay checked: the card is put back.
    void groupControlKeepsTwoChecked()
    {
        clickLabel("allSelectionBtn");
        m_window->phoneCards().at(1)->setChecked(Qt::Unchecked);
        m_window->phoneChecks()->setGroupControl(true);
        QCOMPARE(m_window->checkedPhoneList().size(), 2);
        PhoneDetail *a = m_window->phoneCards().at(0);
        a->setChecked(Qt::Unchecked);
        QCOMPARE(Toast::instance()->window()->text(), QStringLiteral("群控模式下云机至少勾选2台"));
        QCOMPARE(m_window->checkedPhoneList().size(), 2);
        QTRY_COMPARE(a->checkState(), Qt::Checked);
        QCOMPARE(rowStates(), (QList<Qt::CheckState>{Qt::Checked, Qt::Unchecked, Qt::Checked}));
    }

    // A rebuild leaves group control first, so its rows and cards come in
    // unchecked without a word from the group-control rule.
    void rebuildLeavesGroupControl()
    {
        clickLabel("allSelectionBtn");
        m_window->phoneChecks()->setGroupControl(true);
        Toast::instance()->show(1, QStringLiteral("-"));
        load(listAnswer({QStringLiteral("云机A"), QStringLiteral("云机B")}));
        QVERIFY(!m_window->groupControl());
        QVERIFY(m_window->masterPhone().isEmpty());
        QCOMPARE(m_window->findChild<ClickableLabel *>(QStringLiteral("groupControlBtn"))->styleSheet(),
                 QStringLiteral("background-color: transparent"));
        QCOMPARE(Toast::instance()->window()->text(), QStringLiteral("-"));
        QTest::qWait(150);
        QCOMPARE(m_window->phoneCards().size(), 2);
        QCOMPARE(cardStates(), (QList<Qt::CheckState>{Qt::Unchecked, Qt::Unchecked}));
        QVERIFY(m_window->checkedPhoneList().isEmpty());
    }

    void refreshLabelSaysSo()
    {
        clickLabel("refreshBtn");
        QCOMPARE(Toast::instance()->window()->text(), QStringLiteral("刷新成功"));
        QTest::qWait(50);
        QCOMPARE(m_window->phoneCards().size(), 2);
    }

    // A failed load keeps the tree and cards behind the no-phone picture;
    // an empty list leaves neither.
    void failedAndEmptyLists()
    {
        Toast::instance()->show(1, QStringLiteral("-"));
        m_backend.setAnswer(500, "{}");
        clickLabel("refreshBtn");
        QCOMPARE(Toast::instance()->window()->text(), QStringLiteral("-"));
        QCOMPARE(cardArea()->property("class").toString(), QStringLiteral("noPhone"));
        QCOMPARE(m_window->phoneCards().size(), 2);
        QCOMPARE(group()->childCount(), 2);

        load(R"({"code":200,"msg":"ok","data":[]})");
        QCOMPARE(cardArea()->property("class").toString(), QStringLiteral("noPhone"));
        QCOMPARE(tree()->topLevelItemCount(), 0);
        QVERIFY(m_window->phoneCards().isEmpty());
        QTRY_VERIFY(cardArea()->findChildren<PhoneDetail *>().isEmpty());
        clickLabel("allSelectionBtn");
        QCOMPARE(Toast::instance()->window()->text(), QStringLiteral("请选择云手机"));

    }

    // An accepted answer without a list keeps the tree and the cards.
    void answerWithoutListChangesNothing()
    {
        load(listAnswer({QStringLiteral("云机A"), QStringLiteral("云机B")}));
        QCOMPARE(group()->childCount(), 2);
        load(R"({"code":200,"msg":"ok","data":{}})");
        QCOMPARE(tree()->topLevelItemCount(), 1);
        QCOMPARE(group()->childCount(), 2);
        QCOMPARE(m_window->phoneCards().size(), 2);
        QCOMPARE(m_window->phoneCard(QStringLiteral("SN-1")), m_window->phoneCards().at(1));
    }
};

QTEST_MAIN(TestCardsAndTree)
#include "tst_cardsandtree.moc"
