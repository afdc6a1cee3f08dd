#pragma once

#include <QSystemTrayIcon>

#include <memory>

class QAction;
class QMenu;

// The tray icon that keeps the client reachable while the main window is
// hidden. Its menu offers "打开" and "退出"; quitting ends this process.
class SystemTray final : public QSystemTrayIcon
{
    Q_OBJECT

public:
    explicit SystemTray(QObject *parent = nullptr);
    ~SystemTray() override;

    QAction *openAction() const { return m_openAction; }
    QAction *quitAction() const { return m_quitAction; }

signals:
    void showMainWidget();

private:
    Q_DISABLE_COPY_MOVE(SystemTray)

    void quit();

    // The tray does not own its menu, and a menu cannot have an object as
    // parent: it is kept here.
    std::unique_ptr<QMenu> m_menu;
    QAction *m_openAction = nullptr;
    QAction *m_quitAction = nullptr;
};
