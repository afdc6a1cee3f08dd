#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <QVector>

// One simulated Android phone: its model (screen shown, notes, clipboard,
// storage, apps, recorded input) and its 720 x 1280 screen, drawn on demand.
class FarmPhone final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FarmPhone)

public:
    static constexpr int kWidth = 720;
    static constexpr int kHeight = 1280;

    enum class Screen { Home, Notes, Files, App };

    FarmPhone(const QString &padCode, const QString &name, QObject *parent = nullptr);
    ~FarmPhone() override;

    QString padCode() const { return m_padCode; }
    bool isBooting() const { return m_booting; }

    void applyTouch(int action, int x, int y, float pressure, int pointers);
    void applyKey(int action, int code);
    void applyClipboard(const QString &text);
    // Text committed by the client's input method: typed into the notes.
    void applyText(const QString &text);
    // Boot screen for bootMillis; streams are dropped through goingDown().
    void reboot(bool wipe, int bootMillis);
    void pushFile(const QString &path, qint64 size, const QString &md5);
    void installApp(const QString &packageName, const QString &label);

    // The current screen, redrawn if anything changed since the last call.
    const QImage &screen();
    // Goes up whenever the screen changes; a session compares it with the
    // picture it encoded last.
    quint64 generation() const { return m_generation; }
    // A session encoded a picture of this phone (counted for the admin view).
    void countEncode() { ++m_encodes; }
    QJsonObject state() const;

signals:
    // The screen looks different now.
    void changed();
    // The phone is going down (reboot or reset): every stream ends.
    void goingDown();

private:
    struct File {
        QString path;
        qint64 size;
        QString md5;
    };
    struct App {
        QString packageName;
        QString label;
    };

    void markDirty();
    void scheduleClock();
    void tap(QPoint p);
    void goHome();
    void goBack();
    void toggleMenu();
    void typeKey(int code);
    void appendToNotes(const QString &text);
    QVector<App> homeApps() const;
    void render();
    void drawStatusBar(class QPainter &p) const;
    void drawHome(QPainter &p) const;
    void drawNotes(QPainter &p) const;
    void drawFiles(QPainter &p) const;
    void drawApp(QPainter &p) const;
    void drawBoot(QPainter &p) const;
    void drawMenu(QPainter &p) const;
    void drawNavBar(QPainter &p) const;
    void drawHeader(QPainter &p, const QString &title, const QColor &color) const;

    const QString m_padCode;
    const QString m_name;
    const bool m_canDrawText;
    Screen m_screen = Screen::Home;
    QString m_openApp;
    bool m_menuOpen = false;
    QString m_notes;
    QString m_clipboard;
    QVector<File> m_files;
    QVector<App> m_apps;
    QJsonArray m_touches;
    QJsonArray m_keys;
    QJsonArray m_texts;
    bool m_touchDown = false;
    bool m_showFeedback = false;
    QPoint m_touchPoint;
    QPoint m_pressPoint;
    bool m_booting = false;
    int m_bootCount = 0;
    QElapsedTimer m_bootClock;
    int m_bootMillis = 0;
    QTimer m_bootTimer;
    QTimer m_feedbackTimer;
    QTimer m_clockTimer;
    QString m_clockText;
    QImage m_image;
    bool m_dirty = true;
    quint64 m_generation = 1;
    qint64 m_renders = 0;
    qint64 m_encodes = 0;
};
