#pragma once

#include "widgets/draggablewidget.h"

class ClickableLabel;
class QLabel;
class QPushButton;

// "关于我们": product name, logo and client version, a second way to the
// update check, and the four agreement pages. Made once by the user panel;
// closing it only hides it.
class AboutUs final : public DraggableWidget
{
    Q_OBJECT

public:
    explicit AboutUs(QWidget *parent = nullptr);
    ~AboutUs() override;

private:
    Q_DISABLE_COPY_MOVE(AboutUs)

    void buildForm();
    void openAgreement(const QString &path);

    QPushButton *m_updateClose = nullptr;
    QLabel *m_version = nullptr;
    ClickableLabel *m_update = nullptr;
    ClickableLabel *m_xieyi[4] = {};
};
