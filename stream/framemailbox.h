#pragma once

#include <QImage>
#include <QMutex>

// Hands frames from the streaming library's thread to the GUI thread. Only
// the newest frame waits: a newer one replaces it, so a slow GUI thread
// skips frames instead of queueing stale ones.
class FrameMailbox final
{
public:
    // Frames put, frames taken for painting, and frames replaced by a newer
    // one before the GUI thread got to them.
    struct Counters
    {
        quint64 received = 0;
        quint64 shown = 0;
        quint64 replaced = 0;
    };

    // Any thread. True when no delivery is scheduled yet: the caller
    // schedules one on the GUI thread, which then calls take().
    bool put(QImage frame);
    // GUI thread. The waiting frame (null when there is none); the next put
    // schedules a delivery again.
    QImage take();
    // Drops the waiting frame, e.g. when the stream stops.
    void clear();
    Counters counters() const;

private:
    mutable QMutex m_mutex;
    QImage m_pending;
    bool m_deliveryPending = false;
    Counters m_counters;
};
