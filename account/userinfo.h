#pragma once

#include "phones/userpanel.h"

#include <QPointer>

class AboutUs;
class ClickableLabel;
class QClipboard;
class QHBoxLayout;
class QLabel;
class QVBoxLayout;
class QWidget;

// The small "选项" pop-up under the title bar's user icon: the user's name
// and number (with a copy button), the support group, and three actions:
// a manual update check, the About page and signing out.
class UserInfo final : public UserPanel
{
    Q_OBJECT

public:
    explicit UserInfo(QWidget *parent = nullptr);
    ~UserInfo() override;

    void setUserName(const QString &name) override;
    void setPhoneNumber(const QString &phone) override;

    // Asks the server for the current version and says what it found in a
    // modal dialog centred over the main window; "立刻升级" opens the
    // download address in the system's browser.
    static void checkForUpdate();

    // The About window once it has been opened.
    AboutUs *aboutWindow() const;

private:
    Q_DISABLE_COPY_MOVE(UserInfo)

    void buildForm();
    void copyNumber();
    void openAbout();
    void signOut();

    QClipboard *m_clipboard = nullptr;
    QPointer<AboutUs> m_about;

    // The generated widget tree.
    QVBoxLayout *m_verticalLayout_2 = nullptr;
    QWidget *m_widget4 = nullptr;
    QLabel *m_label = nullptr;
    QLabel *m_label_2 = nullptr;
    QLabel *m_label_3 = nullptr;
    ClickableLabel *m_copy = nullptr;
    QWidget *m_widget5 = nullptr;
    QLabel *m_label_5 = nullptr;
    QLabel *m_label_6 = nullptr;
    QLabel *m_label_7 = nullptr;
    QWidget *m_widget = nullptr;
    QLabel *m_label_8 = nullptr;
    ClickableLabel *m_upload = nullptr;
    ClickableLabel *m_upload_icon = nullptr;
    QWidget *m_widget_2 = nullptr;
    QLabel *m_label_14 = nullptr;
    ClickableLabel *m_about_label = nullptr;
    ClickableLabel *m_about_icon = nullptr;
    QWidget *m_widget_3 = nullptr;
    QLabel *m_label_17 = nullptr;
    ClickableLabel *m_loginout = nullptr;
};

// Lets the main window build the user panel on its first opening.
void installUserPanel();
