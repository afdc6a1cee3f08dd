#include "phones/model/phonechecks.h"

#include <QDebug>

PhoneChecks::PhoneChecks(QObject *parent)
    : QObject(parent)
{
}

PhoneChecks::~PhoneChecks() = default;

void PhoneChecks::setPhones(const QVector<Phone> &phones)
{
    m_phones = phones;
    m_states = QVector<Qt::CheckState>(phones.size(), Qt::Unchecked);
    m_checked.clear();
    m_checkedSet.clear();
    m_rowsByTitle.clear();
    for (int row = 0; row < m_phones.size(); ++row)
        m_rowsByTitle[m_phones.at(row).title].push_back(row);
}

QString PhoneChecks::title(int row) const
{
    return row >= 0 && row < m_phones.size() ? m_phones.at(row).title : QString();
}

QString PhoneChecks::serverSn(int row) const
{
    return row >= 0 && row < m_phones.size() ? m_phones.at(row).serverSn : QString();
}

Qt::CheckState PhoneChecks::phoneState(int row) const
{
    return row >= 0 && row < m_states.size() ? m_states.at(row) : Qt::Unchecked;
}

Qt::CheckState PhoneChecks::groupState() const
{
    const int checked = checkedCount();
    if (checked == 0)
        return Qt::Unchecked;
    return checked == m_states.size() ? Qt::Checked : Qt::PartiallyChecked;
}

int PhoneChecks::checkedCount() const
{
    return m_checked.size();
}

QString PhoneChecks::selectedText(int count)
{
    return QStringLiteral("已选(%1)").arg(count);
}

void PhoneChecks::setGroupControl(bool on)
{
    m_groupControl = on;
}

bool PhoneChecks::refusesUncheck() const
{
    return m_groupControl && checkedCount() <= 2;
}

void PhoneChecks::setPhoneState(int row, Qt::CheckState state)
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
    // The list first: the views that follow may change rows of the same
    // title, and the minimum-two rule must judge those on the new list.
    rebuildCheckedList();
    emit phoneStateChanged(row, wanted);

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

void PhoneChecks::rebuildCheckedList()
{
    m_checked.clear();
    m_checkedSet.clear();
    for (int i = 0; i < m_phones.size(); ++i) {
        if (m_states.at(i) == Qt::Checked) {
            m_checked << m_phones.at(i).serverSn;
            m_checkedSet.insert(m_phones.at(i).serverSn);
        }
    }
    qDebug().noquote() << "serverSNList数组 " << m_checked;
    emit groupChanged(groupState(), m_checked.size());
    emit checkedListChanged(m_checked);
}

void PhoneChecks::setGroupState(Qt::CheckState state)
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

void PhoneChecks::setStateByTitle(const QString &title, Qt::CheckState state)
{
    // A copy: the rules may be handed a new list while they run.
    const QVector<int> rows = m_rowsByTitle.value(title);
    for (int row : rows)
        setPhoneState(row, state);
}

void PhoneChecks::clickPhone(int row)
{
    setPhoneState(row, phoneState(row) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

void PhoneChecks::clickGroup()
{
    setGroupState(groupState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

void PhoneChecks::clearSelection()
{
    for (int row = 0; row < m_phones.size(); ++row)
        setPhoneState(row, Qt::Unchecked);
}

void PhoneChecks::selectAll()
{
    for (int row = 0; row < m_phones.size(); ++row)
        setPhoneState(row, Qt::Checked);
}

void PhoneChecks::invertSelection()
{
    // Decided from the states before the first change, row by row as a
    // person reading the tree would.
    const QVector<Qt::CheckState> before = m_states;
    for (int row = 0; row < before.size(); ++row)
        setPhoneState(row, before.at(row) == Qt::Unchecked ? Qt::Checked : Qt::Unchecked);
}
