#include "widgets/clickablelabel.h"

#include <QMouseEvent>

ClickableLabel::ClickableLabel(QWidget *parent)
    : QLabel(parent)
{
    // Window style sheets address these labels by type or by this name.
    if (objectName().isEmpty())
        setObjectName(QStringLiteral("ClickableLabel"));
    resize(272, 252);
    setStyleSheet(QString());
    setWindowTitle(QStringLiteral("Form"));
}

ClickableLabel::~ClickableLabel() = default;

void ClickableLabel::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    if (event->button() == Qt::LeftButton)
        emit clicked();
}
