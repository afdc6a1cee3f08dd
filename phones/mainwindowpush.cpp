// The main window's push client: one per session.

#include "phones/mainwindow.h"

#include "push/websocketclientandreconnect.h"
#include "widgets/toast.h"

void MainWindow::createPushClient()
{
    // The window's own construction made one before the first sign-in; the
    // stored client is always the current session's, so the old one goes.
    releasePushClient();
    m_pushClient = new WebsocketClientAndReConnect;
    m_pushClient->setExpiryHandler([this](const std::optional<QString> &text) {
        if (text)
            Toast::instance()->show(1, *text);
        refreshPhoneList(false);
    });
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
