#include "phones/phonetree.h"

#include <QDebug>

PhoneTree::PhoneTree(QObject *parent)
    : QObject(parent)
{
}

PhoneTree::~PhoneTree() = default;

void PhoneTree::setPhones(const QVector<Phone> &phones)
{
    m_phones = phones;
    m_states = QVector<Qt::CheckState>(phones.size(), Qt::Unchecked);
    m_checked.clear();
}

QString PhoneTree::title(int row) const
{
    return row >= 0 && row < m_phones.size() ? m_phones.at(row).title : QString();
}

QString PhoneTree::serverSn(int row) const
{
    return row >= 0 && row < m_phones.size() ? m_phones.at(row).serverSn : QString();
}

Qt::CheckState PhoneTree::phoneState(int row) const
{
    return row >= 0 && row < m_states.size() ? m_states.at(row) : Qt::Unchecked;
}

Qt::CheckState PhoneTree::groupState() const
{
    const int checked = checkedCount();
    if (checked == 0)
        return Qt::Unchecked;
    return checked == m_states.size() ? Qt::Checked : Qt::PartiallyChecked;
}

int PhoneTree::checkedCount() const
{
    return m_checked.size();
}

QString PhoneTree::selectedText(int count)
{
    return QStringLiteral("已选(%1)").arg(count);
}

void PhoneTree::setGroupControl(bool on)
{
    m_groupControl = on;
}

bool PhoneTree::refusesUncheck() const
{
    return m_groupControl && checkedCount() <= 2;
}

void PhoneTree::setPhoneState(int row, Qt::CheckState state)
{
    if (row < 0 || row >= m_states.size())
        return;
    const Qt::CheckState wanted = state == Qt::Unchecked ? Qt::Unchecked : Qt::Checked;
    if (m_states.at(row) == wanted)
        return;
    if (wanted == Qt::Unchecked && refusesUncheck()) {
        emit uncheckRefused(row);
        return;
    }
    m_states[row] = wanted;
    emit phoneStateChanged(row, wanted);
    rebuildCheckedList();

    if (!m_groupControl)
        return;
    const QString sn = m_phones.at(row).serverSn;
    if (wanted == Qt::Unchecked) {
        qDebug().noquote() << "取消勾选的云机serverSN " << sn;
        emit phoneCancelled(sn);
    } else {
        qDebug().noquote() << "新勾选的云机serverSN " << sn;
        emit phoneAdded(sn);
    }
}

void PhoneTree::rebuildCheckedList()
{
    m_checked.clear();
    for (int i = 0; i < m_phones.size(); ++i) {
        if (m_states.at(i) == Qt::Checked)
            m_checked << m_phones.at(i).serverSn;
    }
    qDebug().noquote() << "serverSNList数组 " << m_checked;
    emit groupChanged(groupState(), m_checked.size());
    emit checkedListChanged(m_checked);
}

void PhoneTree::setGroupState(Qt::CheckState state)
{
    if (state == Qt::PartiallyChecked || m_phones.isEmpty())
        return;
    if (state == Qt::Unchecked && refusesUncheck()) {
        emit uncheckRefused(-1);
        return;
    }
    for (int row = 0; row < m_phones.size(); ++row)
        setPhoneState(row, state);
}

void PhoneTree::setStateByTitle(const QString &title, Qt::CheckState state)
{
    for (int row = 0; row < m_phones.size(); ++row) {
        if (m_phones.at(row).title == title)
            setPhoneState(row, state);
    }
}

void PhoneTree::clickPhone(int row)
{
    setPhoneState(row, phoneState(row) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

void PhoneTree::clickGroup()
{
    setGroupState(groupState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

void PhoneTree::clearSelection()
{
    for (int row = 0; row < m_phones.size(); ++row)
        setPhoneState(row, Qt::Unchecked);
}

void PhoneTree::selectAll()
{
    for (int row = 0; row < m_phones.size(); ++row)
        setPhoneState(row, Qt::Checked);
}

void PhoneTree::invertSelection()
{
    // Decided from the states before the first change, row by row as a
    // person reading the tree would.
    const QVector<Qt::CheckState> before = m_states;
    for (int row = 0; row < before.size(); ++row)
        setPhoneState(row, before.at(row) == Qt::Unchecked ? Qt::Checked : Qt::Unchecked);
}
