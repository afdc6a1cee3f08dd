#include "stream/videorendermini.h"

#include "api/secretmask.h"
#include "app/appevent.h"
#include "app/logger.h"
#include "platform/swplay/swdatasource.h"
#include "platform/swplay/swplayer.h"
#include "platform/swplay/swruntime.h"
#include "stream/inputmapping.h"
#include "stream/operationrelay.h"
#include "widgets/toast.h"

#include <QGridLayout>
#include <QLabel>
#include <QPixmap>

namespace {

constexpr int kFrameWidth = 720;
constexpr int kFrameHeight = 1280;

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

    setDstFormat(-1, kFrameWidth, kFrameHeight, 0);

    m_relayoutTimer.setInterval(2000);
    m_relayoutTimer.setSingleShot(true);
    connect(&m_relayoutTimer, &QTimer::timeout, this, &VideoRenderMini::relayout);

    showPlaceholder();
}

VideoRenderMini::~VideoRenderMini()
{
    // Only this preview's stream ends here: the runtime stays up for the
    // other previews and the control windows.
    std::shared_ptr<SWPlayer> player;
    {
        QMutexLocker lock(&m_stateMutex);
        player = std::move(m_player);
        m_dataSource.reset();
    }
    if (player)
        player->stop();
}

void VideoRenderMini::showPlaceholder()
{
    m_content->setPixmap(placeholder());
}

void VideoRenderMini::stopPreview()
{
    std::shared_ptr<SWPlayer> player;
    {
        QMutexLocker lock(&m_stateMutex);
        player = std::move(m_player);
        m_dataSource.reset();
    }
    if (player)
        player->stop();
    // A frame decoded just before the stop must not cover the placeholder.
    m_frames.clear();
    showPlaceholder();
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

    const auto levels = InputMapping::videoLevels();
    auto player = std::make_shared<SWPlayer>();
    auto source = std::make_shared<SWDataSource>(player->getId(), this);
    const QByteArray ip = info.controlIp.toUtf8();
    const QByteArray session = info.sessionId.toUtf8();
    const QByteArray pad = info.padCode.toUtf8();
    source->setLoginParams(ip.constData(), quint16(info.controlPort), info.userId, session.constData(),
                           pad.constData(), 0);
    // One picture a second is plenty for a thumbnail.
    source->setPlayParams("", -1, 0, 0, 1, 1, 512, 0, -1, -1, 3, 1, 0);
    source->setVideoLevels(levels.data(), int(levels.size()));
    source->setVideoLevel(1);
    source->setBusinessType(1);

    std::shared_ptr<SWPlayer> previous;
    {
        QMutexLocker lock(&m_stateMutex);
        m_title = title;
        previous = std::move(m_player);
        m_player = player;
        m_dataSource = source;
    }
    // The old stream is stopped outside the lock: its last notifications
    // read the title under it.
    if (previous)
        previous->stop();
    player->setDataSource(source);
    player->setDisplay(this);
    player->start();
}

bool VideoRenderMini::hasStream() const
{
    return dataSource() != nullptr;
}

std::shared_ptr<SWDataSource> VideoRenderMini::dataSource() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_dataSource;
}

QString VideoRenderMini::title() const
{
    QMutexLocker lock(&m_stateMutex);
    return m_title;
}

void VideoRenderMini::applyOperation(const QString &otype, int oper, int *datax, int *datay, float *dataf,
                                     const QString &copycontent)
{
    const auto source = dataSource();
    if (!source)
        return;
    applyRelayedOperation(*source, otype, oper, datax, datay, dataf, copycontent);
}

void VideoRenderMini::onFrameReady()
{
    // The buffer holds still only while this hook runs: the thumbnail is
    // made here, on the library's thread, and only that small copy travels.
    const QImage frame(getFrameBuffer(), getDstWidth(), getDstHeight(), getDstWidth() * 4, QImage::Format_ARGB32);
    QImage scaled = frame.scaled(PictureSize, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    // Decoded frames are opaque; saying so spares the pixmap a premultiplying pass.
    if (scaled.format() == QImage::Format_ARGB32)
        scaled.reinterpretAsFormat(QImage::Format_RGB32);
    if (m_frames.put(std::move(scaled)))
        QMetaObject::invokeMethod(this, &VideoRenderMini::showPendingFrame, Qt::QueuedConnection);
}

void VideoRenderMini::showPendingFrame()
{
    QImage frame = m_frames.take();
    if (frame.isNull())
        return;
    m_content->setPixmap(QPixmap::fromImage(std::move(frame)));
}

VideoRenderMini::FrameCounters VideoRenderMini::frameCounters() const
{
    return m_frames.counters();
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
    LOG_INFO() << "vrm onConnected: ";
}

void VideoRenderMini::onReconnecting(int code)
{
    LOG_INFO() << "vrm onReconnecting: " << code;
}

void VideoRenderMini::onDisconnected(int code)
{
    LOG_INFO() << title() << "vrm onDisconnected1: " << code;
}

void VideoRenderMini::onDisconnected(int code, const char *message)
{
    LOG_INFO() << title() << " vrm onDisconnected2: " << code << "---" << disconnectReason(code) << "---"
               << QString::fromUtf8(message ? message : "");
}

void VideoRenderMini::onStatistics(const char *)
{
}
