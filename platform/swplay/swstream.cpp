#include "platform/swplay/swstream.h"

#include "platform/swplay/swdatasourcelistener.h"
#include "platform/swplay/swdecoder.h"
#include "platform/swplay/swlog.h"
#include "platform/swplay/videodisplaywinbase_p.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kKeepAliveMs = 2000;
constexpr int kStatisticsMs = 2000;
constexpr size_t kMaxQueuedOut = 8 * 1024 * 1024;
// About three seconds of video: beyond this the decoder cannot catch up, so
// the backlog is thrown away and the phone asked for a fresh key frame.
constexpr size_t kMaxPackets = 90;
constexpr int kKeyRequestGapMs = 300;

std::mutex g_registryMutex;
std::vector<std::weak_ptr<SWStream>> g_registry;
std::mutex g_timeoutsMutex;
SWStream::Timeouts g_timeouts;

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

std::vector<std::shared_ptr<SWStream>> liveStreams()
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    std::vector<std::shared_ptr<SWStream>> out;
    auto it = g_registry.begin();
    while (it != g_registry.end()) {
        if (auto s = it->lock()) {
            out.push_back(std::move(s));
            ++it;
        } else {
            it = g_registry.erase(it);
        }
    }
    return out;
}

} // namespace

SWStream::SWStream(const SWDataSource::Params &params, SWDataSourceListener *listener, VideoDisplayWinBase *display)
    : m_params(params)
    , m_listener(listener)
    , m_display(display)
{
    std::lock_guard<std::mutex> lock(g_timeoutsMutex);
    m_timeouts = g_timeouts;
}

SWStream::~SWStream()
{
    // Threads are joined by stop(); one that stop() left running holds a
    // reference, so by now none can be running this object.
    if (m_network.joinable())
        m_network.detach();
    if (m_decoding.joinable())
        m_decoding.detach();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void SWStream::setTimeouts(const Timeouts &t)
{
    std::lock_guard<std::mutex> lock(g_timeoutsMutex);
    g_timeouts = t;
}

void SWStream::stopAll()
{
    for (const auto &s : liveStreams())
        s->stop();
}

void SWStream::detachAll(const void *object)
{
    for (const auto &s : liveStreams()) {
        std::lock_guard<std::recursive_mutex> lock(s->m_callbackMutex);
        if (static_cast<const void *>(s->m_listener) == object)
            s->m_listener = nullptr;
        if (static_cast<const void *>(s->m_display) == object)
            s->m_display = nullptr;
    }
}

void SWStream::start()
{
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        g_registry.push_back(weak_from_this());
    }
    auto self = shared_from_this();
    std::lock_guard<std::mutex> lock(m_joinMutex);
    m_decoding = std::thread([self] { self->decodeMain(); });
    m_network = std::thread([self] { self->networkMain(); });
}

bool SWStream::onOwnThread() const
{
    const auto id = std::this_thread::get_id();
    return id == m_network.get_id() || id == m_decoding.get_id();
}

void SWStream::stop()
{
    {
        std::lock_guard<std::recursive_mutex> lock(m_callbackMutex);
        m_quiet = true;
    }
    m_stopping = true;
    wake();
    {
        std::lock_guard<std::mutex> lock(m_packetMutex);
        m_decodeStop = true;
    }
    m_packetCv.notify_all();
    std::lock_guard<std::mutex> lock(m_joinMutex);
    if (onOwnThread())
        return;
    if (m_network.joinable())
        m_network.join();
    if (m_decoding.joinable())
        m_decoding.join();
}

void SWStream::wake()
{
    if (m_wakeFd >= 0) {
        const uint64_t one = 1;
        const ssize_t r = ::write(m_wakeFd, &one, sizeof one);
        (void)r;
    }
}

int SWStream::post(std::string message)
{
    if (!m_connected)
        return -1;
    {
        std::lock_guard<std::mutex> lock(m_outMutex);
        if (m_outBytes + message.size() > kMaxQueuedOut)
            return -2;
        m_outBytes += message.size();
        m_out.push_back(std::move(message));
    }
    wake();
    return 0;
}

void SWStream::setLevel(int level)
{
    {
        std::lock_guard<std::mutex> lock(m_paramsMutex);
        m_params.level = level;
    }
    post(swp::encodeInt(swp::Type::Level, level));
}

