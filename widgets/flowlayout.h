#pragma once

#include <QLayout>
#include <QList>
#include <QStyle>

// Places its items left to right and wraps them into new rows, like words in
// a paragraph. Geometry is one pure pass (doLayout) so the height needed for a
// width can be measured without showing anything.
class FlowLayout final : public QLayout
{
    Q_OBJECT

public:
    // margin applies to all four sides; a spacing of -1 comes from the style.
    explicit FlowLayout(QWidget *parent = nullptr, int margin = -1, int hSpacing = -1, int vSpacing = -1);
    ~FlowLayout() override;

    int horizontalSpacing() const;
    int verticalSpacing() const;

    void addItem(QLayoutItem *item) override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    int count() const override;

    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect &rect) override;

    // Lays the items out in rect (or only measures, with testOnly) and
    // returns the height that needs.
    int doLayout(const QRect &rect, bool testOnly) const;

private:
    Q_DISABLE_COPY_MOVE(FlowLayout)

    int smartSpacing(QStyle::PixelMetric metric) const;

    QList<QLayoutItem *> m_items;
    int m_hSpace = -1;
    int m_vSpace = -1;
};
