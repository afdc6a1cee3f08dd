#pragma once

#include <QLabel>

// A label that reports left presses (on the press, not the release). It takes
// every press, so a press on it never starts dragging its window.
class ClickableLabel final : public QLabel
{
    Q_OBJECT

public:
    explicit ClickableLabel(QWidget *parent = nullptr);
    ~ClickableLabel() override;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    Q_DISABLE_COPY_MOVE(ClickableLabel)
};