template <typename F>
void SWStream::notify(F &&f)
{
    std::lock_guard<std::recursive_mutex> lock(m_callbackMutex);
    if (!m_quiet && m_listener)
        f(m_listener);
}

bool SWStream::sleepInterruptibly(int ms)
{
    const int64_t until = nowMs() + ms;
    while (!m_stopping) {
        const int64_t left = until - nowMs();
        if (left <= 0)
            return true;
        pollfd p{m_wakeFd, POLLIN, 0};
        ::poll(&p, 1, int(left));
    }
    return false;
}

void SWStream::networkMain()
{
    const int retries = std::clamp(m_params.play[9] >= 0 ? m_params.play[9] : 3, 0, 10);
    swlog::write(3, "stream %s@%s:%u starting, %d retries", m_params.padCode.c_str(), m_params.ip.c_str(),
                 unsigned(m_params.port), retries);
    int attempt = 0;
    Outcome outcome;
    for (;;) {
        outcome = runConnection();
        m_connected = false;
        if (outcome.end != End::Failed || m_stopping)
            break;
        if (outcome.wasAccepted)
            attempt = 0;
        if (++attempt > retries)
            break;
        swlog::write(2, "stream %s: %s; reconnecting (%d/%d)", m_params.padCode.c_str(), outcome.message.c_str(),
                     attempt, retries);
        notify([&](SWDataSourceListener *l) { l->onReconnecting(attempt); });
        if (!sleepInterruptibly(m_timeouts.retryDelayMs))
            break;
    }
    {
        std::lock_guard<std::mutex> lock(m_packetMutex);
        m_decodeStop = true;
    }
    m_packetCv.notify_all();
    if (m_stopping || outcome.end == End::Stopped) {
        swlog::write(3, "stream %s stopped", m_params.padCode.c_str());
        return;
    }
    const int code = int(outcome.code);
    swlog::write(2, "stream %s disconnected: %d %s", m_params.padCode.c_str(), code, outcome.message.c_str());
    if (outcome.end == End::Failed)
        notify([&](SWDataSourceListener *l) { l->onDisconnected(code); });
    else
        notify([&](SWDataSourceListener *l) { l->onDisconnected(code, outcome.message.c_str()); });
}

SWStream::Outcome SWStream::connectSocket(int &fd)
{
    Outcome failed;
    failed.code = swp::kCodeConnectFailed;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *found = nullptr;
    const std::string port = std::to_string(m_params.port);
    if (::getaddrinfo(m_params.ip.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
        failed.message = "cannot resolve " + m_params.ip;
        return failed;
    }
    failed.message = "cannot connect to " + m_params.ip + ":" + port;
    for (addrinfo *ai = found; ai && fd < 0 && !m_stopping; ai = ai->ai_next) {
        const int s = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (s < 0)
            continue;
        if (::connect(s, ai->ai_addr, ai->ai_addrlen) == 0) {
            fd = s;
            break;
        }
        if (errno != EINPROGRESS) {
            ::close(s);
            continue;
        }
        const int64_t until = nowMs() + m_timeouts.connectMs;
        bool done = false;
        while (!m_stopping && !done) {
            const int64_t left = until - nowMs();
            if (left <= 0)
                break;
            pollfd p[2] = {{s, POLLOUT, 0}, {m_wakeFd, POLLIN, 0}};
            if (::poll(p, 2, int(left)) > 0 && p[0].revents)
                done = true;
        }
        int err = 0;
        socklen_t len = sizeof err;
        if (done && ::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) {
            fd = s;
            break;
        }
        if (done)
            failed.message += std::string(": ") + std::strerror(err);
        else
            failed.message += ": timed out";
        ::close(s);
    }
    ::freeaddrinfo(found);
    if (m_stopping) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        return Outcome{End::Stopped, 0, {}, false};
    }
    if (fd < 0)
        return failed;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return Outcome{End::Stopped, 0, {}, true}; // "wasAccepted" here means connected
}

