#pragma once

#include <QPushButton>
#include <QString>

// A button drawn entirely from a picture: "<path>" normally, "<path>_hover"
// while hovered or pressed. It clicks on a left release inside itself and
// never from the keyboard.
class PushButton final : public QPushButton
{
    Q_OBJECT

public:
    enum DisplayState { Normal = 0, Hovered = 1, Pressed = 2 };

    explicit PushButton(QWidget *parent = nullptr);
    ~PushButton() override;

    // path is a resource path without extension, e.g. ":/image/phone/min".
    void setPicture(const QString &path);
    QString picture() const { return m_picture; }

    int displayState() const { return m_state; }
    // The picture path (without extension) painted in the current state.
    QString currentPicture() const;

protected:
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    Q_DISABLE_COPY_MOVE(PushButton)

    void setDisplayState(int state);

    QString m_picture;
    int m_state = Normal;
    bool m_pressed = false;
};
