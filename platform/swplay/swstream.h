#pragma once

#include "platform/swplay/swdatasource.h"
#include "platform/swplay/swprotocol.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SWDataSourceListener;
class VideoDisplayWinBase;

// The running side of one player: a network thread that connects, says
// hello, reads and writes messages and reconnects; a decoding thread that
// turns access units into pictures in the display's buffer.
class SWStream final : public std::enable_shared_from_this<SWStream>
{
public:
    struct Timeouts {
        int connectMs = 5000;
        int helloMs = 5000;
        int silenceMs = 10000;
        int retryDelayMs = 1000;
    };

    SWStream(const SWDataSource::Params &params, SWDataSourceListener *listener, VideoDisplayWinBase *display);
    ~SWStream();
    SWStream(const SWStream &) = delete;
    SWStream &operator=(const SWStream &) = delete;

    void start();
    // Quiet: no notification once this returns (or at once when called from
    // one of the stream's own threads, which are then left to finish).
    void stop();
    // Queues a message for the phone: 0, -1 when not connected, -2 when the
    // queue is full.
    int post(std::string message);
    void setLevel(int level);
    // The protocol version of the connected session (1 before any accept).
    int sessionVersion() const { return m_sessionVersion; }
    bool isConnected() const { return m_connected; }

    static void setTimeouts(const Timeouts &t);
    static void stopAll();
    // Forgets a listener or display that is being destroyed.
    static void detachAll(const void *object);

private:
    enum class End { Stopped, Refused, ServerEnded, Failed };
    struct Outcome {
        End end = End::Failed;
        uint32_t code = 0;
        std::string message;
        bool wasAccepted = false;
    };
    struct Packet {
        std::string data;
        bool keyFrame = false;
        int64_t pts = 0;
    };

    void networkMain();
    Outcome runConnection();
    Outcome connectSocket(int &fd);
    bool handleMessage(swp::Type type, const std::string &body, bool &accepted, Outcome &outcome);
    void queuePacket(swp::Video &&video);
    void requestKeyFrame();
    void decodeMain();
    void presentFrame(class SWDecoder &decoder, int64_t decodeMicros, int64_t pts);
    void emitStatistics();
    bool sleepInterruptibly(int ms);
    void wake();
    bool onOwnThread() const;
    template <typename F>
    void notify(F &&f);

    SWDataSource::Params m_params;
    std::mutex m_paramsMutex;
    Timeouts m_timeouts;

    // Held while a notification or the frame hook runs; detach and stop
    // take it so nothing is called on a listener or display that left.
    std::recursive_mutex m_callbackMutex;
    SWDataSourceListener *m_listener;
    VideoDisplayWinBase *m_display;
    bool m_quiet = false;

    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_connected{false};
    std::atomic<int> m_sessionVersion{1};
    int m_wakeFd = -1;
    std::mutex m_joinMutex;
    std::thread m_network;
    std::thread m_decoding;

    std::mutex m_outMutex;
    std::deque<std::string> m_out;
    size_t m_outBytes = 0;

    std::mutex m_packetMutex;
    std::condition_variable m_packetCv;
    std::deque<Packet> m_packets;
    bool m_waitKeyFrame = true;
    bool m_resetDecoder = false;
    bool m_decodeStop = false;
    int64_t m_lastKeyRequestMs = -100000;

    std::atomic<uint64_t> m_decoded{0};
    std::atomic<uint64_t> m_dropped{0};
    std::atomic<uint64_t> m_errors{0};
    std::atomic<uint64_t> m_bytesIn{0};
    std::atomic<int> m_videoWidth{0};
    std::atomic<int> m_videoHeight{0};
    uint64_t m_lastStatDecoded = 0;
    uint64_t m_lastStatBytes = 0;
};
