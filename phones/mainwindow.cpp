#include "phones/mainwindow.h"

#include "api/phonerecord.h"
#include "app/appevent.h"
#include "api/utils.h"
#include "phones/applicationmousefilter.h"
#include "phones/globalmouseevent.h"
#include "phones/phonedetail.h"
#include "phones/model/rentaltime.h"
#include "phones/model/phonechecks.h"
#include "phones/model/purchaseaddress.h"
#include "phones/previewstarter.h"
#include "phones/previewwatcher.h"
#include "phones/purchasepage.h"
#include "stream/phonecontroller.h"
#include "widgets/infodialog.h"
#include "phones/systemtray.h"
#include "phones/userpanel.h"
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
#include <QNetworkProxyFactory>
#include <QStyle>
#include <QTime>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

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

MainWindow::UserPanelFactory &userPanelFactory()
{
    static MainWindow::UserPanelFactory factory;
    return factory;
}

MainWindow::PurchasePageFactory &purchasePageFactory()
{
    static MainWindow::PurchasePageFactory factory;
    return factory;
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

    connect(title, &TitleWidget::windowClosed, this, &MainWindow::putAway);
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

namespace {

MainWindow::UploadOpener &uploadOpener()
{
    static MainWindow::UploadOpener opener;
    return opener;
}

} // namespace

void MainWindow::setUploadOpener(UploadOpener opener)
{
    uploadOpener() = std::move(opener);
}

QMap<QString, QString> MainWindow::checkedUploadTargets() const
{
    QMap<QString, QString> targets;
    const QList<PhoneDetail *> cards = phoneCards();
    for (const QString &serverSn : checkedPhoneList()) {
        for (PhoneDetail *card : cards) {
            if (card->serverSn() == serverSn)
                targets.insert(card->title(), serverSn);
        }
    }
    return targets;
}

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
    combo->addItems({tr("批量重启"), tr("批量恢复出厂设置"), tr("批量上传文件")});
    combo->setCurrentIndex(-1);
    combo->setCursor(Qt::PointingHandCursor);

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
    m_previewWatcher = new PreviewWatcher(m_ui->scrollArea, this);
    m_previewWatcher->setKeeper([this](const QString &serverSn) { return keepsPreview(serverSn); });
    m_previewTimer = new QTimer(this);
    m_previewTimer->setSingleShot(true);
    m_previewTimer->setInterval(1000);
    connect(m_previewTimer, &QTimer::timeout, this, &MainWindow::startPreviews);
    connect(m_phoneChecks, &PhoneChecks::phoneStateChanged, this, [this](int row) {
        showRow(row);
        // Cards with the same title follow the row (their own handler then
        // reports back, which changes nothing more).
        for (PhoneDetail *card : cardsTitled(m_phoneChecks->title(row)))
            card->setChecked(m_phoneChecks->phoneState(row));
    });
    connect(m_phoneChecks, &PhoneChecks::groupChanged, this, &MainWindow::showGroupRow);
    connect(m_phoneChecks, &PhoneChecks::checkedListChanged, this, [this](const QStringList &list) {
        recolourBatchBox(list.size());
        // Group control relays to the checked phones: their streams stay up.
        if (m_groupControl.isOn())
            m_previewWatcher->reevaluate();
    });
    connect(m_phoneChecks, &PhoneChecks::uncheckRefused, this, &MainWindow::onUncheckRefused);
    // Handed over after the checked list has been rebuilt.
    connect(m_phoneChecks, &PhoneChecks::phoneAdded, this,
            [this](const QString &serverSn) { carryOut(m_groupControl.phoneAdded(serverSn)); });
    connect(m_phoneChecks, &PhoneChecks::phoneCancelled, this, [this](const QString &serverSn) {
        carryOut(m_groupControl.phoneCancelled(serverSn, checkedPhoneList(), cardsForRules()));
    });
    connect(m_ui->groupControlBtn, &ClickableLabel::clicked, this, &MainWindow::toggleGroupControl);
    // activated, not a change of the current item: the same choice twice
    // runs twice.
    connect(combo, QOverload<int>::of(&QComboBox::activated), this, &MainWindow::onBatchActivated);

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
    // with fewer than two phones and a master that may be gone. It is left
    // first, and every window is told, so none shows "主控中" or "被控中"
    // while nothing is relayed.
    if (groupControl()) {
        const QVector<GroupControl::Order> orders = m_groupControl.leave(cardsForRules());
        for (const GroupControl::Order &order : orders) {
            if (PhoneDetail *card = phoneCard(order.serverSn))
                card->setMachineControlStatus(order.status);
        }
        for (PhoneController *window : controlWindows())
            window->setControlStatus(GroupControl::Standalone);
        syncGroupControlLook();
    }

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
    // Each phone's times are read once, for its row and its card.
    QVector<RentalTime::Left> left;
    left.reserve(records.size());
    const QDateTime now = QDateTime::currentDateTime();
    for (const PhoneRecord &record : qAsConst(records))
        left.push_back(RentalTime::left(record, now));
    buildTree(records, left);
    buildCards(records, left);
}

