#include "stream/videorender.h"

#include "api/secretmask.h"
#include "app/appevent.h"
#include "app/logger.h"
#include "api/utils.h"
#include "app/async.h"
#include "platform/swplay/keyboard.h"
#include "platform/swplay/swruntime.h"
#include "stream/inputmapping.h"
#include "stream/streamlook.h"
#include "stream/menubutton.h"
#include "widgets/clickablelabel.h"
#include "widgets/infodialog.h"
#include "widgets/toast.h"

#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QSpacerItem>
#include <QTransform>
#include <QVBoxLayout>

#include <utility>

namespace {

constexpr int kPanelHeight = 230;

VideoRender::UploadOpener &uploadOpener()
{
    static VideoRender::UploadOpener opener;
    return opener;
}

ClickableLabel *panelButton(QWidget *parent, const char *name, const QString &text)
{
    auto *label = new ClickableLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setText(text);
    label->setAlignment(Qt::AlignCenter);
    label->setCursor(Qt::PointingHandCursor);
    label->setProperty("class", QStringLiteral("btn"));
    return label;
}

MenuButton *menuButton(QWidget *parent, const char *name, const QString &icon, const QString &text)
{
    auto *button = new MenuButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setIcon(icon);
    button->setText(text);
    return button;
}

// The size the library converts frames to for an orientation: the picture
// itself, or in landscape the picture before it is turned (the phone still
// sends its portrait screen). Scaling before turning moves fewer pixels.
QSize viewSize(bool portrait)
{
    const QSize size = StreamLook::pictureSize(portrait);
    return portrait ? size : size.transposed();
}

} // namespace

