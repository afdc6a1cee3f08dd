#pragma once

#include <QWidget>

// The signed-in main window. One per process, created on first use.
class MainWindow final : public QWidget
{
    Q_OBJECT

public:
    static MainWindow *instance();

    // The push channel client arrives with its own issue; these are the
    // points where sign-in and sign-out hand it over.
    void createPushClient();
    void releasePushClient();

private:
    MainWindow();
    Q_DISABLE_COPY_MOVE(MainWindow)
};
