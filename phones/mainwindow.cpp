#include "phones/mainwindow.h"

#include "api/phonerecord.h"
#include "app/appevent.h"
#include "api/utils.h"
#include "phones/applicationmousefilter.h"
#include "phones/globalmouseevent.h"
#include "phones/phonedetail.h"
#include "phones/model/rentaltime.h"
#include "phones/model/phonechecks.h"
#include "phones/previewstarter.h"
#include "phones/systemtray.h"
#include "widgets/toast.h"
#include "widgets/clickablelabel.h"
#include "widgets/flowlayout.h"
#include "widgets/slidenavigation.h"
#include "widgets/titlewidget.h"

#include "ui_mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDebug>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QMutex>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>

#include <utility>

namespace {

constexpr QSize NormalSize(1120, 680);
constexpr QSize UserPanelSize(228, 244);
// Where a phone row keeps its server_sn.
constexpr int ServerSnRole = Qt::UserRole + 1;

QString batchBoxStyle(bool anyChecked)
{
    return QStringLiteral("#comboBox {color: %1}QComboBox QAbstractItemView {outline: 0px;border: 0px}"
                          "QComboBox QAbstractItemView::item {height: 20px}"
                          "QComboBox QAbstractItemView::item:hover {background: #E5ECF1}"
                          "QComboBox QAbstractItemView::item:selected {background: #E5ECF1}")
        .arg(anyChecked ? QStringLiteral("#0598FE") : QStringLiteral("#333333"));
}

} // namespace

MainWindow *MainWindow::instance()
{
    static QMutex mutex;
    static MainWindow *window = nullptr;
    QMutexLocker lock(&mutex);
    if (!window)
        window = new MainWindow;
    return window;
}

MainWindow::MainWindow()
    : DraggableWidget(nullptr)
    , m_ui(std::make_unique<Ui::MainWindow>())
{
    m_ui->setupUi(this);
    setMouseTracking(true);
    setCursor(Qt::ArrowCursor);
    setMinimumSize(500, 320);
    resize(NormalSize);

    SlideNavigation *nav = m_ui->slideNav;
    nav->setFixed(true);
    nav->setOrientation(SlideNavigation::Vertical);
    nav->setMouseTracking(true);
    nav->addItem(tr("云手机"));
    nav->addItem(tr("购买"));

    TitleWidget *title = m_ui->titleWidget;
    title->setSettingButtonHidden(true);
    title->setMouseTracking(true);
    title->setUserName(AppEvent::instance()->phone());

    setupPhonePage();

    // Choosing the first item reports it as clicked, which opens the phone
    // page and loads the list.
    QTimer::singleShot(10, nav, [nav] { nav->moveToFirst(); });
    connect(nav, &SlideNavigation::itemClicked, this, [this](int index) { switchPage(index); });

    connect(title, &TitleWidget::windowClosed, this, &MainWindow::hide);
    connect(title, &TitleWidget::windowMin, this, &MainWindow::showMinimized);
    setMaximizeParts(title, m_ui->verticalLayout_2, NormalSize);
    // Later than the 100 ms hide that the same left press on the user icon
    // starts through the global mouse handler, so the panel stays open.
    connect(title, &TitleWidget::openUserInfo, this,
            [this] { QTimer::singleShot(200, this, &MainWindow::showUserPanel); });

    m_tray = new SystemTray(this);
    m_tray->setToolTip(tr("Mervane云手机"));
    m_tray->show();
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
            bringBack();
    });
    connect(m_tray, &SystemTray::showMainWidget, this, &MainWindow::bringBack);
    // From here on the client lives in the tray: only the tray's "退出" (or
    // the login window's close) ends it, never a window that goes away.
    QApplication::setQuitOnLastWindowClosed(false);

    createPushClient();

    const bool hooked = installGlobalMouseHook();
    qDebug().noquote() << QStringLiteral("<<<<<<<<<< 全局鼠标事件监听器安装%1 >>>>>>>>>>")
                              .arg(hooked ? QStringLiteral("成功") : QStringLiteral("失败"));
    if (!hooked)
        qApp->installEventFilter(new ApplicationMouseFilter(this));
    connect(GlobalMouseEvent::instance(), &GlobalMouseEvent::mouseEvent, this, &MainWindow::onGlobalMouseEvent);

    setWindowTitle(tr("Mervane云手机"));
}