namespace {

VideoRender::FileDropHandler &fileDropHandler()
{
    static VideoRender::FileDropHandler handler;
    return handler;
}

QStringList droppedFiles(const QMimeData *mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

} // namespace

void VideoRender::setFileDropHandler(FileDropHandler handler)
{
    fileDropHandler() = std::move(handler);
}

void VideoRender::dragEnterEvent(QDragEnterEvent *event)
{
    if (fileDropHandler() && !droppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void VideoRender::dropEvent(QDropEvent *event)
{
    const QStringList paths = droppedFiles(event->mimeData());
    if (!fileDropHandler() || paths.isEmpty())
        return;
    event->acceptProposedAction();
    fileDropHandler()(phoneId(), serverSn(), paths, this);
}

void VideoRender::setUploadOpener(UploadOpener opener)
{
    uploadOpener() = std::move(opener);
}

VideoRender::VideoRender(QWidget *parent)
    : QWidget(parent)
{
    setupUi();
    setAcceptDrops(true);
    setViewSize(viewSize(true).width(), viewSize(true).height());

    m_relayoutTimer.setInterval(100);
    m_relayoutTimer.setSingleShot(true);
    connect(&m_relayoutTimer, &QTimer::timeout, this, &VideoRender::relayout);

    connect(m_screen, &ClickableLabel::clicked, this, &VideoRender::rotate);
    connect(m_comboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int index) { m_session.setVideoLevel(index); });
    connect(m_quit, &ClickableLabel::clicked, this, [this] {
        stopStream();
        emit exitVideoRender();
        emit closePhoneController();
    });
    connect(m_reboot, &MenuButton::clicked, this, [this] { confirmServerOrder(false); });
    connect(m_reset, &MenuButton::clicked, this, [this] { confirmServerOrder(true); });
    connect(m_uploadFile, &MenuButton::clicked, this, [this] {
        qDebug() << "uploadFile";
        const QMap<QString, QString> targets{{phoneId(), serverSn()}};
        if (uploadOpener())
            uploadOpener()(targets, this);
        else
            LOG_WARN() << "VideoRender: no upload window";
    });

    relayout();
}

VideoRender::~VideoRender()
{
    // Stop our own stream first: once it has stopped no frame or
    // notification reaches this half-destroyed object.
    m_session.close();
    LOG_INFO() << "~VideoRender";
    SWRuntime::getInstance()->deinit();
}

void VideoRender::setupUi()
{
    setObjectName(QStringLiteral("VideoRender"));
    setGeometry(0, 0, 500, 880);

    m_content = new QLabel(this);
    m_content->setObjectName(QStringLiteral("Content"));
    m_content->setAlignment(Qt::AlignCenter);
    m_content->setPixmap(
        QPixmap(QStringLiteral(":/image/phone/phoneBg.png")).scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));

    m_phoneControl = new QWidget(this);
    m_phoneControl->setObjectName(QStringLiteral("phoneControl"));
    m_phoneControl->setAttribute(Qt::WA_StyledBackground);
    m_phoneControl->setStyleSheet(QStringLiteral(
        "#phoneControl{\n\tbackground: #FFFFFF;\n\tborder-radius: 20px 20px 0px 0px;\n\topacity: 1;\n}\n"
        "#phoneControl #titleWidget{\n\tbackground: #F4F4F4;\n\tborder-radius: 20px 20px 0px 0px;\n}"));
    // Presses on the panel's own surface belong to the panel, not the phone.
    m_phoneControl->installEventFilter(this);

    auto *verticalLayout_3 = new QVBoxLayout(m_phoneControl);
    verticalLayout_3->setObjectName(QStringLiteral("verticalLayout_3"));
    verticalLayout_3->setContentsMargins(1, 1, 1, 1);

    auto *titleWidget = new QWidget(m_phoneControl);
    titleWidget->setObjectName(QStringLiteral("titleWidget"));
    titleWidget->setAttribute(Qt::WA_StyledBackground);
    titleWidget->setMaximumHeight(76);
    auto *horizontalLayout = new QHBoxLayout(titleWidget);
    horizontalLayout->setObjectName(QStringLiteral("horizontalLayout"));
    horizontalLayout->setSpacing(6);
    horizontalLayout->setContentsMargins(12, 12, 12, 12);

    auto *icon = new QLabel(titleWidget);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setFixedSize(52, 52);
    icon->setStyleSheet(QStringLiteral("#icon{\n\tbackground: url(:/image/phone/phoneDetail.png)\n}"));
    horizontalLayout->addWidget(icon);

    auto *verticalLayout = new QVBoxLayout();
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    m_id = new QLabel(titleWidget);
    m_id->setObjectName(QStringLiteral("id"));
    m_id->setMinimumWidth(20);
    verticalLayout->addWidget(m_id);
    m_serverSnLabel = new QLabel(titleWidget);
    m_serverSnLabel->setObjectName(QStringLiteral("serverSn"));
    verticalLayout->addWidget(m_serverSnLabel);
    horizontalLayout->addLayout(verticalLayout);

    horizontalLayout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));

    m_comboBox = new QComboBox(titleWidget);
    m_comboBox->setObjectName(QStringLiteral("comboBox"));
    m_comboBox->addItems({QStringLiteral("自动"), QStringLiteral("高清"), QStringLiteral("标清"), QStringLiteral("流畅")});
    // Typing always goes to the phone, never to the quality choice.
    m_comboBox->setFocusPolicy(Qt::NoFocus);
    horizontalLayout->addWidget(m_comboBox);

    m_screen = panelButton(titleWidget, "screen", QStringLiteral("横竖屏切换"));
    m_screen->setMinimumSize(60, 30);
    m_screen->setMaximumHeight(30);
    horizontalLayout->addWidget(m_screen);

    m_quit = panelButton(titleWidget, "quit", QStringLiteral("退出云机"));
    m_quit->setFixedSize(80, 30);
    horizontalLayout->addWidget(m_quit);
    verticalLayout_3->addWidget(titleWidget);

    auto *widget = new QWidget(m_phoneControl);
    widget->setObjectName(QStringLiteral("widget"));
    widget->setMaximumHeight(200);
    auto *verticalLayout_2 = new QVBoxLayout(widget);
    verticalLayout_2->setObjectName(QStringLiteral("verticalLayout_2"));
    verticalLayout_2->setContentsMargins(9, 0, 9, 0);
    auto *widgetContent = new QWidget(widget);
    widgetContent->setObjectName(QStringLiteral("widgetContent"));
    widgetContent->setMaximumHeight(130);
    auto *horizontalLayout_2 = new QHBoxLayout(widgetContent);
    horizontalLayout_2->setObjectName(QStringLiteral("horizontalLayout_2"));
    horizontalLayout_2->setContentsMargins(9, 0, 9, 0);
    m_reboot = menuButton(widgetContent, "reboot", QStringLiteral(":/image/phone/icon_reboot.png"), QStringLiteral("重启"));
    horizontalLayout_2->addWidget(m_reboot);
    m_reset = menuButton(widgetContent, "reset", QStringLiteral(":/image/phone/icon_reset.png"),
                         QStringLiteral("恢复出厂设置"));
    horizontalLayout_2->addWidget(m_reset);
    m_uploadFile = menuButton(widgetContent, "uploadFile", QStringLiteral(":/image/phone/icon_upload.png"),
                              QStringLiteral("文件上传"));
    horizontalLayout_2->addWidget(m_uploadFile);
    verticalLayout_2->addWidget(widgetContent);
    verticalLayout_3->addWidget(widget);

    m_phoneControl->setGeometry(1, height() - kPanelHeight, width() - 2, kPanelHeight);
    m_phoneControl->raise();
    m_phoneControl->hide();
}

