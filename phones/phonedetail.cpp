#include "phones/phonedetail.h"

#include "phones/mainwindow.h"
#include "phones/previewstarter.h"
#include "stream/phonecontroller.h"
#include "stream/videorendermini.h"
#include "widgets/clickablelabel.h"

#include <QCheckBox>
#include <QDebug>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSpacerItem>
#include <QStyleOption>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString CheckedFrame = QStringLiteral("#widget {border: 1px solid #0084DF;border-radius: 6px 6px 6px 6px;}");
const QString UncheckedFrame = QStringLiteral("#widget {border: 1px solid #E3E3E3;border-radius: 6px 6px 6px 6px;}");

PhoneDetail::ConfigPusher &configPusher()
{
    static PhoneDetail::ConfigPusher pusher;
    return pusher;
}

} // namespace

void PhoneDetail::setConfigPusher(ConfigPusher pusher)
{
    configPusher() = std::move(pusher);
}

PhoneDetail::PhoneDetail(QWidget *parent)
    : QWidget(parent)
{
    setupUi();
    setMinimumSize(124, 244);
    setAttribute(Qt::WA_Hover);
    // No sheet of its own. Setting an empty one anyway would style every
    // widget of the card once more.
    if (!styleSheet().isEmpty())
        setStyleSheet(QString());

    connect(m_checkBox, &QCheckBox::stateChanged, this, &PhoneDetail::onCheckStateChanged);
    connect(m_reloadBtn, &ClickableLabel::clicked, this, &PhoneDetail::startPreview);
    connect(m_enterBtn, &QPushButton::clicked, this, &PhoneDetail::enterPhone);
}

PhoneDetail::~PhoneDetail()
{
    releaseWindow();
    // A start still waiting for this card would have nothing to show in.
    if (m_starter)
        m_starter->cancel(this);
}

void PhoneDetail::setupUi()
{
    setObjectName(QStringLiteral("PhoneDetail"));
    resize(154, 230);
    setWindowTitle(tr("Form"));

    m_verticalLayout_2 = new QVBoxLayout(this);
    m_verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    m_verticalLayout_2->setSpacing(0);
    m_verticalLayout_2->setContentsMargins(4, 4, 4, 4);

    m_frame = new QWidget(this);
    m_frame->setObjectName(QStringLiteral("widget"));
    m_frame->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    // A plain widget draws its style-sheet border only when asked to.
    m_frame->setAttribute(Qt::WA_StyledBackground);
    m_frame->setStyleSheet(QStringLiteral("#widget{\n\tborder: 1px solid #E3E3E3;\n\tborder-radius: 6px 6px 6px 6px;\n}"));
    m_gridLayout = new QGridLayout(m_frame);
    m_gridLayout->setObjectName(QStringLiteral("gridLayout"));
    m_gridLayout->setContentsMargins(1, 1, 1, 1);

    m_horizontalLayout = new QHBoxLayout();
    m_horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    m_horizontalLayout->setSpacing(0);
    const QMargins defaults = m_horizontalLayout->contentsMargins();
    m_horizontalLayout->setContentsMargins(7, defaults.top(), defaults.right(), defaults.bottom());
    m_reloadBtn = new ClickableLabel(m_frame);
    m_reloadBtn->setObjectName(QStringLiteral("reloadBtn"));
    m_reloadBtn->setMaximumSize(18, 18);
    m_reloadBtn->setPixmap(QPixmap(QStringLiteral(":/image/phone/refresh_hover.png")));
    m_reloadBtn->setScaledContents(true);
    m_reloadBtn->setToolTip(tr("刷新"));
    m_reloadBtn->setCursor(Qt::PointingHandCursor);
    m_horizontalLayout->addWidget(m_reloadBtn);
    m_horizontalLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_checkBox = new QCheckBox(m_frame);
    m_checkBox->setObjectName(QStringLiteral("checkBox"));
    m_horizontalLayout->addWidget(m_checkBox);
    m_gridLayout->addLayout(m_horizontalLayout, 0, 0);

    m_preview = new VideoRenderMini(m_frame);
    m_preview->setObjectName(QStringLiteral("videorendermini"));
    m_gridLayout->addWidget(m_preview, 1, 0);

    m_phoneState = new QLabel(m_frame);
    m_phoneState->setObjectName(QStringLiteral("phoneState"));
    m_phoneState->setMinimumHeight(36);
    m_phoneState->setStyleSheet(QStringLiteral("background-color:#FFFFFF;"));
    m_phoneState->setAlignment(Qt::AlignCenter);
    m_phoneState->setText(tr("---"));
    m_gridLayout->addWidget(m_phoneState, 2, 0);
    m_phoneState->installEventFilter(this);
    m_verticalLayout_2->addWidget(m_frame);

    m_label = new QLabel(this);
    m_label->setObjectName(QStringLiteral("label"));
    m_label->setMinimumHeight(40);
    m_label->setStyleSheet(QStringLiteral("background-color:#fff;"));
    m_label->setAlignment(Qt::AlignCenter);
    m_label->setText(tr("001"));
    m_verticalLayout_2->addWidget(m_label);

    m_enterBtn = new QPushButton(tr("进入云机"), this);
    m_enterBtn->setObjectName(QStringLiteral("enterBtn"));
    m_enterBtn->setProperty("class", QStringLiteral("btn-hover"));
    m_enterBtn->setCursor(Qt::PointingHandCursor);
    m_enterBtn->hide();
}