MainWindow::~MainWindow() = default;

void MainWindow::setupPhonePage()
{
    // The batch combo box shows "批量操作" until an operation is chosen.
    QComboBox *combo = m_ui->comboBox;
    combo->setLineEdit(new QLineEdit(combo));
    combo->lineEdit()->setPlaceholderText(tr("批量操作"));
    combo->lineEdit()->setReadOnly(true);
    // An empty box sizes itself for no text at all; keep the hint readable.
    combo->ensurePolished();
    combo->setMinimumWidth(combo->fontMetrics().horizontalAdvance(combo->lineEdit()->placeholderText()) + 48);
    combo->setView(new QListView(combo));
    combo->setStyleSheet(batchBoxStyle(false));
    combo->setCurrentIndex(-1);

    for (ClickableLabel *label : {m_ui->cancelSelectionBtn, m_ui->allSelectionBtn, m_ui->reverseSelectioBtn,
                                  m_ui->groupControlBtn})
        label->setContentsMargins(12, 8, 12, 8);
    m_ui->horizontalLayout_3->setContentsMargins(0, 4, 20, 4);
    m_ui->horizontalLayout_3->setSpacing(10);

    QTreeWidget *tree = m_ui->treeWidget;
    tree->header()->setDefaultAlignment(Qt::AlignCenter);
    tree->setSelectionMode(QAbstractItemView::MultiSelection);
    tree->setColumnWidth(0, 120);
    tree->setStyleSheet(QStringLiteral("QHeaderView::section {border: none}#treeWidget {background: #F4F4F4;border: none}"));

    m_ui->PhoneWidget->setContentsMargins(20, 20, 20, 20);
    m_cardLayout = new FlowLayout(m_ui->PhoneWidget, 0, 10, 0);
    showNoPhone();

    m_phoneChecks = new PhoneChecks(this);
    m_previewStarter = new PreviewStarter(this);
    m_previewTimer = new QTimer(this);
    m_previewTimer->setSingleShot(true);
    m_previewTimer->setInterval(1000);
    connect(m_previewTimer, &QTimer::timeout, this, &MainWindow::startPreviews);
    connect(m_phoneChecks, &PhoneChecks::phoneStateChanged, this, [this](int row) {
        showRow(row);
        // Cards with the same title follow the row (their own handler then
        // reports back, which changes nothing more).
        const QString title = m_phoneChecks->title(row);
        for (PhoneDetail *card : phoneCards()) {
            if (card->title() == title)
                card->setChecked(m_phoneChecks->phoneState(row));
        }
    });
    connect(m_phoneChecks, &PhoneChecks::groupChanged, this, &MainWindow::showGroupRow);
    connect(m_phoneChecks, &PhoneChecks::checkedListChanged, this,
            [this](const QStringList &list) { recolourBatchBox(list.size()); });
    connect(m_phoneChecks, &PhoneChecks::uncheckRefused, this, &MainWindow::onUncheckRefused);

    connect(tree, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *item) { onTreeItemChanged(item); });
    connect(tree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *item) { onTreeItemClicked(item); });
    connect(m_ui->cancelSelectionBtn, &ClickableLabel::clicked, m_phoneChecks, &PhoneChecks::clearSelection);
    connect(m_ui->allSelectionBtn, &ClickableLabel::clicked, this, [this] { selectAllOrInvert(false); });
    connect(m_ui->reverseSelectioBtn, &ClickableLabel::clicked, this, [this] { selectAllOrInvert(true); });
    connect(m_ui->refreshBtn, &ClickableLabel::clicked, this, [this] {
        leaveGroupControl();
        refreshPhoneList(true);
    });
}

void MainWindow::switchPage(int index)
{
    switch (index) {
    case 0:
        m_ui->stackedWidget->setCurrentIndex(0);
        refreshPhoneList(false);
        break;
    case 1:
        m_ui->stackedWidget->setCurrentIndex(1);
        // The answer is not needed: the request signs out an expired
        // session before the purchase page would open with it.
        Utils::instance()->serverList();
        openPurchasePage();
        break;
    default:
        break;
    }
}

