#pragma once

#include "phones/model/groupcontrol.h"
#include "phones/model/rentaltime.h"
#include "widgets/draggablewidget.h"

#include <QHash>
#include <QMap>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

class FlowLayout;
class PhoneController;
class PhoneDetail;
class PhoneChecks;
class PreviewStarter;
class PreviewWatcher;
class PurchasePage;
class QMouseEvent;
class QTimer;
class QTreeWidgetItem;
class SystemTray;
class UserPanel;
class WebsocketClientAndReConnect;
struct PhoneRecord;

namespace Ui {
class MainWindow;
}

// The signed-in client's home: the phone page and the purchase page under
// the common title bar, switched by the navigation bar on the left, with a
// tray icon that keeps the client reachable while the window is hidden.
// One per process, created on first use and never destroyed. Closing it
// only hides it (minimises it without a tray host); the tray's "退出" ends
// the process.
class MainWindow final : public DraggableWidget
{
    Q_OBJECT

public:
    static MainWindow *instance();

    // Opens the upload window for phones (title -> server_sn) over an
    // anchor; installed by main.cpp, so this library never links it.
    using UploadOpener = std::function<void(const QMap<QString, QString> &targets, QWidget *anchor)>;
    static void setUploadOpener(UploadOpener opener);
    // Title -> server_sn of the checked phones, as the batch upload hands it on.
    QMap<QString, QString> checkedUploadTargets() const;

    // Sign-in makes a new push client (replacing the one before), sign-out
    // releases it.
    void createPushClient();
    void releasePushClient();
    WebsocketClientAndReConnect *pushClient() const;

    // 0: the phone page (reloads the list), 1: the purchase page.
    void switchPage(int index);
    void refreshPhoneList(bool showToast);

    // A card's check box changed: every row with that title follows.
    void setPhoneChecked(Qt::CheckState state, const QString &title);
    // server_sn of every checked phone, in tree order.
    QStringList checkedPhoneList() const;
    PhoneChecks *phoneChecks() const { return m_phoneChecks; }
    // The phone cards of the current list, in the order of the card area.
    QList<PhoneDetail *> phoneCards() const;
    // The card of a phone of the current list, or null. A server_sn listed
    // twice names its first card.
    PhoneDetail *phoneCard(const QString &serverSn) const;

    // Group control (state and rules in GroupControl; this only wires).
    bool groupControl() const;
    QString masterPhone() const { return m_groupControl.master(); }
    // The group-control label.
    void toggleGroupControl();
    // The refresh label: off, label transparent, master emptied, the phones
    // not told.
    void leaveGroupControl();
    // A control window asks for its role; standalone while group control is off.
    int queryMachineControlStatus(const QString &code, const QString &serverSn, int status);
    // Tells the phone's card (and so its open window) its role; only while on.
    void notifyMachineControlStatus(const QString &serverSn, int status);
    // A master's record for the other checked phones, synchronously, each
    // once; nothing while off. Returns how many phones it reached.
    int relayOperation(const QString &id, const QString &otype, int oper, int *datax, int *datay, float *dataf,
                       const QString &copycontent);

    // The control windows, one per phone opened since start, kept across
    // list rebuilds so a phone is always reopened in its own window.
    PhoneController *controlWindow(const QString &serverSn) const;
    void keepControlWindow(const QString &serverSn, PhoneController *window);
    QList<PhoneController *> controlWindows() const;

    SystemTray *systemTray() const { return m_tray; }
    // Whether a tray host shows the tray icon; asked at every close, since
    // a desktop's tray host can come and go. Tests replace the question.
    void setTrayHostCheck(std::function<bool()> check);
    FlowLayout *cardLayout() const { return m_cardLayout; }
    // Decides which card previews stream: those on screen, and those the
    // main window keeps (keepsPreview).
    PreviewWatcher *previewWatcher() const { return m_previewWatcher; }
    // Whether a phone's preview stream stays up wherever its card is: group
    // control relays to it (on, and the phone checked), or its control
    // window is open. Either way that stream is the phone's relay path.
    bool keepsPreview(const QString &serverSn) const;

