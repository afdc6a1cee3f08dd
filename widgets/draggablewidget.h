#pragma once

#include <QDialog>
#include <QPoint>
#include <QPointer>
#include <QSize>

class QLayout;
class TitleWidget;

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

    // Lets the title bar's maximise button maximise the window (no shadow,
    // no margins around `margins`) and restore it; dragging the title bar
    // of the maximised window restores it under the cursor, `normalSize`
    // when it never had another.
    void setMaximizeParts(TitleWidget *title, QLayout *margins, const QSize &normalSize);
    void showMaximizedLook();
    void showNormalLook();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    Q_DISABLE_COPY_MOVE(DraggableWidget)

    void restoreUnderCursor(const QPoint &globalPos);

    bool m_shadowHidden = false;
    QPointer<TitleWidget> m_title;
    QLayout *m_margins = nullptr;
    QSize m_normalSize;
    bool m_titlePressed = false;
    bool m_leftButtonDown = false;
    QPoint m_dragOffset; // cursor minus frame top-left, global coordinates
};
