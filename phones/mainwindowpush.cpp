// The main window's push client: one per session.

#include "phones/mainwindow.h"

#include "push/websocketclientandreconnect.h"

void MainWindow::createPushClient()
{
    // The window's own construction made one before the first sign-in; the
    // stored client is always the current session's, so the old one goes.
    releasePushClient();
    m_pushClient = new WebsocketClientAndReConnect;
    m_pushClient->setPhoneListReload([this] { refreshPhoneList(false); });
}

void MainWindow::releasePushClient()
{
    if (m_pushClient)
        m_pushClient->deleteLater();
    m_pushClient = nullptr;
}

WebsocketClientAndReConnect *MainWindow::pushClient() const
{
    return m_pushClient;
}
