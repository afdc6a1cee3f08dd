#pragma once

#include "stream/framemailbox.h"

#include <QImage>
#include <QMutex>
#include <QWaitCondition>
#include <QString>
#include <QTransform>

#include <functional>
#include <memory>

class QObject;
class SWDataSource;
class SWDataSourceListener;
class SWPlayer;
class VideoDisplayWinBase;
struct ControlInfo;

// One phone stream as a view holds it: the player, its data source and the
// mailbox that carries frames to the GUI thread, opened and stopped under
// one lock. No widgets: the view is the display and the listener and keeps
// everything on screen; the session keeps everything on the wire.
//
// All input to the phone goes through send*() and relay(), so anything
// that forwards input (a second view, group control) reaches a phone the
// same way the view's own mouse and keys do.
class StreamSession final
{
public:
    // Frames a second asked of the phone: 30 for a control window, 1 for a
    // card's preview. The view tells the display its own size
    // (VideoDisplayWinBase::setViewSize), so pictures arrive at that size.
    StreamSession(VideoDisplayWinBase *display, SWDataSourceListener *listener, int framesPerSecond);
    // Stops the stream: once this returns no frame or notification reaches
    // the view.
    ~StreamSession();

    // Starts the stream with a phone's connection data (complete, see
    // ControlInfo::isComplete()); a running stream is replaced. False, and
    // nothing started, once close() was called. Any thread.
    bool open(const ControlInfo &info);
    // Ends the stream and drops the waiting frame; a later open() starts a
    // new one. Any thread but the library's.
    void stop();
    // As stop(), but the library's threads are joined on a thread of the
    // process's own: the caller (the GUI thread) does not wait for them.
    // Until that is done the old stream may still hand the view a frame;
    // close() and the destructor wait for it. GUI thread.
    void stopInBackground();
    // As stop(), and no stream ever starts again.
    void close();
    bool isClosed() const;
    bool hasStream() const;

    // Closes every session of the process (the end of the process: no
    // library thread may outlive the application object). GUI thread.
    static void closeAll();

    // Input. Each does nothing without a stream and returns the library's
    // answer (0 for success), or -1 without a stream.
    int sendTouch(int action, int *x, int *y, float *pressure);
    int sendKey(int action, int code);
    // Puts text on the phone's clipboard; a refusal is logged.
    int sendClipboard(const QString &text);
    // Types text into the phone's focused field; a refusal is logged (its
    // length only: what is typed may be a password).
    int sendText(const QString &text);
    // Repeats a forwarded operation record ("OnTouchEvent", "sendKeyEvent",
    // "copyContent", "sendText"). The arrays belong to the sender; missing ones are
    // skipped, not read. False without a stream.
    bool relay(const QString &otype, int oper, int *datax, int *datay, float *dataf, const QString &copycontent);
    void setVideoLevel(int level);

    // The frame just decoded into the display, as an image over its buffer:
    // valid only inside the display's frame hook.
    QImage decodedFrame() const;
    // The frame just decoded, as an opaque picture of the given size that
    // the caller owns, then turned (a quarter turn for a landscape view).
    // The library normally converted it at that size already and this is a
    // plain copy (or the turn); a frame converted just before the view's
    // size changed is scaled here. Only inside the frame hook.
    QImage framePicture(QSize size, const QTransform &turn = QTransform()) const;
    // From the frame hook: hands a picture to the receiver's thread, where
    // `show` gets the newest one waiting; older ones still waiting are
    // replaced. Nothing arrives once the receiver is gone.
    void postFrame(QImage picture, QObject *receiver, std::function<void(QImage)> show);

    FrameMailbox &frames() { return m_frames; }
    const FrameMailbox &frames() const { return m_frames; }

private:
    Q_DISABLE_COPY_MOVE(StreamSession)

    std::shared_ptr<SWDataSource> dataSource() const;
    void stopAndMaybeClose(bool close);

    VideoDisplayWinBase *const m_display;
    SWDataSourceListener *const m_listener;
    const int m_framesPerSecond;

    mutable QMutex m_mutex;
    std::shared_ptr<SWPlayer> m_player;
    std::shared_ptr<SWDataSource> m_dataSource;
    bool m_closed = false;
    // Streams of this view still being stopped in the background.
    int m_stopping = 0;
    QWaitCondition m_stopped;

    // Only the newest frame waits for the GUI thread; an older one still
    // waiting is replaced, so a slow paint never builds a queue.
    FrameMailbox m_frames;
};
