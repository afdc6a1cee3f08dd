#include "phones/mainwindow.h"

#include "app/appevent.h"
#include "app/utils.h"
#include "phones/applicationmousefilter.h"
#include "phones/globalmouseevent.h"
#include "phones/systemtray.h"
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

namespace {

constexpr QSize NormalSize(1120, 680);
constexpr QSize UserPanelSize(228, 244);

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
    title->installEventFilter(this);
    title->setUserName(AppEvent::instance()->phone());

    setupPhonePage();

    // Choosing the first item reports it as clicked, which opens the phone
    // page and loads the list.
    QTimer::singleShot(10, nav, [nav] { nav->moveToFirst(); });
    connect(nav, &SlideNavigation::itemClicked, this, [this](int index) { switchPage(index); });

    connect(title, &TitleWidget::windowClosed, this, &MainWindow::hide);
    connect(title, &TitleWidget::windowMin, this, &MainWindow::showMinimized);
    connect(title, &TitleWidget::windowMax, this, &MainWindow::showMaximizedLook);
    connect(title, &TitleWidget::windowBackNormal, this, &MainWindow::showNormalLook);
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
    combo->setStyleSheet(QStringLiteral(
        "#comboBox {color: #333333}QComboBox QAbstractItemView {outline: 0px;border: 0px}"
        "QComboBox QAbstractItemView::item {height: 20px}QComboBox QAbstractItemView::item:hover {background: #E5ECF1}"
        "QComboBox QAbstractItemView::item:selected {background: #E5ECF1}"));
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
}

void MainWindow::createPushClient()
{
    // The push channel client is not part of the client yet. Start-up and
    // every sign-in already come through here, so this is where it will be
    // made and start connecting.
}

void MainWindow::releasePushClient()
{
    // Nothing to release until the push channel client exists (see
    // createPushClient); sign-outs already come through here.
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
    // The phone list (tree and cards) is not loaded yet: the page keeps its
    // empty state, and no refresh is reported.
    showNoPhone();
}

void MainWindow::openPurchasePage()
{
    // The embedded purchase page is not part of the client yet; page 1
    // stays empty.
}

void MainWindow::showNoPhone()
{
    QWidget *cards = m_ui->PhoneWidget;
    cards->setProperty("class", QStringLiteral("noPhone"));
    cards->setStyleSheet(QString());
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
    // The user panel window is not part of the client yet: until one is
    // set, the user icon opens nothing.
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

void MainWindow::showMaximizedLook()
{
    showMaximized();
    setShadowHidden(true);
    m_ui->verticalLayout_2->setContentsMargins(0, 0, 0, 0);
    m_titlePressed = false;
}

void MainWindow::showNormalLook()
{
    showNormal();
    setShadowHidden(false);
    m_ui->verticalLayout_2->setContentsMargins(ShadowMargin, ShadowMargin, ShadowMargin, ShadowMargin);
    m_titlePressed = false;
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_ui->titleWidget || !isMaximized())
        return DraggableWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    // The second press of a double click reaches widgets only as this.
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            m_titlePressed = true;
        break;
    case QEvent::MouseButtonRelease:
        m_titlePressed = false;
        break;
    case QEvent::MouseMove:
        if (m_titlePressed)
            restoreUnderCursor(static_cast<QMouseEvent *>(event)->globalPos());
        break;
    default:
        break;
    }
    // The title bar still gets every event; the window's own dragging
    // carries on from here.
    return false;
}

void MainWindow::restoreUnderCursor(const QPoint &globalPos)
{
    // Keep the cursor over the same spot of the title bar: as far across it
    // proportionally, as far down as before.
    const QRect maximized = frameGeometry();
    const QRect normal = normalGeometry();
    const QSize size = normal.isValid() ? normal.size() : NormalSize;
    const qreal across = maximized.width() > 0 ? qreal(globalPos.x() - maximized.left()) / maximized.width() : 0.5;
    const int down = globalPos.y() - maximized.top() + ShadowMargin;

    showNormal();
    setShadowHidden(false);
    // Flips the title bar's button back and runs showNormalLook().
    m_ui->titleWidget->toggleMaximized();
    setGeometry(QRect(QPoint(globalPos.x() - qRound(across * size.width()), globalPos.y() - down), size));

    // The press was taken on the maximised window; taking it again here
    // makes the window follow the cursor from where it now is.
    QMouseEvent press(QEvent::MouseButtonPress, mapFromGlobal(globalPos), globalPos, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    DraggableWidget::mousePressEvent(&press);
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