void VideoRender::relayout()
{
    m_lastWidth = width();
    m_lastHeight = height();
    m_content->setGeometry(0, 0, m_lastWidth, m_lastHeight);
    if (!m_hasPicture) {
        m_content->setPixmap(QPixmap(QStringLiteral(":/image/phone/phoneBg.png"))
                                 .scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    m_phoneControl->setGeometry(1, m_lastHeight - kPanelHeight, m_lastWidth - 2, kPanelHeight);
    m_phoneControl->raise();
}

void VideoRender::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_relayoutTimer.start();
}

void VideoRender::setPhoneId(const QString &id)
{
    {
        QMutexLocker lock(&m_idMutex);
        m_phoneId = id;
    }
    m_id->setText(id);
}

QString VideoRender::phoneId() const
{
    QMutexLocker lock(&m_idMutex);
    return m_phoneId;
}

QString VideoRender::serverSn() const
{
    QMutexLocker lock(&m_idMutex);
    return m_serverSn;
}

bool VideoRender::isStopped() const
{
    return m_stopped.load() || m_session.isClosed();
}

bool VideoRender::hasStream() const
{
    return m_session.hasStream();
}

void VideoRender::onGuiThread(std::function<void()> work)
{
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void VideoRender::rememberServerSn(const QString &sn)
{
    {
        QMutexLocker lock(&m_idMutex);
        m_serverSn = sn;
    }
    LOG_INFO() << "VideoRender: SetServerSN: " << sn;
}

void VideoRender::SetServerSN(const QString &sn)
{
    rememberServerSn(sn);
    m_stopped = false;
    const int generation = ++m_generation;
    // The connection data comes back from the request that fetched it, so a
    // phone opened at the same moment elsewhere cannot swap it under us.
    ControlInfo info;
    const bool fetched = Utils::instance()->fetchControlInfo(sn, &info);
    finishOpening(sn, fetched, info, generation);
}

void VideoRender::openServerSN(const QString &sn)
{
    rememberServerSn(sn);
    m_stopped = false;
    const int generation = ++m_generation;
    Async::run(
        this,
        [sn] {
            ControlInfo info;
            const bool fetched = Utils::instance()->fetchControlInfo(sn, &info);
            return std::make_pair(fetched, info);
        },
        [this, sn, generation](const std::pair<bool, ControlInfo> &answer) {
            finishOpening(sn, answer.first, answer.second, generation);
        });
}

void VideoRender::finishOpening(const QString &sn, bool fetched, const ControlInfo &info, int generation)
{
    // Stopped (the window ended) or opened again since this was asked.
    if (generation != m_generation.load() || m_stopped.load())
        return;
    if (fetched) {
        openStream(info);
    } else {
        qDebug() << "VideoRender: 投屏失败,请重试";
        onGuiThread([this] { Toast::instance()->show(2, QStringLiteral("投屏失败,请重试"), this); });
    }
    onGuiThread([this, sn] { m_serverSnLabel->setText(sn); });
}

void VideoRender::openStream(const ControlInfo &info)
{
    SWRuntime::getInstance()->init(3, "./logs");
    if (!info.isComplete()) {
        onGuiThread([this] { Toast::instance()->show(2, QStringLiteral("参数不完整"), this); });
        return;
    }
    LOG_INFO() << "vrinitsdk" << info.padCode << " - " << info.controlIp << " - " << info.controlPort << " - "
               << info.userId << " - " << SecretMask::shorten(info.sessionId);

    m_session.open(info);
}

void VideoRender::stopStream()
{
    m_stopped = true;
    ++m_generation;
    Async::cancel(this);
    m_session.stop();
    close();
}

void VideoRender::resetView()
{
    m_hasPicture = false;
    m_touchState = -1;
    m_phoneControl->hide();
    if (!m_portrait.load()) {
        m_portrait = true;
        setViewSize(viewSize(true).width(), viewSize(true).height());
        emit sizeChange(false);
    }
    relayout();
}

void VideoRender::togglePanel()
{
    m_phoneControl->setVisible(!m_phoneControl->isVisible());
    m_phoneControl->raise();
}

void VideoRender::onFrameReady()
{
    // The buffer holds still only while this hook runs: the library has
    // already scaled the frame to the view, so the picture is a copy (in
    // landscape, turned) made here, and only that copy travels.
    const bool portrait = m_portrait.load();
    QImage picture = m_session.framePicture(viewSize(portrait), portrait ? QTransform() : QTransform().rotate(270));
    m_session.postFrame(std::move(picture), this, [this](QImage frame) { showFrame(std::move(frame)); });
}

void VideoRender::showFrame(QImage frame)
{
    // A frame scaled just before a rotation has the old orientation; the
    // next one will be right, and this one is not worth a wrong picture.
    if ((frame.width() < frame.height()) != m_portrait.load())
        return;
    m_hasPicture = true;
    m_content->setPixmap(QPixmap::fromImage(std::move(frame)));
}

VideoRender::FrameCounters VideoRender::frameCounters() const
{
    return m_session.frames().counters();
}

void VideoRender::rotate()
{
    const bool portrait = !m_portrait.load();
    m_portrait = portrait;
    setViewSize(viewSize(portrait).width(), viewSize(portrait).height());
    // Turn the picture on screen now rather than wait for the phone to send
    // another frame, which it does only when its screen changes.
    if (m_hasPicture) {
        const QPixmap current = m_content->pixmap(Qt::ReturnByValue);
        if (!current.isNull()) {
            const QTransform turn = QTransform().rotate(portrait ? 90 : 270);
            m_content->setPixmap(current.transformed(turn).scaled(StreamLook::pictureSize(portrait),
                                                                  Qt::IgnoreAspectRatio, Qt::FastTransformation));
        }
    }
    if (portrait) {
        resize(500, 790);
        emit sizeChange(false);
    } else {
        resize(900, 400);
        emit sizeChange(true);
    }
}

void VideoRender::confirmServerOrder(bool reset)
{
    qDebug() << (reset ? "reset" : "reboot");
    if (!askServerOrder(reset, this))
        return;

    // The request blocks for a network round trip: off the GUI thread, with
    // the answer coming back here (dropped if the view is gone by then).
    const QStringList serials{serverSn()};
    Async::run(
        this,
        [serials, reset] {
            return reset ? Utils::instance()->resetArmServer(serials) : Utils::instance()->restartArmServer(serials);
        },
        [this, reset](bool accepted) {
            if (!accepted)
                return;
            Toast::instance()->show(0, serverOrderDoneText(reset), this);
            emit closePhoneController();
        });
}

void VideoRender::touch(int action, const QPoint &viewPos)
{
    int x = -1;
    int y = -1;
    float pressure = 0.0f;
    if (action != InputMapping::TouchUp) {
        const QPoint phone =
            InputMapping::toPhone(viewPos, size(), QSize(getSrcWidth(), getSrcHeight()), m_portrait.load());
        x = phone.x();
        y = phone.y();
    }
    m_session.sendTouch(action, &x, &y, &pressure);
    if (action == InputMapping::TouchUp)
        m_touchState = 1;
    emit sendSigleOperateDataVD(QStringLiteral("OnTouchEvent"), action, &x, &y, &pressure);
}

void VideoRender::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    m_touchState = 0;
    touch(InputMapping::TouchDown, event->pos());
    if (!InputMapping::panelSurvivesPress(event->pos(), m_phoneControl->size(), m_portrait.load()))
        m_phoneControl->hide();
}

void VideoRender::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    if (m_touchState != 0)
        return;
    touch(InputMapping::TouchMove, event->pos());
}