void MainWindow::refreshPhoneList(bool showToast)
{
    if (!showToast)
        m_ui->titleWidget->setUserName(AppEvent::instance()->phone());

    const QString text = Utils::instance()->serverList();
    qDebug().noquote() << "----list----" << text;
    if (text.isEmpty()) {
        // The tree and the cards stay as they were.
        showNoPhone();
        qDebug() << "no server list";
        return;
    }
    if (showToast)
        Toast::instance()->show(1, QStringLiteral("刷新成功"), this);

    QVector<PhoneRecord> records;
    switch (PhoneRecord::parseList(text.toUtf8(), &records)) {
    case PhoneRecord::ListParse::NotJson:
        qDebug() << "JSON格式错误";
        return;
    case PhoneRecord::ListParse::NoList:
        return;
    case PhoneRecord::ListParse::Found:
        break;
    }
    qDebug("current root size %d", int(records.size()));
    // Without a semicolon after the rule: Qt rejects a sheet that has one.
    setCardAreaClass(QStringLiteral("noPhoneNone"), QStringLiteral("#PhoneWidget{background-color:#fff}"));

    // The rebuild meets every phone unchecked: group control would be left
    // with fewer than two phones and a master that may be gone, so it is
    // left first, as the refresh label does.
    if (groupControl())
        leaveGroupControl();

    m_treeUpdating = true;
    m_ui->treeWidget->clear();
    m_treeUpdating = false;
    clearCards();

    QVector<PhoneChecks::Phone> phones;
    phones.reserve(records.size());
    for (const PhoneRecord &record : qAsConst(records))
        phones.push_back(PhoneChecks::Phone{record.serverTitle, record.serverSn});
    m_phoneChecks->setPhones(phones);
    recolourBatchBox(0);

    if (records.isEmpty()) {
        showNoPhone();
        qDebug() << "nophone";
        return;
    }
    buildTree(records);
    buildCards(records);
}

void MainWindow::buildTree(const QVector<PhoneRecord> &records)
{
    QTreeWidget *tree = m_ui->treeWidget;
    // The build sets texts, data, check states and flags, each of which
    // the tree reports as a change: none of them is the user's.
    m_treeUpdating = true;
    tree->setHeaderLabels({tr("分组"), tr("剩余时间")});
    tree->header()->setDefaultAlignment(Qt::AlignCenter);
    tree->setSelectionMode(QAbstractItemView::MultiSelection);
    tree->setColumnWidth(0, 120);
    tree->setStyleSheet(QStringLiteral("QHeaderView::section {border: none}#treeWidget {background: #F4F4F4;border: none}"));

    auto *group = new QTreeWidgetItem(tree, {tr("默认分组"), PhoneChecks::selectedText(0)});
    const QDateTime now = QDateTime::currentDateTime();
    for (const PhoneRecord &record : records) {
        auto *row = new QTreeWidgetItem(group, {record.serverTitle, RentalTime::remainingText(record, now)});
        row->setData(0, ServerSnRole, record.serverSn);
        row->setCheckState(0, Qt::Unchecked);
        // Only the rules of this page change a check state, never the tree.
        row->setFlags(Qt::ItemIsSelectable);
    }
    group->setExpanded(true);
    group->setCheckState(0, Qt::Unchecked);
    group->setFlags(Qt::ItemIsSelectable);
    m_treeUpdating = false;
}

