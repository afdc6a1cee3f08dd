#include "phones/mainwindow.h"

#include <QLabel>
#include <QMutex>
#include <QVBoxLayout>

MainWindow *MainWindow::instance()
{
    static QMutex mutex;
    static MainWindow *window = nullptr;
    QMutexLocker lock(&mutex);
    if (!window)
        window = new MainWindow;
    return window;
}

MainWindow::MainWindow()
    : QWidget(nullptr)
{
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Tarvix"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("云手机"), this));
    resize(1200, 800);
}

void MainWindow::createPushClient()
{
}

void MainWindow::releasePushClient()
{
}
