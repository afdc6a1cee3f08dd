#include "localcloud/phonefarm/h264encoder.h"

#include <QImage>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

H264Encoder::~H264Encoder()
{
    close();
}

bool H264Encoder::open(int width, int height, int frameRate, int bitRateKbps, int keyFrameSeconds, QString *error)
{
    close();
    width &= ~1;
    height &= ~1;
    if (width < 16 || height < 16 || width > 4096 || height > 4096) {
        *error = QStringLiteral("bad size %1x%2").arg(width).arg(height);
        return false;
    }
    m_width = width;
    m_height = height;
    m_frameRate = frameRate;
    m_bitRateKbps = bitRateKbps;
    m_keyFrameSeconds = keyFrameSeconds;
    if (!start(error)) {
        close();
        return false;
    }
    return true;
}

bool H264Encoder::start(QString *error)
{
    const AVCodec *codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) {
        *error = QStringLiteral("libx264 encoder not available");
        return false;
    }
    m_ctx = avcodec_alloc_context3(codec);
    m_ctx->width = m_width;
    m_ctx->height = m_height;
    m_ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    // Timestamps are milliseconds: frames are produced when the screen
    // changes, not at a fixed rate.
    m_ctx->time_base = AVRational{1, 1000};
    m_ctx->framerate = AVRational{qBound(1, m_frameRate, 60), 1};
    m_ctx->max_b_frames = 0;
    m_ctx->gop_size = qBound(1, m_frameRate * qBound(1, m_keyFrameSeconds, 60), 600);
    m_ctx->thread_count = 1;
    const int64_t bitRate = int64_t(qBound(64, m_bitRateKbps, 20000)) * 1000;
    m_ctx->bit_rate = bitRate;
    m_ctx->rc_max_rate = bitRate;
    m_ctx->rc_buffer_size = int(bitRate);
    av_opt_set(m_ctx->priv_data, "preset", "ultrafast", 0);
    av_opt_set(m_ctx->priv_data, "tune", "zerolatency", 0);
    av_opt_set(m_ctx->priv_data, "profile", "baseline", 0);
    av_opt_set(m_ctx->priv_data, "forced-idr", "1", 0);
    av_opt_set(m_ctx->priv_data, "x264-params", "repeat-headers=1:aud=0", 0);
    if (avcodec_open2(m_ctx, codec, nullptr) < 0) {
        *error = QStringLiteral("cannot open libx264");
        release();
        return false;
    }
    m_frame = av_frame_alloc();
    m_frame->format = AV_PIX_FMT_YUV420P;
    m_frame->width = m_width;
    m_frame->height = m_height;
    if (av_frame_get_buffer(m_frame, 0) < 0) {
        *error = QStringLiteral("out of memory");
        release();
        return false;
    }
    m_packet = av_packet_alloc();
    m_lastPts = -1;
    return true;
}

void H264Encoder::release()
{
    if (m_ctx)
        avcodec_free_context(&m_ctx);
    if (m_frame)
        av_frame_free(&m_frame);
    if (m_packet)
        av_packet_free(&m_packet);
    if (m_sws) {
        sws_freeContext(m_sws);
        m_sws = nullptr;
    }
}

void H264Encoder::close()
{
    release();
    m_width = m_height = 0;
    m_repeat.reset();
}

void H264Encoder::suspend()
{
    release();
}

QByteArray H264Encoder::encode(const QImage &screen, qint64 ptsMillis, bool forceKeyFrame, bool *keyFrame)
{
    *keyFrame = false;
    if (!isOpen() || screen.isNull())
        return {};
    QString error;
    if (!m_ctx && !start(&error))
        return {};
    const QImage src = screen.format() == QImage::Format_RGB32 || screen.format() == QImage::Format_ARGB32
        ? screen
        : screen.convertToFormat(QImage::Format_RGB32);
    m_sws = sws_getCachedContext(m_sws, src.width(), src.height(), AV_PIX_FMT_BGRA, m_width, m_height,
                                 AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!m_sws || av_frame_make_writable(m_frame) < 0)
        return {};
    const uint8_t *srcData[4] = {src.constBits(), nullptr, nullptr, nullptr};
    const int srcStride[4] = {int(src.bytesPerLine()), 0, 0, 0};
    sws_scale(m_sws, srcData, srcStride, 0, src.height(), m_frame->data, m_frame->linesize);
    // The encoder needs strictly increasing timestamps.
    if (ptsMillis <= m_lastPts)
        ptsMillis = m_lastPts + 1;
    m_lastPts = ptsMillis;
    m_frame->pts = ptsMillis;
    m_frame->pict_type = forceKeyFrame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    ++m_encodes;
    if (avcodec_send_frame(m_ctx, m_frame) < 0)
        return {};
    QByteArray out;
    while (avcodec_receive_packet(m_ctx, m_packet) == 0) {
        out.append(reinterpret_cast<const char *>(m_packet->data), m_packet->size);
        if (m_packet->flags & AV_PKT_FLAG_KEY)
            *keyFrame = true;
        av_packet_unref(m_packet);
    }
    m_repeat.learn(out);
    return out;
}
