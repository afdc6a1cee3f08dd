#include "platform/swplay/swdecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kMaxSide = 4096;

AVPixelFormat unjpeg(int format)
{
    // Full-range formats are converted like their limited-range twins;
    // the phone only sends limited range.
    switch (format) {
    case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
    default: return AVPixelFormat(format);
    }
}

} // namespace

SWDecoder::~SWDecoder()
{
    close();
}

bool SWDecoder::open()
{
    close();
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!codec)
        return false;
    m_ctx = avcodec_alloc_context3(codec);
    if (!m_ctx)
        return false;
    // A picture leaves the decoder as soon as its access unit is in: no
    // reordering delay, no frame threads (each adds a frame of latency).
    m_ctx->flags |= AV_CODEC_FLAG_LOW_DELAY;
    m_ctx->thread_count = 1;
    m_ctx->thread_type = FF_THREAD_SLICE;
    if (avcodec_open2(m_ctx, codec, nullptr) < 0) {
        close();
        return false;
    }
    m_frame = av_frame_alloc();
    m_scratch = av_frame_alloc();
    m_packet = av_packet_alloc();
    return m_frame && m_scratch && m_packet;
}

void SWDecoder::close()
{
    if (m_ctx)
        avcodec_free_context(&m_ctx);
    if (m_frame)
        av_frame_free(&m_frame);
    if (m_scratch)
        av_frame_free(&m_scratch);
    if (m_packet)
        av_packet_free(&m_packet);
    if (m_sws) {
        sws_freeContext(m_sws);
        m_sws = nullptr;
    }
    m_haveFrame = false;
}

int SWDecoder::decode(const std::string &accessUnit, int64_t pts)
{
    if (!m_ctx || accessUnit.empty() || accessUnit.size() > 0x7fffffff)
        return -1;
    // The decoder's bit reader may read a little past the end.
    if (av_new_packet(m_packet, int(accessUnit.size())) < 0)
        return -1;
    memcpy(m_packet->data, accessUnit.data(), accessUnit.size());
    m_packet->pts = pts;
    const int sent = avcodec_send_packet(m_ctx, m_packet);
    av_packet_unref(m_packet);
    if (sent < 0 && sent != AVERROR(EAGAIN))
        return -1;
    int result = 0;
    // A failed receive empties the frame it is given, so pictures arrive in
    // a scratch frame and only a good one replaces the last.
    for (;;) {
        const int r = avcodec_receive_frame(m_ctx, m_scratch);
        if (r < 0)
            break;
        const bool sane = m_scratch->width > 0 && m_scratch->height > 0 && m_scratch->width <= kMaxSide
            && m_scratch->height <= kMaxSide && m_scratch->decode_error_flags == 0
            && !(m_scratch->flags & AV_FRAME_FLAG_CORRUPT);
        if (sane) {
            av_frame_unref(m_frame);
            av_frame_move_ref(m_frame, m_scratch);
            m_haveFrame = true;
            result = 1;
        } else {
            av_frame_unref(m_scratch);
            result = -1;
        }
    }
    return result;
}

int SWDecoder::width() const
{
    return m_haveFrame ? m_frame->width : 0;
}

int SWDecoder::height() const
{
    return m_haveFrame ? m_frame->height : 0;
}

bool SWDecoder::convert(uint8_t *dst, int dstWidth, int dstHeight, int dstStride)
{
    if (!m_haveFrame || !dst)
        return false;
    // Scaling and conversion in one pass. Far below the picture's size (a
    // card's preview) fast bilinear would skip most source rows and shimmer;
    // an area average reads each of them once.
    const bool farBelow = dstWidth * 2 < m_frame->width || dstHeight * 2 < m_frame->height;
    m_sws = sws_getCachedContext(m_sws, m_frame->width, m_frame->height, unjpeg(m_frame->format), dstWidth,
                                 dstHeight, AV_PIX_FMT_BGRA, farBelow ? SWS_AREA : SWS_FAST_BILINEAR, nullptr,
                                 nullptr, nullptr);
    if (!m_sws)
        return false;
    uint8_t *dstData[4] = {dst, nullptr, nullptr, nullptr};
    const int dstLines[4] = {dstStride, 0, 0, 0};
    return sws_scale(m_sws, m_frame->data, m_frame->linesize, 0, m_frame->height, dstData, dstLines) == dstHeight;
}
