#pragma once

#include <cstdint>

// What a stream tells its owner. Every notification comes on a thread of the
// library; an implementation hands results to its own thread and must not
// wait there for a thread that may be stopping this stream.
class SWDataSourceListener
{
public:
    SWDataSourceListener() = default;
    // Detaches from every stream, so no notification reaches a dead object.
    virtual ~SWDataSourceListener();
    SWDataSourceListener(const SWDataSourceListener &) = delete;
    SWDataSourceListener &operator=(const SWDataSourceListener &) = delete;

    // The phone accepted the session (again, after a reconnection).
    virtual void onConnected() = 0;
    // The connection was lost or could not be made; attempt counts from 1.
    virtual void onReconnecting(int attempt) = 0;
    // The stream ended for good and the library has no text for it.
    virtual void onDisconnected(int code) = 0;
    // The stream ended for good; the phone side said why.
    virtual void onDisconnected(int code, const char *message) = 0;
    // Every two seconds while streaming: a JSON object with "fps", "kbps",
    // "decoded", "dropped", "errors", "width", "height".
    virtual void onStatistics(const char *json) = 0;

    // The phone turned its screen: 0, 1, 2, 3 quarter turns.
    virtual void onScreenRotation(int rotation);
    // Seconds of control left without input before the phone ends the session.
    virtual void onControlTime(int seconds);
    // Text the phone put on its clipboard, UTF-8.
    virtual void onCopyFromRemote(const char *data, int length);
    // The encoded picture size changed (a level change).
    virtual void onVideoSizeChanged(int width, int height);
};
