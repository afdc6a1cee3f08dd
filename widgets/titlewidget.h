#pragma once

#include <QString>
#include <QWidget>

class ClickableLabel;
class PushButton;
class QLabel;

// The title row shared by the main window and the phone control window:
// brand on the left, user and window buttons on the right. It only emits;
// the owning window minimises, maximises, restores or hides itself.
class TitleWidget final : public QWidget
{
    Q_OBJECT

public:
    explicit TitleWidget(QWidget *parent = nullptr);
    ~TitleWidget() override;

    // The signed-in user's phone number; the owner passes it in, since this
    // library knows nothing of the session.
    void setUserName(const QString &phone);
    QString userName() const;

    void setMaxButtonHidden(bool hidden);
    void setSettingButtonHidden(bool hidden);
    void setMinButtonHidden(bool hidden);
    void setBrandHidden(bool hidden);
    void setUserInfoHidden(bool hidden);

    // True while the maximise/restore button offers to restore.
    bool isMaximizedLook() const { return m_maximizedLook; }

public slots:
    void toggleMaximized();

signals:
    void windowClosed();
    void windowMin();
    void windowMax();
    void windowBackNormal();
    void windowSetting();
    void openUserInfo();

private:
    Q_DISABLE_COPY_MOVE(TitleWidget)

    QLabel *m_appIcon = nullptr;
    QLabel *m_appName = nullptr;
    ClickableLabel *m_userIcon = nullptr;
    QLabel *m_userName = nullptr;
    PushButton *m_settingButton = nullptr;
    PushButton *m_minButton = nullptr;
    PushButton *m_maxButton = nullptr;
    PushButton *m_closeButton = nullptr;
    bool m_maximizedLook = false;
};
