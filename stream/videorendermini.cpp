#include "stream/videorendermini.h"

#include "api/secretmask.h"
#include "app/appevent.h"
#include "app/logger.h"
#include "platform/swplay/swruntime.h"
#include "widgets/toast.h"

#include <QGridLayout>
#include <QLabel>
#include <QPixmap>

namespace {

QPixmap placeholder()
{
    return QPixmap(QStringLiteral(":/image/phone/PhoneState_Recovy.png"))
        .scaled(VideoRenderMini::PictureSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace

VideoRenderMini::VideoRenderMini(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("VideoRenderMini"));
    setGeometry(0, 0, 100, 170);

    m_gridLayout = new QGridLayout(this);
    m_gridLayout->setObjectName(QStringLiteral("gridLayout"));
    m_gridLayout->setSpacing(1);
    m_gridLayout->setContentsMargins(7, 1, 1, 1);
    m_content = new QLabel(this);
    m_content->setObjectName(QStringLiteral("Content"));
    m_gridLayout->addWidget(m_content, 0, 0);

    // Pictures arrive at the card's size: a preview never holds a full frame.
    setViewSize(PictureSize.width(), PictureSize.height());

    m_relayoutTimer.setInterval(2000);
    m_relayoutTimer.setSingleShot(true);
    connect(&m_relayoutTimer, &QTimer::timeout, this, &VideoRenderMini::relayout);

    showPlaceholder();
}

// Only this preview's stream ends (with the session): the runtime stays
// up for the other previews and the control windows.
VideoRenderMini::~VideoRenderMini() = default;

void VideoRenderMini::showPlaceholder()
{
    m_content->setPixmap(placeholder());
}

void VideoRenderMini::stopPreview()
{
    m_session.stop();
    showPlaceholder();
}

void VideoRenderMini::pausePreview()
{
    // Off the GUI thread: a row of cards scrolled away would otherwise
    // stall it once per stream.
    m_session.stopInBackground();
}

void VideoRenderMini::openPreview(const QString &title, const ControlInfo &info)
{
    SWRuntime::getInstance()->init(3, "./logs");
    if (!info.isComplete()) {
        Toast::instance()->show(2, QStringLiteral("参数不完整"), this);
        return;
    }
    LOG_INFO() << "mimiinitsdk" << info.padCode << " - " << title << " - " << info.controlIp << " - "
               << info.controlPort << " - " << info.userId << " - " << SecretMask::shorten(info.sessionId);
    {
        QMutexLocker lock(&m_titleMutex);
        m_title = title;
    }
    m_lost = false;
    m_session.open(info);
}

bool VideoRenderMini::hasStream() const
{
    return m_session.hasStream();
}

QString VideoRenderMini::title() const
{
    QMutexLocker lock(&m_titleMutex);
    return m_title;
}

bool VideoRenderMini::applyOperation(const QString &otype, int oper, int *datax, int *datay, float *dataf,
                                     const QString &copycontent)
{
    return m_session.relay(otype, oper, datax, datay, dataf, copycontent);
}

void VideoRenderMini::setPictureHeld(bool held)
{
    m_pictureHeld = held;
    if (held)
        showPlaceholder();
}

bool VideoRenderMini::isLive() const
{
    return m_session.hasStream() && !m_lost.load();
}

void VideoRenderMini::onFrameReady()
{
    // The buffer holds still only while this hook runs: the library has
    // already scaled the picture to the card's size, and only a copy travels.
    m_session.postFrame(m_session.framePicture(PictureSize), this,
                        [this](QImage picture) { showFrame(std::move(picture)); });
}

void VideoRenderMini::showFrame(QImage frame)
{
    if (m_pictureHeld)
        return;
    m_content->setPixmap(QPixmap::fromImage(std::move(frame)));
}

VideoRenderMini::FrameCounters VideoRenderMini::frameCounters() const
{
    return m_session.frames().counters();
}

void VideoRenderMini::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_relayoutTimer.start();
}

void VideoRenderMini::relayout()
{
    m_content->setGeometry(7, 0, width(), height());
    update();
}

QString VideoRenderMini::disconnectReason(int code)
{
    switch (code) {
    case 0x30005:
        return QStringLiteral("被其他人踢掉");
    case 0x30006:
        return QStringLiteral("无操作超时断开");
    case 0x3000D:
        return QStringLiteral("session失效");
    case 0x300C9:
        return QStringLiteral("控制服务拒绝连接 串号");
    default:
        return QStringLiteral("*********");
    }
}

void VideoRenderMini::onConnected()
{
    m_lost = false;
    LOG_INFO() << "vrm onConnected: ";
}

void VideoRenderMini::onReconnecting(int code)
{
    LOG_INFO() << "vrm onReconnecting: " << code;
}

void VideoRenderMini::onDisconnected(int code)
{
    m_lost = true;
    LOG_INFO() << title() << "vrm onDisconnected1: " << code;
}

void VideoRenderMini::onDisconnected(int code, const char *message)
{
    m_lost = true;
    LOG_INFO() << title() << " vrm onDisconnected2: " << code << "---" << disconnectReason(code) << "---"
               << QString::fromUtf8(message ? message : "");
}

void VideoRenderMini::onStatistics(const char *)
{
}
