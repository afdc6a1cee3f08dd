#pragma once

#include "platform/swplay/videolevel.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SWDataSourceListener;
class SWStream;

// What to connect to and how, and the way input reaches the phone. Calls
// are thread-safe; input calls never block.
class SWDataSource final
{
public:
    SWDataSource(uint32_t playerId, SWDataSourceListener *listener);
    ~SWDataSource();
    SWDataSource(const SWDataSource &) = delete;
    SWDataSource &operator=(const SWDataSource &) = delete;

    uint32_t playerId() const { return m_playerId; }
    SWDataSourceListener *listener() const { return m_listener; }

    // Returns 0, or -1 for missing values.
    int setLoginParams(const char *ip, uint16_t port, int32_t userId, const char *sessionId,
                       const char *padCode, int32_t flags);
    // frameRate is how many pictures a second the phone sends at most
    // (30 for a control window, 1 for a preview); reconnectCount bounds the
    // retries after a lost connection.
    int setPlayParams(const char *options, int32_t displayId, int32_t width, int32_t height,
                      int32_t frameRate, int32_t maxFrameRate, int32_t bitRateKbps, int32_t audio,
                      int32_t reserved1, int32_t reserved2, int32_t reconnectCount, int32_t video,
                      int32_t reserved3);
    int setVideoLevels(const VideoLevel *levels, int count);
    // 0 lets the phone choose (the first level); otherwise the level whose
    // id matches. Takes effect at once on a running stream.
    int setVideoLevel(int index);
    int setBusinessType(int type);

    // Actions: 0 down, 1 up, 2 move. Returns 0 when queued for the phone,
    // -1 when no stream is connected, -2 for bad arguments.
    int sendTouchEvent(int action, int pointerCount, const int *x, const int *y, const float *pressure);
    // Actions: 0 down, 1 up, 3 a whole press.
    int sendKeyEvent(int action, int code);
    // UTF-8 text for the phone's clipboard (at most 1 MiB).
    int copyToRemote(const char *data, int length);
    // UTF-8 text typed into the phone's focused field, as an input method
    // commits it (at most 1 MiB). -3 when the phone speaks no text
    // (protocol version 1).
    int sendText(const char *data, int length);

private:
    friend class SWPlayer;
    friend class SWStream;

    struct Params {
        std::string ip;
        uint16_t port = 0;
        int32_t userId = 0;
        std::string sessionId;
        std::string padCode;
        int32_t loginFlags = 0;
        std::string playOptions;
        int32_t play[12] = {-1, 0, 0, 30, 30, 512, 0, -1, -1, 3, 1, 0};
        std::vector<VideoLevel> levels;
        int32_t level = 1;
        int32_t businessType = 0;
    };
    Params params() const;
    void attach(const std::shared_ptr<SWStream> &stream);
    int post(std::string message);

    const uint32_t m_playerId;
    SWDataSourceListener *const m_listener;
    mutable std::mutex m_mutex;
    Params m_params;
    std::weak_ptr<SWStream> m_stream;
};