void PhoneDetail::setRemainingText(const QString &text)
{
    m_remainingText = text;
    m_phoneState->setText(text);
}

void PhoneDetail::setOpStatus(int status)
{
    // Every state reads the same: the remaining time, in black (orange
    // while the rental ends within a day).
    m_opStatus = status;
    m_phoneState->setText(m_remainingText);
    setEndsSoon(m_endsSoon);
}

void PhoneDetail::setEndsSoon(bool endsSoon)
{
    m_endsSoon = endsSoon;
    const QString sheet = QStringLiteral("#phoneState {color:%1;background: #FFFFFF;border-radius: 6px 6px 6px 6px}")
                              .arg(endsSoon ? QStringLiteral("#FF7A00") : QStringLiteral("#000000"));
    if (m_phoneState->styleSheet() != sheet)
        m_phoneState->setStyleSheet(sheet);
    m_phoneState->setCursor(endsSoon ? Qt::PointingHandCursor : Qt::ArrowCursor);
    m_phoneState->setToolTip(endsSoon ? tr("即将到期，点击续费") : QString());
}

bool PhoneDetail::eventFilter(QObject *watched, QEvent *event)
{
    // Otherwise a press on the remaining time checks the card, as anywhere else.
    if (watched == m_phoneState && m_endsSoon && event->type() == QEvent::MouseButtonPress
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        if (m_owner)
            m_owner->renewPhone(m_serverSn);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void PhoneDetail::setTitle(const QString &title)
{
    m_title = title;
    m_label->setText(title);
}

void PhoneDetail::setServerSn(const QString &serverSn)
{
    m_serverSn = serverSn;
}

void PhoneDetail::setChecked(Qt::CheckState state)
{
    m_checkBox->setCheckState(state);
}

Qt::CheckState PhoneDetail::checkState() const
{
    return m_checkBox->checkState();
}

void PhoneDetail::onCheckStateChanged(int state)
{
    const Qt::CheckState checked = state == Qt::Unchecked ? Qt::Unchecked : Qt::Checked;
    if (m_owner)
        m_owner->setPhoneChecked(checked, m_title);
    if (checked == Qt::Checked) {
        qDebug() << "选中";
        m_frame->setStyleSheet(CheckedFrame);
    } else {
        qDebug() << "取消";
        m_frame->setStyleSheet(UncheckedFrame);
    }
}

void PhoneDetail::mousePressEvent(QMouseEvent *event)
{
    // Presses that no child takes (the preview, the texts, the frame).
    event->accept();
    setChecked(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

void PhoneDetail::enterEvent(QEvent *event)
{
    QWidget::enterEvent(event);
    if (rect().contains(mapFromGlobal(QCursor::pos()))) {
        m_enterBtn->show();
        m_enterBtn->raise();
    }
}

void PhoneDetail::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    if (!rect().contains(mapFromGlobal(QCursor::pos())))
        m_enterBtn->hide();
}

void PhoneDetail::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_enterBtn->setGeometry(width() / 2 - 40, height() / 2 - 15, 80, 30);
}

void PhoneDetail::paintEvent(QPaintEvent *)
{
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
}

void PhoneDetail::startPreview()
{
    queueStart(PreviewStarter::Priority::OnScreen);
}

void PhoneDetail::queueStart(PreviewStarter::Priority priority)
{
    if (!m_starter)
        return;
    m_starter->cancel(this);
    const int ticket = ++m_startTicket;
    m_startPending = true;
    m_startFailed = false;
    m_startPriority = priority;
    m_starter->start(
        this, m_serverSn,
        [this, ticket](bool ok, const ControlInfo &info) {
            if (ticket != m_startTicket)
                return;
            m_startPending = false;
            m_startFailed = !ok;
            previewFetched(ok, info);
        },
        priority);
}

WatchedPreview::Phase PhoneDetail::previewPhase() const
{
    if (m_startPending && m_starter && m_starter->isWaiting(const_cast<PhoneDetail *>(this)))
        return Phase::Waiting;
    if (m_startPending || m_startFailed || m_preview->hasStream())
        return Phase::Running;
    return Phase::Off;
}

void PhoneDetail::resumePreview(bool onScreen)
{
    const PreviewStarter::Priority priority =
        onScreen ? PreviewStarter::Priority::OnScreen : PreviewStarter::Priority::Background;
    switch (previewPhase()) {
    case Phase::Off:
        queueStart(priority);
        break;
    case Phase::Waiting:
        if (priority == PreviewStarter::Priority::OnScreen && m_startPriority != priority)
            queueStart(priority);
        break;
    case Phase::Running:
        break;
    }
}

void PhoneDetail::dropWaitingStart()
{
    if (m_starter && m_starter->cancel(this) > 0) {
        ++m_startTicket;
        m_startPending = false;
    }
}

void PhoneDetail::pausePreview()
{
    if (m_starter)
        m_starter->cancel(this);
    ++m_startTicket;
    m_startPending = false;
    m_startFailed = false;
    m_preview->pausePreview();
}

void PhoneDetail::previewFetched(bool ok, const ControlInfo &info)
{
    if (!ok) {
        qDebug() << "VideoRender: 投屏失败,请重试";
        return;
    }
    m_preview->openPreview(m_title, info);
    m_preview->show();
}

void PhoneDetail::enterPhone()
{
    if (emit GetWidgetIsViblePD()) {
        emit SetWindowFrontPD();
        return;
    }

    if (configPusher())
        configPusher()(m_serverSn, m_sid, m_idcId, m_idcSn, m_orderSn, m_serid);
    else
        qDebug() << "配置文件推送未安装";

    // One window per phone for the life of the client: an ended window is
    // hidden and opened again here, never made anew.
    PhoneController *window = m_window;
    if (!window && m_owner)
        window = m_owner->controlWindow(m_serverSn);
    if (!window) {
        window = new PhoneController;
        if (m_owner)
            m_owner->keepControlWindow(m_serverSn, window);
    }
    if (window != m_window)
        adoptWindow(window);

    window->show();
    window->raise();
    window->activateWindow();
    window->setCurrentId(m_title);
    window->setCurrentTime(m_remainingText);
    window->startStream(m_serverSn);
    m_enterBtn->hide();
    // An open window keeps the preview's stream up wherever the card is.
    if (m_watcher)
        m_watcher->reevaluate();

    // The preview's stream goes on (group control relays through it); the
    // card shows the placeholder while the window shows the phone.
    QTimer::singleShot(1000, m_preview, [this, opened = QPointer<PhoneController>(window)] {
        if (opened && opened == m_window && !opened->hasEnded())
            m_preview->setPictureHeld(true);
    });
}

void PhoneDetail::adoptWindow(PhoneController *window)
{
    releaseWindow();
    m_window = window;
    if (!window)
        return;
    // The record's arrays live only while the window emits: relay directly.
    connect(window, &PhoneController::sendSigleOperateDataPC, this,
            [this](const QString &otype, int oper, int *datax, int *datay, float *dataf, int mstatus,
                   const QString &copycontent) {
                emit sendSigleOperateDataPD(m_serverSn, otype, oper, datax, datay, dataf, mstatus, copycontent);
            },
            Qt::DirectConnection);
    connect(window, &PhoneController::getMachineControlStatusPC, this,
            [this](int status) { return emit getMachineControlStatusPD(m_title, m_serverSn, status); },
            Qt::DirectConnection);
    // Relayed records are not handed to the window: the preview's stream
    // carries them, so each reaches the phone once (see relayOperation).
    connect(this, &PhoneDetail::ChangeMCSStatusPD, window, &PhoneController::setControlStatus);
    connect(this, &PhoneDetail::SetWindowFrontPD, window, &PhoneController::bringToFront);
    connect(this, &PhoneDetail::GetWidgetIsViblePD, window, &PhoneController::isShown, Qt::DirectConnection);
    connect(window, &PhoneController::reloadSDK, this, &PhoneDetail::windowEnded);
    if (window->isShown())
        m_preview->setPictureHeld(true);
}

void PhoneDetail::releaseWindow()
{
    if (!m_window)
        return;
    disconnect(m_window, nullptr, this, nullptr);
    disconnect(this, nullptr, m_window, nullptr);
    m_window = nullptr;
}

void PhoneDetail::windowEnded()
{
    m_preview->setPictureHeld(false);
    // After a disconnect, reboot or reset the phone dropped the preview's
    // stream too; otherwise it has been running all along.
    const bool restart = !m_window || m_window->endedByPhone() || !m_preview->isLive();
    if (!m_watcher) {
        if (restart)
            startPreview();
        return;
    }
    // The watcher starts it again if the card is on screen or still kept,
    // and stops a kept stream that nobody needs any more.
    if (restart)
        pausePreview();
    m_watcher->reevaluate();
}

QString PhoneDetail::openWindowId()
{
    if (emit GetWidgetIsViblePD()) {
        qDebug().noquote() << "存在选中打开的窗口---" << m_serverSn;
        return m_serverSn;
    }
    return QStringLiteral("-1");
}

void PhoneDetail::setMachineControlStatus(int status)
{
    emit ChangeMCSStatusPD(status);
}

bool PhoneDetail::relayOperation(const QString &otype, int oper, int *datax, int *datay, float *dataf,
                                 const QString &copycontent)
{
    const bool sent = m_preview->applyOperation(otype, oper, datax, datay, dataf, copycontent);
    // For observers only; no window executes it (it would be a second copy).
    emit syncOperateDataToPC(otype, oper, datax, datay, dataf, copycontent);
    return sent;
}
