#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// Group control without widgets: the flag, the master and the rules that
// decide each phone's role. The main window feeds it the checked phone list
// and its cards (in card order, with whether each card's control window is
// open) and carries out the orders it answers with; nothing here reaches a
// window by itself.
//
// Roles are the values a control window shows: -1 standalone ("单机中"),
// 1 controlled ("被控中"), 2 master ("主控中").
class GroupControl final
{
public:
    enum Status { Standalone = -1, Controlled = 1, Master = 2 };

    struct Card
    {
        QString serverSn;
        bool windowOpen = false;
    };

    // One phone told its role.
    struct Order
    {
        QString serverSn;
        int status = Standalone;
        bool operator==(const Order &other) const { return serverSn == other.serverSn && status == other.status; }
    };

    enum class Toggle {
        Left,     // was on, now off: every card is told -1
        NoPhone,  // "请选择云机", still off
        OnlyOne,  // "群控模式下云机至少勾选2台", still off
        Started,  // on, roles handed to the open windows
    };

    struct ToggleResult
    {
        Toggle result = Toggle::NoPhone;
        QVector<Order> orders;
        // The open windows found when starting ("打开窗口id"), in order.
        QStringList openWindows;
    };

    bool isOn() const { return m_on; }
    QString master() const { return m_master; }

    // The group-control label was clicked.
    ToggleResult toggle(const QStringList &checked, const QVector<Card> &cards);
    // Off without telling anyone (the refresh label): the windows keep
    // their last role until they ask.
    void clear();
    // Off, and every card told -1 (a list rebuild: no window may show a
    // role while nothing is relayed). Nothing when it was off.
    QVector<Order> leave(const QVector<Card> &cards);

    // A control window asks with its current status; answers its next one.
    // Orders for other phones (a former master told 1) go to `orders`.
    int query(const QString &serverSn, int status, const QStringList &checked, QVector<Order> *orders);

    // The checked phone list has just been rebuilt with this phone added
    // or removed. Orders to carry out, in order; nothing while off.
    QVector<Order> phoneAdded(const QString &serverSn);
    QVector<Order> phoneCancelled(const QString &serverSn, const QStringList &checked, const QVector<Card> &cards);

    // The phones a record from `from` is repeated on, in card order: every
    // other card whose phone is checked, each server_sn once. Empty while
    // off or when `from` is not the master.
    QStringList relayTargets(const QString &from, const QStringList &checked, const QVector<Card> &cards) const;

    // The master chosen when the old one leaves: the first card whose phone
    // is checked and whose window is open, else the first checked phone.
    static QString chooseMaster(const QStringList &checked, const QVector<Card> &cards);

private:
    bool m_on = false;
    QString m_master;
};
