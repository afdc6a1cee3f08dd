#pragma once

#include "widgets/draggablewidget.h"

#include <memory>

namespace Ui {
class InfoDialog;
}

// The one small modal question the client asks before a destructive phone
// operation, or a one-button notice. Only "ok" accepts; everything else
// (the other button, Escape) rejects.
class InfoDialog final : public DraggableWidget
{
    Q_OBJECT

public:
    explicit InfoDialog(QWidget *parent = nullptr);
    ~InfoDialog() override;

    // Headline, in the default font made bold.
    void setAttentionText(const QString &text);
    void setContentText(const QString &text);
    void setConfirmText(const QString &text);
    // Switches to one button, which carries text and rejects. There is no
    // way back to two buttons.
    void setSingleButtonText(const QString &text);

private:
    Q_DISABLE_COPY_MOVE(InfoDialog)

    std::unique_ptr<Ui::InfoDialog> m_ui;
};

// Centres window over anchor (which may be smaller than it; the window then
// overhangs equally on both sides). Call after the texts are filled.
void centerOver(QWidget *window, QWidget *anchor);

// The question before a reboot (reset false) or a factory reset of phones,
// the same from a control window and from the batch row: modal, centred
// over anchor. True when confirmed.
bool askServerOrder(bool reset, QWidget *anchor);

// The toast texts for the outcome of such an order.
QString serverOrderDoneText(bool reset);
QString serverOrderFailedText(bool reset);
