#include "stream/framemailbox.h"

bool FrameMailbox::put(QImage frame)
{
    QMutexLocker lock(&m_mutex);
    ++m_counters.received;
    if (!m_pending.isNull())
        ++m_counters.replaced;
    m_pending = std::move(frame);
    const bool schedule = !m_deliveryPending;
    m_deliveryPending = true;
    return schedule;
}

QImage FrameMailbox::take()
{
    QMutexLocker lock(&m_mutex);
    QImage frame = std::move(m_pending);
    m_pending = QImage();
    m_deliveryPending = false;
    if (!frame.isNull())
        ++m_counters.shown;
    return frame;
}

void FrameMailbox::clear()
{
    QMutexLocker lock(&m_mutex);
    m_pending = QImage();
}

FrameMailbox::Counters FrameMailbox::counters() const
{
    QMutexLocker lock(&m_mutex);
    return m_counters;
}