void MainWindow::buildCards(const QVector<PhoneRecord> &records)
{
    if (!m_cardLayout)
        m_cardLayout = new FlowLayout(m_ui->PhoneWidget, 0, 10, 0);
    const QDateTime now = QDateTime::currentDateTime();
    for (const PhoneRecord &record : records) {
        auto *card = new PhoneDetail(nullptr);
        card->setRemainingText(RentalTime::remainingText(record, now));
        card->setOpStatus(record.opStatus);
        card->setTitle(record.serverTitle);
        card->setServerSn(record.serverSn);
        card->setChecked(Qt::Unchecked);
        card->setSid(record.sid);
        card->setIdcId(record.idcId);
        card->setIdcSn(record.idcSn);
        card->setOrderSn(record.orderSn);
        card->setSerid(record.serid);
        card->setOwner(this);
        card->setPreviewStarter(m_previewStarter);
        m_cardLayout->addWidget(card);
        m_cards.append(card);
        if (!m_cardsBySn.contains(record.serverSn))
            m_cardsBySn.insert(record.serverSn, card);
        // The records of a window's arrays live only during its emission:
        // group control answers and relays directly.
        connect(card, &PhoneDetail::sendSigleOperateDataPD, this,
                [this](const QString &id, const QString &otype, int oper, int *datax, int *datay, float *dataf,
                       int mstatus, const QString &copycontent) {
                    if (mstatus == 2)
                        relayOperation(id, otype, oper, datax, datay, dataf, copycontent);
                },
                Qt::DirectConnection);
        connect(card, &PhoneDetail::getMachineControlStatusPD, this, &MainWindow::queryMachineControlStatus,
                Qt::DirectConnection);
    }
    if (m_ui->PhoneWidget->layout() != m_cardLayout)
        m_ui->PhoneWidget->setLayout(m_cardLayout);
    m_previewTimer->start();
}

void MainWindow::clearCards()
{
    if (m_previewTimer)
        m_previewTimer->stop();
    if (m_cards.isEmpty())
        return;
    qDebug("current children size: %d", int(m_cards.size()));
    // Out of the registry and the layout now, deleted once control returns
    // to the event loop (a card's own signal may have started this).
    const QList<QPointer<PhoneDetail>> cards = std::exchange(m_cards, {});
    m_cardsBySn.clear();
    for (const QPointer<PhoneDetail> &card : cards) {
        if (!card)
            continue;
        if (m_cardLayout)
            m_cardLayout->removeWidget(card);
        card->hide();
        card->deleteLater();
        qDebug().noquote() << "Widget child found: " << card->objectName();
    }
}

void MainWindow::startPreviews()
{
    // One background start per card, in card order; each fetch blocks only
    // the starter's thread, and the preview opens on this one.
    for (PhoneDetail *card : phoneCards())
        card->startPreview();
}

QList<PhoneDetail *> MainWindow::phoneCards() const
{
    QList<PhoneDetail *> cards;
    for (const QPointer<PhoneDetail> &card : m_cards) {
        if (card)
            cards << card;
    }
    return cards;
}

PhoneDetail *MainWindow::phoneCard(const QString &serverSn) const
{
    return m_cardsBySn.value(serverSn);
}

QTreeWidgetItem *MainWindow::groupItem() const
{
    return m_ui->treeWidget->topLevelItemCount() > 0 ? m_ui->treeWidget->topLevelItem(0) : nullptr;
}

void MainWindow::showRow(int row)
{
    QTreeWidgetItem *group = groupItem();
    if (!group || row < 0 || row >= group->childCount())
        return;
    m_treeUpdating = true;
    group->child(row)->setCheckState(0, m_phoneChecks->phoneState(row));
    m_treeUpdating = false;
}

void MainWindow::showGroupRow()
{
    QTreeWidgetItem *group = groupItem();
    if (!group)
        return;
    m_treeUpdating = true;
    group->setCheckState(0, m_phoneChecks->groupState());
    group->setText(1, PhoneChecks::selectedText(m_phoneChecks->checkedCount()));
    m_treeUpdating = false;
}

void MainWindow::onTreeItemChanged(QTreeWidgetItem *item)
{
    if (m_treeUpdating || !item)
        return;
    // Any other change of a row's check state goes through the rules; a
    // change of its texts or data leaves the state as it was.
    QTreeWidgetItem *group = groupItem();
    if (item == group)
        m_phoneChecks->setGroupState(item->checkState(0));
    else if (group && item->parent() == group)
        m_phoneChecks->setPhoneState(group->indexOfChild(item), item->checkState(0));
}

void MainWindow::onTreeItemClicked(QTreeWidgetItem *item)
{
    QTreeWidgetItem *group = groupItem();
    if (!item || !group)
        return;
    if (item == group)
        m_phoneChecks->clickGroup();
    else if (item->parent() == group)
        m_phoneChecks->clickPhone(group->indexOfChild(item));
}