SWStream::Outcome SWStream::runConnection()
{
    int fd = -1;
    Outcome connected = connectSocket(fd);
    if (fd < 0)
        return connected;

    // A new connection starts a new video stream.
    {
        std::lock_guard<std::mutex> lock(m_packetMutex);
        m_packets.clear();
        m_waitKeyFrame = true;
        m_resetDecoder = true;
    }
    {
        std::lock_guard<std::mutex> lock(m_outMutex);
        m_out.clear();
        m_outBytes = 0;
    }
    swp::Hello hello;
    {
        std::lock_guard<std::mutex> lock(m_paramsMutex);
        hello.userId = m_params.userId;
        hello.sessionId = m_params.sessionId;
        hello.padCode = m_params.padCode;
        hello.loginFlags = m_params.loginFlags;
        hello.businessType = m_params.businessType;
        hello.playOptions = m_params.playOptions;
        std::copy(std::begin(m_params.play), std::end(m_params.play), hello.play.begin());
        for (const VideoLevel &l : m_params.levels) {
            swp::LevelFields f;
            std::memcpy(f.data(), &l, sizeof l);
            hello.levels.push_back(f);
        }
        hello.level = m_params.level;
    }
    std::string outBuf = swp::encodeHello(hello);
    size_t outPos = 0;

    swp::Deframer deframer;
    Outcome outcome;
    outcome.end = End::Failed;
    outcome.code = swp::kCodeConnectionLost;
    bool accepted = false;
    const int64_t start = nowMs();
    int64_t lastReceived = start;
    int64_t lastKeepAlive = start;
    int64_t lastStatistics = start;
    std::vector<char> readBuf(64 * 1024);

    while (!m_stopping) {
        const int64_t now = nowMs();
        if (!accepted && now - start > m_timeouts.helloMs) {
            outcome.message = "no answer to hello";
            break;
        }
        if (accepted && now - lastReceived > m_timeouts.silenceMs) {
            outcome.message = "phone silent";
            break;
        }
        if (accepted && now - lastKeepAlive >= kKeepAliveMs) {
            lastKeepAlive = now;
            post(swp::encodeKeepAlive(uint64_t(now)));
        }
        if (accepted && now - lastStatistics >= kStatisticsMs) {
            lastStatistics = now;
            emitStatistics();
        }
        if (outPos == outBuf.size()) {
            outBuf.clear();
            outPos = 0;
            std::lock_guard<std::mutex> lock(m_outMutex);
            while (!m_out.empty() && outBuf.size() < 256 * 1024) {
                outBuf += m_out.front();
                m_out.pop_front();
            }
            m_outBytes -= std::min(m_outBytes, outBuf.size());
        }
        pollfd p[2] = {{fd, short(POLLIN | (outPos < outBuf.size() ? POLLOUT : 0)), 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(p, 2, 200) < 0 && errno != EINTR) {
            outcome.message = "poll failed";
            break;
        }
        if (p[1].revents & POLLIN) {
            uint64_t drained;
            while (::read(m_wakeFd, &drained, sizeof drained) > 0) {
            }
        }
        if (p[0].revents & POLLOUT && outPos < outBuf.size()) {
            const ssize_t n = ::send(fd, outBuf.data() + outPos, outBuf.size() - outPos, MSG_NOSIGNAL);
            if (n > 0)
                outPos += size_t(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                outcome.message = std::string("send: ") + std::strerror(errno);
                break;
            }
        }
        if (p[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(fd, readBuf.data(), readBuf.size(), 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
                outcome.message = n == 0 ? "closed by the phone" : std::string("recv: ") + std::strerror(errno);
                break;
            }
            if (n > 0) {
                lastReceived = nowMs();
                m_bytesIn += uint64_t(n);
                deframer.append(readBuf.data(), size_t(n));
                swp::Type type;
                std::string body;
                bool done = false;
                for (;;) {
                    const auto r = deframer.next(type, body);
                    if (r == swp::Deframer::Result::NeedMore)
                        break;
                    if (r == swp::Deframer::Result::Error) {
                        outcome.code = swp::kCodeBadServer;
                        outcome.message = "broken message framing";
                        done = true;
                        break;
                    }
                    if (!handleMessage(type, body, accepted, outcome)) {
                        done = true;
                        break;
                    }
                }
                if (done)
                    break;
            }
        }
    }
    outcome.wasAccepted = accepted;
    m_connected = false;
    if (m_stopping) {
        // Say goodbye if the socket takes it at once; never wait for it.
        const std::string bye = swp::encodeReason(swp::Type::Disconnect, swp::Reason{swp::kCodeClientStop, "stop"});
        ::send(fd, bye.data(), bye.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        outcome.end = End::Stopped;
    }
    ::close(fd);
    return outcome;
}

bool SWStream::handleMessage(swp::Type type, const std::string &body, bool &accepted, Outcome &outcome)
{
    if (!accepted) {
        if (type == swp::Type::Accept) {
            swp::Accept a;
            if (!swp::decodeAccept(body, a) || a.screenWidth == 0 || a.screenHeight == 0) {
                outcome.code = swp::kCodeBadServer;
                outcome.message = "malformed accept";
                return false;
            }
            accepted = true;
            m_sessionVersion = a.version < swp::kVersion ? a.version : swp::kVersion;
            m_connected = true;
            swlog::write(3, "stream %s connected, screen %dx%d, level %d, %d fps", m_params.padCode.c_str(),
                         a.screenWidth, a.screenHeight, a.level, a.frameRate);
            {
                std::lock_guard<std::recursive_mutex> lock(m_callbackMutex);
                if (m_display) {
                    m_display->d->srcWidth = a.screenWidth;
                    m_display->d->srcHeight = a.screenHeight;
                }
            }
            notify([](SWDataSourceListener *l) { l->onConnected(); });
            if (a.rotation != 0)
                notify([&](SWDataSourceListener *l) { l->onScreenRotation(a.rotation); });
            return true;
        }
        if (type == swp::Type::Refuse || type == swp::Type::Disconnect) {
            swp::Reason r;
            if (!swp::decodeReason(body, r)) {
                outcome.code = swp::kCodeBadServer;
                outcome.message = "malformed refusal";
                return false;
            }
            outcome.end = type == swp::Type::Refuse ? End::Refused : End::ServerEnded;
            outcome.code = r.code;
            outcome.message = r.message;
            return false;
        }
        if (type == swp::Type::KeepAlive)
            return true;
        outcome.code = swp::kCodeBadServer;
        outcome.message = "unexpected message before accept";
        return false;
    }
    switch (type) {
    case swp::Type::Video: {
        swp::Video v;
        if (swp::decodeVideo(body, v))
            queuePacket(std::move(v));
        else {
            ++m_errors;
            requestKeyFrame();
        }
        return true;
    }
    case swp::Type::Disconnect:
    case swp::Type::Refuse: {
        swp::Reason r;
        outcome.end = End::ServerEnded;
        if (swp::decodeReason(body, r)) {
            outcome.code = r.code;
            outcome.message = r.message;
        } else {
            outcome.code = swp::kCodeBadServer;
            outcome.message = "malformed disconnect";
        }
        return false;
    }
    case swp::Type::ClipboardFromPhone: {
        std::string bytes;
        if (swp::decodeBytes(body, bytes))
            notify([&](SWDataSourceListener *l) { l->onCopyFromRemote(bytes.data(), int(bytes.size())); });
        return true;
    }
    case swp::Type::Rotation: {
        int32_t rotation = 0;
        if (swp::decodeInt(body, rotation) && rotation >= 0 && rotation <= 3)
            notify([&](SWDataSourceListener *l) { l->onScreenRotation(rotation); });
        return true;
    }
    case swp::Type::ControlTime: {
        int32_t seconds = 0;
        if (swp::decodeInt(body, seconds))
            notify([&](SWDataSourceListener *l) { l->onControlTime(seconds); });
        return true;
    }
    default:
        // Keep-alives, and messages of newer phones.
        return true;
    }
}

void SWStream::queuePacket(swp::Video &&video)
{
    {
        std::lock_guard<std::mutex> lock(m_packetMutex);
        if (m_packets.size() >= kMaxPackets) {
            m_dropped += m_packets.size();
            m_packets.clear();
            m_waitKeyFrame = true;
        }
        if (m_waitKeyFrame && !video.keyFrame) {
            ++m_dropped;
        } else {
            m_waitKeyFrame = false;
            m_packets.push_back(Packet{std::move(video.data), video.keyFrame, int64_t(video.ptsMicros)});
        }
    }
    m_packetCv.notify_one();
    bool waiting;
    {
        std::lock_guard<std::mutex> lock(m_packetMutex);
        waiting = m_waitKeyFrame;
    }
    if (waiting)
        requestKeyFrame();
}

void SWStream::requestKeyFrame()
{
    const int64_t now = nowMs();
    {
        std::lock_guard<std::mutex> lock(m_packetMutex);
        if (now - m_lastKeyRequestMs < kKeyRequestGapMs)
            return;
        m_lastKeyRequestMs = now;
    }
    post(swp::encodeEmpty(swp::Type::KeyFrameRequest));
}

void SWStream::decodeMain()
{
    SWDecoder decoder;
    bool open = false;
    for (;;) {
        Packet packet;
        bool newest;
        {
            std::unique_lock<std::mutex> lock(m_packetMutex);
            m_packetCv.wait(lock, [this] { return m_decodeStop || !m_packets.empty() || m_resetDecoder; });
            if (m_decodeStop)
                break;
            if (m_resetDecoder) {
                m_resetDecoder = false;
                open = false;
            }
            if (m_packets.empty())
                continue;
            packet = std::move(m_packets.front());
            m_packets.pop_front();
            newest = m_packets.empty();
        }
        if (!open) {
            open = decoder.open();
            if (!open) {
                swlog::write(1, "stream %s: no H.264 decoder", m_params.padCode.c_str());
                continue;
            }
        }
        const int64_t t0 = nowUs();
        const int r = decoder.decode(packet.data, packet.pts);
        const int64_t decodeMicros = nowUs() - t0;
        if (r < 0) {
            ++m_errors;
            {
                std::lock_guard<std::mutex> lock(m_packetMutex);
                // Wait for a clean picture rather than show a smeared one.
                if (!packet.keyFrame) {
                    m_dropped += m_packets.size();
                    m_packets.clear();
                    m_waitKeyFrame = true;
                }
            }
            if (m_errors.load() % 50 == 1)
                swlog::write(2, "stream %s: corrupt video (%llu so far)", m_params.padCode.c_str(),
                             static_cast<unsigned long long>(m_errors.load()));
            requestKeyFrame();
            continue;
        }
        if (r == 0)
            continue;
        ++m_decoded;
        if (decoder.width() != m_videoWidth || decoder.height() != m_videoHeight) {
            m_videoWidth = decoder.width();
            m_videoHeight = decoder.height();
            const int w = m_videoWidth;
            const int h = m_videoHeight;
            notify([&](SWDataSourceListener *l) { l->onVideoSizeChanged(w, h); });
        }
        // A late picture is decoded (the next ones refer to it) but only the
        // newest is converted and shown.
        if (!newest) {
            ++m_dropped;
            continue;
        }
        presentFrame(decoder, decodeMicros, packet.pts);
    }
}

void SWStream::presentFrame(SWDecoder &decoder, int64_t decodeMicros, int64_t pts)
{
    std::lock_guard<std::recursive_mutex> lock(m_callbackMutex);
    if (m_quiet || !m_display)
        return;
    VideoDisplayWinBase::Private *d = m_display->d.get();
    std::lock_guard<std::mutex> frameLock(d->mutex);
    const int64_t t0 = nowUs();
    if (!decoder.convert(d->pixels(), d->width, d->height, d->width * 4))
        return;
    d->decodeMicros = decodeMicros;
    d->convertMicros = nowUs() - t0;
    d->ptsMicros = pts;
    m_display->onFrameReady();
}

void SWStream::emitStatistics()
{
    const uint64_t decoded = m_decoded.load();
    const uint64_t bytes = m_bytesIn.load();
    const double seconds = kStatisticsMs / 1000.0;
    char json[256];
    std::snprintf(json, sizeof json,
                  "{\"fps\":%.1f,\"kbps\":%.0f,\"decoded\":%llu,\"dropped\":%llu,\"errors\":%llu,\"width\":%d,"
                  "\"height\":%d}",
                  double(decoded - m_lastStatDecoded) / seconds, double(bytes - m_lastStatBytes) * 8 / 1000 / seconds,
                  static_cast<unsigned long long>(decoded), static_cast<unsigned long long>(m_dropped.load()),
                  static_cast<unsigned long long>(m_errors.load()), m_videoWidth.load(), m_videoHeight.load());
    m_lastStatDecoded = decoded;
    m_lastStatBytes = bytes;
    notify([&](SWDataSourceListener *l) { l->onStatistics(json); });
}