void VideoRender::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    touch(InputMapping::TouchUp, event->pos());
}

bool VideoRender::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_phoneControl) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
            event->accept();
            return true;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void VideoRender::sendKey(int key)
{
    if (!m_session.hasStream())
        return;
    int code = Keyboard::GetInstance()->getKeyCode(key);
    // A key the phone has no code for is not a key press at all.
    if (code == 0)
        return;
    const int res = m_session.sendKey(InputMapping::KeyPress, code);
    LOG_INFO() << " enter key: " << key << " and res:" << res;
    emit sendSigleOperateDataVD(QStringLiteral("sendKeyEvent"), InputMapping::KeyPress, &code, nullptr, nullptr);
}

void VideoRender::sendNavigationKey(int which)
{
    int code = InputMapping::navigationKeyCode(which);
    if (code == 0 || !m_session.hasStream())
        return;
    m_session.sendKey(InputMapping::KeyPress, code);
    emit sendSigleOperateDataVD(QStringLiteral("sendKeyEvent"), InputMapping::KeyPress, &code, nullptr, nullptr);
}

void VideoRender::pasteText(const QString &text)
{
    m_session.sendClipboard(text);
}

bool VideoRender::sendText(const QString &text)
{
    if (!m_session.hasStream())
        return false;
    m_session.sendText(text);
    return true;
}

