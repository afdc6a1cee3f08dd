#include "phones/model/groupcontrol.h"
#include "phones/model/phonechecks.h"

#include <QSignalSpy>
#include <QtTest>

Q_DECLARE_METATYPE(Qt::CheckState)

namespace {

using Orders = QVector<GroupControl::Order>;
using Cards = QVector<GroupControl::Card>;

// Cards A, B, C, D in card order; the letters name the phones' server_sn.
// `open` lists the cards whose control window is open.
Cards cards(const QString &open)
{
    Cards out;
    for (const QChar c : QStringLiteral("ABCD"))
        out.push_back({QString(c), open.contains(c)});
    return out;
}

QStringList list(const QString &letters)
{
    QStringList out;
    for (const QChar c : letters)
        out << QString(c);
    return out;
}

// "B2 C1" -> orders
Orders orders(const QString &text)
{
    Orders out;
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        out.push_back({word.left(1), word.mid(1).toInt()});
    return out;
}

// On, with the given master (empty: none yet).
GroupControl started(const QString &checked, const QString &master)
{
    GroupControl gc;
    gc.toggle(list(checked), cards(master));
    return gc;
}

} // namespace

Q_DECLARE_METATYPE(GroupControl::Toggle)

class TestGroupControl : public QObject
{
    Q_OBJECT

private slots:
    void toggle_data()
    {
        QTest::addColumn<QString>("checked");
        QTest::addColumn<QString>("open");
        QTest::addColumn<GroupControl::Toggle>("result");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("master");
        QTest::addColumn<QString>("orders");
        QTest::newRow("nothing checked") << "" << "AB" << GroupControl::Toggle::NoPhone << false << "" << "";
        QTest::newRow("one checked") << "B" << "B" << GroupControl::Toggle::OnlyOne << false << "" << "";
        QTest::newRow("no window open") << "AB" << "" << GroupControl::Toggle::Started << true << "" << "";
        // Card order decides, not the order of the checked list.
        QTest::newRow("B and C open") << "ABC" << "CB" << GroupControl::Toggle::Started << true << "B" << "B2 C1";
        QTest::newRow("open but unchecked") << "AC" << "BD" << GroupControl::Toggle::Started << true << "" << "";
        QTest::newRow("all open") << "ABCD" << "ABCD" << GroupControl::Toggle::Started << true << "A"
                                  << "A2 B1 C1 D1";
    }

    void toggle()
    {
        QFETCH(QString, checked);
        QFETCH(QString, open);
        GroupControl gc;
        const GroupControl::ToggleResult r = gc.toggle(list(checked), cards(open));
        QTEST(r.result, "result");
        QTEST(gc.isOn(), "on");
        QTEST(gc.master(), "master");
        QFETCH(QString, orders);
        QCOMPARE(r.orders, ::orders(orders));
    }

    // Off again: every card told -1, checked or not, and the master gone.
    void toggleOffTellsEveryCard()
    {
        GroupControl gc = started("ABC", "BC");
        const GroupControl::ToggleResult r = gc.toggle(list("ABC"), cards("BC"));
        QCOMPARE(r.result, GroupControl::Toggle::Left);
        QCOMPARE(r.orders, orders("A-1 B-1 C-1 D-1"));
        QVERIFY(!gc.isOn());
        QVERIFY(gc.master().isEmpty());
        // A list rebuild leaves the same way; nothing when already off.
        GroupControl again = started("AB", "AB");
        QCOMPARE(again.leave(cards("")), orders("A-1 B-1 C-1 D-1"));
        QVERIFY(again.leave(cards("")).isEmpty());
    }

    void query_data()
    {
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("checked");
        QTest::addColumn<QString>("master");
        QTest::addColumn<QString>("asking");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("newMaster");
        QTest::addColumn<QString>("orders");
        QTest::newRow("off") << false << "AB" << "" << "A" << -1 << -1 << "" << "";
        QTest::newRow("unchecked phone") << true << "AB" << "A" << "C" << -1 << -1 << "A" << "";
        QTest::newRow("standalone, no master yet") << true << "AB" << "" << "B" << -1 << 2 << "B" << "";
        QTest::newRow("standalone master asks") << true << "AB" << "A" << "A" << -1 << 2 << "A" << "";
        QTest::newRow("standalone other asks") << true << "AB" << "A" << "B" << -1 << 1 << "A" << "";
        QTest::newRow("controlled takes over") << true << "ABC" << "A" << "C" << 1 << 2 << "C" << "A1";
        QTest::newRow("master asks again") << true << "AB" << "A" << "A" << 2 << 2 << "A" << "";
        QTest::newRow("unknown status") << true << "AB" << "A" << "B" << 7 << 2 << "A" << "";
    }

