#pragma once

#include <QWidget>

class QLineEdit;

// The sign-in window. One per process, created on first use.
class Login final : public QWidget
{
    Q_OBJECT

public:
    static Login *instance();

    // Empties the verification-code field (after an expiry sign-out).
    void clearCode();

private:
    Login();
    Q_DISABLE_COPY_MOVE(Login)

    QLineEdit *m_code = nullptr;
};
