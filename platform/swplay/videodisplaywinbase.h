#pragma once

#include <cstdint>
#include <memory>

class SWStream;

// Where a stream puts its pictures: a frame buffer in the destination format,
// refilled for every decoded frame, after which onFrameReady() is called on
// the library's decoding thread. The buffer holds still while the hook runs.
class VideoDisplayWinBase
{
public:
    VideoDisplayWinBase();
    // Detaches from every stream, so no frame lands in a dead object.
    virtual ~VideoDisplayWinBase();
    VideoDisplayWinBase(const VideoDisplayWinBase &) = delete;
    VideoDisplayWinBase &operator=(const VideoDisplayWinBase &) = delete;

    // format -1 (or 0): 32-bit ARGB, rows of width * 4 bytes. Returns 0, or
    // -1 for an unknown format or a size outside 16..4096.
    int setDstFormat(int format, int width, int height, int flags);
    // The size the view shows pictures at. Each decoded picture is scaled
    // and converted straight to it in one pass, so the buffer never holds
    // more than the view shows (a card's preview never holds a full-size
    // frame). Any thread; a change during a stream applies from the next
    // picture on. Returns 0, or -1 for a size outside 16..4096.
    int setViewSize(int width, int height);
    // width * height * 4 bytes, opaque black until the first frame.
    uint8_t *getFrameBuffer();
    int getDstWidth() const;
    int getDstHeight() const;
    // The phone's screen size in pixels, 0 before the first connection.
    int getSrcWidth() const;
    int getSrcHeight() const;

    // The frame hook: a new picture is in the buffer.
    virtual void onFrameReady();

    // Valid during onFrameReady(): what this frame cost and its timestamp.
    int64_t lastDecodeMicros() const;
    int64_t lastConvertMicros() const;
    int64_t lastPtsMicros() const;

private:
    friend class SWStream;
    struct Private;
    std::unique_ptr<Private> d;
};
