#pragma once

#include "app/appevent.h"

#include <QObject>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <memory>

// Starts card previews one at a time on a background thread of its own: the
// blocking connection-data request runs there, and the widget work that
// follows is handed to the GUI thread. Starts run in the order they were
// asked for, those of cards on screen before the others. A start whose card
// has gone is dropped, also while still queued.
class PreviewStarter final : public QObject
{
    Q_OBJECT

public:
    // Fetches one phone's connection data; true when `out` was filled.
    using Fetch = std::function<bool(const QString &serverSn, ControlInfo *out)>;
    // Runs on the GUI thread (the context's thread) with the fetch's result.
    using Done = std::function<void(bool ok, const ControlInfo &info)>;

    // On screen: the user is looking at the card. Background: a card kept
    // streaming off screen (the phone takes group control's records).
    enum class Priority { Background, OnScreen };

    // Without a fetch function the backend's is used.
    explicit PreviewStarter(QObject *parent = nullptr, Fetch fetch = Fetch());
    // Drops the starts still waiting and waits for the one on the wire.
    ~PreviewStarter() override;

    // Queues a start for the phone; `done` runs while `context` lives.
    // GUI thread.
    void start(QObject *context, const QString &serverSn, Done done, Priority priority = Priority::OnScreen);
    // Forgets the waiting starts of a context (a card being deleted, or
    // scrolled away before its turn); how many were dropped.
    int cancel(QObject *context);
    // Drops the waiting starts and waits for the one on the wire; the
    // application's end calls it, since the main window outlives it.
    void stop();
    int waiting() const;
    // Whether a start of the context is queued and has not begun.
    bool isWaiting(QObject *context) const;

    struct Waiting;

private:
    Q_DISABLE_COPY_MOVE(PreviewStarter)

    Fetch m_fetch;
    // Shared with the queued starts, which may be dropped on any thread.
    std::shared_ptr<Waiting> m_waiting;
    // One thread: starts run one at a time, in order.
    QThreadPool m_pool;
};