void MainWindow::buildTree(const QVector<PhoneRecord> &records, const QVector<RentalTime::Left> &left)
{
    QTreeWidget *tree = m_ui->treeWidget;
    // The build sets texts, data, check states and flags, each of which
    // the tree reports as a change: none of them is the user's.
    m_treeUpdating = true;
    tree->setHeaderLabels({tr("分组"), tr("剩余时间")});
    tree->header()->setDefaultAlignment(Qt::AlignCenter);
    tree->setSelectionMode(QAbstractItemView::MultiSelection);
    tree->setColumnWidth(0, 120);
    const QString sheet = QStringLiteral("QHeaderView::section {border: none}#treeWidget {background: #F4F4F4;border: none}");
    if (tree->styleSheet() != sheet)
        tree->setStyleSheet(sheet);

    // The rows are made apart and handed to the tree in one step: inserted
    // one by one, each would be announced to the view on its own.
    auto *group = new QTreeWidgetItem({tr("默认分组"), PhoneChecks::selectedText(0)});
    QList<QTreeWidgetItem *> rows;
    rows.reserve(records.size());
    for (int i = 0; i < records.size(); ++i) {
        const PhoneRecord &record = records.at(i);
        auto *row = new QTreeWidgetItem({record.serverTitle, left.at(i).text});
        row->setData(0, ServerSnRole, record.serverSn);
        row->setCheckState(0, Qt::Unchecked);
        // Only the rules of this page change a check state, never the tree.
        row->setFlags(Qt::ItemIsSelectable);
        rows << row;
    }
    group->addChildren(rows);
    tree->addTopLevelItem(group);
    group->setExpanded(true);
    group->setCheckState(0, Qt::Unchecked);
    group->setFlags(Qt::ItemIsSelectable);
    m_treeUpdating = false;
}

