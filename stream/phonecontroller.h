#pragma once

#include "widgets/draggablewidget.h"

#include <QString>

class ClickableLabel;
class QLabel;
class TitleWidget;
class VideoRender;

// The window in which the user operates one cloud phone: header, title bar,
// the live screen and the Android keys. Every way it ends (title bar, window
// manager, "退出云机", a disconnect, a reboot or reset) takes one path: the
// stream stops, the window hides and reloadSDK() tells the card. The card
// reuses the hidden window the next time the phone is opened.
class PhoneController final : public DraggableWidget
{
    Q_OBJECT

public:
    explicit PhoneController(QWidget *parent = nullptr);
    ~PhoneController() override;

    void setCurrentId(const QString &id);
    void setCurrentTime(const QString &text);
    // Opens the stream on a worker thread, so the window shows at once.
    // Also reopens an ended window, which then asks for its control status
    // a second later, as a new window does after construction.
    void startStream(const QString &sn);
    // The one ending path. phoneLost: the phone's streams are gone (a
    // disconnect, reboot or reset), so the card's preview must start anew.
    void finish(bool phoneLost);
    bool hasEnded() const { return m_ended; }
    bool endedByPhone() const { return m_endedByPhone; }
    // Group control: how many phones the last record of this window reached.
    void showRelayReach(int phones);

    int controlStatus() const { return m_controlStatus; }
    VideoRender *videoRender() const { return m_videoRender; }

    // Text typed for the phone (a key's characters or an input method's
    // commit): sent, then announced as a "sendText" record.
    void typeText(const QString &text);

public slots:
    void setControlStatus(int status);
    void bringToFront();
    bool isShown() const;
    void applyOperation(const QString &otype, int oper, int *datax, int *datay, float *dataf,
                        const QString &copycontent);

signals:
    void sendSigleOperateDataPC(QString otype, int oper, int *datax, int *datay, float *dataf, int mstatus,
                                QString copycontent);
    int getMachineControlStatusPC(int status);
    void reloadSDK();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    // The window manager's close (Alt+F4) ends the window like the title bar.
    void closeEvent(QCloseEvent *event) override;
    // The window takes input methods (pinyin, kana, emoji pickers): their
    // commits reach the phone as text.
    void inputMethodEvent(QInputMethodEvent *event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

private:
    Q_DISABLE_COPY_MOVE(PhoneController)

    void setupUi();
    void queryControlStatus();
    void showControlStatus();
    void paste();

    // The generated widget tree.
    QWidget *m_header = nullptr;
    ClickableLabel *m_icon = nullptr;
    QLabel *m_currentId = nullptr;
    QLabel *m_currentTime = nullptr;
    ClickableLabel *m_mcl = nullptr;
    ClickableLabel *m_pasteBtn = nullptr;
    TitleWidget *m_titleWidget = nullptr;
    VideoRender *m_videoRender = nullptr;
    QWidget *m_sysMenu = nullptr;
    ClickableLabel *m_backControl = nullptr;
    ClickableLabel *m_homeControl = nullptr;
    ClickableLabel *m_menuControl = nullptr;

    int m_controlStatus = -1;
    bool m_ended = false;
    bool m_endedByPhone = false;
};
