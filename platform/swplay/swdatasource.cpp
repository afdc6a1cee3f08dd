#include "platform/swplay/swdatasource.h"

#include "platform/swplay/swlog.h"
#include "platform/swplay/swprotocol.h"
#include "platform/swplay/swstream.h"

SWDataSource::SWDataSource(uint32_t playerId, SWDataSourceListener *listener)
    : m_playerId(playerId)
    , m_listener(listener)
{
}

SWDataSource::~SWDataSource() = default;

int SWDataSource::setLoginParams(const char *ip, uint16_t port, int32_t userId, const char *sessionId,
                                 const char *padCode, int32_t flags)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_params.ip = ip ? ip : "";
    m_params.port = port;
    m_params.userId = userId;
    m_params.sessionId = sessionId ? sessionId : "";
    m_params.padCode = padCode ? padCode : "";
    m_params.loginFlags = flags;
    const bool complete = !m_params.ip.empty() && port != 0 && !m_params.sessionId.empty() && !m_params.padCode.empty();
    swlog::write(3, "login params %s:%u user %d pad %s session %s", m_params.ip.c_str(), unsigned(port), userId,
                 m_params.padCode.c_str(), swlog::mask(m_params.sessionId).c_str());
    return complete ? 0 : -1;
}

int SWDataSource::setPlayParams(const char *options, int32_t displayId, int32_t width, int32_t height,
                                int32_t frameRate, int32_t maxFrameRate, int32_t bitRateKbps, int32_t audio,
                                int32_t reserved1, int32_t reserved2, int32_t reconnectCount, int32_t video,
                                int32_t reserved3)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_params.playOptions = options ? options : "";
    const int32_t values[12] = {displayId, width,     height,    frameRate,      maxFrameRate, bitRateKbps,
                                audio,     reserved1, reserved2, reconnectCount, video,        reserved3};
    std::copy(std::begin(values), std::end(values), std::begin(m_params.play));
    return 0;
}

int SWDataSource::setVideoLevels(const VideoLevel *levels, int count)
{
    if (count < 0 || count > swp::kMaxLevels || (count > 0 && !levels))
        return -1;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_params.levels.assign(levels, levels + count);
    return 0;
}

int SWDataSource::setVideoLevel(int index)
{
    std::shared_ptr<SWStream> stream;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_params.level = index;
        stream = m_stream.lock();
    }
    swlog::write(3, "video level %d", index);
    if (stream)
        stream->setLevel(index);
    return 0;
}

int SWDataSource::setBusinessType(int type)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_params.businessType = type;
    return 0;
}

SWDataSource::Params SWDataSource::params() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_params;
}

void SWDataSource::attach(const std::shared_ptr<SWStream> &stream)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stream = stream;
}

int SWDataSource::post(std::string message)
{
    std::shared_ptr<SWStream> stream;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        stream = m_stream.lock();
    }
    return stream ? stream->post(std::move(message)) : -1;
}

int SWDataSource::sendTouchEvent(int action, int pointerCount, const int *x, const int *y, const float *pressure)
{
    if (pointerCount < 1 || pointerCount > swp::kMaxPointers || !x || !y)
        return -2;
    swp::Touch t;
    t.action = action;
    t.x.assign(x, x + pointerCount);
    t.y.assign(y, y + pointerCount);
    if (pressure)
        t.pressure.assign(pressure, pressure + pointerCount);
    else
        t.pressure.assign(size_t(pointerCount), 0.0f);
    return post(swp::encodeTouch(t));
}

int SWDataSource::sendKeyEvent(int action, int code)
{
    return post(swp::encodeKey(action, code));
}

int SWDataSource::copyToRemote(const char *data, int length)
{
    if (length < 0 || (length > 0 && !data) || uint32_t(length) > swp::kMaxClipboard)
        return -2;
    return post(swp::encodeBytes(swp::Type::ClipboardToPhone, std::string(data ? data : "", size_t(length))));
}

int SWDataSource::sendText(const char *data, int length)
{
    if (length <= 0 || !data || uint32_t(length) > swp::kMaxClipboard)
        return -2;
    std::shared_ptr<SWStream> stream;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        stream = m_stream.lock();
    }
    if (!stream)
        return -1;
    if (!stream->isConnected())
        return -1;
    if (stream->sessionVersion() < 2)
        return -3;
    return stream->post(swp::encodeBytes(swp::Type::Text, std::string(data, size_t(length))));
}
