#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

// The check rules of the phone page, free of widgets: one group row with
// the phones beneath it, in server order. The tree widget and the cards
// only mirror what this says; every change of a check state, from a row,
// a card or a selection label, comes through here.
class PhoneChecks final : public QObject
{
    Q_OBJECT

public:
    struct Phone
    {
        QString title;
        QString serverSn;
    };

    explicit PhoneChecks(QObject *parent = nullptr);
    ~PhoneChecks() override;

    // A new list: every row unchecked. An empty list leaves no group row.
    // Announces nothing; the caller builds its views from the getters.
    void setPhones(const QVector<Phone> &phones);

    bool hasGroupRow() const { return !m_phones.isEmpty(); }
    int count() const { return m_phones.size(); }
    QString title(int row) const;
    QString serverSn(int row) const;
    Qt::CheckState phoneState(int row) const;
    Qt::CheckState groupState() const;
    int checkedCount() const;
    // server_sn of every checked row, in tree order.
    QStringList checkedServerSns() const { return m_checked; }
    bool isChecked(const QString &serverSn) const { return m_checkedSet.contains(serverSn); }
    // The group row's second column.
    static QString selectedText(int count);

    // While group control is on, at least two phones stay checked and each
    // change is reported for the role rules.
    void setGroupControl(bool on);
    bool groupControl() const { return m_groupControl; }

    // A phone row takes a state (partly checked counts as checked).
    void setPhoneState(int row, Qt::CheckState state);
    // The group row: checked or unchecked goes to every phone beneath it;
    // partly checked changes nothing.
    void setGroupState(Qt::CheckState state);
    // Every row with this title takes the state (a card's check box).
    void setStateByTitle(const QString &title, Qt::CheckState state);
    // A click on a row: checked becomes unchecked, anything else checked.
    void clickPhone(int row);
    void clickGroup();

    // The selection labels; each row change runs the rules above.
    void clearSelection();
    void selectAll();
    void invertSelection();

signals:
    void phoneStateChanged(int row, Qt::CheckState state);
    // After every accepted change: the group row's state and checked count.
    void groupChanged(Qt::CheckState state, int checkedCount);
    void checkedListChanged(const QStringList &serverSns);
    // Group control refused to leave fewer than two phones checked; row is
    // -1 for the group row. Views that already show it unchecked put it back.
    void uncheckRefused(int row);
    // Only while group control is on.
    void phoneAdded(const QString &serverSn);
    void phoneCancelled(const QString &serverSn);

private:
    Q_DISABLE_COPY_MOVE(PhoneChecks)

    bool refusesUncheck() const;
    void rebuildCheckedList();

    QVector<Phone> m_phones;
    QVector<Qt::CheckState> m_states;
    QStringList m_checked;
    QSet<QString> m_checkedSet;
    // The rows of each title, in tree order (a card's check box names its title).
    QHash<QString, QVector<int>> m_rowsByTitle;
    bool m_groupControl = false;
};
