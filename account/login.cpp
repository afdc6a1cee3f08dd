#include "account/login.h"

#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QVBoxLayout>

Login *Login::instance()
{
    static QMutex mutex;
    static Login *login = nullptr;
    QMutexLocker lock(&mutex);
    if (!login)
        login = new Login;
    return login;
}

Login::Login()
    : QWidget(nullptr)
{
    setObjectName(QStringLiteral("Login"));
    setWindowTitle(QStringLiteral("Tarvix"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("登录注册"), this));
    m_code = new QLineEdit(this);
    m_code->setObjectName(QStringLiteral("lineEdit_code"));
    layout->addWidget(m_code);
    resize(400, 540);
}

void Login::clearCode()
{
    m_code->clear();
}
