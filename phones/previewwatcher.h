#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVector>

#include <functional>

class QScrollArea;
class QWidget;

// What the watcher needs of a card's preview. The card keeps its own state;
// the watcher only asks and tells.
class WatchedPreview
{
public:
    enum class Phase {
        Off,     // no stream, no start asked for
        Waiting, // a start is queued and has not begun
        Running, // a start is on the wire, the stream is open, or the last
                 // start failed (asked again only after a stop)
    };

    virtual QString watchedServerSn() const = 0;
    virtual Phase previewPhase() const = 0;
    // Off: queues a start (on screen before the others). Waiting: a start
    // queued behind the others moves forward when the card is on screen now.
    virtual void resumePreview(bool onScreen) = 0;
    // Waiting: the start is dropped before it runs.
    virtual void dropWaitingStart() = 0;
    // Ends the stream and any start; the last picture stays on the card.
    virtual void pausePreview() = 0;

protected:
    ~WatchedPreview() = default;
};

// Streams only the previews someone can see. A card whose rectangle leaves
// the card area's viewport, or whose page is hidden, or whose window is
// hidden or minimised, has its preview stopped after a grace period (a fast
// scroll past it does not churn); a card that comes into view is started at
// once and shows its last picture meanwhile. A start still waiting for a
// card that has left view is dropped at once. The keeper keeps a phone's
// stream up wherever its card is (group control relays through it).
//
// Cards are children, at any depth, of the scroll area's widget. GUI thread.
class PreviewWatcher final : public QObject
{
    Q_OBJECT

public:
    using Keeper = std::function<bool(const QString &serverSn)>;
    static constexpr int DefaultGraceMs = 1200;

    struct Card
    {
        QWidget *widget = nullptr;
        WatchedPreview *preview = nullptr;
    };

    explicit PreviewWatcher(QScrollArea *area, QObject *parent = nullptr);
    ~PreviewWatcher() override;

    // The cards of a new list, in card order, looked at soon. The cards
    // before are forgotten, not stopped: they go with their widgets.
    void setCards(const QVector<Card> &cards);
    void setKeeper(Keeper keeper);
    void setGrace(int ms);
    int grace() const { return m_graceMs; }

    // Looks again at the next turn of the event loop, however often asked
    // before: the keeper's answers or a card's stream changed.
    void reevaluate();

    // As of the last look.
    bool isOnScreen(const QWidget *card) const;
    int onScreenCount() const;
    // How many looks were taken; for tests and benchmarks.
    int looks() const { return m_looks; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Q_DISABLE_COPY_MOVE(PreviewWatcher)

    struct Entry
    {
        QPointer<QWidget> widget;
        WatchedPreview *preview = nullptr; // the widget's own: valid while it is
        bool onScreen = false;
        qint64 stopAt = -1;
    };

    void evaluate();
    void watch(QObject *object);
    bool areaShown() const;

    QPointer<QScrollArea> m_area;
    QVector<Entry> m_entries;
    Keeper m_keeper;
    int m_graceMs = DefaultGraceMs;
    QTimer m_soon;
    QTimer m_graceTimer;
    QElapsedTimer m_clock;
    QVector<QPointer<QObject>> m_watched;
    int m_looks = 0;
};
