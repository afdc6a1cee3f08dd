#pragma once

#include "widgets/draggablewidget.h"

#include <QString>

// The pop-up the title bar's user icon opens. The window itself lives with
// the account windows; the main window only places, fills and shows it.
class UserPanel : public DraggableWidget
{
    Q_OBJECT

public:
    using DraggableWidget::DraggableWidget;

    virtual void setUserName(const QString &name) = 0;
    virtual void setPhoneNumber(const QString &phone) = 0;
};
