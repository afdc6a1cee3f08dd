#pragma once

#include "widgets/draggablewidget.h"

#include <QPointer>

#include <memory>

class FlowLayout;
class QMouseEvent;
class SystemTray;

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

    // Sign-in makes a new push client, sign-out releases it.
    void createPushClient();
    void releasePushClient();

    // 0: the phone page (reloads the list), 1: the purchase page.
    void switchPage(int index);
    void refreshPhoneList(bool showToast);

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
    bool eventFilter(QObject *watched, QEvent *event) override;
    // Escape and the window manager's close hide the window as the close
    // button does; neither may end the client.
    void reject() override;
    void closeEvent(QCloseEvent *event) override;

private:
    MainWindow();
    ~MainWindow() override;
    Q_DISABLE_COPY_MOVE(MainWindow)

    void setupPhonePage();
    void showMaximizedLook();
    void showNormalLook();
    void restoreUnderCursor(const QPoint &globalPos);
    void showNoPhone();
    void openPurchasePage();
    void showUserPanel();
    void onGlobalMouseEvent(QMouseEvent *event);

    std::unique_ptr<Ui::MainWindow> m_ui;
    SystemTray *m_tray = nullptr;
    FlowLayout *m_cardLayout = nullptr;
    QPointer<QWidget> m_userPanel;
    bool m_titlePressed = false;
};