void VideoRender::applyOperation(const QString &otype, int oper, int *datax, int *datay, float *dataf,
                                 const QString &copycontent)
{
    m_session.relay(otype, oper, datax, datay, dataf, copycontent);
}

void VideoRender::onConnected()
{
    LOG_INFO() << "VideoRender: onConnected ";
}

void VideoRender::onReconnecting(int code)
{
    LOG_INFO() << "VideoRender: onReconnecting: " << code;
}

void VideoRender::streamDropped(int code)
{
    // Told on the GUI thread, and only if the stream that dropped is still
    // the one this view shows: a reused window is not closed by the end of
    // its previous opening.
    const int generation = m_generation.load();
    onGuiThread([this, code, generation] {
        if (generation != m_generation.load() || m_stopped.load())
            return;
        emit OnConnectedSignal(QString::number(code), phoneId());
        emit closePhoneController();
    });
}

void VideoRender::onDisconnected(int code)
{
    streamDropped(code);
    LOG_INFO() << "VideoRender: onDisconnected " << code;
}

void VideoRender::onDisconnected(int code, const char *message)
{
    streamDropped(code);
    LOG_INFO() << "VideoRender: onDisconnected " << code << " msg : " << QString::fromUtf8(message ? message : "");
}

void VideoRender::onStatistics(const char *)
{
}
