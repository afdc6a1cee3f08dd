#include "platform/swplay/swplayer.h"

#include "platform/swplay/swdatasource.h"
#include "platform/swplay/swlog.h"
#include "platform/swplay/swstream.h"

#include <atomic>

namespace {
std::atomic<uint32_t> g_nextId{1};
}

SWPlayer::SWPlayer()
    : m_id(g_nextId++)
{
}

SWPlayer::~SWPlayer()
{
    stop();
}

int SWPlayer::setDataSource(const std::shared_ptr<SWDataSource> &source)
{
    if (source && source->playerId() != m_id) {
        swlog::write(1, "player %u: data source belongs to player %u", m_id, source->playerId());
        return -1;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_source = source;
    return 0;
}

int SWPlayer::setDisplay(VideoDisplayWinBase *display)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_display = display;
    return 0;
}

int SWPlayer::start()
{
    stop();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_source)
        return -1;
    m_stream = std::make_shared<SWStream>(m_source->params(), m_source->listener(), m_display);
    m_source->attach(m_stream);
    m_stream->start();
    return 0;
}

int SWPlayer::stop()
{
    std::shared_ptr<SWStream> stream;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        stream.swap(m_stream);
        if (m_source)
            m_source->attach(nullptr);
    }
    if (stream)
        stream->stop();
    return 0;
}
