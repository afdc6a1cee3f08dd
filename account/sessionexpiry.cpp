#include "account/sessionexpiry.h"

#include "account/login.h"
#include "app/appevent.h"
#include "phones/mainwindow.h"

#include <QDebug>

void followSessionExpiry(QObject *context)
{
    QObject::connect(AppEvent::instance(), &AppEvent::sessionExpired, context, [] {
        MainWindow::instance()->releasePushClient();
        MainWindow::instance()->hide();
        Login *login = Login::instance();
        login->clearCode();
        if (!login->isVisible())
            login->show();
        login->raise();
        login->activateWindow();
        qDebug() << "-----超时登出";
    });
}
