#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

class SWDataSource;
class SWStream;
class VideoDisplayWinBase;

// One stream: connects with its data source's parameters, decodes into its
// display and reports to the data source's listener.
class SWPlayer final
{
public:
    SWPlayer();
    // Stops the stream.
    ~SWPlayer();
    SWPlayer(const SWPlayer &) = delete;
    SWPlayer &operator=(const SWPlayer &) = delete;

    uint32_t getId() const { return m_id; }
    // The data source must have been made with this player's id. Returns 0 or -1.
    int setDataSource(const std::shared_ptr<SWDataSource> &source);
    int setDisplay(VideoDisplayWinBase *display);
    // Connects in the background; returns 0, or -1 without a data source.
    // Starting a running player restarts it.
    int start();
    // Ends the stream quietly; no notification follows once this returns
    // (unless called from a notification, which it then merely ends).
    int stop();

private:
    const uint32_t m_id;
    std::mutex m_mutex;
    std::shared_ptr<SWDataSource> m_source;
    VideoDisplayWinBase *m_display = nullptr;
    std::shared_ptr<SWStream> m_stream;
};