    void query()
    {
        QFETCH(bool, on);
        QFETCH(QString, checked);
        QFETCH(QString, master);
        QFETCH(QString, asking);
        QFETCH(int, status);
        GroupControl gc;
        if (on)
            gc = started(checked, master);
        QCOMPARE(gc.master(), master);
        Orders told;
        QTEST(gc.query(asking, status, list(checked), &told), "answer");
        QTEST(gc.master(), "newMaster");
        QFETCH(QString, orders);
        QCOMPARE(told, ::orders(orders));
    }

    // Fewer than two checked (the list changed under a running group
    // control): every window is standalone.
    void queryWithOneChecked()
    {
        GroupControl gc = started("AB", "A");
        QCOMPARE(gc.query(QStringLiteral("A"), 2, list("A"), nullptr), -1);
    }

    void checkChanges_data()
    {
        QTest::addColumn<QString>("master");     // group control started with this master
        QTest::addColumn<bool>("added");
        QTest::addColumn<QString>("phone");
        QTest::addColumn<QString>("checkedAfter"); // the rebuilt list
        QTest::addColumn<QString>("open");       // windows open at the change
        QTest::addColumn<QString>("orders");
        QTest::addColumn<QString>("newMaster");
        QTest::newRow("added") << "A" << true << "C" << "ABC" << "A" << "C1" << "A";
        QTest::newRow("added is the master") << "A" << true << "A" << "AB" << "A" << "" << "A";
        QTest::newRow("master cancelled, open window") << "A" << false << "A" << "BCD" << "ACD" << "A-1 C2" << "C";
        QTest::newRow("master cancelled, none open") << "A" << false << "A" << "CD" << "A" << "A-1 C2" << "C";
        QTest::newRow("other cancelled") << "A" << false << "B" << "AC" << "AB" << "B-1" << "A";
    }

    void checkChanges()
    {
        QFETCH(QString, master);
        QFETCH(bool, added);
        QFETCH(QString, phone);
        QFETCH(QString, checkedAfter);
        QFETCH(QString, open);
        GroupControl gc = started("ABCD", master);
        QCOMPARE(gc.master(), master);
        const Orders told = added ? gc.phoneAdded(phone) : gc.phoneCancelled(phone, list(checkedAfter), cards(open));
        QFETCH(QString, orders);
        QCOMPARE(told, ::orders(orders));
        QTEST(gc.master(), "newMaster");
    }

    void checkChangesWhileOffTellNobody()
    {
        GroupControl gc;
        QVERIFY(gc.phoneAdded(QStringLiteral("A")).isEmpty());
        QVERIFY(gc.phoneCancelled(QStringLiteral("A"), list("B"), cards("B")).isEmpty());
    }

    // Only the master's records travel, to every other checked phone once,
    // in card order.
    void relayTargets_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("checked");
        QTest::addColumn<QString>("targets");
        QTest::newRow("master") << "B" << "CAB" << "AC";
        QTest::newRow("not the master") << "C" << "ABC" << "";
        QTest::newRow("unchecked phones left out") << "B" << "BD" << "D";
    }

    void relayTargets()
    {
        QFETCH(QString, from);
        QFETCH(QString, checked);
        GroupControl gc = started("ABCD", "B");
        QFETCH(QString, targets);
        QCOMPARE(gc.relayTargets(from, list(checked), cards("")), list(targets));
        Cards twice = cards("");
        twice.push_back({QStringLiteral("A"), false}); // a server_sn listed twice
        QCOMPARE(gc.relayTargets(from, list(checked), twice), list(targets));
        gc.clear();
        QVERIFY(gc.relayTargets(from, list(checked), cards("")).isEmpty());
    }

    // Rows of the same title move together through their cards: unchecking
    // card A of A0, B1, A2 under group control judges the second row on the
    // list without the first, so two phones stay checked.
    void sameTitleUncheckKeepsTwo()
    {
        qRegisterMetaType<Qt::CheckState>();
        PhoneChecks tree;
        tree.setPhones({{QStringLiteral("A"), QStringLiteral("SN0")},
                        {QStringLiteral("B"), QStringLiteral("SN1")},
                        {QStringLiteral("A"), QStringLiteral("SN2")}});
        tree.selectAll();
        tree.setGroupControl(true);
        // A card follows its row and reports its own change by title.
        connect(&tree, &PhoneChecks::phoneStateChanged, &tree,
                [&tree](int row, Qt::CheckState state) { tree.setStateByTitle(tree.title(row), state); });
        QSignalSpy refused(&tree, &PhoneChecks::uncheckRefused);
        QSignalSpy cancelled(&tree, &PhoneChecks::phoneCancelled);
        tree.setStateByTitle(QStringLiteral("A"), Qt::Unchecked);
        QCOMPARE(tree.checkedCount(), 2);
        QCOMPARE(tree.checkedServerSns(), (QStringList{QStringLiteral("SN1"), QStringLiteral("SN2")}));
        QVERIFY(refused.count() >= 1);
        QCOMPARE(refused.last().at(0).toInt(), 2);
        QCOMPARE(cancelled.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestGroupControl)
#include "tst_groupcontrol.moc"