void MainWindow::onUncheckRefused(int row)
{
    Toast::instance()->show(1, QStringLiteral("群控模式下云机至少勾选2台"), this);
    // Whatever shows the row unchecked by now (the tree, a card's check box)
    // is put back after a moment.
    QTimer::singleShot(100, this, [this, row] {
        const int first = row < 0 ? 0 : row;
        const int last = row < 0 ? m_phoneChecks->count() - 1 : row;
        for (int i = first; i <= last; ++i) {
            showRow(i);
            for (PhoneDetail *card : phoneCards()) {
                if (card->title() == m_phoneChecks->title(i))
                    card->setChecked(m_phoneChecks->phoneState(i));
            }
        }
        showGroupRow();
    });
}

void MainWindow::setPhoneChecked(Qt::CheckState state, const QString &title)
{
    m_phoneChecks->setStateByTitle(title, state);
    recolourBatchBox(m_phoneChecks->checkedCount());
}

void MainWindow::recolourBatchBox(int checkedCount)
{
    const QString style = batchBoxStyle(checkedCount > 0);
    if (m_ui->comboBox->styleSheet() != style)
        m_ui->comboBox->setStyleSheet(style);
}

void MainWindow::selectAllOrInvert(bool invert)
{
    if (!m_phoneChecks->hasGroupRow())
        Toast::instance()->show(1, QStringLiteral("请选择云手机"), this);
    if (invert)
        m_phoneChecks->invertSelection();
    else
        m_phoneChecks->selectAll();
}

QStringList MainWindow::checkedPhoneList() const
{
    return m_phoneChecks->checkedServerSns();
}

bool MainWindow::groupControl() const
{
    // The check rules hold the flag: they enforce what it implies.
    return m_phoneChecks->groupControl();
}

void MainWindow::leaveGroupControl()
{
    m_phoneChecks->setGroupControl(false);
    m_ui->groupControlBtn->setStyleSheet(QStringLiteral("background-color: transparent"));
    m_masterPhone.clear();
}

int MainWindow::queryMachineControlStatus(const QString &, const QString &, int)
{
    // Nothing switches group control on, so every window is standalone.
    return -1;
}

void MainWindow::relayOperation(const QString &id, const QString &otype, int oper, int *datax, int *datay,
                                float *dataf, const QString &copycontent)
{
    if (!groupControl())
        return;
    const QStringList checked = checkedPhoneList();
    for (PhoneDetail *card : phoneCards()) {
        if (card->serverSn() != id && checked.contains(card->serverSn()))
            card->relayOperation(otype, oper, datax, datay, dataf, copycontent);
    }
}

void MainWindow::openPurchasePage()
{
    // No purchase page is installed: page 1 stays empty.
}

void MainWindow::showNoPhone()
{
    setCardAreaClass(QStringLiteral("noPhone"), QString());
}

void MainWindow::setCardAreaClass(const QString &cssClass, const QString &styleSheet)
{
    QWidget *cards = m_ui->PhoneWidget;
    cards->setProperty("class", cssClass);
    cards->setStyleSheet(styleSheet);
    // A changed class takes effect only once the style looks at the widget again.
    cards->style()->unpolish(cards);
    cards->style()->polish(cards);
    cards->update();
}

void MainWindow::setUserPanel(QWidget *panel)
{
    m_userPanel = panel;
}

void MainWindow::showUserPanel()
{
    // Without a panel set by the client's wiring, the user icon opens
    // nothing.
    if (!m_userPanel)
        return;
    m_userPanel->setGeometry(QRect(QCursor::pos(), UserPanelSize));
    m_userPanel->show();
    m_userPanel->raise();
}

void MainWindow::onGlobalMouseEvent(QMouseEvent *event)
{
    // Any left press on the desktop, in other applications too, closes the
    // user panel.
    if (event->type() == QEvent::MouseButtonPress && event->button() == Qt::LeftButton) {
        QTimer::singleShot(100, this, [this] {
            if (m_userPanel)
                m_userPanel->hide();
        });
    }
    delete event;
}

void MainWindow::bringBack()
{
    if (isMinimized()) {
        // Back to how it was before it was minimised.
        if (m_ui->titleWidget->isMaximizedLook())
            showMaximized();
        else
            showNormal();
    } else {
        show();
    }
    raise();
    activateWindow();
}

void MainWindow::reject()
{
    hide();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    hide();
}