void MainWindow::buildCards(const QVector<PhoneRecord> &records, const QVector<RentalTime::Left> &left)
{
    if (!m_cardLayout)
        m_cardLayout = new FlowLayout(m_ui->PhoneWidget, 0, 10, 0);
    for (int i = 0; i < records.size(); ++i) {
        const PhoneRecord &record = records.at(i);
        // Made in the card area: moved there later, every widget of the
        // card would be styled a second time.
        auto *card = new PhoneDetail(m_ui->PhoneWidget);
        card->setRemainingText(left.at(i).text);
        card->setOpStatus(record.opStatus);
        card->setEndsSoon(left.at(i).endsSoon);
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
        card->setPreviewWatcher(m_previewWatcher);
        m_cardLayout->addWidget(card);
        m_cards.append(card);
        m_cardsByTitle[record.serverTitle].append(card);
        if (!m_cardsBySn.contains(record.serverSn)) {
            m_cardsBySn.insert(record.serverSn, card);
            // A window that outlived the previous list belongs to this card now.
            if (PhoneController *window = controlWindow(record.serverSn))
                card->adoptWindow(window);
        }
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
    m_cardsByTitle.clear();
    m_previewWatcher->setCards({});
    for (const QPointer<PhoneDetail> &card : cards) {
        if (!card)
            continue;
        if (m_cardLayout)
            m_cardLayout->removeWidget(card);
        // From now on its window's records and questions go to the new card.
        card->releaseWindow();
        card->hide();
        card->deleteLater();
        qDebug().noquote() << "Widget child found: " << card->objectName();
    }
}

void MainWindow::startPreviews()
{
    // The watcher starts the cards on screen first, one at a time (each
    // fetch blocks only the starter's thread), then the kept ones.
    QVector<PreviewWatcher::Card> cards;
    cards.reserve(m_cards.size());
    for (PhoneDetail *card : phoneCards())
        cards.push_back({card, card});
    m_previewWatcher->setCards(cards);
}

bool MainWindow::keepsPreview(const QString &serverSn) const
{
    if (m_groupControl.isOn() && m_phoneChecks->isChecked(serverSn))
        return true;
    const PhoneController *window = controlWindow(serverSn);
    return window && window->isShown();
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

QList<PhoneDetail *> MainWindow::cardsTitled(const QString &title) const
{
    QList<PhoneDetail *> cards;
    for (const QPointer<PhoneDetail> &card : m_cardsByTitle.value(title)) {
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
            for (PhoneDetail *card : cardsTitled(m_phoneChecks->title(i)))
                card->setChecked(m_phoneChecks->phoneState(i));
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
    return m_groupControl.isOn();
}

void MainWindow::syncGroupControlLook()
{
    // Switched on, the checked phones' streams must be up wherever their
    // cards are; switched off, those off screen may go.
    m_previewWatcher->reevaluate();
    // The check rules enforce what the flag implies (two phones at least).
    m_phoneChecks->setGroupControl(m_groupControl.isOn());
    m_ui->groupControlBtn->setStyleSheet(m_groupControl.isOn() ? QStringLiteral("background-color: #94D3FF")
                                                               : QStringLiteral("background-color: transparent"));
}

QVector<GroupControl::Card> MainWindow::cardsForRules()
{
    QVector<GroupControl::Card> cards;
    for (PhoneDetail *card : phoneCards())
        cards.push_back({card->serverSn(), card->openWindowId() != QLatin1String("-1")});
    return cards;
}

void MainWindow::carryOut(const QVector<GroupControl::Order> &orders)
{
    for (const GroupControl::Order &order : orders)
        notifyMachineControlStatus(order.serverSn, order.status);
}

void MainWindow::toggleGroupControl()
{
    const GroupControl::ToggleResult result = m_groupControl.toggle(checkedPhoneList(), cardsForRules());
    switch (result.result) {
    case GroupControl::Toggle::NoPhone:
        Toast::instance()->show(1, QStringLiteral("请选择云机"), this);
        return;
    case GroupControl::Toggle::OnlyOne:
        Toast::instance()->show(1, QStringLiteral("群控模式下云机至少勾选2台"), this);
        return;
    case GroupControl::Toggle::Left:
        syncGroupControlLook();
        // Every card, checked or not, and so every open window.
        for (const GroupControl::Order &order : result.orders) {
            if (PhoneDetail *card = phoneCard(order.serverSn))
                card->setMachineControlStatus(order.status);
        }
        return;
    case GroupControl::Toggle::Started:
        syncGroupControlLook();
        carryOut(result.orders);
        return;
    }
}

void MainWindow::leaveGroupControl()
{
    m_groupControl.clear();
    syncGroupControlLook();
}

void MainWindow::notifyMachineControlStatus(const QString &serverSn, int status)
{
    if (!m_groupControl.isOn())
        return;
    if (PhoneDetail *card = phoneCard(serverSn))
        card->setMachineControlStatus(status);
}

int MainWindow::queryMachineControlStatus(const QString &, const QString &serverSn, int status)
{
    QVector<GroupControl::Order> orders;
    const int answer = m_groupControl.query(serverSn, status, checkedPhoneList(), &orders);
    carryOut(orders);
    return answer;
}

int MainWindow::relayOperation(const QString &id, const QString &otype, int oper, int *datax, int *datay,
                               float *dataf, const QString &copycontent)
{
    if (!m_groupControl.isOn())
        return 0;
    QVector<GroupControl::Card> cards;
    cards.reserve(m_cards.size());
    for (const QPointer<PhoneDetail> &card : qAsConst(m_cards)) {
        if (card)
            cards.push_back({card->serverSn(), false});
    }
    // Synchronous: the record's arrays belong to the master's emission.
    int reached = 0;
    for (const QString &sn : m_groupControl.relayTargets(id, checkedPhoneList(), cards)) {
        PhoneDetail *card = phoneCard(sn);
        if (card && card->relayOperation(otype, oper, datax, datay, dataf, copycontent))
            ++reached;
    }
    if (PhoneDetail *master = phoneCard(id)) {
        if (PhoneController *window = master->controlWindow())
            window->showRelayReach(reached);
    }
    return reached;
}

PhoneController *MainWindow::controlWindow(const QString &serverSn) const
{
    return m_controlWindows.value(serverSn);
}

void MainWindow::keepControlWindow(const QString &serverSn, PhoneController *window)
{
    m_controlWindows.insert(serverSn, window);
}

QList<PhoneController *> MainWindow::controlWindows() const
{
    QList<PhoneController *> windows;
    for (const QPointer<PhoneController> &window : m_controlWindows) {
        if (window)
            windows << window;
    }
    return windows;
}

void MainWindow::onBatchActivated(int index)
{
    if (index >= 0 && checkedPhoneList().isEmpty()) {
        Toast::instance()->show(1, QStringLiteral("请选择云手机"), this);
        return;
    }
    qDebug().noquote() << "combobox " << index;
    switch (index) {
    case 0:
        runServerOrder(false);
        break;
    case 1:
        runServerOrder(true);
        break;
    case 2:
        if (uploadOpener())
            uploadOpener()(checkedUploadTargets(), this);
        else
            qDebug() << "no upload window";
        break;
    default:
        break;
    }
}

void MainWindow::runServerOrder(bool reset)
{
    if (!askServerOrder(reset, this))
        return;
    // One request for every checked phone, in tree order; it blocks here,
    // as the window is meant to until the backend has answered.
    const QStringList serials = checkedPhoneList();
    const bool ok = reset ? Utils::instance()->resetArmServer(serials) : Utils::instance()->restartArmServer(serials);
    if (!ok) {
        Toast::instance()->show(2, serverOrderFailedText(reset), this);
        return;
    }
    Toast::instance()->show(0, serverOrderDoneText(reset), this);
    refreshPhoneList(false);
}

void MainWindow::openPurchasePage()
{
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    const AppEvent *event = AppEvent::instance();
    const Utils *utils = Utils::instance();
    const int seconds = QTime::currentTime().second();
    const QString serverSn = std::exchange(m_renewServerSn, QString());
    const QString address = PurchaseAddress::build(utils->payUrl(), utils->appKey(), utils->channelCode(),
                                                   event->phone(), event->token(), seconds, serverSn);
    // The token is a secret: the line shows it shortened.
    qDebug().noquote() << QStringLiteral("paymenturl ---- ") + PurchaseAddress::forLog(address);
    const QUrl url = QUrl::fromUserInput(address);

    if (!m_purchasePage && purchasePageFactory())
        setPurchasePage(purchasePageFactory()(this));
    // Without a purchase page page 1 stays empty.
    if (m_purchasePage)
        m_purchasePage->open(m_ui->page_2, url);
}

void MainWindow::returnFromPurchase()
{
    switchPage(0);
    // Still on the purchase item, the bar reports item 0 as clicked, which
    // switches (and reloads) once more.
    m_ui->slideNav->moveToFirst();
}

PurchasePage *MainWindow::purchasePage() const
{
    return m_purchasePage;
}

void MainWindow::setPurchasePage(PurchasePage *page)
{
    if (m_purchasePage)
        disconnect(m_purchasePage, nullptr, this, nullptr);
    m_purchasePage = page;
    if (page)
        connect(page, &PurchasePage::finished, this, &MainWindow::returnFromPurchase);
}

void MainWindow::renewPhone(const QString &serverSn)
{
    m_renewServerSn = serverSn;
    // Choosing the purchase item reports it as clicked, which opens the page.
    if (m_ui->slideNav->currentIndex() == 1)
        switchPage(1);
    else
        m_ui->slideNav->moveTo(1);
}

void MainWindow::setUserPanelFactory(UserPanelFactory factory)
{
    userPanelFactory() = std::move(factory);
}

void MainWindow::setPurchasePageFactory(PurchasePageFactory factory)
{
    purchasePageFactory() = std::move(factory);
}

void MainWindow::showNoPhone()
{
    setCardAreaClass(QStringLiteral("noPhone"), QString());
}

void MainWindow::setCardAreaClass(const QString &cssClass, const QString &styleSheet)
{
    QWidget *cards = m_ui->PhoneWidget;
    // Styling the area again styles every card in it: only for a change.
    if (cards->property("class").toString() == cssClass && cards->styleSheet() == styleSheet)
        return;
    cards->setProperty("class", cssClass);
    cards->setStyleSheet(styleSheet);
    // A changed class takes effect only once the style looks at the widget again.
    cards->style()->unpolish(cards);
    cards->style()->polish(cards);
    cards->update();
}

UserPanel *MainWindow::userPanel() const
{
    return m_userPanel;
}

void MainWindow::setUserPanel(UserPanel *panel)
{
    m_userPanel = panel;
}

void MainWindow::showUserPanel()
{
    if (!m_userPanel && userPanelFactory())
        m_userPanel = userPanelFactory()();
    if (!m_userPanel)
        return;
    m_userPanel->setGeometry(QRect(QCursor::pos(), UserPanelSize));
    const AppEvent *event = AppEvent::instance();
    m_userPanel->setUserName(event->userName());
    m_userPanel->setPhoneNumber(event->phone());
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

void MainWindow::setTrayHostCheck(std::function<bool()> check)
{
    m_trayHostCheck = std::move(check);
}

void MainWindow::putAway()
{
    const bool trayHost = m_trayHostCheck ? m_trayHostCheck() : QSystemTrayIcon::isSystemTrayAvailable();
    if (trayHost)
        hide();
    else
        showMinimized();
}

void MainWindow::reject()
{
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->ignore();
    putAway();
}
