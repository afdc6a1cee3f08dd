#include "platform/swplay/swruntime.h"

#include "platform/swplay/swlog.h"
#include "platform/swplay/swstream.h"

extern "C" {
#include <libavutil/log.h>
}

SWRuntime *SWRuntime::getInstance()
{
    static SWRuntime instance;
    return &instance;
}

int SWRuntime::init(int logLevel, const char *logDir)
{
    // Corrupt input is reported by the library itself, once, not by
    // libavcodec on standard error for every slice.
    av_log_set_level(AV_LOG_QUIET);
    swlog::open(logLevel, logDir ? logDir : "");
    return 0;
}

void SWRuntime::deinit()
{
    swlog::write(3, "deinit: ending every stream");
    SWStream::stopAll();
}

void SWRuntime::setTimeouts(int connectMs, int helloMs, int silenceMs, int retryDelayMs)
{
    SWStream::Timeouts t;
    if (connectMs > 0)
        t.connectMs = connectMs;
    if (helloMs > 0)
        t.helloMs = helloMs;
    if (silenceMs > 0)
        t.silenceMs = silenceMs;
    if (retryDelayMs > 0)
        t.retryDelayMs = retryDelayMs;
    SWStream::setTimeouts(t);
}
