#pragma once

#include <QDialog>
#include <QPoint>

// Base of every top-level window: frameless, translucent, painting its own
// white panel with a soft 10-pixel shadow, moved by dragging any surface that
// does not take the press itself. Being a dialog, it can run modally and
// rejects on Escape.
class DraggableWidget : public QDialog
{
    Q_OBJECT

public:
    explicit DraggableWidget(QWidget *parent = nullptr);
    ~DraggableWidget() override;

    // Hidden while maximised: the panel then fills the whole window.
    void setShadowHidden(bool hidden);
    bool isShadowHidden() const { return m_shadowHidden; }

    static constexpr int ShadowMargin = 10;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    Q_DISABLE_COPY_MOVE(DraggableWidget)

    bool m_shadowHidden = false;
    bool m_leftButtonDown = false;
    QPoint m_dragOffset; // cursor minus frame top-left, global coordinates
};
