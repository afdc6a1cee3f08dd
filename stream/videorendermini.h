#pragma once

#include "platform/swplay/swdatasourcelistener.h"
#include "platform/swplay/videodisplaywinbase.h"
#include "stream/streamsession.h"

#include <QImage>
#include <QMutex>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <atomic>


class QGridLayout;
class QLabel;
struct ControlInfo;

// The small live picture of one phone on its card: its own low-rate stream,
// every frame shown at 100 x 170, no input of its own, but it carries out
// the operations group control relays to its phone. Frames and
// notifications arrive on library threads; only the pixmap is applied here,
// on the GUI thread.
class VideoRenderMini final : public QWidget, public VideoDisplayWinBase, public SWDataSourceListener
{
    Q_OBJECT

public:
    static constexpr QSize PictureSize{100, 170};

    using FrameCounters = FrameMailbox::Counters;

    explicit VideoRenderMini(QWidget *parent = nullptr);
    // Stops this preview's own stream only; every other stream of the
    // process goes on.
    ~VideoRenderMini() override;

    void showPlaceholder();
    // Ends this preview's stream and shows the placeholder; relayed
    // operations do nothing until the next openPreview().
    void stopPreview();
    // Ends this preview's stream but leaves its last picture on the card,
    // so a card that comes back into view shows it until the next start
    // paints a new one. Returns at once; the stream's threads end in the
    // background (the view's end waits for them).
    void pausePreview();
    // Starts the stream with the connection data the caller has just
    // fetched for this phone; title only names the phone in log lines. A
    // new start replaces the running stream. GUI thread.
    void openPreview(const QString &title, const ControlInfo &info);
    // Carries out a relayed operation record on this preview's phone; does
    // nothing before a stream was opened. GUI thread.
    // True when the record went out on a stream.
    bool applyOperation(const QString &otype, int oper, int *datax, int *datay, float *dataf,
                        const QString &copycontent);
    // While held the card shows the placeholder but the stream goes on, so
    // relayed operations still reach the phone; released, frames show again.
    void setPictureHeld(bool held);
    bool isPictureHeld() const { return m_pictureHeld; }

    bool hasStream() const;
    // A stream is open and has not been dropped by the phone since.
    bool isLive() const;
    FrameCounters frameCounters() const;
    // The reason written beside a disconnect code in the log.
    static QString disconnectReason(int code);

    // Library hooks, called on library threads.
    void onFrameReady() override;
    void onConnected() override;
    void onReconnecting(int code) override;
    void onDisconnected(int code) override;
    void onDisconnected(int code, const char *message) override;
    void onStatistics(const char *json) override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    Q_DISABLE_COPY_MOVE(VideoRenderMini)

    void relayout();
    void showFrame(QImage frame);
    QString title() const;

    // The generated widget tree.
    QGridLayout *m_gridLayout = nullptr;
    QLabel *m_content = nullptr;

    QTimer m_relayoutTimer;
    bool m_pictureHeld = false;
    std::atomic<bool> m_lost{false};

    // Written on the GUI thread, read by library threads.
    mutable QMutex m_titleMutex;
    QString m_title;

    // Last member: it goes first, so no library thread reaches a view
    // whose other members are gone.
    StreamSession m_session{this, this, 1};
};