    // The user panel shown under the cursor from the title bar's user icon
    // and hidden by the next left press anywhere on the desktop.
    UserPanel *userPanel() const;
    void setUserPanel(UserPanel *panel);

    // The purchase page on page 1; reopened afresh at every switch to it.
    PurchasePage *purchasePage() const;
    void setPurchasePage(PurchasePage *page);
    // Opens the purchase page with the phone preselected for renewal.
    void renewPhone(const QString &serverSn);

    // Both windows live in libraries above this one: main() hands in how to
    // make them, and the window makes them on first use.
    using UserPanelFactory = std::function<UserPanel *()>;
    using PurchasePageFactory = std::function<PurchasePage *(QObject *parent)>;
    static void setUserPanelFactory(UserPanelFactory factory);
    static void setPurchasePageFactory(PurchasePageFactory factory);

public slots:
    // Shows the window again: from the tray, or after a sign-in.
    void bringBack();
    // The close button and the window manager's close: into the tray, or
    // minimised when no tray host would show the icon to come back by.
    // Never ends the client.
    void putAway();

protected:
    // Escape does nothing: the home window stays where it is.
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    MainWindow();
    ~MainWindow() override;
    Q_DISABLE_COPY_MOVE(MainWindow)

    void setupPhonePage();
    void showNoPhone();
    void setCardAreaClass(const QString &cssClass, const QString &styleSheet);
    void buildTree(const QVector<PhoneRecord> &records, const QVector<RentalTime::Left> &left);
    void buildCards(const QVector<PhoneRecord> &records, const QVector<RentalTime::Left> &left);
    void clearCards();
    QList<PhoneDetail *> cardsTitled(const QString &title) const;
    void startPreviews();
    void showRow(int row);
    void showGroupRow();
    void onTreeItemChanged(QTreeWidgetItem *item);
    void onTreeItemClicked(QTreeWidgetItem *item);
    void onUncheckRefused(int row);
    void recolourBatchBox(int checkedCount);
    void onBatchActivated(int index);
    void runServerOrder(bool reset);
    QVector<GroupControl::Card> cardsForRules();
    void carryOut(const QVector<GroupControl::Order> &orders);
    void syncGroupControlLook();
    void selectAllOrInvert(bool invert);
    QTreeWidgetItem *groupItem() const;
    void openPurchasePage();
    void returnFromPurchase();
    void showUserPanel();
    void onGlobalMouseEvent(QMouseEvent *event);

    std::unique_ptr<Ui::MainWindow> m_ui;
    SystemTray *m_tray = nullptr;
    std::function<bool()> m_trayHostCheck;
    FlowLayout *m_cardLayout = nullptr;
    PhoneChecks *m_phoneChecks = nullptr;
    PreviewStarter *m_previewStarter = nullptr;
    PreviewWatcher *m_previewWatcher = nullptr;
    // Hands the cards built last to the preview watcher, once: a rebuild
    // before it fires (sign-in loads the list twice) restarts it.
    QTimer *m_previewTimer = nullptr;
    // The cards of the current list: made by the rebuild, dropped by it.
    QList<QPointer<PhoneDetail>> m_cards;
    QHash<QString, QPointer<PhoneDetail>> m_cardsBySn;
    // Every card of a title, in card order: a row's check state goes to them.
    QHash<QString, QList<QPointer<PhoneDetail>>> m_cardsByTitle;
    // Set while the tree widget is being built or made to show the rules'
    // state: those changes are not the user's, the change handler skips them.
    bool m_treeUpdating = false;
    GroupControl m_groupControl;
    QHash<QString, QPointer<PhoneController>> m_controlWindows;
    QPointer<UserPanel> m_userPanel;
    QPointer<PurchasePage> m_purchasePage;
    // The phone the next opening of the purchase page preselects.
    QString m_renewServerSn;
    QPointer<WebsocketClientAndReConnect> m_pushClient;
};
