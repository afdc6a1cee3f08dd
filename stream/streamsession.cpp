#include "stream/streamsession.h"

#include "app/appevent.h"
#include "app/logger.h"
#include "app/memoryrelease.h"
#include "platform/swplay/swdatasource.h"
#include "platform/swplay/swplayer.h"
#include "platform/swplay/videodisplaywinbase.h"
#include "stream/streamlook.h"

#include <QElapsedTimer>
#include <QObject>
#include <QRunnable>
#include <QSet>
#include <QThreadPool>

#include <atomic>

namespace {

// Every live session, so the end of the process can close them all.
struct Sessions
{
    QMutex mutex;
    QSet<StreamSession *> all;
};

Sessions &sessions()
{
    // Never destroyed: a view may still go after the statics.
    static Sessions *s = new Sessions;
    return *s;
}

// Joins the threads of stopped streams off the GUI thread. Never destroyed:
// a stop may still run while the process ends (closeAll waits for it).
QThreadPool &stopper()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(1);
        p->setExpiryTimeout(10000);
        return p;
    }();
    return *pool;
}

// Stops queued on the stopper, of every session.
std::atomic<int> queuedStops{0};

// Gives freed stream memory back once the stopper's queue is empty, at most
// once a second: a trim walks every arena, and a scroll ends a row of
// previews every few hundred milliseconds. Stopper thread only.
void releaseAfterStops()
{
    static QElapsedTimer lastRelease;
    if (lastRelease.isValid() && lastRelease.elapsed() < 1000)
        return;
    MemoryRelease::releaseFreed();
    lastRelease.start();
}

} // namespace

StreamSession::StreamSession(VideoDisplayWinBase *display, SWDataSourceListener *listener, int framesPerSecond)
    : m_display(display)
    , m_listener(listener)
    , m_framesPerSecond(framesPerSecond)
{
    QMutexLocker lock(&sessions().mutex);
    sessions().all.insert(this);
}

StreamSession::~StreamSession()
{
    {
        QMutexLocker lock(&sessions().mutex);
        sessions().all.remove(this);
    }
    close();
}

void StreamSession::closeAll()
{
    // Held while closing, so no session is destroyed halfway through.
    QMutexLocker lock(&sessions().mutex);
    for (StreamSession *session : qAsConst(sessions().all))
        session->close();
}

bool StreamSession::open(const ControlInfo &info)
{
    const auto levels = StreamLook::videoLevels();
    auto player = std::make_shared<SWPlayer>();
    auto source = std::make_shared<SWDataSource>(player->getId(), m_listener);
    const QByteArray ip = info.controlIp.toUtf8();
    const QByteArray session = info.sessionId.toUtf8();
    const QByteArray pad = info.padCode.toUtf8();
    source->setLoginParams(ip.constData(), quint16(info.controlPort), info.userId, session.constData(),
                           pad.constData(), 0);
    source->setPlayParams("", -1, 0, 0, m_framesPerSecond, m_framesPerSecond, 512, 0, -1, -1, 3, 1, 0);
    source->setVideoLevels(levels.data(), int(levels.size()));
    source->setVideoLevel(1);
    source->setBusinessType(1);

    std::shared_ptr<SWPlayer> previous;
    {
        // Starting is quick (the library connects in the background); doing
        // it under the lock means a view closed meanwhile never gets a stream.
        QMutexLocker lock(&m_mutex);
        if (m_closed)
            return false;
        previous = std::move(m_player);
        m_player = player;
        m_dataSource = source;
        player->setDataSource(source);
        player->setDisplay(m_display);
        player->start();
    }
    // The old stream is stopped outside the lock: its last notifications
    // may read the view's state, which takes this lock.
    if (previous)
        previous->stop();
    return true;
}

void StreamSession::stop()
{
    stopAndMaybeClose(false);
}

void StreamSession::close()
{
    stopAndMaybeClose(true);
}

void StreamSession::stopInBackground()
{
    std::shared_ptr<SWPlayer> player;
    {
        QMutexLocker lock(&m_mutex);
        player = std::move(m_player);
        m_dataSource.reset();
        if (player)
            ++m_stopping;
    }
    m_frames.clear();
    if (!player)
        return;
    ++queuedStops;
    stopper().start(QRunnable::create([this, player = std::move(player)]() mutable {
        player->stop();
        player.reset();
        // Otherwise the decoders' memory would stay with the arenas of the
        // threads that freed it.
        if (--queuedStops == 0)
            releaseAfterStops();
        QMutexLocker lock(&m_mutex);
        if (--m_stopping == 0)
            m_stopped.wakeAll();
    }));
}

