#pragma once

#include <QColor>
#include <QMap>
#include <QPair>
#include <QRectF>
#include <QString>
#include <QTimer>
#include <QWidget>

// A bar of text items with a highlight that slides to the chosen item and
// settles onto it with a short shake. Used vertically as the main window's
// page switcher and horizontally as a tab row.
class SlideNavigation final : public QWidget
{
    Q_OBJECT

public:
    enum Orientation { Horizontal = 1, Vertical = 2 };

    explicit SlideNavigation(QWidget *parent = nullptr);
    ~SlideNavigation() override;

    // Empty texts and texts already present are ignored.
    void addItem(const QString &text);
    // Both are meant to be set before items are added.
    void setOrientation(int orientation);
    void setFixed(bool fixed);

    int orientation() const { return m_orientation; }
    bool isFixed() const { return m_fixed; }
    int count() const { return m_items.size(); }
    int currentIndex() const { return m_currentIndex; }
    QString itemText(int index) const;
    QRectF itemRect(int index) const;
    // Where the highlight is drawn now, and where it is heading.
    QRectF barRect() const { return m_barRect; }
    QRectF targetRect() const { return m_targetRect; }
    bool isAnimating() const { return m_slideTimer.isActive() || m_shakeTimer.isActive(); }

    static constexpr int Spacing = 30;

public slots:
    void moveToFirst();
    void moveToLast();
    void moveToPrevious();
    void moveToNext();
    void moveTo(int index);
    void moveTo(const QString &str);
    void moveTo(const QPointF &point);
    void setEnableKeyMove(bool enable);

    // One animation tick each; the timers call them every 10 ms.
    void doSlide();
    void doShake();

signals:
    void itemClicked(int index, const QString &str);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    Q_DISABLE_COPY_MOVE(SlideNavigation)

    void select(int index);
    int indexAt(const QPointF &point) const;
    int indexOf(const QString &text) const;
    void spreadItems();

    // index -> (text, rectangle); rectangles in widget coordinates
    QMap<int, QPair<QString, QRectF>> m_items;
    // Rectangles at the minimum size, kept so spreading is repeatable.
    QMap<int, QRectF> m_naturalRects;
    int m_totalWidth = 0;
    int m_totalHeight = 0;
    int m_currentIndex = -1;
    QRectF m_barRect;
    QRectF m_targetRect;
    bool m_forward = false;
    int m_orientation = Horizontal;
    bool m_fixed = false;
    bool m_keyMove = false;
    QTimer m_slideTimer;
    QTimer m_shakeTimer;

    const QColor m_backgroundTop{255, 255, 255};
    const QColor m_backgroundBottom{255, 255, 255};
    const qreal m_backgroundRadius = 0;
    const QColor m_barStart{255, 255, 255};
    const QColor m_barEnd{255, 255, 255};
    const qreal m_barRadius = 0;
    const int m_spacing = Spacing;
    const int m_barLineWidth = 5;
    const QColor m_selectedColor{QStringLiteral("#409eec")};
    const QColor m_textColor{QStringLiteral("#2a3036")};
};
