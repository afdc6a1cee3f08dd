#pragma once

#include "platform/swplay/swdatasourcelistener.h"
#include "platform/swplay/videodisplaywinbase.h"
#include "stream/streamsession.h"

#include <QMap>
#include <QImage>
#include <QMutex>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>

class ClickableLabel;
class MenuButton;
class QComboBox;
class QLabel;
struct ControlInfo;

// The live screen of one cloud phone inside its control window, with the
// pop-up control panel. Frames and stream notifications arrive on library
// threads; everything that touches a widget is handed to the GUI thread.
class VideoRender final : public QWidget, public VideoDisplayWinBase, public SWDataSourceListener
{
    Q_OBJECT

public:
    // Opens the upload window for {phone id: server SN}, centred on anchor.
    // The upload window lives above this library, so its owner installs this.
    using UploadOpener = std::function<void(const QMap<QString, QString> &targets, QWidget *anchor)>;
    static void setUploadOpener(UploadOpener opener);
    // Files dropped on the view are queued for this phone; installed by main.cpp.
    using FileDropHandler = std::function<void(const QString &phoneName, const QString &serverSn,
                                               const QStringList &paths, QWidget *anchor)>;
    static void setFileDropHandler(FileDropHandler handler);

    using FrameCounters = FrameMailbox::Counters;

    explicit VideoRender(QWidget *parent = nullptr);
    ~VideoRender() override;

    void setPhoneId(const QString &id);
    QString phoneId() const;
    QString serverSn() const;
    // Fetches the phone's connection data and starts its stream. Blocks for
    // the backend request: call it on a worker thread.
    void SetServerSN(const QString &sn);
    // The same without blocking the caller: the request runs on a worker and
    // the stream starts here when the answer comes, unless the view was
    // stopped or destroyed meanwhile. GUI thread.
    void openServerSN(const QString &sn);
    void togglePanel();
    // Back to how a new view looks (portrait, background picture, panel
    // hidden), for a control window opened again.
    void resetView();
    // Stops the player (if one was started) and closes the view. A stream
    // still being opened on the worker thread is not started afterwards,
    // and no notification of the stopped stream reaches the window. A later
    // openServerSN() starts afresh (a control window is reused).
    void stopStream();

    // Input, all on the GUI thread.
    void sendKey(int key);
    void sendNavigationKey(int which);
    void pasteText(const QString &text);
    // Typed text for the phone's focused field; false when no stream runs.
    bool sendText(const QString &text);
    void applyOperation(const QString &otype, int oper, int *datax, int *datay, float *dataf,
                        const QString &copycontent);

    bool isPortrait() const { return m_portrait.load(); }
    bool hasStream() const;
    // True from stopStream() until the next opening.
    bool isStopped() const;
    FrameCounters frameCounters() const;

    // Library hooks, called on library threads.
    void onFrameReady() override;
    void onConnected() override;
    void onReconnecting(int code) override;
    // Either one closes the control window with a toast naming the code.
    void onDisconnected(int code) override;
    void onDisconnected(int code, const char *message) override;
    void onStatistics(const char *json) override;

signals:
    void exitVideoRender();
    void sizeChange(bool isVertical);
    void closePhoneController();
    void OnConnectedSignal(QString res, QString id);
    void sendSigleOperateDataVD(QString otype, int oper, int *datax, int *datay, float *dataf);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Q_DISABLE_COPY_MOVE(VideoRender)

    void setupUi();
    void relayout();
    void rememberServerSn(const QString &sn);
    void finishOpening(const QString &sn, bool fetched, const ControlInfo &info, int generation);
    void streamDropped(int code);
    void openStream(const ControlInfo &info);
    void showFrame(QImage frame);
    void rotate();
    void confirmServerOrder(bool reset);
    void touch(int action, const QPoint &viewPos);
    // Runs a widget update on the GUI thread, from any thread.
    void onGuiThread(std::function<void()> work);

    // The generated widget tree.
    QLabel *m_content = nullptr;
    QWidget *m_phoneControl = nullptr;
    QLabel *m_id = nullptr;
    QLabel *m_serverSnLabel = nullptr;
    QComboBox *m_comboBox = nullptr;
    ClickableLabel *m_screen = nullptr;
    ClickableLabel *m_quit = nullptr;
    MenuButton *m_reboot = nullptr;
    MenuButton *m_reset = nullptr;
    MenuButton *m_uploadFile = nullptr;

    QTimer m_relayoutTimer;
    int m_lastWidth = 0;
    int m_lastHeight = 0;
    int m_touchState = -1; // -1 never touched, 0 down, 1 released
    std::atomic<bool> m_portrait{true};

    bool m_hasPicture = false;
    // One per opening: answers and notifications of an older one are dropped.
    std::atomic<int> m_generation{0};
    std::atomic<bool> m_stopped{false};

    // Written by the opening worker and read by library threads.
    mutable QMutex m_idMutex;
    QString m_serverSn;
    QString m_phoneId;

    // Last member: it goes first, so no library thread reaches a view
    // whose other members are gone.
    StreamSession m_session{this, this, 30};
};
