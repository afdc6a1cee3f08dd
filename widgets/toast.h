#pragma once

#include <QDialog>
#include <QObject>

class QLabel;

// The floating grey panel that carries a toast's text. Never takes focus.
class ToastDlg final : public QDialog
{
    Q_OBJECT

public:
    ToastDlg();

    void setText(const QString &text);
    QString text() const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QLabel *m_label = nullptr;
};

// One toast window for the whole process: a new message replaces the one on
// screen and restarts the two-second period. GUI thread only.
class Toast final : public QObject
{
    Q_OBJECT

public:
    static Toast *instance();

    // level is 0 (results), 1 (hints) or 2 (errors); the look is the same.
    void show(int level, const QString &text);
    // Centres the toast on anchor.
    void show(int level, const QString &text, QWidget *anchor);

    ToastDlg *window() const { return m_dlg; }
    bool isTimerRunning() const { return m_timerId != 0; }

    static constexpr int DurationMs = 2000;

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    Toast();
    ~Toast() override;
    Q_DISABLE_COPY_MOVE(Toast)

    void showText(const QString &text);
    void restartTimer();

    ToastDlg *m_dlg = nullptr;
    int m_timerId = 0;
};
