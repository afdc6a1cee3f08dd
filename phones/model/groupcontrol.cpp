#include "phones/model/groupcontrol.h"

#include <QDebug>
#include <QSet>

GroupControl::ToggleResult GroupControl::toggle(const QStringList &checked, const QVector<Card> &cards)
{
    ToggleResult out;
    if (m_on) {
        out.result = Toggle::Left;
        out.orders = leave(cards);
        return out;
    }
    if (checked.isEmpty()) {
        out.result = Toggle::NoPhone;
        return out;
    }
    if (checked.size() == 1) {
        out.result = Toggle::OnlyOne;
        return out;
    }
    m_on = true;
    m_master.clear();
    out.result = Toggle::Started;
    for (const Card &card : cards) {
        for (const QString &sn : checked) {
            if (card.serverSn == sn && card.windowOpen)
                out.openWindows << sn;
        }
    }
    // Without an open window there is no master yet: the first checked
    // phone whose window asks becomes it.
    if (out.openWindows.isEmpty())
        return out;
    qDebug().noquote() << "打开窗口id" << out.openWindows;
    m_master = out.openWindows.first();
    out.orders.append({m_master, Master});
    for (int i = 1; i < out.openWindows.size(); ++i)
        out.orders.append({out.openWindows.at(i), Controlled});
    return out;
}

void GroupControl::clear()
{
    m_on = false;
    m_master.clear();
}

QVector<GroupControl::Order> GroupControl::leave(const QVector<Card> &cards)
{
    QVector<Order> orders;
    if (!m_on)
        return orders;
    clear();
    QSet<QString> told;
    for (const Card &card : cards) {
        if (!told.contains(card.serverSn)) {
            told.insert(card.serverSn);
            orders.append({card.serverSn, Standalone});
        }
    }
    return orders;
}

int GroupControl::query(const QString &serverSn, int status, const QStringList &checked, QVector<Order> *orders)
{
    if (!m_on || checked.size() < 2 || !checked.contains(serverSn))
        return Standalone;
    if (status == Standalone) {
        if (m_master.isEmpty())
            m_master = serverSn;
        return m_master == serverSn ? Master : Controlled;
    }
    if (status == Controlled) {
        // A controlled window that asks takes over.
        if (!m_master.isEmpty() && m_master != serverSn && orders)
            orders->append({m_master, Controlled});
        m_master = serverSn;
        return Master;
    }
    return Master;
}

QVector<GroupControl::Order> GroupControl::phoneAdded(const QString &serverSn)
{
    QVector<Order> orders;
    if (!m_on)
        return orders;
    qDebug().noquote() << "----------------------" << m_master;
    if (serverSn != m_master) {
        qDebug() << "新增勾选的机器为被控机";
        orders.append({serverSn, Controlled});
    }
    return orders;
}

QVector<GroupControl::Order> GroupControl::phoneCancelled(const QString &serverSn, const QStringList &checked,
                                                          const QVector<Card> &cards)
{
    QVector<Order> orders;
    if (!m_on)
        return orders;
    if (serverSn == m_master) {
        qDebug() << "取消勾选的是主控机";
        orders.append({serverSn, Standalone});
        m_master = chooseMaster(checked, cards);
        if (!m_master.isEmpty())
            orders.append({m_master, Master});
    } else {
        qDebug() << "取消勾选的是被控机";
        orders.append({serverSn, Standalone});
    }
    return orders;
}

QStringList GroupControl::relayTargets(const QString &from, const QStringList &checked,
                                       const QVector<Card> &cards) const
{
    QStringList targets;
    if (!m_on || from.isEmpty() || from != m_master)
        return targets;
    for (const Card &card : cards) {
        if (card.serverSn != from && checked.contains(card.serverSn) && !targets.contains(card.serverSn))
            targets << card.serverSn;
    }
    return targets;
}

QString GroupControl::chooseMaster(const QStringList &checked, const QVector<Card> &cards)
{
    for (const Card &card : cards) {
        if (card.windowOpen && checked.contains(card.serverSn))
            return card.serverSn;
    }
    return checked.value(0);
}
