#include "widgets/infodialog.h"

#include "ui_infodialog.h"

#include <QFont>

InfoDialog::InfoDialog(QWidget *parent)
    : DraggableWidget(parent)
    , m_ui(std::make_unique<Ui::InfoDialog>())
{
    m_ui->setupUi(this);
    m_ui->cancelclose->hide();

    connect(m_ui->cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui->ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->cancelclose, &QPushButton::clicked, this, &QDialog::reject);
}

InfoDialog::~InfoDialog() = default;

void InfoDialog::setAttentionText(const QString &text)
{
    QFont font;
    font.setBold(true);
    m_ui->attention->setFont(font);
    m_ui->attention->setText(text);
}

void InfoDialog::setContentText(const QString &text)
{
    m_ui->Content->setText(text);
}

void InfoDialog::setConfirmText(const QString &text)
{
    m_ui->ok->setText(text);
}

void InfoDialog::setSingleButtonText(const QString &text)
{
    m_ui->ok->hide();
    m_ui->cancel->hide();
    m_ui->cancelclose->setText(text);
    m_ui->cancelclose->show();
}

void centerOver(QWidget *window, QWidget *anchor)
{
    if (!window || !anchor)
        return;
    const QPoint g = anchor->mapToGlobal(QPoint(0, 0));
    window->move(g.x() + (anchor->width() - window->width()) / 2,
                 g.y() + (anchor->height() - window->height()) / 2);
}

bool askServerOrder(bool reset, QWidget *anchor)
{
    InfoDialog dialog;
    if (reset) {
        dialog.setAttentionText(QStringLiteral("确定恢复出厂设置?"));
        dialog.setWindowTitle(QStringLiteral("恢复出厂设置"));
        dialog.setContentText(QStringLiteral("恢复出厂设置将清除手机所有数据，需要一分钟左右，期间无法对云手机进行操作"));
    } else {
        dialog.setAttentionText(QStringLiteral("确定重启手机?"));
        dialog.setWindowTitle(QStringLiteral("重启手机"));
        dialog.setContentText(QStringLiteral("重启需要一分钟左右，期间无法对云手机进行操作"));
    }
    centerOver(&dialog, anchor);
    return dialog.exec() == 1;
}

QString serverOrderDoneText(bool reset)
{
    return reset ? QStringLiteral("云机重置成功，请稍等两分钟") : QStringLiteral("云机重启成功，请稍等两分钟");
}

QString serverOrderFailedText(bool reset)
{
    return reset ? QStringLiteral("云机重置失败") : QStringLiteral("云机重启失败");
}
