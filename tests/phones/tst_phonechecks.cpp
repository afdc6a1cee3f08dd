#include "phones/model/phonechecks.h"

#include <QSignalSpy>
#include <QtTest>

Q_DECLARE_METATYPE(Qt::CheckState)

namespace {

using States = QVector<Qt::CheckState>;
constexpr Qt::CheckState U = Qt::Unchecked;
constexpr Qt::CheckState C = Qt::Checked;
constexpr Qt::CheckState P = Qt::PartiallyChecked;

QVector<PhoneChecks::Phone> phones(int count)
{
    QVector<PhoneChecks::Phone> list;
    for (int i = 0; i < count; ++i)
        list.push_back({QStringLiteral("phone-%1").arg(i), QStringLiteral("SN%1").arg(i)});
    return list;
}

States statesOf(const PhoneChecks &tree)
{
    States states;
    for (int i = 0; i < tree.count(); ++i)
        states << tree.phoneState(i);
    return states;
}

void setStates(PhoneChecks &tree, const States &states)
{
    for (int i = 0; i < states.size(); ++i)
        tree.setPhoneState(i, states.at(i));
}

} // namespace

// The page's check rules without any widget.
class TestPhoneChecks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<Qt::CheckState>(); }

    void groupRowFollowsItsPhones()
    {
        PhoneChecks tree;
        tree.setPhones(phones(2));
        QVERIFY(tree.hasGroupRow());
        QCOMPARE(tree.groupState(), U);
        QCOMPARE(PhoneChecks::selectedText(tree.checkedCount()), QStringLiteral("已选(0)"));

        QSignalSpy rows(&tree, &PhoneChecks::phoneStateChanged);
        QSignalSpy group(&tree, &PhoneChecks::groupChanged);
        QSignalSpy list(&tree, &PhoneChecks::checkedListChanged);

        tree.clickPhone(1);
        QCOMPARE(rows.count(), 1);
        QCOMPARE(rows.at(0).at(0).toInt(), 1);
        QCOMPARE(rows.at(0).at(1).value<Qt::CheckState>(), C);
        QCOMPARE(group.last().at(0).value<Qt::CheckState>(), P);
        QCOMPARE(PhoneChecks::selectedText(group.last().at(1).toInt()), QStringLiteral("已选(1)"));
        QCOMPARE(list.last().at(0).toStringList(), QStringList{QStringLiteral("SN1")});

        tree.clickPhone(0);
        QCOMPARE(group.last().at(0).value<Qt::CheckState>(), C);
        QCOMPARE(group.last().at(1).toInt(), 2);
        // Tree order, not the order of checking.
        QCOMPARE(tree.checkedServerSns(), (QStringList{QStringLiteral("SN0"), QStringLiteral("SN1")}));

        // A checked group row unchecks every phone when clicked.
        tree.clickGroup();
        QCOMPARE(statesOf(tree), (States{U, U}));
        QCOMPARE(tree.groupState(), U);
        QCOMPARE(group.last().at(1).toInt(), 0);

        // Partly checked: a click checks all; setting it partly changes nothing.
        tree.clickPhone(0);
        const int before = rows.count();
        tree.setGroupState(P);
        QCOMPARE(rows.count(), before);
        tree.clickGroup();
        QCOMPARE(statesOf(tree), (States{C, C}));
    }

    void sameStateAnnouncesNothing()
    {
        PhoneChecks tree;
        tree.setPhones(phones(2));
        QSignalSpy list(&tree, &PhoneChecks::checkedListChanged);
        tree.setPhoneState(0, U);
        tree.setPhoneState(5, C);
        tree.setPhoneState(-1, C);
        QCOMPARE(list.count(), 0);
        // A card's partly checked box counts as checked.
        tree.setPhoneState(0, P);
        QCOMPARE(tree.phoneState(0), C);
        tree.setPhoneState(0, P);
        QCOMPARE(list.count(), 1);
    }

    void sameTitleChecksEveryRow()
    {
        PhoneChecks tree;
        tree.setPhones({{QStringLiteral("A"), QStringLiteral("SN0")},
                        {QStringLiteral("B"), QStringLiteral("SN1")},
                        {QStringLiteral("A"), QStringLiteral("SN2")}});
        tree.setStateByTitle(QStringLiteral("A"), C);
        QCOMPARE(statesOf(tree), (States{C, U, C}));
        QCOMPARE(tree.checkedServerSns(), (QStringList{QStringLiteral("SN0"), QStringLiteral("SN2")}));
        tree.setStateByTitle(QStringLiteral("A"), U);
        QCOMPARE(statesOf(tree), (States{U, U, U}));
    }

    void selectionLabels_data()
    {
        QTest::addColumn<States>("before");
        QTest::addColumn<int>("action"); // 0 clear, 1 all, 2 invert
        QTest::addColumn<States>("after");
        QTest::newRow("clear") << States{C, U, C} << 0 << States{U, U, U};
        QTest::newRow("all") << States{C, U, U} << 1 << States{C, C, C};
        QTest::newRow("invert mixed") << States{C, U, C} << 2 << States{U, C, U};
        QTest::newRow("invert none") << States{U, U, U} << 2 << States{C, C, C};
        QTest::newRow("invert all") << States{C, C, C} << 2 << States{U, U, U};
    }

    void selectionLabels()
    {
        QFETCH(States, before);
        QFETCH(int, action);
        QFETCH(States, after);
        PhoneChecks tree;
        tree.setPhones(phones(before.size()));
        setStates(tree, before);
        if (action == 0)
            tree.clearSelection();
        else if (action == 1)
            tree.selectAll();
        else
            tree.invertSelection();
        QCOMPARE(statesOf(tree), after);
        QCOMPARE(tree.checkedCount(), int(std::count(after.begin(), after.end(), C)));
    }

    void emptyTreeHasNoGroupRow()
    {
        PhoneChecks tree;
        tree.setPhones({});
        QVERIFY(!tree.hasGroupRow());
        QSignalSpy list(&tree, &PhoneChecks::checkedListChanged);
        tree.selectAll();
        tree.invertSelection();
        tree.clickGroup();
        QCOMPARE(list.count(), 0);
    }

    void newListStartsUnchecked()
    {
        PhoneChecks tree;
        tree.setPhones(phones(3));
        tree.selectAll();
        tree.setPhones(phones(2));
        QCOMPARE(statesOf(tree), (States{U, U}));
        QVERIFY(tree.checkedServerSns().isEmpty());
    }

    // Group control keeps two phones checked and reports every change.
    void groupControlKeepsTwo()
    {
        PhoneChecks tree;
        tree.setPhones(phones(3));
        setStates(tree, {C, C, U});
        tree.setGroupControl(true);
        QSignalSpy refused(&tree, &PhoneChecks::uncheckRefused);
        QSignalSpy added(&tree, &PhoneChecks::phoneAdded);
        QSignalSpy cancelled(&tree, &PhoneChecks::phoneCancelled);
        QSignalSpy list(&tree, &PhoneChecks::checkedListChanged);

        tree.clickPhone(0);
        QCOMPARE(refused.count(), 1);
        QCOMPARE(refused.at(0).at(0).toInt(), 0);
        QCOMPARE(statesOf(tree), (States{C, C, U}));
        QCOMPARE(list.count(), 0);

        tree.clickGroup(); // partly checked: checks the third
        QCOMPARE(added.count(), 1);
        QCOMPARE(added.at(0).at(0).toString(), QStringLiteral("SN2"));

        tree.clickPhone(1);
        QCOMPARE(cancelled.count(), 1);
        QCOMPARE(cancelled.at(0).at(0).toString(), QStringLiteral("SN1"));
        QCOMPARE(tree.checkedServerSns(), (QStringList{QStringLiteral("SN0"), QStringLiteral("SN2")}));

        // The group row cannot be unchecked either.
        tree.setGroupState(U);
        QCOMPARE(refused.last().at(0).toInt(), -1);
        QCOMPARE(tree.checkedCount(), 2);

        // Off again: no limit, nothing reported.
        tree.setGroupControl(false);
        tree.clearSelection();
        QCOMPARE(tree.checkedCount(), 0);
        QCOMPARE(cancelled.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestPhoneChecks)
#include "tst_phonechecks.moc"
