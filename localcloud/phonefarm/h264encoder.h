#pragma once

#include "localcloud/phonefarm/h264repeat.h"

#include <QByteArray>
#include <QString>

class QImage;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// One session's H.264 encoder: libx264 through libavcodec, zero latency,
// no B-frames, parameter sets repeated with every key frame so a stream can
// be decoded (or recorded) from any key frame.
class H264Encoder final
{
    Q_DISABLE_COPY_MOVE(H264Encoder)

public:
    H264Encoder() = default;
    ~H264Encoder();

    // Width and height are rounded down to even numbers.
    bool open(int width, int height, int frameRate, int bitRateKbps, int keyFrameSeconds, QString *error);
    void close();
    // Gives the encoder's memory back (a 720 x 1280 encoder holds tens of
    // megabytes) but keeps its settings and what repeatLast() needs; the
    // next encode() starts a new encoder, whose first picture is a key frame.
    void suspend();
    bool isOpen() const { return m_width > 0; }
    bool isSuspended() const { return m_width > 0 && !m_ctx; }
    int width() const { return m_width; }
    int height() const { return m_height; }

    // Scales the 32-bit screen image to the encoder size and encodes it.
    // Returns one access unit (empty on failure).
    QByteArray encode(const QImage &screen, qint64 ptsMillis, bool forceKeyFrame, bool *keyFrame);
    // An access unit that shows the last encoded picture again without
    // encoding anything (see H264Repeat); empty when there is none.
    QByteArray repeatLast() const { return m_repeat.repeat(); }
    // Pictures encoded since the encoder was made.
    qint64 encodes() const { return m_encodes; }

private:
    bool start(QString *error);
    void release();

    AVCodecContext *m_ctx = nullptr;
    AVFrame *m_frame = nullptr;
    AVPacket *m_packet = nullptr;
    SwsContext *m_sws = nullptr;
    int m_width = 0;
    int m_height = 0;
    int m_frameRate = 0;
    int m_bitRateKbps = 0;
    int m_keyFrameSeconds = 0;
    qint64 m_lastPts = -1;
    qint64 m_encodes = 0;
    H264Repeat m_repeat;
};
