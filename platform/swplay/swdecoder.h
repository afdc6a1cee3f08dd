#pragma once

#include <cstdint>
#include <string>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// H.264 decoding for one stream: single-threaded, low delay, one picture out
// for every access unit in.
class SWDecoder final
{
public:
    SWDecoder() = default;
    ~SWDecoder();
    SWDecoder(const SWDecoder &) = delete;
    SWDecoder &operator=(const SWDecoder &) = delete;

    bool open();
    void close();
    // Decodes one access unit. Returns 1 with a picture, 0 without one,
    // -1 when the data was refused as corrupt.
    int decode(const std::string &accessUnit, int64_t pts);
    int width() const;
    int height() const;
    // Converts the last picture into 32-bit ARGB (B, G, R, A in memory),
    // scaled to the given size in the same pass.
    bool convert(uint8_t *dst, int dstWidth, int dstHeight, int dstStride);

private:
    AVCodecContext *m_ctx = nullptr;
    AVFrame *m_frame = nullptr;
    AVFrame *m_scratch = nullptr;
    AVPacket *m_packet = nullptr;
    SwsContext *m_sws = nullptr;
    bool m_haveFrame = false;
};
