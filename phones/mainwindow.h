#pragma once

#include "widgets/draggablewidget.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QVector>

#include <memory>

class FlowLayout;
class PhoneDetail;
class PhoneChecks;
class PreviewStarter;
class QMouseEvent;
class QTimer;
class QTreeWidgetItem;
class SystemTray;
class WebsocketClientAndReConnect;
struct PhoneRecord;

namespace Ui {
class MainWindow;
}

// The signed-in client's home: the phone page and the purchase page under
// the common title bar, switched by the navigation bar on the left, with a
// tray icon that keeps the client reachable while the window is hidden.
// One per process, created on first use and never destroyed. Closing it
// only hides it; the tray's "退出" ends the process.
class MainWindow final : public DraggableWidget
{
    Q_OBJECT

public:
    static MainWindow *instance();

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

    // Group control, as far as the phone list needs it: the flag, the
    // master, and leaving (label back to transparent, master emptied, the
    // phones not told). Nothing here switches it on.
    bool groupControl() const;
    QString masterPhone() const { return m_masterPhone; }
    void leaveGroupControl();
    // A control window asks for its role; standalone while group control is off.
    int queryMachineControlStatus(const QString &code, const QString &serverSn, int status);
    // A master's record for the other checked phones; nothing while off.
    void relayOperation(const QString &id, const QString &otype, int oper, int *datax, int *datay, float *dataf,
                        const QString &copycontent);

    SystemTray *systemTray() const { return m_tray; }
    FlowLayout *cardLayout() const { return m_cardLayout; }

    // The user panel shown under the cursor from the title bar's user icon
    // and hidden by the next left press anywhere on the desktop.
    QWidget *userPanel() const { return m_userPanel; }
    void setUserPanel(QWidget *panel);

public slots:
    // Shows the window again: from the tray, or after a sign-in.
    void bringBack();

protected:
    // Escape and the window manager's close hide the window as the close
    // button does; neither may end the client.
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    MainWindow();
    ~MainWindow() override;
    Q_DISABLE_COPY_MOVE(MainWindow)

    void setupPhonePage();
    void showNoPhone();
    void setCardAreaClass(const QString &cssClass, const QString &styleSheet);
    void buildTree(const QVector<PhoneRecord> &records);
    void buildCards(const QVector<PhoneRecord> &records);
    void clearCards();
    void startPreviews();
    void showRow(int row);
    void showGroupRow();
    void onTreeItemChanged(QTreeWidgetItem *item);
    void onTreeItemClicked(QTreeWidgetItem *item);
    void onUncheckRefused(int row);
    void recolourBatchBox(int checkedCount);
    void selectAllOrInvert(bool invert);
    QTreeWidgetItem *groupItem() const;
    void openPurchasePage();
    void showUserPanel();
    void onGlobalMouseEvent(QMouseEvent *event);

    std::unique_ptr<Ui::MainWindow> m_ui;
    SystemTray *m_tray = nullptr;
    FlowLayout *m_cardLayout = nullptr;
    PhoneChecks *m_phoneChecks = nullptr;
    PreviewStarter *m_previewStarter = nullptr;
    // Starts the previews of the cards built last, once: a rebuild before it
    // fires (sign-in loads the list twice) restarts it.
    QTimer *m_previewTimer = nullptr;
    // The cards of the current list: made by the rebuild, dropped by it.
    QList<QPointer<PhoneDetail>> m_cards;
    QHash<QString, QPointer<PhoneDetail>> m_cardsBySn;
    // Set while the tree widget is being built or made to show the rules'
    // state: those changes are not the user's, the change handler skips them.
    bool m_treeUpdating = false;
    QString m_masterPhone;
    QPointer<QWidget> m_userPanel;
    QPointer<WebsocketClientAndReConnect> m_pushClient;
};