void StreamSession::stopAndMaybeClose(bool close)
{
    std::shared_ptr<SWPlayer> player;
    {
        QMutexLocker lock(&m_mutex);
        if (close)
            m_closed = true;
        player = std::move(m_player);
        m_dataSource.reset();
    }
    if (player)
        player->stop();
    if (close) {
        // No stream of this view may outlive it, also one being stopped
        // in the background.
        QMutexLocker lock(&m_mutex);
        while (m_stopping > 0)
            m_stopped.wait(&m_mutex);
    }
    // A frame decoded just before the stop must not show afterwards.
    m_frames.clear();
}

bool StreamSession::isClosed() const
{
    QMutexLocker lock(&m_mutex);
    return m_closed;
}

bool StreamSession::hasStream() const
{
    return dataSource() != nullptr;
}

std::shared_ptr<SWDataSource> StreamSession::dataSource() const
{
    QMutexLocker lock(&m_mutex);
    return m_dataSource;
}

int StreamSession::sendTouch(int action, int *x, int *y, float *pressure)
{
    const auto source = dataSource();
    return source ? source->sendTouchEvent(action, 1, x, y, pressure) : -1;
}

int StreamSession::sendKey(int action, int code)
{
    const auto source = dataSource();
    return source ? source->sendKeyEvent(action, code) : -1;
}

int StreamSession::sendClipboard(const QString &text)
{
    const auto source = dataSource();
    if (!source)
        return -1;
    const QByteArray bytes = text.toUtf8();
    const int result = source->copyToRemote(bytes.constData(), bytes.size());
    if (result != 0) {
        LOG_WARN() << "粘贴内容失败!!!";
    }
    return result;
}

int StreamSession::sendText(const QString &text)
{
    const auto source = dataSource();
    if (!source)
        return -1;
    const QByteArray bytes = text.toUtf8();
    const int result = source->sendText(bytes.constData(), bytes.size());
    if (result != 0) {
        LOG_WARN() << "text input failed:" << result << "characters:" << text.size();
    }
    return result;
}

bool StreamSession::relay(const QString &otype, int oper, int *datax, int *datay, float *dataf,
                          const QString &copycontent)
{
    const auto source = dataSource();
    if (!source)
        return false;
    if (otype == QLatin1String("OnTouchEvent") && datax && datay && dataf)
        source->sendTouchEvent(oper, 1, datax, datay, dataf);
    if (otype == QLatin1String("sendKeyEvent") && datax && datax[0] != 0)
        source->sendKeyEvent(oper, datax[0]);
    if (otype == QLatin1String("copyContent"))
        sendClipboard(copycontent);
    if (otype == QLatin1String("sendText") && !copycontent.isEmpty())
        sendText(copycontent);
    return true;
}

void StreamSession::setVideoLevel(int level)
{
    if (const auto source = dataSource())
        source->setVideoLevel(level);
}

QImage StreamSession::decodedFrame() const
{
    const int width = m_display->getDstWidth();
    return QImage(m_display->getFrameBuffer(), width, m_display->getDstHeight(), width * 4, QImage::Format_ARGB32);
}

QImage StreamSession::framePicture(QSize size, const QTransform &turn) const
{
    // Decoded frames are opaque; saying so spares the pixmap a premultiplying pass.
    const int width = m_display->getDstWidth();
    const QImage frame(m_display->getFrameBuffer(), width, m_display->getDstHeight(), width * 4,
                       QImage::Format_RGB32);
    if (frame.size() != size)
        return frame.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation).transformed(turn);
    return turn.isIdentity() ? frame.copy() : frame.transformed(turn);
}

void StreamSession::postFrame(QImage picture, QObject *receiver, std::function<void(QImage)> show)
{
    if (!m_frames.put(std::move(picture)))
        return;
    QMetaObject::invokeMethod(
        receiver,
        [this, show = std::move(show)] {
            QImage newest = m_frames.take();
            if (!newest.isNull())
                show(std::move(newest));
        },
        Qt::QueuedConnection);
}
