#include "platform/swplay/videodisplaywinbase.h"

#include "platform/swplay/swstream.h"
#include "platform/swplay/videodisplaywinbase_p.h"

VideoDisplayWinBase::VideoDisplayWinBase()
    : d(std::make_unique<Private>())
{
    setDstFormat(-1, 720, 1280, 0);
}

VideoDisplayWinBase::~VideoDisplayWinBase()
{
    SWStream::detachAll(this);
}

int VideoDisplayWinBase::setDstFormat(int format, int width, int height, int)
{
    if ((format != -1 && format != 0) || width < 16 || height < 16 || width > 4096 || height > 4096)
        return -1;
    std::lock_guard<std::mutex> lock(d->mutex);
    if (width == d->width && height == d->height)
        return 0;
    // Let the old pixels go (an empty vector gives their memory back); the
    // next picture makes them at the new size.
    std::vector<uint8_t>().swap(d->buffer);
    d->width = width;
    d->height = height;
    return 0;
}

int VideoDisplayWinBase::setViewSize(int width, int height)
{
    return setDstFormat(-1, width, height, 0);
}

uint8_t *VideoDisplayWinBase::getFrameBuffer()
{
    return d->pixels();
}

int VideoDisplayWinBase::getDstWidth() const
{
    return d->width;
}

int VideoDisplayWinBase::getDstHeight() const
{
    return d->height;
}

int VideoDisplayWinBase::getSrcWidth() const
{
    return d->srcWidth;
}

int VideoDisplayWinBase::getSrcHeight() const
{
    return d->srcHeight;
}

void VideoDisplayWinBase::onFrameReady() {}

int64_t VideoDisplayWinBase::lastDecodeMicros() const
{
    return d->decodeMicros;
}

int64_t VideoDisplayWinBase::lastConvertMicros() const
{
    return d->convertMicros;
}

int64_t VideoDisplayWinBase::lastPtsMicros() const
{
    return d->ptsMicros;
}
