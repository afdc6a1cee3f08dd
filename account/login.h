#pragma once

#include "widgets/draggablewidget.h"

class ClickableLabel;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSettings;
class QTimer;

// The sign-in (and sign-up) window: a mobile number and an SMS code. One per
// process, created on first use and kept until exit; shown at start-up when
// automatic sign-in is not possible and again after an expiry sign-out.
class Login final : public DraggableWidget
{
    Q_OBJECT

public:
    static Login *instance();

    // Empties the verification-code field (after an expiry sign-out).
    void clearCode();

    // One second of the code button's countdown; the countdown timer calls
    // it, tests may too.
    void countdownTick();
    bool isCountingDown() const;

    // The check box state the window starts with. The saved choice counts
    // only when a file named "Setting.ini" exists in the current directory;
    // without one the choice is reset to false in the settings file.
    static bool restoreAutoLoginChoice(QSettings &settings);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    Login();
    ~Login() override;
    Q_DISABLE_COPY_MOVE(Login)

    void buildForm();
    void makeConnections();

    void phoneChanged();
    void codeChanged();
    bool codeIsValid();
    void updateLoginButton();
    void requestCode();
    void stopCountdown();
    void saveAutoLoginChoice();
    void signIn();
    void openAgreement(const QString &path);

    QSettings *m_settings = nullptr;
    QTimer *m_countdown = nullptr; // none until the first code request succeeds
    int m_remaining = 0;

    QPushButton *m_lessenButton = nullptr;
    QPushButton *m_closeButton = nullptr;
    QLabel *m_iconImage = nullptr;
    QLabel *m_icon2 = nullptr;
    QLineEdit *m_phone = nullptr;
    QLineEdit *m_code = nullptr;
    QPushButton *m_codeButton = nullptr;
    QLabel *m_errorLabel = nullptr;
    QPushButton *m_loginButton = nullptr;
    QCheckBox *m_autoLogin = nullptr;
    QLabel *m_infoLabel = nullptr;
    ClickableLabel *m_userAgreement = nullptr;
    ClickableLabel *m_privacy = nullptr;
    ClickableLabel *m_disclaimer = nullptr;
    ClickableLabel *m_deleteAccount = nullptr;
};
