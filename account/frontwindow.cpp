#include "account/frontwindow.h"

#include "account/login.h"
#include "phones/mainwindow.h"

#include <QApplication>

void bringCurrentWindowToFront()
{
    // Looked up among the windows rather than through instance(), which
    // would create a window the session never asked for.
    Login *login = nullptr;
    MainWindow *main = nullptr;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (auto *l = qobject_cast<Login *>(window))
            login = l;
        else if (auto *m = qobject_cast<MainWindow *>(window))
            main = m;
    }
    if (main && !(login && login->isVisible())) {
        main->bringBack();
        return;
    }
    login = Login::instance();
    if (login->isMinimized())
        login->showNormal();
    else
        login->show();
    login->raise();
    login->activateWindow();
}
