#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QVBoxLayout;

// Icon over text, used only in the stream view's control panel. Clicks on
// release inside, like a button, but keeps no focus and draws no frame.
class MenuButton final : public QWidget
{
    Q_OBJECT

public:
    explicit MenuButton(QWidget *parent = nullptr);
    ~MenuButton() override;

    void setIcon(const QString &path);
    void setText(const QString &text);
    QString iconPath() const { return m_iconPath; }
    QString text() const;

signals:
    void clicked();

protected:
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    Q_DISABLE_COPY_MOVE(MenuButton)

    void refresh();

    QVBoxLayout *m_layout = nullptr;
    QLabel *m_icon = nullptr;
    QLabel *m_text = nullptr;
    QString m_iconPath;
    bool m_armed = false;
};
