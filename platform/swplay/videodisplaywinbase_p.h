#pragma once

#include "platform/swplay/videodisplaywinbase.h"

#include <atomic>
#include <mutex>
#include <vector>

struct VideoDisplayWinBase::Private {
    // Guards the buffer and its size while a frame is written or the hook runs.
    std::mutex mutex;
    std::vector<uint8_t> buffer;
    int width = 0;
    int height = 0;
    std::atomic<int> srcWidth{0};
    std::atomic<int> srcHeight{0};
    int64_t decodeMicros = 0;
    int64_t convertMicros = 0;
    int64_t ptsMicros = 0;

    // The pixels are made on the first picture, not with the size: a view
    // that never streams (a card out of sight) holds no picture memory.
    uint8_t *pixels()
    {
        if (buffer.empty()) {
            buffer.assign(size_t(width) * size_t(height) * 4, 0);
            for (size_t i = 3; i < buffer.size(); i += 4)
                buffer[i] = 0xFF;
        }
        return buffer.data();
    }
};
