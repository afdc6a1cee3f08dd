#include "phones/systemtray.h"

#include <QAction>
#include <QCoreApplication>
#include <QDebug>
#include <QIcon>
#include <QMenu>

SystemTray::SystemTray(QObject *parent)
    : QSystemTrayIcon(parent)
    , m_menu(std::make_unique<QMenu>())
{
    m_menu->setFixedWidth(100);
    m_openAction = m_menu->addAction(tr("打开"));
    m_quitAction = m_menu->addAction(tr("退出"));
    setContextMenu(m_menu.get());
    setIcon(QIcon(QStringLiteral(":/image/ico.ico")));

    connect(m_openAction, &QAction::triggered, this, &SystemTray::showMainWidget);
    connect(m_quitAction, &QAction::triggered, this, &SystemTray::quit);
}

SystemTray::~SystemTray()
{
    setContextMenu(nullptr);
}

void SystemTray::quit()
{
    // Only this process ends: other clients running under the same name are
    // not ours to end.
    QCoreApplication::quit();
    qDebug() << "关闭进程id:" << QCoreApplication::applicationPid();
}
