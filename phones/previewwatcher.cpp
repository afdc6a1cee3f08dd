#include "phones/previewwatcher.h"

#include <QEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QWidget>

PreviewWatcher::PreviewWatcher(QScrollArea *area, QObject *parent)
    : QObject(parent)
    , m_area(area)
{
    m_clock.start();
    // One look per turn of the event loop, however many scroll steps,
    // resizes and keeper changes came in it.
    m_soon.setSingleShot(true);
    m_soon.setInterval(0);
    connect(&m_soon, &QTimer::timeout, this, &PreviewWatcher::evaluate);
    m_graceTimer.setSingleShot(true);
    connect(&m_graceTimer, &QTimer::timeout, this, &PreviewWatcher::evaluate);
    if (!area)
        return;
    connect(area->verticalScrollBar(), &QScrollBar::valueChanged, this, &PreviewWatcher::reevaluate);
    connect(area->horizontalScrollBar(), &QScrollBar::valueChanged, this, &PreviewWatcher::reevaluate);
    // Hiding or showing any ancestor (the page, the window) reaches the
    // viewport as its own hide or show.
    watch(area->viewport());
    watch(area->window());
}

PreviewWatcher::~PreviewWatcher() = default;

void PreviewWatcher::watch(QObject *object)
{
    if (!object)
        return;
    for (const QPointer<QObject> &watched : qAsConst(m_watched)) {
        if (watched == object)
            return;
    }
    m_watched.push_back(object);
    object->installEventFilter(this);
}

void PreviewWatcher::setCards(const QVector<Card> &cards)
{
    m_entries.clear();
    m_entries.reserve(cards.size());
    for (const Card &card : cards) {
        if (!card.widget || !card.preview)
            continue;
        Entry entry;
        entry.widget = card.widget;
        entry.preview = card.preview;
        m_entries.push_back(entry);
    }
    if (m_area) {
        // Cards move when the card area is laid out again (a new width).
        watch(m_area->widget());
        watch(m_area->window());
    }
    reevaluate();
}

void PreviewWatcher::setKeeper(Keeper keeper)
{
    m_keeper = std::move(keeper);
    reevaluate();
}

void PreviewWatcher::setGrace(int ms)
{
    m_graceMs = qMax(0, ms);
}

void PreviewWatcher::reevaluate()
{
    if (!m_soon.isActive())
        m_soon.start();
}

bool PreviewWatcher::eventFilter(QObject *watched, QEvent *event)
{
    // Cards move only when the card area gets a new size (its layout places
    // them then); a new picture on a card asks the layouts again every
    // second, which moves nothing and is not looked at.
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Resize:
    case QEvent::WindowStateChange:
        reevaluate();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

bool PreviewWatcher::areaShown() const
{
    if (!m_area || !m_area->widget())
        return false;
    const QWidget *window = m_area->window();
    return m_area->viewport()->isVisible() && !(window && window->isMinimized());
}

bool PreviewWatcher::isOnScreen(const QWidget *card) const
{
    for (const Entry &entry : m_entries) {
        if (entry.widget == card)
            return entry.onScreen;
    }
    return false;
}

int PreviewWatcher::onScreenCount() const
{
    int count = 0;
    for (const Entry &entry : m_entries)
        count += entry.onScreen ? 1 : 0;
    return count;
}

void PreviewWatcher::evaluate()
{
    m_soon.stop();
    ++m_looks;
    const bool shown = areaShown();
    QWidget *container = m_area ? m_area->widget() : nullptr;
    // The part of the card area the viewport shows, in the area's coordinates.
    QRect view;
    if (shown && container)
        view = QRect(container->mapFrom(m_area->viewport(), QPoint(0, 0)), m_area->viewport()->size());

    const qint64 now = m_clock.elapsed();
    qint64 nextStop = -1;
    // Stopping a stream waits for the library's threads: one per turn of
    // the event loop, so a row of cards leaving view is no single stall.
    bool stopped = false;
    QVector<Entry *> startOnScreen;
    QVector<Entry *> startKept;
    for (Entry &entry : m_entries) {
        QWidget *card = entry.widget;
        if (!card)
            continue;
        bool onScreen = false;
        if (shown && !card->isHidden()) {
            const QRect rect = card->parentWidget() == container
                                   ? card->geometry()
                                   : QRect(card->mapTo(container, QPoint(0, 0)), card->size());
            onScreen = rect.intersects(view);
        }
        entry.onScreen = onScreen;
        const bool wanted = onScreen || (m_keeper && m_keeper(entry.preview->watchedServerSn()));
        WatchedPreview::Phase phase = entry.preview->previewPhase();
        if (wanted) {
            entry.stopAt = -1;
            // A waiting start of a card now on screen may have been queued
            // behind the others: the card moves it forward if so.
            if (phase == WatchedPreview::Phase::Off || (phase == WatchedPreview::Phase::Waiting && onScreen))
                (onScreen ? startOnScreen : startKept).push_back(&entry);
            continue;
        }
        // Not yet begun: nothing to churn, it goes now and leaves the
        // queue to the cards on screen.
        if (phase == WatchedPreview::Phase::Waiting) {
            entry.preview->dropWaitingStart();
            phase = entry.preview->previewPhase();
        }
        if (phase != WatchedPreview::Phase::Running) {
            entry.stopAt = -1;
            continue;
        }
        if (entry.stopAt < 0)
            entry.stopAt = now + m_graceMs;
        if (now >= entry.stopAt && !stopped) {
            entry.stopAt = -1;
            entry.preview->pausePreview();
            stopped = true;
            continue;
        }
        nextStop = nextStop < 0 ? entry.stopAt : qMin(nextStop, entry.stopAt);
    }
    // Top left first: the starter runs one start at a time.
    for (Entry *entry : qAsConst(startOnScreen))
        entry->preview->resumePreview(true);
    for (Entry *entry : qAsConst(startKept))
        entry->preview->resumePreview(false);
    if (nextStop >= 0)
        m_graceTimer.start(int(qMax<qint64>(0, nextStop - now)));
    else
        m_graceTimer.stop();
}
