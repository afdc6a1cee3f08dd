#include "widgets/toast.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainterPath>
#include <QRegion>
#include <QTimerEvent>

ToastDlg::ToastDlg()
    : QDialog(nullptr)
{
    auto *layout = new QHBoxLayout(this);
    m_label = new QLabel(this);
    m_label->setAlignment(Qt::AlignHCenter);
    m_label->setStyleSheet(QStringLiteral("color: white;background:transparent;"));
    layout->addWidget(m_label, 1);

    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    // The user keeps typing in the window under the toast.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setStyleSheet(QStringLiteral("border-radius: 16px;background:#666666"));
}

void ToastDlg::setText(const QString &text)
{
    m_label->setText(text);
}

QString ToastDlg::text() const
{
    return m_label->text();
}

void ToastDlg::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    // Without a compositor a top-level window cannot be see-through, so the
    // rounded corners are cut out of the window itself.
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 16, 16);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

Toast *Toast::instance()
{
    static Toast *toast = new Toast; // lives until exit, like every window
    return toast;
}

Toast::Toast()
    : m_dlg(new ToastDlg)
{
}

Toast::~Toast()
{
    delete m_dlg;
}

void Toast::showText(const QString &text)
{
    m_dlg->setText(text);
    m_dlg->setWindowFlags(m_dlg->windowFlags() | Qt::WindowStaysOnTopHint);
    m_dlg->show();
    // Stay above a window shown after the toast was made, also where no
    // window manager honours the stay-on-top hint.
    m_dlg->raise();
    // Let the layout settle on the new text before anyone reads the size.
    m_dlg->adjustSize();
}

void Toast::restartTimer()
{
    if (m_timerId != 0)
        killTimer(m_timerId);
    m_timerId = startTimer(DurationMs, Qt::CoarseTimer);
}

void Toast::show(int level, const QString &text)
{
    Q_UNUSED(level)
    showText(text);
    restartTimer();
}

void Toast::show(int level, const QString &text, QWidget *anchor)
{
    Q_UNUSED(level)
    showText(text);
    if (anchor) {
        const QPoint a = anchor->mapToGlobal(QPoint(0, 0));
        m_dlg->move(a.x() + (anchor->width() - m_dlg->width()) / 2,
                    a.y() + (anchor->height() - m_dlg->height()) / 2);
    }
    restartTimer();
}

void Toast::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timerId) {
        QObject::timerEvent(event);
        return;
    }
    killTimer(m_timerId);
    m_timerId = 0;
    m_dlg->accept();
}
