#pragma once

#include "phones/previewstarter.h"
#include "phones/previewwatcher.h"
#include "stream/phonecontroller.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class ClickableLabel;
class MainWindow;
class QCheckBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;
class VideoRenderMini;
struct ControlInfo;

// One phone on the phone page: check box, reload icon, live preview,
// remaining time and title; hovering shows "进入云机", which opens the phone
// in its control window. The card is the link between that window and the
// main window's group control. Cards are made by the list build and go with
// the next rebuild; the control windows they opened stay.
class PhoneDetail final : public QWidget, public WatchedPreview
{
    Q_OBJECT

public:
    // Writes the configuration file for the phone and pushes it to the
    // phone in the background: server_sn, sid, idc_id, idc_sn, order_sn,
    // serid. Installed by the client's wiring; without one, entering a
    // phone pushes nothing.
    using ConfigPusher = std::function<void(const QString &serverSn, int sid, int idcId, const QString &idcSn,
                                            const QString &orderSn, int serid)>;
    static void setConfigPusher(ConfigPusher pusher);

    explicit PhoneDetail(QWidget *parent = nullptr);
    ~PhoneDetail() override;

    void setRemainingText(const QString &text);
    QString remainingText() const { return m_remainingText; }
    void setOpStatus(int status);
    int opStatus() const { return m_opStatus; }
    // A rental ending within a day: the remaining time shows in orange and
    // a click on it opens the purchase page to renew this phone.
    void setEndsSoon(bool endsSoon);
    bool endsSoon() const { return m_endsSoon; }
    void setTitle(const QString &title);
    QString title() const { return m_title; }
    void setServerSn(const QString &serverSn);
    QString serverSn() const { return m_serverSn; }
    void setChecked(Qt::CheckState state);
    Qt::CheckState checkState() const;
    void setSid(int sid) { m_sid = sid; }
    int sid() const { return m_sid; }
    void setIdcId(int idcId) { m_idcId = idcId; }
    int idcId() const { return m_idcId; }
    void setIdcSn(const QString &idcSn) { m_idcSn = idcSn; }
    QString idcSn() const { return m_idcSn; }
    void setOrderSn(const QString &orderSn) { m_orderSn = orderSn; }
    QString orderSn() const { return m_orderSn; }
    void setSerid(int serid) { m_serid = serid; }
    int serid() const { return m_serid; }
    void setOwner(MainWindow *owner) { m_owner = owner; }
    // Where startPreview() queues its background start.
    void setPreviewStarter(PreviewStarter *starter) { m_starter = starter; }
    // The watcher that decides when this card's preview streams; without
    // one the card restarts its preview itself when its window ends.
    void setPreviewWatcher(PreviewWatcher *watcher) { m_watcher = watcher; }

    // Fetches the phone's connection data off the GUI thread and then opens
    // the preview here; a failed fetch leaves the picture as it is. A start
    // still waiting for this card is replaced.
    void startPreview();

    // The watcher's side (see PreviewWatcher).
    QString watchedServerSn() const override { return m_serverSn; }
    Phase previewPhase() const override;
    void resumePreview(bool onScreen) override;
    void dropWaitingStart() override;
    void pausePreview() override;
    // Group control: a master's record carried out on this phone, always
    // through the preview's own stream, which runs whether or not the
    // control window is open; true when it went out.
    bool relayOperation(const QString &otype, int oper, int *datax, int *datay, float *dataf,
                        const QString &copycontent);
    void setMachineControlStatus(int status);
    // The server_sn while this card's control window is open, else "-1".
    QString openWindowId();

    VideoRenderMini *preview() const { return m_preview; }
    // The control window of this phone, if one was opened (by this card or
    // by a card of an earlier list).
    PhoneController *controlWindow() const { return m_window; }
    // Links a control window of this phone to this card; the list build
    // hands over a window that outlived its card.
    void adoptWindow(PhoneController *window);
    // Drops the links to the window (the card is leaving with a rebuild).
    void releaseWindow();

signals:
    void sendSigleOperateDataPD(QString id, QString otype, int oper, int *datax, int *datay, float *dataf, int mstatus,
                                QString copycontent);
    int getMachineControlStatusPD(QString code, QString serverSn, int status);
    void ChangeMCSStatusPD(int status);
    void SetWindowFrontPD();
    bool GetWidgetIsViblePD();
    void syncOperateDataToPC(QString otype, int oper, int *datax, int *datay, float *dataf, QString copycontent);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    Q_DISABLE_COPY_MOVE(PhoneDetail)

    void setupUi();
    void onCheckStateChanged(int state);
    void enterPhone();
    void queueStart(PreviewStarter::Priority priority);
    void previewFetched(bool ok, const ControlInfo &info);
    void windowEnded();

    // The generated widget tree.
    QVBoxLayout *m_verticalLayout_2 = nullptr;
    QWidget *m_frame = nullptr;
    QGridLayout *m_gridLayout = nullptr;
    QHBoxLayout *m_horizontalLayout = nullptr;
    ClickableLabel *m_reloadBtn = nullptr;
    QCheckBox *m_checkBox = nullptr;
    VideoRenderMini *m_preview = nullptr;
    QLabel *m_phoneState = nullptr;
    QLabel *m_label = nullptr;
    QPushButton *m_enterBtn = nullptr;

    MainWindow *m_owner = nullptr;
    PreviewStarter *m_starter = nullptr;
    QPointer<PreviewWatcher> m_watcher;
    // The start asked for last: only its answer opens the preview, so a
    // start dropped or replaced meanwhile never opens a stream.
    int m_startTicket = 0;
    bool m_startPending = false;
    // The last start found no connection data (an expired phone, a
    // failing backend): the watcher does not ask again until the preview
    // was stopped or the reload icon asks.
    bool m_startFailed = false;
    PreviewStarter::Priority m_startPriority = PreviewStarter::Priority::OnScreen;
    QPointer<PhoneController> m_window;

    QString m_title;
    QString m_remainingText;
    bool m_endsSoon = false;
    QString m_serverSn;
    int m_opStatus = 0;
    int m_sid = 0;
    int m_idcId = 0;
    QString m_idcSn;
    QString m_orderSn;
    int m_serid = 0;
};
